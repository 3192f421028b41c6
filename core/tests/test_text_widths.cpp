// Results never depend on the width of the code units a text is given in:
// every text in every width that holds it, each pair in every combination of
// widths, scalar and batch, against the dynamic-programming references.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "quillstone/quillstone.hpp"
#include "reference.hpp"
#include "texts.hpp"
#include "text/case_folding.hpp"

namespace {

using quillstone::TextView;
using quillstone::testing::Chars;

// One text in units of `width` bytes, in storage of its own.
class UnitsOf {
 public:
  UnitsOf(const Chars& chars, unsigned width) : width_(width), units_(chars.size() * width + 1, 0) {
    for (std::size_t i = 0; i < chars.size(); ++i) {
      const char32_t c = chars[i];
      if (width == 1) units_[i] = static_cast<unsigned char>(c);
      if (width == 2) {
        const auto unit = static_cast<char16_t>(c);
        std::memcpy(units_.data() + 2 * i, &unit, 2);
      }
      if (width == 4) std::memcpy(units_.data() + 4 * i, &c, 4);
    }
    size_ = chars.size();
  }
  TextView view() const { return TextView(units_.data(), size_, width_); }

 private:
  unsigned width_;
  std::basic_string<unsigned char> units_;
  std::size_t size_ = 0;
};

std::vector<unsigned> widths_holding(const Chars& chars) {
  char32_t most = 0;
  for (const char32_t c : chars) most = std::max(most, c);
  std::vector<unsigned> out;
  if (most < 0x100) out.push_back(1);
  if (most < 0x10000) out.push_back(2);
  out.push_back(4);
  return out;
}

// U+0080, which the byte paths also use as padding, and U+00FF, the last
// character a byte holds, beside letters that fold within a byte, beyond it
// and into two characters.
const std::vector<Chars> kAlphabets = {
    U"ab\u0080\u00ff",
    U"aA\u00c9\u00e9\u00df\u00ff\u0080",
    U"\u0436\u0416\u0130ia",
    U"\u65e5\u672c\u00e9\u0080",
    U"\U0001F600\U0001F601\u00c0x",
};

Chars random_text(std::mt19937_64& rng, const Chars& alphabet, std::size_t len) {
  Chars out(len, U'\0');
  for (auto& c : out) c = alphabet[rng() % alphabet.size()];
  return out;
}

Chars folded(const Chars& text, bool fold) {
  using quillstone::testing::decode;
  using quillstone::testing::utf8;
  return fold ? decode(quillstone::detail::to_lower_full(utf8(text))) : text;
}

TEST(TextWidths, EveryWidthGivesTheSameResults) {
  std::mt19937_64 rng(41);
  for (int round = 0; round < 400; ++round) {
    const Chars& alphabet = kAlphabets[rng() % kAlphabets.size()];
    const std::size_t la = rng() % 4 == 0 ? rng() % 200 : rng() % 24;
    const Chars a = random_text(rng, alphabet, la);
    // Near a or not; a shares its affixes with a near one.
    Chars b = a;
    if (rng() % 2) {
      b = random_text(rng, alphabet, rng() % 4 == 0 ? rng() % 200 : rng() % 24);
    } else if (!b.empty()) {
      b[rng() % b.size()] = alphabet[rng() % alphabet.size()];
    }
    const bool fold = rng() % 2;
    const Chars fa = folded(a, fold), fb = folded(b, fold);
    const std::size_t lev = quillstone::testing::reference_distance(fa, fb, false);
    const std::size_t osa = quillstone::testing::reference_distance(fa, fb, true);
    const double jw = quillstone::testing::reference_jaro_winkler(fa, fb, 0.1);
    const std::optional<std::size_t> cutoff =
        rng() % 2 ? std::optional<std::size_t>(rng() % (lev + 2)) : std::nullopt;
    const auto bounded = [&](std::size_t d) { return cutoff && d > *cutoff ? *cutoff + 1 : d; };
    for (const unsigned wa : widths_holding(a)) {
      for (const unsigned wb : widths_holding(b)) {
        SCOPED_TRACE(quillstone::testing::utf8(a) + " | " + quillstone::testing::utf8(b) + " widths " +
                     std::to_string(wa) + "," + std::to_string(wb) + (fold ? " folded" : ""));
        const UnitsOf ua(a, wa), ub(b, wb);
        ASSERT_EQ(quillstone::levenshtein_bp(ua.view(), ub.view(), {}, fold, cutoff).unchecked_value(),
                  bounded(lev));
        ASSERT_EQ(quillstone::damerau_bp(ua.view(), ub.view(), {}, fold, cutoff).unchecked_value(), bounded(osa));
        ASSERT_EQ(quillstone::jaro_winkler(ua.view(), ub.view(), {}, {}, fold, {}).unchecked_value(), jw);
        // The batch of a against b, among candidates of other widths.
        const UnitsOf other(a, 4);
        const std::vector<TextView> candidates = {ub.view(), other.view(), ub.view()};
        const auto lev_batch = quillstone::levenshtein_batch(ua.view(), candidates, fold);
        const auto osa_batch = quillstone::damerau_batch(ua.view(), candidates, fold);
        const auto jw_batch = quillstone::jaro_winkler_batch(ua.view(), candidates, {}, fold).unchecked_value();
        // An empty query counts each candidate's characters, unfolded.
        ASSERT_EQ(lev_batch[0], a.empty() ? b.size() : lev);
        ASSERT_EQ(osa_batch[2], a.empty() ? b.size() : osa);
        ASSERT_EQ(lev_batch[1], 0u);
        ASSERT_EQ(jw_batch[0], jw);
        ASSERT_EQ(jw_batch[1], 1.0);
      }
    }
  }
}

// Texts the batch lanes read a byte a character, of U+0080 (the byte
// paths' padding) and U+00FF among letters, against queries of every lane
// width.
TEST(TextWidths, ByteLanesReadEveryByte) {
  std::mt19937_64 rng(43);
  const Chars alphabet = U"a\u0080b\u00ff";
  for (const std::size_t m : {1, 5, 8, 9, 16, 17, 40, 64, 65, 90}) {
    const Chars q = random_text(rng, alphabet, m);
    std::vector<Chars> texts;
    for (int i = 0; i < 200; ++i) texts.push_back(random_text(rng, alphabet, 1 + rng() % 80));
    std::vector<UnitsOf> owned;
    for (const Chars& t : texts) owned.emplace_back(t, 1);
    std::vector<TextView> views;
    for (const UnitsOf& u : owned) views.push_back(u.view());
    const UnitsOf query(q, 1);
    const auto lev = quillstone::levenshtein_batch(query.view(), views);
    const auto osa = quillstone::damerau_batch(query.view(), views);
    const auto jw = quillstone::jaro_winkler_batch(query.view(), views).unchecked_value();
    for (std::size_t i = 0; i < texts.size(); ++i) {
      ASSERT_EQ(lev[i], quillstone::testing::reference_distance(q, texts[i], false));
      ASSERT_EQ(osa[i], quillstone::testing::reference_distance(q, texts[i], true));
      ASSERT_EQ(jw[i], quillstone::testing::reference_jaro_winkler(q, texts[i], 0.1));
      ASSERT_EQ(quillstone::levenshtein_bp(query.view(), views[i]).unchecked_value(), lev[i]);
    }
  }
}

// Four-byte candidates, read in place, or renumbered into the query's
// numbers when two of the query's characters from U+0100 on share a slot
// (U+1F600 and U+20000, or U+10041 and U+20041, by their low bytes) or a
// folded text holds a capital whose lower case is not one character alone
// (U+0130, U+03A3): runs below U+0100 of every length up to 40 with a wide
// character at every place in or after them (others in the slots of the
// query's; U+00FF among the bytes; capitals that fold into a byte, U+212A,
// into U+0103 or into the query's Deseret letter), and some bytes after it.
TEST(TextWidths, FourByteCandidatesInTheQuerysLanes) {
  std::mt19937_64 rng(47);
  const Chars narrow = U"aAbk\u00e9\u00c9\u00ff\u0080";
  const Chars wide =
      U"\U0001F600\U0001F601\U0001F700\U00020000\u0100\u0101\u0102\u0103\u0416\u0436\u0130\u03a3\u212a"
      U"\U00010400\U00010428\U00010041\U00020041";
  // The first query's characters from U+0100 on, and folded the capitals
  // that lower-case to its characters, each have a slot of their own.
  for (const Chars& q : {Chars(U"abk\U0001F601\u00e9\u0103\u0436\U00010428x"),
                         Chars(U"a\U0001F600b\U00020000\u00ff"), Chars(U"\U00010041b\U00020041")}) {
    for (const bool fold : {false, true}) {
      std::vector<Chars> texts;
      for (std::size_t run = 1; run <= 40; ++run) {
        for (std::size_t at = 0; at <= run; at += 1 + run / 8) {
          Chars t = random_text(rng, narrow, run);
          t.insert(t.begin() + static_cast<std::ptrdiff_t>(at), wide[rng() % wide.size()]);
          if (rng() % 3 == 0) t += random_text(rng, narrow, 1 + rng() % 12);
          texts.push_back(t);
        }
      }
      std::vector<UnitsOf> owned;
      for (const Chars& t : texts) owned.emplace_back(t, 4);
      std::vector<TextView> views;
      for (const UnitsOf& u : owned) views.push_back(u.view());
      const UnitsOf query(q, 4);
      const auto lev = quillstone::levenshtein_batch(query.view(), views, fold);
      const auto osa = quillstone::damerau_batch(query.view(), views, fold);
      for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(quillstone::testing::utf8(q) + " | " + quillstone::testing::utf8(texts[i]) +
                     (fold ? " folded" : ""));
        const Chars fq = folded(q, fold), ft = folded(texts[i], fold);
        ASSERT_EQ(lev[i], quillstone::testing::reference_distance(fq, ft, false));
        ASSERT_EQ(osa[i], quillstone::testing::reference_distance(fq, ft, true));
      }
    }
  }
}

}  // namespace
