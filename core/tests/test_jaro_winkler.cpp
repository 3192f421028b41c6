// Jaro-Winkler and its batch form against a plain reference written from the
// definition, over decoded code points. Scores are compared bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quillstone/quillstone.hpp"
#include "reference.hpp"
#include "texts.hpp"
#include "text/case_folding.hpp"
#include "text/utf8.hpp"

namespace {

using quillstone::InputTooLong;
using quillstone::InvalidPrefixScale;
using quillstone::jaro_winkler;
using quillstone::JaroWinklerBatch;
using quillstone::Result;
using std::nullopt;
using std::optional;

using quillstone::testing::decode;
using quillstone::testing::utf8;

// Matching, transpositions and the Winkler bonus, step by step.
double reference_scan(const std::u32string& s1, const std::u32string& s2, double p) {
  return quillstone::testing::reference_jaro_winkler(s1, s2, p);
}

Result<double> reference(std::string_view a, std::string_view b, optional<double> p = nullopt,
                         optional<std::size_t> max_len = nullopt, optional<bool> ci = nullopt,
                         optional<double> cutoff = nullopt) {
  double scale = 0.1;
  if (p) {
    if (std::isnan(*p) || *p < 0.0 || *p > 0.25) return InvalidPrefixScale{*p};
    scale = *p;
  }
  const bool fold = ci.value_or(false);
  const std::u32string s1 = decode(fold ? quillstone::detail::to_lower_full(a) : std::string(a));
  const std::u32string s2 = decode(fold ? quillstone::detail::to_lower_full(b) : std::string(b));
  if (max_len && s1.size() > *max_len) return InputTooLong{"str_1", s1.size(), *max_len};
  if (max_len && s2.size() > *max_len) return InputTooLong{"str_2", s2.size(), *max_len};
  if (s1.empty()) return s2.empty() ? 1.0 : 0.0;
  if (s2.empty()) return 0.0;
  const double score = reference_scan(s1, s2, scale);
  return cutoff && score < *cutoff ? 0.0 : score;
}

::testing::AssertionResult same_bits(double got, double want) {
  if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << std::hexfloat << got << " != " << want;
}

::testing::AssertionResult same_result(const Result<double>& got, const Result<double>& want) {
  if (want.has_value()) {
    if (!got.has_value()) return ::testing::AssertionFailure() << quillstone::to_string(got.error());
    return same_bits(got.unchecked_value(), want.unchecked_value());
  }
  if (got.has_value()) return ::testing::AssertionFailure() << "no error, got " << got.unchecked_value();
  const std::string g = quillstone::to_string(got.error()), w = quillstone::to_string(want.error());
  if (g != w) return ::testing::AssertionFailure() << g << " != " << w;
  if (const auto* e = std::get_if<InvalidPrefixScale>(&got.error())) {
    return same_bits(e->value, std::get<InvalidPrefixScale>(want.error()).value);
  }
  return ::testing::AssertionSuccess();
}

// Random texts: small alphabets so that characters match, lengths that
// cluster at the path boundaries, and pairs that are often near-copies.
struct Gen {
  std::mt19937_64 rng{0x6A77'2024};
  static inline const std::u32string kAlphabets[] = {
      U"abcdeABCDE", U"ab", U"aeéÉàÀßüÜ", U"中文字漢語a", U"😀😁𝒜𝒝a", U"\u0130\u03A3\u03C3\u03C2\u212AKka.",
      U"абвгдАБВГДa",
      // Wider characters with two other cases, and ones that lower-case to a byte.
      U"\u01c4\u01c5\u01c6\u0398\u03f4\u03b8\u03a9\u2126\u03c9\u212b\u00c5\u00e5\u0178\u00ff\u1e9e\u00df\u010d\u010c",
  };
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }
  std::size_t length(std::size_t max = 150) {
    static constexpr std::size_t kEdges[] = {0, 1, 2, 15, 16, 17, 63, 64, 65};
    if (pick(2) == 0) return std::min(max, kEdges[pick(std::size(kEdges))]);
    return pick(max + 1);
  }
  std::u32string text(const std::u32string& alphabet, std::size_t n) {
    std::u32string s;
    for (std::size_t k = 0; k < n; ++k) s.push_back(alphabet[pick(alphabet.size())]);
    return s;
  }
  std::u32string mutate(std::u32string s, const std::u32string& alphabet) {
    for (std::size_t edits = pick(4); edits > 0 && !s.empty(); --edits) {
      const std::size_t at = pick(s.size());
      switch (pick(4)) {
        case 0: s[at] = alphabet[pick(alphabet.size())]; break;
        case 1: s.erase(at, 1); break;
        case 2: s.insert(at, 1, alphabet[pick(alphabet.size())]); break;
        default: if (at + 1 < s.size()) std::swap(s[at], s[at + 1]);
      }
    }
    return s;
  }
  // Lengths for the multi-word scan: word boundaries of str_2's masks and
  // of the window, and anything up to 1000.
  std::size_t long_length() {
    static constexpr std::size_t kEdges[] = {1, 2, 63, 64, 65, 127, 128, 129, 191, 192, 193, 1000};
    if (pick(2) == 0) return kEdges[pick(std::size(kEdges))];
    return 1 + pick(1000);
  }
  // A long text and either a near-copy with edits at about `rate` of its
  // length, or an unrelated text; the lengths are independent in the second
  // case, so that windows of every offset and width occur.
  std::pair<std::u32string, std::u32string> long_pair(const std::u32string& alphabet) {
    const std::u32string s1 = text(alphabet, long_length());
    if (pick(3) == 0) return {s1, text(alphabet, long_length())};
    std::u32string s2 = s1;
    for (std::size_t edits = pick(s1.size() / 8 + 2); edits > 0; --edits) s2 = mutate(s2, alphabet);
    return {s1, s2.empty() ? s1 : s2};
  }
  std::pair<std::string, std::string> pair(bool ascii_only, std::size_t max = 150) {
    const auto& alphabet = ascii_only ? kAlphabets[pick(2)] : kAlphabets[pick(std::size(kAlphabets))];
    const std::u32string s1 = text(alphabet, length(max));
    const std::u32string s2 = pick(2) ? mutate(s1, alphabet) : text(alphabet, length(max));
    return {utf8(s1), utf8(s2)};
  }
};

// ---------------------------------------------------------------- scalar

struct Example {
  const char* s1;
  const char* s2;
  optional<double> p;
  optional<bool> ci;
  double expected;
};

TEST(JaroWinkler, WorkedExamples) {
  const Example examples[] = {
      {"", "", nullopt, nullopt, 1.0},
      {"", "a", nullopt, nullopt, 0.0},
      {"a", "", nullopt, nullopt, 0.0},
      {"same text", "same text", nullopt, nullopt, 1.0},
      {"MARTHA", "MARHTA", nullopt, nullopt, 0.9611111111111111},
      {"DWAYNE", "DUANE", nullopt, nullopt, 0.8400000000000001},
      {"bacbab", "acbab", nullopt, nullopt, 0.8111111111111112},
      {"stone", "tones", nullopt, nullopt, 0.8666666666666667},
      {"fbddb", "fbcef", nullopt, nullopt, 0.6},
      {"abcdef", "abcdfe", 0.25, nullopt, 1.0},
      {"MARTHA", "MARHTA", 0.0, nullopt, 0.9444444444444445},
      {"MARTHA", "MARHTA", -0.0, nullopt, 0.9444444444444445},
      {"ABC", "abc", nullopt, true, 1.0},
      {"ABC", "abc", nullopt, false, 0.0},
      {"\u212A", "k", nullopt, true, 1.0},  // KELVIN SIGN folds to ASCII
  };
  for (const Example& e : examples) {
    SCOPED_TRACE(std::string(e.s1) + " / " + e.s2);
    const auto got = jaro_winkler(e.s1, e.s2, e.p, nullopt, e.ci, nullopt);
    EXPECT_TRUE(same_result(got, e.expected));
    EXPECT_TRUE(same_result(got, reference(e.s1, e.s2, e.p, nullopt, e.ci)));
  }
}

TEST(JaroWinkler, PrefixScaleValidation) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {0.2500000000000001, 0.3, -1.0, -1e-300, nan, inf, -inf}) {
    const auto got = jaro_winkler("ab", "ab", bad);
    ASSERT_FALSE(got.has_value()) << bad;
    ASSERT_TRUE(std::holds_alternative<InvalidPrefixScale>(got.error()));
    EXPECT_TRUE(same_bits(std::get<InvalidPrefixScale>(got.error()).value, bad));
    // The scale is checked before the inputs are.
    EXPECT_TRUE(same_result(jaro_winkler("abc", "abc", bad, 1), InvalidPrefixScale{bad}));
  }
  EXPECT_EQ(quillstone::to_string(jaro_winkler("a", "a", nan).error()),
            "InvalidPrefixScale { value: NaN }");
  for (double good : {0.0, -0.0, 0.25, 5e-324}) {
    EXPECT_TRUE(jaro_winkler("ab", "ab", good).has_value()) << good;
  }
}

TEST(JaroWinkler, MaxLenAndCutoff) {
  EXPECT_TRUE(same_result(jaro_winkler("abc", "ab", nullopt, 3), reference("abc", "ab")));
  EXPECT_TRUE(same_result(jaro_winkler("abcd", "ab", nullopt, 3), InputTooLong{"str_1", 4, 3}));
  EXPECT_TRUE(same_result(jaro_winkler("ab", "abcd", nullopt, 3), InputTooLong{"str_2", 4, 3}));
  EXPECT_TRUE(same_result(jaro_winkler("abcde", "abcd", nullopt, 3), InputTooLong{"str_1", 5, 3}));
  EXPECT_TRUE(same_result(jaro_winkler("", "", nullopt, 0), 1.0));
  EXPECT_TRUE(same_result(jaro_winkler("", "a", nullopt, 0), InputTooLong{"str_2", 1, 0}));
  // Counted after folding: U+0130 becomes two characters.
  EXPECT_TRUE(same_result(jaro_winkler("\u0130", "i", nullopt, 1, true), InputTooLong{"str_1", 2, 1}));
  EXPECT_TRUE(jaro_winkler("\u0130", "i", nullopt, 1, false).has_value());

  const double score = jaro_winkler("MARTHA", "MARHTA").unchecked_value();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(same_result(jaro_winkler("MARTHA", "MARHTA", nullopt, nullopt, nullopt, score), score));
  EXPECT_TRUE(same_result(
      jaro_winkler("MARTHA", "MARHTA", nullopt, nullopt, nullopt, std::nextafter(score, 2.0)), 0.0));
  EXPECT_TRUE(same_result(jaro_winkler("MARTHA", "MARHTA", nullopt, nullopt, nullopt, nan), score));
  EXPECT_TRUE(same_result(jaro_winkler("MARTHA", "MARHTA", nullopt, nullopt, nullopt, -1.0), score));
  // Empty inputs skip the cut-off.
  EXPECT_TRUE(same_result(jaro_winkler("", "", nullopt, nullopt, nullopt, 1.5), 1.0));
  EXPECT_TRUE(same_result(jaro_winkler("", "x", nullopt, nullopt, nullopt, -1.0), 0.0));
}

TEST(JaroWinkler, MatchesReferenceOnRandomPairs) {
  Gen gen;
  for (int round = 0; round < 20000; ++round) {
    const auto [s1, s2] = gen.pair(round % 3 == 0);
    const optional<double> p =
        gen.pick(3) == 0 ? optional<double>{} : std::uniform_real_distribution<double>(0, 0.25)(gen.rng);
    const optional<bool> ci = gen.pick(3) == 0 ? optional<bool>{} : optional<bool>{gen.pick(2) == 1};
    const optional<std::size_t> max_len = gen.pick(4) == 0 ? optional<std::size_t>{gen.length()} : nullopt;
    optional<double> cutoff;
    if (gen.pick(3) == 0) {
      const auto plain = reference(s1, s2, p, nullopt, ci);
      cutoff = plain.unchecked_value() + (gen.pick(2) ? 0.0 : 1e-9);
    }
    ASSERT_TRUE(same_result(jaro_winkler(s1, s2, p, max_len, ci, cutoff),
                            reference(s1, s2, p, max_len, ci, cutoff)))
        << "'" << s1 << "' / '" << s2 << "'";
  }
}

// Texts of 1 to 64 characters, around the 16/17 boundary and at 64, which
// take the scans for short texts: the scalar call both ways round and the
// batch against the reference, bit for bit.
TEST(JaroWinkler, ScanPathsAgreeBitForBit) {
  Gen gen;
  for (int round = 0; round < 20000; ++round) {
    auto [s1, s2] = gen.pair(true, 64);
    // Mutation may add a character; the scans take 1 to 64.
    s1 = s1.empty() ? "a" : s1.substr(0, 64);
    s2 = s2.empty() ? "b" : s2.substr(0, 64);
    const double p = round % 2 ? 0.1 : 0.25;
    const double want = reference_scan(decode(s1), decode(s2), p);
    ASSERT_TRUE(same_result(jaro_winkler(s1, s2, p), want)) << s1 << " / " << s2;
    ASSERT_TRUE(same_result(jaro_winkler(s2, s1, p), reference_scan(decode(s2), decode(s1), p)))
        << s1 << " / " << s2;
    const std::vector<std::string_view> one = {s2};
    const auto batch = quillstone::jaro_winkler_batch(s1, one, p);
    ASSERT_TRUE(batch.has_value() && same_bits(batch.unchecked_value()[0], want)) << s1 << " / " << s2;
  }
}

// Long texts through the public call: ASCII and not, small alphabets so that
// matches and transpositions are frequent, windows across word boundaries.
TEST(JaroWinkler, LongTextsMatchReference) {
  Gen gen;
  for (int round = 0; round < 600; ++round) {
    const std::u32string& alphabet = Gen::kAlphabets[gen.pick(std::size(Gen::kAlphabets))];
    const auto [a, b] = gen.long_pair(alphabet);
    const std::string s1 = utf8(a), s2 = utf8(b);
    const optional<double> p = round % 2 ? optional<double>{0.25} : nullopt;
    const optional<bool> ci = round % 3 == 0 ? optional<bool>{true} : nullopt;
    ASSERT_TRUE(same_result(jaro_winkler(s1, s2, p, nullopt, ci, nullopt),
                            reference(s1, s2, p, nullopt, ci)))
        << a.size() << " / " << b.size() << " characters: '" << s1 << "' / '" << s2 << "'";
  }
}

// Long or non-ASCII texts, which take the multi-word and character scans:
// the scalar call both ways round and the batch (its lanes or its prepared
// multi-word masks) against the reference, bit for bit.
TEST(JaroWinkler, NewScansAgreeWithGeneralScan) {
  Gen gen;
  for (int round = 0; round < 3000; ++round) {
    const std::u32string& alphabet = Gen::kAlphabets[gen.pick(std::size(Gen::kAlphabets))];
    auto [a, b] = round % 2 ? gen.long_pair(alphabet)
                            : std::pair{gen.text(alphabet, 1 + gen.pick(64)),
                                        gen.text(alphabet, 1 + gen.pick(64))};
    const std::string s1 = utf8(a), s2 = utf8(b);
    const double p = round % 3 ? 0.1 : 0.25;
    const double want = reference_scan(a, b, p);
    SCOPED_TRACE(std::to_string(a.size()) + " / " + std::to_string(b.size()) + " characters: '" + s1 +
                 "' / '" + s2 + "'");
    ASSERT_TRUE(same_result(jaro_winkler(s1, s2, p), want));
    ASSERT_TRUE(same_result(jaro_winkler(s2, s1, p), reference_scan(b, a, p)));
    const std::vector<std::string_view> one = {s2};
    const auto batch = quillstone::jaro_winkler_batch(s1, one, p);
    ASSERT_TRUE(batch.has_value() && same_bits(batch.unchecked_value()[0], want));
  }
}

// More distinct characters above U+00FF than the row memo has slots, so
// that characters share slots both while the masks are built and during the
// scan; a full map of 64 keys in the one-word scan.
TEST(JaroWinkler, ManyDistinctWideCharacters) {
  std::u32string cjk;
  for (char32_t c = 0x4E00; c < 0x4E00 + 700; ++c) cjk.push_back(c);
  const std::u32string mixed = cjk.substr(0, 64) + U"aé";
  Gen gen;
  for (int round = 0; round < 200; ++round) {
    const std::u32string& alphabet = round % 2 ? cjk : mixed;
    auto [a, b] = gen.long_pair(alphabet);
    if (round % 4 == 1) {
      a = cjk.substr(gen.pick(600), 64);
      b = cjk.substr(gen.pick(600), 64);
    }
    const std::string s1 = utf8(a), s2 = utf8(b);
    const double want = reference_scan(a, b, 0.1);
    ASSERT_TRUE(same_result(jaro_winkler(s1, s2), want)) << a.size() << " / " << b.size();
    ASSERT_TRUE(same_result(jaro_winkler(s2, s1), reference_scan(b, a, 0.1)));
    const std::vector<std::string_view> one = {s2};
    const auto batch = quillstone::jaro_winkler_batch(s1, one);
    ASSERT_TRUE(batch.has_value() && same_bits(batch.unchecked_value()[0], want));
  }
}

// A long text with more distinct characters than the mask table may spend
// words on: the same score through the plain loops, which the scan falls
// back to there.
TEST(JaroWinkler, LongTextWithVastAlphabet) {
  std::u32string s2;
  for (std::size_t k = 0; k < 70000; ++k) s2.push_back(char32_t(0x4E00 + (k * 7919) % 21000));
  Gen gen;
  for (int round = 0; round < 4; ++round) {
    std::u32string s1 = s2.substr(gen.pick(60000), 200 + gen.pick(200));
    for (int edits = 0; edits < 20; ++edits) s1 = gen.mutate(s1, s2.substr(0, 50));
    const std::string e1 = utf8(s1), e2 = utf8(s2);
    const double want = reference_scan(s1, s2, 0.1);
    ASSERT_TRUE(same_result(jaro_winkler(e1, e2), want));
    ASSERT_TRUE(same_result(jaro_winkler(e2, e1), reference_scan(s2, s1, 0.1)));
  }
}

// ---------------------------------------------------------------- batch

TEST(JaroWinklerBatch, EqualsScalarOnRandomCandidates) {
  Gen gen;
  const std::string long_ascii(65, 'a');
  for (int round = 0; round < 600; ++round) {
    const std::u32string& alphabet = Gen::kAlphabets[gen.pick(std::size(Gen::kAlphabets))];
    std::string query = utf8(gen.text(round % 2 ? Gen::kAlphabets[0] : alphabet, gen.length(80)));
    if (round % 50 == 0) query = round % 100 ? long_ascii : "";
    std::vector<std::string> owned;
    for (std::size_t k = gen.pick(40); k > 0; --k) {
      const auto& pool = gen.pick(2) ? Gen::kAlphabets[0] : alphabet;
      owned.push_back(gen.pick(2) ? utf8(gen.mutate(decode(query), pool)) : utf8(gen.text(pool, gen.length(80))));
    }
    const std::vector<std::string_view> candidates(owned.begin(), owned.end());
    const optional<double> p = round % 3 ? optional<double>{0.2} : nullopt;
    const optional<bool> ci = round % 4 == 0 ? optional<bool>{} : optional<bool>{round % 4 > 1};

    const auto scores = quillstone::jaro_winkler_batch(query, candidates, p, ci);
    ASSERT_TRUE(scores.has_value());
    ASSERT_EQ(scores.unchecked_value().size(), candidates.size());
    const auto batch = JaroWinklerBatch::create(query, p, ci).unchecked_value();
    for (std::size_t k = 0; k < candidates.size(); ++k) {
      const auto want = jaro_winkler(query, candidates[k], p, nullopt, ci, nullopt);
      ASSERT_TRUE(same_result(scores.unchecked_value()[k], want)) << "'" << query << "' / '" << owned[k] << "'";
      ASSERT_TRUE(same_result(batch.similarity(candidates[k]), want));
    }
  }
}

// The lanes take candidates of 1 to 64 characters against queries of 1 to
// 64, in groups by length that are full or left partly filled; longer ones
// are scanned against the query's multi-word masks. Queries at every lane
// width, candidates of every length from 0 to 70, in shuffled order.
TEST(JaroWinklerBatch, LanesEqualScalarAtEveryLength) {
  Gen gen;
  constexpr std::size_t kQueryLengths[] = {1, 7, 8, 9, 16, 17, 32, 33, 64, 65, 70, 150};
  constexpr optional<double> kScales[] = {nullopt, 0.0, 0.25, 0.07};
  int round = 0;
  for (const std::size_t nq : kQueryLengths) {
    for (const std::u32string& alphabet : Gen::kAlphabets) {
      for (const bool fold : {false, true}) {
        const optional<double> p = kScales[round++ % std::size(kScales)];
        const std::u32string query = gen.text(alphabet, nq);
        std::vector<std::string> owned;
        for (std::size_t n = 0; n <= 70; ++n) {
          // Some lengths fill a group of 32 lanes and leave a partial one.
          for (std::size_t k = n % 37 + 1; k > 0; --k) {
            std::u32string text = gen.pick(2) ? query : gen.text(alphabet, n);
            text = gen.mutate(text, alphabet);
            text.resize(n, alphabet[gen.pick(alphabet.size())]);
            owned.push_back(utf8(text));
          }
        }
        std::shuffle(owned.begin(), owned.end(), gen.rng);
        const std::vector<std::string_view> candidates(owned.begin(), owned.end());
        const std::string q = utf8(query);
        const auto scores = quillstone::jaro_winkler_batch(q, candidates, p, fold);
        ASSERT_TRUE(scores.has_value());
        ASSERT_EQ(scores.unchecked_value().size(), candidates.size());
        for (std::size_t k = 0; k < candidates.size(); ++k) {
          ASSERT_TRUE(same_result(scores.unchecked_value()[k], jaro_winkler(q, candidates[k], p, nullopt, fold, nullopt)))
              << "'" << q << "' / '" << owned[k] << "' fold " << fold;
        }
      }
    }
  }
}

TEST(JaroWinklerBatch, Examples) {
  const std::vector<std::string_view> candidates = {"", "a", "", "MARHTA", "marhta", "marhta"};
  const auto empty_query = quillstone::jaro_winkler_batch("", candidates).unchecked_value();
  EXPECT_EQ(empty_query, (std::vector<double>{1.0, 0.0, 1.0, 0.0, 0.0, 0.0}));

  const auto folded = quillstone::jaro_winkler_batch("MARTHA", candidates, nullopt, true).unchecked_value();
  EXPECT_EQ(folded.size(), candidates.size());
  EXPECT_TRUE(same_bits(folded[0], 0.0));
  EXPECT_TRUE(same_bits(folded[3], 0.9611111111111111));
  EXPECT_TRUE(same_bits(folded[4], 0.9611111111111111));
  EXPECT_TRUE(same_bits(folded[5], 0.9611111111111111));

  const auto bad = quillstone::jaro_winkler_batch("MARTHA", {}, 0.3);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(quillstone::to_string(bad.error()), "InvalidPrefixScale { value: 0.3 }");
  EXPECT_FALSE(JaroWinklerBatch::create("x", std::numeric_limits<double>::quiet_NaN(), nullopt).has_value());
  const auto none = quillstone::jaro_winkler_batch("MARTHA", {}, 0.25);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none.unchecked_value().empty());
}

}  // namespace
