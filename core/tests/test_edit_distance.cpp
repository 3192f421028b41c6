// Levenshtein and optimal string alignment distances against the textbook
// dynamic-programming definitions, on every computation path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "edit/band_vectors.hpp"
#include "edit/whole_column.hpp"
#include "masks/growing_masks.hpp"
#include "quillstone/quillstone.hpp"
#include "reference.hpp"
#include "texts.hpp"
#include "text/units.hpp"
#include "text/utf8.hpp"

namespace {

using quillstone::damerau_bp;
using quillstone::DamerauBatch;
using quillstone::InputTooLong;
using quillstone::levenshtein_bp;
using quillstone::LevenshteinBatch;
using TextView = std::string_view;
using Chars = std::u32string;

using quillstone::testing::utf8;

// The two measures' UTF-8 entries as values of one type.
using Utf8Metric = quillstone::Result<std::size_t> (*)(std::string_view, std::string_view,
                                                       std::optional<std::size_t>, std::optional<bool>,
                                                       std::optional<std::size_t>) noexcept;
constexpr Utf8Metric kLevenshtein = quillstone::levenshtein_bp;
constexpr Utf8Metric kDamerau = quillstone::damerau_bp;

std::size_t reference(const Chars& a, const Chars& b, bool osa) {
  return quillstone::testing::reference_distance(a, b, osa);
}

// Alphabets small enough that matches and transpositions are frequent.
const std::vector<Chars> kAlphabets = {
    U"abcd",                       // ASCII
    U"abcdefghijklmnopqrstuvwxyz",  // ASCII, sparse matches
    U"a\u00e9\u00fc\u00df",         // Latin-1: direct table on the character path
    U"\u0436\u0438\u0437\u043d",    // Cyrillic: ordered map
    U"\u65e5\u672c\u8a9ea",         // CJK mixed with ASCII
    U"\U0001F600\U0001F601x\u00e9",  // astral
};

struct Lengths {
  std::mt19937_64& rng;
  std::size_t operator()() {
    static const std::size_t edges[] = {0, 1, 2, 63, 64, 65, 127, 128, 129, 191, 192, 193};
    switch (rng() % 4) {
      case 0: return edges[rng() % std::size(edges)];
      case 1: return rng() % 12;
      case 2: return rng() % 301;
      default: return edges[rng() % std::size(edges)] + rng() % 3;
    }
  }
};

Chars random_text(std::mt19937_64& rng, const Chars& alphabet, std::size_t len) {
  Chars out(len, U'a');
  for (auto& c : out) c = alphabet[rng() % alphabet.size()];
  return out;
}

// A text derived from `a` by a few random edits, so that distances stay
// small enough to exercise every cutoff.
Chars mutate(std::mt19937_64& rng, Chars a, const Chars& alphabet) {
  const std::size_t edits = rng() % 6;
  for (std::size_t e = 0; e < edits; ++e) {
    const std::size_t pos = a.empty() ? 0 : rng() % a.size();
    switch (rng() % 4) {
      case 0: a.insert(a.begin() + pos, alphabet[rng() % alphabet.size()]); break;
      case 1: if (!a.empty()) a.erase(a.begin() + pos); break;
      case 2: if (!a.empty()) a[pos] = alphabet[rng() % alphabet.size()]; break;
      default: if (pos + 1 < a.size()) std::swap(a[pos], a[pos + 1]); break;
    }
  }
  return a;
}

template <class F>
void for_random_pairs(std::size_t count, F check) {
  std::mt19937_64 rng(20261207);
  Lengths length{rng};
  for (std::size_t i = 0; i < count; ++i) {
    const Chars& alphabet = kAlphabets[rng() % kAlphabets.size()];
    const Chars a = random_text(rng, alphabet, length());
    const Chars b = (rng() % 2) ? mutate(rng, a, alphabet) : random_text(rng, alphabet, length());
    check(a, b);
  }
}

TEST(EditDistance, MatchesDynamicProgrammingOnRandomPairs) {
  for_random_pairs(1500, [](const Chars& a, const Chars& b) {
    const std::string sa = utf8(a), sb = utf8(b);
    SCOPED_TRACE(sa + " | " + sb);
    const std::size_t lev = reference(a, b, false), osa = reference(a, b, true);
    EXPECT_EQ(levenshtein_bp(sa, sb).unchecked_value(), lev);
    EXPECT_EQ(levenshtein_bp(sb, sa).unchecked_value(), lev);
    EXPECT_EQ(damerau_bp(sa, sb).unchecked_value(), osa);
    EXPECT_EQ(damerau_bp(sb, sa).unchecked_value(), osa);
  });
}

TEST(EditDistance, CutoffBoundsEveryDistance) {
  for_random_pairs(300, [](const Chars& a, const Chars& b) {
    const std::string sa = utf8(a), sb = utf8(b);
    SCOPED_TRACE(sa + " | " + sb);
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const std::size_t d = reference(a, b, osa);
      for (std::size_t k = 0; k <= d + 2; ++k) {
        EXPECT_EQ(metric(sa, sb, {}, {}, k).unchecked_value(), d <= k ? d : k + 1) << "cutoff " << k;
      }
      EXPECT_EQ(metric(sa, sb, {}, {}, std::numeric_limits<std::uint32_t>::max()).unchecked_value(), d);
    }
  });
}

TEST(EditDistance, MaxLenChecksStr1First) {
  for_random_pairs(200, [](const Chars& a, const Chars& b) {
    const std::string sa = utf8(a), sb = utf8(b);
    for (const auto metric : {kLevenshtein, kDamerau}) {
      for (std::size_t limit : {a.size(), b.size(), a.size() + 1, b.size() + 1,
                                a.size() ? a.size() - 1 : 0, b.size() ? b.size() - 1 : 0}) {
        const auto result = metric(sa, sb, limit, {}, {});
        if (a.size() > limit) {
          ASSERT_FALSE(result);
          const auto& e = std::get<InputTooLong>(result.error());
          EXPECT_STREQ(e.which, "str_1");
          EXPECT_EQ(e.len, a.size());
          EXPECT_EQ(e.limit, limit);
        } else if (b.size() > limit) {
          ASSERT_FALSE(result);
          const auto& e = std::get<InputTooLong>(result.error());
          EXPECT_STREQ(e.which, "str_2");
          EXPECT_EQ(e.len, b.size());
        } else {
          EXPECT_TRUE(result);
        }
      }
    }
  });
}

// Each kernel on the same pairs, reached through the public operations: a
// short pattern in one word, the band of a cutoff in one word and in several
// (band widths around 63, 64 and 65 diagonals), the doubling band without a
// cutoff, and the full multi-word column; with the pattern longer than the
// text and the reverse, and inside long common affixes.
TEST(EditDistance, KernelsAgree) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 600; ++i) {
    const Chars& alphabet = kAlphabets[rng() % kAlphabets.size()];
    const std::size_t len = std::size_t{1} << (rng() % 10);
    const Chars a = random_text(rng, alphabet, 1 + rng() % (len + 1));
    const Chars b = (rng() % 3 == 0) ? random_text(rng, alphabet, rng() % (len + 70))
                                     : mutate(rng, mutate(rng, a, alphabet), alphabet);
    const Chars affix = random_text(rng, alphabet, rng() % 150);
    const std::string sa = utf8(a), sb = utf8(b), wrapped_a = utf8(affix + a + affix),
                      wrapped_b = utf8(affix + b + affix);
    SCOPED_TRACE(sa + " | " + sb);
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const std::size_t d = reference(a, b, osa);
      const std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
      for (std::size_t k : {d, d + 1, d == 0 ? 0 : d - 1, gap, gap + 61, gap + 62, gap + 63, gap + 64,
                            gap + 127, gap + 128, std::size_t{1000}}) {
        const std::size_t expected = d <= k ? d : k + 1;
        ASSERT_EQ(metric(sa, sb, {}, {}, k).unchecked_value(), expected) << "cutoff " << k;
        ASSERT_EQ(metric(sb, sa, {}, {}, k).unchecked_value(), expected) << "cutoff " << k;
        ASSERT_EQ(metric(wrapped_a, wrapped_b, {}, {}, k).unchecked_value(), expected) << "cutoff " << k;
      }
      ASSERT_EQ(metric(wrapped_b, wrapped_a, {}, {}, {}).unchecked_value(), d);
    }
  }
}

#if defined(QUILLSTONE_WAVEFRONT)
// Whole columns of 3 words or more run as a skewed vector kernel, the one for
// the best target the processor has, and as a scalar chain of words
// elsewhere, so the public calls on one machine reach only one of them:
// each kernel this processor runs is held here against the scalar chain and
// the reference on the same masks; one it cannot run is skipped.
template <class Kernel>
void expect_full_columns_agree(quillstone::detail::VectorTarget target, Kernel kernel) {
  using namespace quillstone::detail;
  if (!runs(target)) GTEST_SKIP() << "this processor lacks the target";
  std::mt19937_64 rng(23);
  for (int i = 0; i < 300; ++i) {
    const Chars& alphabet = kAlphabets[rng() % kAlphabets.size()];
    // One strip of 3 or 4 words, or several, the last one full or not.
    const Chars a = random_text(rng, alphabet, 129 + rng() % (i % 3 ? 128 : 640));
    // Texts from empty to several chunks of columns; near the pattern or not.
    const Chars b = rng() % 2 ? mutate(rng, a, alphabet) : random_text(rng, alphabet, rng() % 900);
    SCOPED_TRACE(utf8(a) + " | " + utf8(b));
    const std::string sb = utf8(b);
    const PatternMasks masks(a.data(), a.size());
    for (const bool osa : {false, true}) {
      const std::size_t d = reference(a, b, osa);
      EXPECT_EQ(kernel(osa, masks, a.size(), UnitReader<char32_t>(quillstone::TextView(b.data(), b.size())), b.size()), d) << (osa ? "OSA" : "Levenshtein");
      if (osa) {
        EXPECT_EQ((full_scan_of<quillstone::EditMetric::OptimalAlignment, 0>(masks, 0, a.size(), UnitReader<char32_t>(quillstone::TextView(b.data(), b.size())), b.size())), d);
      } else {
        EXPECT_EQ((full_scan_of<quillstone::EditMetric::Levenshtein, 0>(masks, 0, a.size(), UnitReader<char32_t>(quillstone::TextView(b.data(), b.size())), b.size())), d);
      }
    }
  }
}

#define QUILLSTONE_WAVEFRONT_KERNEL(kernel)                                                              \
  [](bool osa, const auto& masks, std::size_t m, auto text, std::size_t n) {                              \
    using quillstone::EditMetric;                                                                         \
    return osa ? kernel<EditMetric::OptimalAlignment>(masks, 0, m, text, n)                               \
               : kernel<EditMetric::Levenshtein>(masks, 0, m, text, n);                                   \
  }

TEST(EditDistance, FullColumnAvx2KernelAgrees) {
  using namespace quillstone::detail;
  expect_full_columns_agree(VectorTarget::kAvx2, QUILLSTONE_WAVEFRONT_KERNEL(wavefront_scan_avx2));
}

TEST(EditDistance, FullColumnAvx512KernelAgrees) {
  using namespace quillstone::detail;
  expect_full_columns_agree(VectorTarget::kAvx512, QUILLSTONE_WAVEFRONT_KERNEL(wavefront_scan_avx512));
}
#endif

// The band of a cutoff runs as a scalar chain of words, or four words to a
// vector where the processor has AVX2, and both leave outer words once no
// path of cost up to the cutoff can pass through them. Each kernel this
// processor runs is held against the reference on bands of 2 to 32 words:
// near and unrelated texts, and texts with a block moved, so that the best
// path leaves the diagonal far and comes back. Above the cutoff a kernel
// may return any larger value.
TEST(EditDistance, BandKernelsAgree) {
  using namespace quillstone::detail;
  using quillstone::EditMetric;
  std::mt19937_64 rng(29);
  Chars wide;  // enough characters that some masks are looked up word by word
  for (char32_t c = 0x4E00; c < 0x4E00 + 3000; ++c) wide.push_back(c);
  std::size_t vector_runs = 0;
  for (int i = 0; i < 160; ++i) {
    const Chars& alphabet = i % 8 == 7 ? wide : kAlphabets[rng() % kAlphabets.size()];
    Chars a = random_text(rng, alphabet, 150 + rng() % (i % 5 == 0 ? 2400 : 700));
    Chars b;
    switch (rng() % 5) {
      case 0: b = random_text(rng, alphabet, a.size() + rng() % 60); break;
      case 4: {  // a deletion, then as long an insertion: the path leaves the diagonal and returns
        const std::size_t cut = std::min<std::size_t>(a.size() / 3, 50 + rng() % 500);
        const std::size_t at = rng() % (a.size() / 3);
        b = a.substr(0, at) + a.substr(at + cut, a.size() / 2 - at) + random_text(rng, alphabet, cut) +
            a.substr(a.size() / 2 + cut);
        if (rng() % 2) std::swap(a, b);
        break;
      }
      case 1: {  // a block moved to the other end, with a few edits
        const std::size_t cut = rng() % a.size();
        b = a.substr(cut) + random_text(rng, alphabet, rng() % 40) + a.substr(0, cut);
        for (int e = 0; e < 4; ++e) b = mutate(rng, b, alphabet);
        break;
      }
      case 2: {  // a long insertion
        const std::size_t at = rng() % a.size();
        b = a.substr(0, at) + random_text(rng, alphabet, 50 + rng() % 300) + a.substr(at);
        break;
      }
      default:
        b = a;
        for (std::size_t e = a.size() / (4 + rng() % 12); e > 0; --e) b = mutate(rng, b, alphabet);
    }
    SCOPED_TRACE(utf8(a) + " | " + utf8(b));
    const Chars& pattern = a.size() <= b.size() ? a : b;
    const Chars& text = a.size() <= b.size() ? b : a;
    const std::size_t m = pattern.size(), n = text.size();
    const quillstone::TextView pattern_view(pattern.data(), m), text_view(text.data(), n);
    for (const bool osa : {false, true}) {
      const std::size_t d = reference(a, b, osa);
      for (const std::size_t excess : {std::size_t{130}, std::size_t{200}, std::size_t{500}, std::size_t{1300},
                                       std::size_t{2000}}) {
        const std::size_t k = std::max(n - m + excess, d > 2 ? d - 2 : d) + rng() % 3;
        const Band band(m, n, k);
        if (band.words() < 2 || band.words() > kMaxBandWords || band.words() * kWordBits >= m) continue;
        const auto bounded = [&](std::size_t got) { return std::min(got, k + 1); };
        const std::size_t expected = d <= k ? d : k + 1;
        const auto scalar = [&](auto metric) {
          GrowingMasks masks(pattern_view);
          return band_scan_any<decltype(metric)::value>(
              [&](char32_t c, std::ptrdiff_t pos, std::uint64_t* out, std::size_t w) {
                masks.reach(window_words(pos, w));
                const PatternMasks::Row row = masks.row(c);
                for (std::size_t t = 0; t < w; ++t) out[t] = row.bits(pos + static_cast<std::ptrdiff_t>(t * kWordBits));
              },
              0, m, UnitReader<char32_t>(text_view), n, k, band);
        };
        using Lev = std::integral_constant<EditMetric, EditMetric::Levenshtein>;
        using Osa = std::integral_constant<EditMetric, EditMetric::OptimalAlignment>;
        ASSERT_EQ(bounded(osa ? scalar(Osa{}) : scalar(Lev{})), expected) << "scalar, cutoff " << k;
#if defined(QUILLSTONE_WAVEFRONT)
        if (!runs(VectorTarget::kAvx2)) continue;
        GrowingMasks masks(pattern_view);
        const UnitReader<char32_t> reader(text_view);
        const std::size_t got = osa ? band_scan_vectors<EditMetric::OptimalAlignment>(masks, 0, m, reader, n, k, band)
                                    : band_scan_vectors<EditMetric::Levenshtein>(masks, 0, m, reader, n, k, band);
        ASSERT_EQ(bounded(got), expected) << "vectors, cutoff " << k;
        ++vector_runs;
#endif
      }
    }
  }
#if defined(QUILLSTONE_WAVEFRONT)
  if (!runs(VectorTarget::kAvx2)) GTEST_SKIP() << "this processor lacks AVX2: the vector band was not run";
  EXPECT_GT(vector_runs, 100u);
#endif
}

// Long texts from near-duplicates to unrelated ones, without a cutoff and
// under cutoffs on either side of the distance: bands that stop early or run
// to the end, an estimate that sends far texts to the whole column, character
// counts that settle the answer or cannot (a shuffled text has the same
// counts), patterns of every alphabet, on either side.
TEST(EditDistance, LongTextsUnderCutoffs) {
  std::mt19937_64 rng(17);
  for (int i = 0; i < 48; ++i) {
    const Chars& alphabet = kAlphabets[i % kAlphabets.size()];
    const Chars a = random_text(rng, alphabet, 200 + rng() % 1800);
    Chars b = a;
    switch (i / kAlphabets.size() % 4) {
      case 0: for (int e = 0; e < 3; ++e) b = mutate(rng, b, alphabet); break;
      case 1:  // edits that bring in another alphabet's characters
        for (std::size_t e = a.size() / (10 + rng() % 40); e > 0; --e) {
          b = mutate(rng, b, kAlphabets[(i + 1) % kAlphabets.size()]);
        }
        break;
      case 2: std::shuffle(b.begin(), b.end(), rng); break;
      default: b = random_text(rng, alphabet, a.size() + rng() % 200); break;
    }
    const std::string sa = utf8(a), sb = utf8(b);
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const std::size_t d = reference(a, b, osa);
      ASSERT_EQ(metric(sa, sb, {}, {}, {}).unchecked_value(), d) << i;
      ASSERT_EQ(metric(sb, sa, {}, {}, {}).unchecked_value(), d) << i;
      for (std::size_t k : {d / 4, d / 2, d == 0 ? 0 : d - 1, d, d + 1, 2 * d + 70}) {
        const std::size_t expected = d <= k ? d : k + 1;
        ASSERT_EQ(metric(sa, sb, {}, {}, k).unchecked_value(), expected) << i << " cutoff " << k;
        ASSERT_EQ(metric(sb, sa, {}, {}, k).unchecked_value(), expected) << i << " cutoff " << k;
      }
    }
  }
}

// Cutoffs of 0 to 3 on long ASCII texts a few edits apart, transpositions
// among them, where the few edit sequences a small bound allows are tried.
TEST(EditDistance, SmallCutoffsOnLongTexts) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 3000; ++i) {
    const Chars& alphabet = kAlphabets[rng() % 2];
    const Chars a = random_text(rng, alphabet, 33 + rng() % 120);
    Chars b = a;
    for (std::size_t e = rng() % 5; e > 0; --e) b = mutate(rng, b, alphabet);
    const std::string sa = utf8(a), sb = utf8(b);
    SCOPED_TRACE(sa + " | " + sb);
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const std::size_t d = reference(a, b, osa);
      for (std::size_t k = 0; k <= 3; ++k) {
        ASSERT_EQ(metric(sa, sb, {}, {}, k).unchecked_value(), d <= k ? d : k + 1) << "cutoff " << k;
        ASSERT_EQ(metric(sb, sa, {}, {}, k).unchecked_value(), d <= k ? d : k + 1) << "cutoff " << k;
      }
    }
  }
}

// Long texts over alphabets of thousands of characters, whose masks go to
// one small table per pattern word instead of a row per character; as the
// pattern, as the text, and as a batch query.
TEST(EditDistance, LargeAlphabets) {
  std::mt19937_64 rng(13);
  Chars alphabet;
  for (char32_t c = 0x4E00; c < 0x4E00 + 6000; ++c) alphabet.push_back(c);
  for (int i = 0; i < 6; ++i) {
    const Chars a = random_text(rng, alphabet, 1500 + rng() % 1500);
    Chars b = a;
    for (int e = 0; e < 8; ++e) b = mutate(rng, b, alphabet);
    if (i % 2) b = random_text(rng, alphabet, a.size() + rng() % 40);
    const std::string sa = utf8(a), sb = utf8(b);
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const std::size_t d = reference(a, b, osa);
      EXPECT_EQ(metric(sa, sb, {}, {}, {}).unchecked_value(), d);
      EXPECT_EQ(metric(sb, sa, {}, {}, {}).unchecked_value(), d);
      for (std::size_t k : {d / 2, d, std::size_t{100}}) {
        EXPECT_EQ(metric(sa, sb, {}, {}, k).unchecked_value(), d <= k ? d : k + 1) << "cutoff " << k;
      }
      const std::vector<TextView> candidates = {sb, sa, TextView(sb).substr(0, 30)};
      const auto batch = osa ? quillstone::damerau_batch(sa, candidates) : quillstone::levenshtein_batch(sa, candidates);
      EXPECT_EQ(batch[0], d);
      EXPECT_EQ(batch[1], 0u);
      EXPECT_EQ(batch[2], metric(sa, candidates[2], {}, {}, {}).unchecked_value());
    }
  }
}

// Texts that share few characters or none under cutoffs on either side of
// their distance, whole or after a common start of 64 characters (the
// sample that shows whether texts are apart, before the counts are read
// whole): alphabets apart, and one text's alphabet a part of the other's.
TEST(EditDistance, TextsApartUnderCutoffs) {
  std::mt19937_64 rng(23);
  const Chars alphabets[][2] = {{U"abcdefgh", U"\u0436\u0438\u0437\u043d\u0430\u0431"},
                                {U"acgt", U"ACGT"},
                                {U"ab", U"abcdefghijklmnopqrstuvwxyz"},
                                {U"\u65e5\u672c\u8a9e", U"xyz\U0001F600"}};
  for (int i = 0; i < 24; ++i) {
    const auto& pair = alphabets[i % std::size(alphabets)];
    const Chars start = i % 3 == 0 ? random_text(rng, pair[0], 64) : Chars();
    const Chars a = start + random_text(rng, pair[0], 150 + rng() % 900);
    const Chars b = start + random_text(rng, pair[1], 150 + rng() % 900);
    const std::string sa = utf8(a), sb = utf8(b);
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const std::size_t d = reference(a, b, osa);
      for (std::size_t k : {d / 8, d / 2, d - 1, d, d + 1}) {
        const std::size_t expected = d <= k ? d : k + 1;
        ASSERT_EQ(metric(sa, sb, {}, {}, k).unchecked_value(), expected) << i << " cutoff " << k;
        ASSERT_EQ(metric(sb, sa, {}, {}, k).unchecked_value(), expected) << i << " cutoff " << k;
      }
    }
  }
}

// Character counts of texts of every length up to a few vectors, mixing
// characters of one to four bytes: a distance to the empty text is the
// count, and so is the length an InputTooLong reports.
// Long near-duplicates under cutoffs from 33 to a thirty-second of their
// length, the edits spread evenly or packed at the end (where a look at the
// start sees a near-duplicate that the whole is not), a block missing, and
// unrelated texts.
TEST(EditDistance, LongNearDuplicatesUnderWideCutoffs) {
  std::mt19937_64 rng(29);
  for (int i = 0; i < 24; ++i) {
    const Chars& alphabet = kAlphabets[i % kAlphabets.size()];
    const Chars a = random_text(rng, alphabet, 2200 + rng() % 200);
    Chars b;
    switch (i / kAlphabets.size()) {
      case 0:  // about 60 edits, spread
        b = a;
        for (int e = 0; e < 20; ++e) b = mutate(rng, b, alphabet);
        break;
      case 1: {  // the same number, all in the last tenth
        const std::size_t head = a.size() * 9 / 10;
        Chars tail(a.begin() + static_cast<std::ptrdiff_t>(head), a.end());
        for (int e = 0; e < 20; ++e) tail = mutate(rng, tail, alphabet);
        b = Chars(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(head)) + tail;
        break;
      }
      case 2: {  // a block missing near the end: the path keeps to the outermost diagonal
        const std::size_t block = a.size() / 48;
        b = a.substr(0, a.size() - block - 1) + a.back();
        b.front() = alphabet[(alphabet.find(b.front()) + 1) % alphabet.size()];
        b.back() = alphabet[(alphabet.find(b.back()) + 1) % alphabet.size()];
        break;
      }
      default: b = random_text(rng, alphabet, a.size() + rng() % 40); break;
    }
    const std::string sa = utf8(a), sb = utf8(b);
    const std::size_t d = reference(a, b, false);
    for (std::size_t k : {std::size_t{33}, d == 0 ? 0 : d - 1, d, d + 1, a.size() / 32}) {
      const std::size_t expected = d <= k ? d : k + 1;
      ASSERT_EQ(levenshtein_bp(sa, sb, {}, {}, k).unchecked_value(), expected) << i << " cutoff " << k;
      ASSERT_EQ(levenshtein_bp(sb, sa, {}, {}, k).unchecked_value(), expected) << i << " cutoff " << k;
    }
  }
}


// Patterns of 512 characters or more against unrelated texts shorter than
// the pattern, down to a few words: without a cutoff the failed bands ask
// whether the whole column pays, which must look at no more of the text
// than it has. Each text is its own allocation, so that a read past its end
// is caught by the address sanitizer.
TEST(EditDistance, LongPatternsAgainstShorterUnrelatedTexts) {
  std::mt19937_64 rng(31);
  for (int i = 0; i < 12; ++i) {
    const Chars& alphabet = kAlphabets[i % kAlphabets.size()];
    const Chars a = random_text(rng, alphabet, 512 + rng() % 700);
    const std::string sa = utf8(a);
    std::vector<Chars> texts;
    std::vector<std::string> owned;
    for (std::size_t n : {65, 130, 200, 255, 256, 257, 400, 511}) {
      texts.push_back(random_text(rng, alphabet, n + rng() % 3));
      owned.push_back(utf8(texts.back()));
    }
    const std::vector<TextView> views(owned.begin(), owned.end());
    for (bool osa : {false, true}) {
      const auto metric = osa ? kDamerau : kLevenshtein;
      const auto batch = osa ? quillstone::damerau_batch(sa, views) : quillstone::levenshtein_batch(sa, views);
      for (std::size_t t = 0; t < texts.size(); ++t) {
        const std::size_t d = reference(a, texts[t], osa);
        ASSERT_EQ(batch[t], d) << i << " text " << t;
        ASSERT_EQ(metric(sa, views[t], {}, {}, {}).unchecked_value(), d) << i << " text " << t;
        ASSERT_EQ(metric(views[t], sa, {}, {}, {}).unchecked_value(), d) << i << " text " << t;
      }
    }
  }
}
TEST(EditDistance, CountsCharactersOfEveryLength) {
  // An empty view may carry no data at all.
  EXPECT_EQ(levenshtein_bp(TextView{}, std::string_view("ab")).unchecked_value(), 2u);
  EXPECT_EQ(damerau_bp("\u0436", TextView{}, {}, true, {}).unchecked_value(), 1u);
  EXPECT_EQ(quillstone::levenshtein_batch("", std::vector<TextView>{TextView{}, std::string_view("ab")}),
            (std::vector<std::size_t>{0, 2}));
  std::mt19937_64 rng(19);
  const Chars alphabet = U"ab\u00e9\u0436\u65e5\U0001F600";
  for (std::size_t len = 0; len <= 80; ++len) {
    for (int round = 0; round < 8; ++round) {
      const Chars chars = random_text(rng, round == 0 ? Chars(U"ab") : alphabet, len);
      const std::string text = utf8(chars);
      SCOPED_TRACE(text);
      EXPECT_EQ(levenshtein_bp(text, "").unchecked_value(), len);
      EXPECT_EQ(damerau_bp("", text).unchecked_value(), len);
      if (len > 0) {
        const auto error = levenshtein_bp("", text, len - 1, {}, {});
        ASSERT_FALSE(error);
        EXPECT_EQ(std::get<InputTooLong>(error.error()).len, len);
      }
    }
  }
}

TEST(EditDistance, FindsOneWideCharacterAnywhere) {
  // What is left between the affixes of a non-ASCII pair may be ASCII or
  // not; one wide character at any place of any length must count as one.
  for (std::size_t len = 1; len <= 40; ++len) {
    const std::string plain(len, 'x');
    for (std::size_t at = 0; at < len; ++at) {
      std::string wide = plain;
      wide.replace(at, 1, "\u65e5");
      const std::string a = "\u00fcw" + wide, b = "\u00fcv" + plain + "y";
      SCOPED_TRACE(a);
      for (const std::optional<std::size_t> cutoff : {std::optional<std::size_t>{}, {3}, {40}}) {
        EXPECT_EQ(levenshtein_bp(a, b, {}, {}, cutoff).unchecked_value(), 3u);
        EXPECT_EQ(damerau_bp(b, a, {}, {}, cutoff).unchecked_value(), 3u);
      }
    }
  }
}

struct Example {
  const char* a;
  const char* b;
  std::size_t levenshtein;
  std::size_t osa;
};

TEST(EditDistance, Examples) {
  const Example examples[] = {
      {"", "", 0, 0},
      {"", "abc", 3, 3},
      {"abc", "", 3, 3},
      {"flaw", "lawn", 2, 2},
      {"intention", "execution", 5, 5},
      {"c", "aaccbac", 6, 6},
      {"abc", "abc", 0, 0},
      {"ABC", "abc", 3, 3},
      {"caf\u00e9", "cafe", 1, 1},
      {"ab", "ba", 2, 1},
      {"ca", "abc", 3, 3},
      {"abc", "acb", 2, 1},
      {"abcdef", "azcedx", 4, 3},
      {"\u00e9", "e", 1, 1},
      {"\u65e5\u672c", "\u672c\u65e5", 2, 1},
      {"\u0436", "\U0001F600", 1, 1},
  };
  for (const auto& e : examples) {
    SCOPED_TRACE(std::string(e.a) + " | " + e.b);
    EXPECT_EQ(levenshtein_bp(e.a, e.b).unchecked_value(), e.levenshtein);
    EXPECT_EQ(damerau_bp(e.a, e.b).unchecked_value(), e.osa);
  }
  const std::string a64(64, 'a'), a65(65, 'a'), a130(130, 'a');
  EXPECT_EQ(levenshtein_bp(a65, a64).unchecked_value(), 1u);
  EXPECT_EQ(levenshtein_bp(a130, "b").unchecked_value(), 130u);
  EXPECT_EQ(damerau_bp(a130, "b").unchecked_value(), 130u);
  // A transposition across the word boundary (positions 63 and 64).
  std::string pattern;
  for (int i = 0; i < 130; ++i) pattern.push_back(static_cast<char>('a' + i % 26));
  std::string swapped = pattern;
  std::swap(swapped[63], swapped[64]);
  EXPECT_EQ(damerau_bp(pattern, swapped).unchecked_value(), 1u);
  std::swap(swapped[127], swapped[128]);
  EXPECT_EQ(damerau_bp(pattern, swapped).unchecked_value(), 2u);
  EXPECT_EQ(levenshtein_bp(pattern, swapped).unchecked_value(), 4u);
}

TEST(EditDistance, CutoffExamples) {
  EXPECT_EQ(damerau_bp("abc", "abcdef", {}, {}, 1).unchecked_value(), 2u);
  EXPECT_EQ(damerau_bp("abcdef", "azcedx", {}, {}, 1).unchecked_value(), 2u);
  EXPECT_EQ(damerau_bp("abcdef", "azcedx", {}, {}, 3).unchecked_value(), 3u);
  EXPECT_EQ(levenshtein_bp("abc", "abc", {}, {}, 0).unchecked_value(), 0u);
  EXPECT_EQ(levenshtein_bp("abc", "abd", {}, {}, 0).unchecked_value(), 1u);
  EXPECT_EQ(levenshtein_bp("", "abcd", {}, {}, 2).unchecked_value(), 3u);
  EXPECT_EQ(damerau_bp("", "", {}, {}, 0).unchecked_value(), 0u);
}

TEST(EditDistance, CaseFolding) {
  for (const auto metric : {kLevenshtein, kDamerau}) {
    EXPECT_EQ(metric("ABC", "abc", {}, true, {}).unchecked_value(), 0u);
    EXPECT_EQ(metric("ABC", "abc", {}, false, {}).unchecked_value(), 3u);
    // U+0130 folds to two characters.
    EXPECT_EQ(metric("\u0130", "i", {}, true, {}).unchecked_value(), 1u);
    const auto error = metric("\u0130", "i", 1, true, {});
    ASSERT_FALSE(error);
    EXPECT_EQ(quillstone::to_string(error.error()),
              "InputTooLong { which: \"str_1\", len: 2, limit: 1 }");
    EXPECT_TRUE(metric("\u0130", "i", 1, false, {}));
    // KELVIN SIGN folds to ASCII k.
    EXPECT_EQ(metric("\u212a", "k", {}, true, {}).unchecked_value(), 0u);
  }
}

// Candidate lists mixing empty, ASCII, non-ASCII, short and long strings.
std::vector<std::string> mixed_candidates(std::mt19937_64& rng, std::size_t count) {
  static const Chars alphabet = U"aAbBcCdD\u00e9\u00c9\u0436\u0416\u0130\u03a3 ";
  std::vector<std::string> out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t len = (rng() % 5 == 0) ? 60 + rng() % 80 : rng() % 10;
    const Chars& from = (rng() % 2) ? kAlphabets[0] : alphabet;
    out.push_back(utf8(random_text(rng, from, len)));
  }
  return out;
}

TEST(EditDistanceBatch, EqualsScalarCandidateByCandidate) {
  std::mt19937_64 rng(99);
  const std::vector<std::string> queries = {
      "abcd", "AbCdAbCd", std::string(64, 'a'), std::string(65, 'b'), "caf\u00e9", "\u0416abc", "x",
      // Non-ASCII queries whose folded form has at most 64 characters, or more.
      "\u00c9" + std::string(63, 'A'), "\u00e9" + std::string(69, 'a'),
      utf8(Chars(20, U'\u0130')) + "Ab", utf8(Chars(40, U'\u0130')), "\u03a3\u0416\u212a"};
  for (const std::string& query : queries) {
    const auto candidates = mixed_candidates(rng, 200);
    const std::vector<TextView> views(candidates.begin(), candidates.end());
    for (std::optional<bool> fold : {std::optional<bool>{}, std::optional<bool>{false},
                                     std::optional<bool>{true}}) {
      const auto lev = quillstone::levenshtein_batch(query, views, fold);
      const auto osa = quillstone::damerau_batch(query, views, fold);
      ASSERT_EQ(lev.size(), views.size());
      ASSERT_EQ(osa.size(), views.size());
      for (std::size_t i = 0; i < views.size(); ++i) {
        SCOPED_TRACE(query + " | " + candidates[i]);
        EXPECT_EQ(lev[i], levenshtein_bp(query, views[i], {}, fold, {}).unchecked_value());
        EXPECT_EQ(osa[i], damerau_bp(query, views[i], {}, fold, {}).unchecked_value());
      }
    }
  }
}

// Folding batches read two-byte candidates unfolded, each unit as the byte
// of the query's character it lower-cases to: characters whose lower case
// is a byte (the Kelvin and Angstrom signs, capital sharp s, Ÿ), wider
// characters with two other cases (ǅ, ϴ, the ohm sign), units equal to the
// bytes lent to the query's wider characters (0 and 1 come first), İ and
// capital sigma (which go the general way), against queries that take the
// narrowing and queries that cannot (ÿ, too many wider characters).
TEST(EditDistanceBatch, FoldedTwoByteCandidatesEqualScalar) {
  std::mt19937_64 rng(37);
  const Chars alphabet(
      U"aAkK\u212a\u00df\u1e9e\u00ff\u0178\u0159\u0158\u0436\u0416\0\x01\u0130\u03a3\u03c3 "
      U"\u01c4\u01c5\u01c6\u0398\u03f4\u03b8\u03a9\u2126\u03c9\u212b\u00c5\u00e5",
      31);
  const std::vector<Chars> queries = {U"kraft", U"\u0159eka", U"STRA\u1e9eE", U"\u0436k\u0159", U"\u00ff\u0159",
                                      U"\u0436\u0437\u0438\u0439\u043a", Chars(U"a\0\u0159", 3), U"\u03c3\u03c2 k",
                                      U"\u01c5\u03b8\u2126\u0159k\u00e5\u00df", U"\u00c5\u01c4a\u0398"};
  for (const Chars& query : queries) {
    std::vector<std::string> owned;
    for (int i = 0; i < 600; ++i) {
      Chars text = random_text(rng, alphabet, 1 + rng() % 40);
      text[rng() % text.size()] = U'\u0159';  // two-byte units
      owned.push_back(utf8(text));
    }
    const std::vector<TextView> views(owned.begin(), owned.end());
    const std::string q = utf8(query);
    const auto lev = quillstone::levenshtein_batch(q, views, true);
    const auto osa = quillstone::damerau_batch(q, views, true);
    for (std::size_t i = 0; i < views.size(); ++i) {
      SCOPED_TRACE(q + " | " + owned[i]);
      ASSERT_EQ(lev[i], levenshtein_bp(q, views[i], {}, true, {}).unchecked_value());
      ASSERT_EQ(osa[i], damerau_bp(q, views[i], {}, true, {}).unchecked_value());
    }
  }
}

// Enough candidates of each length to fill the vector lanes of every width,
// with queries and candidates on either side of 64 characters and of 255
// bytes, some not ASCII.
TEST(EditDistanceBatch, LanesEqualScalar) {
  std::mt19937_64 rng(5);
  for (std::size_t m : {1, 2, 8, 9, 16, 17, 32, 33, 63, 64, 65, 150, 300}) {
    const std::string query = utf8(random_text(rng, U"abcAB", m));
    std::vector<std::string> candidates;
    for (int i = 0; i < 3000; ++i) {
      const std::size_t len = (rng() % 8 == 0) ? rng() % 300 : rng() % 12;
      candidates.push_back(utf8(random_text(rng, rng() % 16 ? Chars(U"abcAB") : Chars(U"ab\u00e9\u0416"), len)));
    }
    const std::vector<TextView> views(candidates.begin(), candidates.end());
    for (bool fold : {false, true}) {
      const auto lev = quillstone::levenshtein_batch(query, views, fold);
      const auto osa = quillstone::damerau_batch(query, views, fold);
      for (std::size_t i = 0; i < views.size(); ++i) {
        SCOPED_TRACE(query + " | " + candidates[i]);
        ASSERT_EQ(lev[i], levenshtein_bp(query, views[i], {}, fold, {}).unchecked_value());
        ASSERT_EQ(osa[i], damerau_bp(query, views[i], {}, fold, {}).unchecked_value());
      }
    }
  }
}

TEST(EditDistanceBatch, Examples) {
  using Views = std::vector<TextView>;
  EXPECT_TRUE(quillstone::levenshtein_batch("abc", Views{}).empty());
  // An empty query scores each candidate by its unfolded character count.
  const Views counted = {"ab", "", "\u65e5\u672c", "\u0130"};
  EXPECT_EQ(quillstone::levenshtein_batch("", counted, true), (std::vector<std::size_t>{2, 0, 2, 1}));
  EXPECT_EQ(quillstone::damerau_batch("", counted, true), (std::vector<std::size_t>{2, 0, 2, 1}));
  const Views abc = {"abc", "ABC", "xyz"};
  EXPECT_EQ(quillstone::levenshtein_batch("Abc", abc), (std::vector<std::size_t>{1, 2, 3}));
  EXPECT_EQ(quillstone::levenshtein_batch("Abc", abc, true), (std::vector<std::size_t>{0, 0, 3}));
  EXPECT_EQ(LevenshteinBatch("strasse", true).distance("STRA\u00dfE"), 2u);
  EXPECT_EQ(quillstone::damerau_batch("abc", Views{"acb", "abc", "", "xyzw", "acb"}),
            (std::vector<std::size_t>{1, 0, 3, 4, 1}));
  EXPECT_EQ(DamerauBatch("Hello", true).distance("hELLO"), 0u);
  EXPECT_EQ(DamerauBatch("Hello", false).distance("hELLO"), 5u);
  EXPECT_EQ(DamerauBatch("Abc", true).distance("BAc"), 1u);
  EXPECT_EQ(DamerauBatch("cafe", {}).distance("caf\u00e9"), 1u);
  EXPECT_EQ(DamerauBatch("ab", {}).distance("b\u00e4"), 2u);
  // One word holds a query of 64 characters, not one of 65.
  for (std::size_t m : {64, 65}) {
    const std::string query(m, 'q');
    for (const std::string& candidate : {std::string(63, 'q') + "x", std::string("qq"), std::string(70, 'q')}) {
      EXPECT_EQ(DamerauBatch(query, {}).distance(candidate), damerau_bp(query, candidate).unchecked_value());
      EXPECT_EQ(LevenshteinBatch(query, {}).distance(candidate), levenshtein_bp(query, candidate).unchecked_value());
    }
  }
}

TEST(MatchErrorText, BothVariants) {
  using quillstone::InvalidPrefixScale;
  using quillstone::to_string;
  EXPECT_EQ(to_string(InputTooLong{"str_1", 300, 255}),
            "InputTooLong { which: \"str_1\", len: 300, limit: 255 }");
  const std::pair<double, const char*> floats[] = {
      {0.3, "0.3"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {0.2500001, "0.2500001"},
      {0.2500000000000001, "0.2500000000000001"},
      {1e-5, "1e-5"},
      {-1e-5, "-1e-5"},
      {1.5e-5, "1.5e-5"},
      {1e-4, "0.0001"},
      {1e20, "1e20"},
      {1e16, "1e16"},
      {1e15, "1000000000000000.0"},
      {123.456, "123.456"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& [value, text] : floats) {
    EXPECT_EQ(to_string(InvalidPrefixScale{value}),
              std::string("InvalidPrefixScale { value: ") + text + " }");
  }
}

}  // namespace
