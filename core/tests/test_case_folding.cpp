// Full lower-casing: table cases, and the ASCII / Latin-1 shortcuts held to
// the plain table path. The Python suite compares every code point with
// CPython's str.lower().
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "text/case_folding.hpp"
#include "texts.hpp"
#include "text/prepared.hpp"
#include "text/utf8.hpp"

namespace quillstone::detail {
// Defined in case_folding.cpp: the same lower-casing without the shortcuts.
std::string to_lower_full_tables(std::string_view utf8) noexcept;
}  // namespace quillstone::detail

namespace {

using quillstone::detail::to_lower_full;
using quillstone::detail::to_lower_full_tables;

using quillstone::testing::utf8;

struct FoldCase {
  const char* name;
  std::u32string input;
  std::u32string expected;
};

void PrintTo(const FoldCase& c, std::ostream* os) { *os << c.name; }

class LowerFull : public ::testing::TestWithParam<FoldCase> {};

TEST_P(LowerFull, MatchesExpected) {
  const FoldCase& c = GetParam();
  EXPECT_EQ(to_lower_full(utf8(c.input)), utf8(c.expected));
  EXPECT_EQ(to_lower_full_tables(utf8(c.input)), utf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LowerFull,
    ::testing::Values(
        FoldCase{"Empty", U"", U""},
        FoldCase{"Ascii", U"Hello, WORLD 42", U"hello, world 42"},
        FoldCase{"Latin1", U"\u00C0\u00C9\u00D7\u00DE\u00DF\u00FF", U"\u00E0\u00E9\u00D7\u00FE\u00DF\u00FF"},
        // One character becomes two.
        FoldCase{"DottedCapitalI", U"\u0130", U"i\u0307"},
        // Three bytes become one: the folded text is ASCII.
        FoldCase{"KelvinSign", U"\u212A", U"k"},
        // Two bytes become three.
        FoldCase{"AWithStroke", U"\u023A", U"\u2C65"},
        FoldCase{"Deseret", U"\U00010400\U00010401", U"\U00010428\U00010429"},
        // Final_Sigma.
        FoldCase{"SigmaWordEnd", U"\u039F\u0394\u039F\u03A3", U"\u03BF\u03B4\u03BF\u03C2"},
        FoldCase{"SigmaLone", U"\u03A3", U"\u03C3"},
        FoldCase{"SigmaBetweenLetters", U"\u0391\u03A3\u0391", U"\u03B1\u03C3\u03B1"},
        FoldCase{"SigmaAfterApostrophe", U"\u0391'\u03A3", U"\u03B1'\u03C2"},
        FoldCase{"SigmaSigma", U"\u0391\u03A3\u03A3", U"\u03B1\u03C3\u03C2"},
        // U+0345 is both cased and case-ignorable: it is skipped either way.
        FoldCase{"SigmaAfterYpogegrammeni", U"\u0345\u03A3", U"\u0345\u03C3"},
        FoldCase{"SigmaBeforeYpogegrammeni", U"\u0391\u03A3\u0345", U"\u03B1\u03C2\u0345"},
        FoldCase{"SigmaLatinContext", U"A\u00AD\u03A3.", U"a\u00AD\u03C2."}),
    [](const auto& info) { return std::string(info.param.name); });

// The preparation counts and tests the folded text.
TEST(LowerFull, PreparationSeesFoldedText) {
  quillstone::detail::Prepared prepared;
  const quillstone::Utf8Text dotted(utf8(U"\u0130")), i("i"), kelvin_sign(utf8(U"\u212A")), k("k");
  const auto error = prepared.prepare(dotted, i, 1, true);
  ASSERT_TRUE(error.has_value());
  const auto* too_long = std::get_if<quillstone::InputTooLong>(&*error);
  ASSERT_NE(too_long, nullptr);
  EXPECT_EQ(std::string(too_long->which), "str_1");
  EXPECT_EQ(too_long->len, 2u);
  EXPECT_EQ(too_long->limit, 1u);

  quillstone::detail::Prepared kelvin;
  ASSERT_FALSE(kelvin.prepare(kelvin_sign, k, 1, true).has_value());
  // The folded sign is a byte, as the folded letter is.
  EXPECT_TRUE(kelvin.both_narrow());
  EXPECT_EQ(kelvin.n1, 1u);
  EXPECT_EQ(kelvin.s1[0], kelvin.s2[0]);
}

// Each scalar value alone: the shortcuts (ASCII text, Latin-1 table) and
// the two-stage table agree everywhere.
TEST(LowerFullShortcuts, EveryCodePointAlone) {
  std::size_t mismatches = 0;
  for (char32_t cp = 0; cp < 0x110000; ++cp) {
    if (cp >= 0xD800 && cp < 0xE000) continue;
    const std::string in = utf8(std::u32string(1, cp));
    if (to_lower_full(in) != to_lower_full_tables(in) && ++mismatches <= 5) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<std::uint32_t>(cp);
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

// lower_alone() on every two-byte unit is what the full folding gives the
// unit alone, when that is one character that holds in any context; the
// named capitals are the units where it is not; and the preimages of
// each character are those that lower_alone() sends to it.
TEST(LowerAlone, EveryTwoByteUnit) {
  using quillstone::detail::lower_alone;
  std::vector<std::vector<char16_t>> preimages(0x10000);
  for (char32_t cp = 0x100; cp <= 0xFFFF; ++cp) {
    char32_t lower = 0;
    const bool alone = lower_alone(cp, lower);
    const char16_t unit = static_cast<char16_t>(cp);
    ASSERT_EQ(alone, unit != quillstone::detail::kCapitalDottedI && unit != quillstone::detail::kCapitalSigma)
        << std::hex << std::uint32_t{cp};
    // Surrogates are no characters: UTF-8 cannot hold them alone.
    if (cp < 0xD800 || cp >= 0xE000) {
      const std::u32string full = quillstone::testing::decode(to_lower_full(utf8(std::u32string(1, cp))));
      ASSERT_EQ(alone, full.size() == 1 && cp != 0x03A3) << std::hex << std::uint32_t{cp};
      if (alone) {
        ASSERT_EQ(std::u32string(1, lower), full) << std::hex << std::uint32_t{cp};
      }
    }
    if (!alone) continue;
    ASSERT_LE(std::uint32_t{lower}, 0xFFFFu) << std::hex << std::uint32_t{cp};
    preimages[lower].push_back(unit);
  }
  for (char32_t lower = 0; lower < 0x10010; ++lower) {
    char16_t got[4];
    const std::size_t count = quillstone::detail::wide_lower_preimages(lower, got);
    const std::vector<char16_t> expected = lower < 0x10000 ? preimages[lower] : std::vector<char16_t>{};
    ASSERT_EQ(count, expected.size()) << std::hex << std::uint32_t{lower};
    std::vector<char16_t> sorted(got, got + std::min<std::size_t>(count, 4));
    std::sort(sorted.begin(), sorted.end());
    ASSERT_TRUE(std::equal(sorted.begin(), sorted.end(), expected.begin())) << std::hex << std::uint32_t{lower};
  }
  // Only as many as there is room for are written.
  char16_t one[1] = {0};
  EXPECT_EQ(quillstone::detail::wide_lower_preimages(U'\u01c6', one), 3u);
  EXPECT_TRUE(one[0] >= 0x01C4 && one[0] <= 0x01C6);
}

// The texts whose units all lower-case alone are kept, in order, and every
// other one put aside: the capitals that do not, at every place of texts of
// every length up to past two vector loads, in units of two and four bytes.
template <class Unit>
void keeps_texts_that_lower_alone() {
  using quillstone::TextView;
  constexpr char16_t kCapitals[] = {quillstone::detail::kCapitalDottedI, quillstone::detail::kCapitalSigma};
  std::vector<std::basic_string<Unit>> texts;
  std::vector<bool> alone;
  for (std::size_t n = 1; n <= 70; ++n) {
    const std::basic_string<Unit> plain(n, static_cast<Unit>(0x0101));
    texts.push_back(plain);
    alone.push_back(true);
    for (std::size_t at = 0; at < n; ++at) {
      std::basic_string<Unit> text = plain;
      text[at] = kCapitals[(n + at) % 2];
      texts.push_back(text);
      alone.push_back(false);
    }
  }
  std::vector<TextView> views;
  for (const auto& text : texts) views.emplace_back(text.data(), text.size());
  std::vector<std::size_t> which, expected, aside, expected_aside;
  for (std::size_t i = 0; i < views.size(); ++i) {
    which.push_back(i);
    (alone[i] ? expected : expected_aside).push_back(i);
  }
  const std::size_t kept = quillstone::detail::keep_lower_alone<Unit>(
      views, which.data(), which.size(), [&](std::size_t i) { aside.push_back(i); });
  EXPECT_EQ(std::vector<std::size_t>(which.begin(), which.begin() + kept), expected);
  EXPECT_EQ(aside, expected_aside);
}

TEST(LowerAlone, KeepsTextsThatLowerAlone) {
  keeps_texts_that_lower_alone<char16_t>();
  keeps_texts_that_lower_alone<char32_t>();
}

// The same from U+10000 on: every character there has its lower case alone
// and as a character from U+10000 on, and the preimages of each are those
// that lower_alone() sends to it, found within the reach they are sought
// in; no character below U+10000 is among them.
TEST(LowerAlone, EverySupplementaryCharacter) {
  using quillstone::detail::lower_alone;
  std::vector<std::pair<char32_t, char32_t>> to_lower;  // (lower, character)
  for (char32_t cp = 0x10000; cp <= 0x10FFFF; ++cp) {
    char32_t lower = 0;
    ASSERT_TRUE(lower_alone(cp, lower)) << std::hex << std::uint32_t{cp};
    ASSERT_GE(std::uint32_t{lower}, 0x10000u) << std::hex << std::uint32_t{cp};
    to_lower.emplace_back(lower, cp);
  }
  std::sort(to_lower.begin(), to_lower.end());
  std::size_t cased = 0;
  for (auto it = to_lower.begin(); it != to_lower.end();) {
    const char32_t lower = it->first;
    std::vector<char32_t> expected;
    for (; it != to_lower.end() && it->first == lower; ++it) expected.push_back(it->second);
    if (expected.size() == 1 && expected[0] == lower) continue;  // only itself, as most are
    ++cased;
    std::vector<char32_t> got(8);
    const std::size_t count = quillstone::detail::supplementary_lower_preimages(lower, got);
    ASSERT_LE(count, got.size()) << std::hex << std::uint32_t{lower};
    got.resize(count);
    std::sort(got.begin(), got.end());
    ASSERT_EQ(got, expected) << std::hex << std::uint32_t{lower};
  }
  // Deseret, Osage, Old Hungarian, Warang Citi, Medefaidrin, Adlam, ...
  EXPECT_GT(cased, 200u);
  EXPECT_EQ(quillstone::detail::supplementary_lower_preimages(U'\u00e9', std::span<char32_t>()), 0u);
}

std::u32string random_text(std::mt19937& rng, const std::vector<char32_t>& alphabet,
                           std::size_t max_len) {
  std::uniform_int_distribution<std::size_t> len(0, max_len);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::u32string s(len(rng), U'\0');
  for (char32_t& c : s) c = alphabet[pick(rng)];
  return s;
}

TEST(LowerFullShortcuts, RandomAsciiTexts) {
  std::mt19937 rng(7);
  std::vector<char32_t> ascii;
  for (char32_t c = 0; c < 0x80; ++c) ascii.push_back(c);
  for (int i = 0; i < 2000; ++i) {
    const std::string in = utf8(random_text(rng, ascii, 100));
    ASSERT_EQ(to_lower_full(in), to_lower_full_tables(in)) << in;
  }
}

TEST(LowerFullShortcuts, RandomMixedTexts) {
  std::mt19937 rng(11);
  // ASCII and Latin-1 next to characters that take the table, expand, or
  // take part in the sigma context.
  std::vector<char32_t> alphabet;
  for (char32_t c = 0x20; c < 0x100; c += 3) alphabet.push_back(c);
  for (char32_t c : {U'\u0130', U'\u03A3', U'\u0391', U'\u03C3', U'\u0345', U'\u0301', U'\u212A',
                     U'\u023A', U'\u1E9E', U'\u1F88', U'\u2126', U'\u4E2D', U'\U00010400',
                     U'\U0001F600', U'\u00AD', U'\'', U'.', U' '}) {
    for (int i = 0; i < 4; ++i) alphabet.push_back(c);  // weight them up
  }
  for (int i = 0; i < 5000; ++i) {
    const std::string in = utf8(random_text(rng, alphabet, 40));
    ASSERT_EQ(to_lower_full(in), to_lower_full_tables(in)) << in;
  }
}

// Two-byte texts, which fold a block of units at a time: every length up
// to past two blocks, then longer ones, on alphabets that hold the edges of
// the one-byte range and of the table of one load, capitals whose lower
// case is a byte, and now and then the two capitals that take the
// character path.
TEST(LowerFullShortcuts, RandomTwoByteTexts) {
  std::mt19937 rng(17);
  const std::vector<char32_t> edges = {U'A', U'Z', U'a', U'@', U'[', U'\u00C0', U'\u00D7', U'\u00DE', U'\u00DF',
                                       U'\u00FF', U'\u0100', U'\u0101', U'\u0178', U'\u0158', U'\u0410', U'\u042F',
                                       U'\u0400', U'\u0531', U'\u07FF', U'\u0800', U'\u10A0', U'\u13A0', U'\u1E9E',
                                       U'\u212A', U'\u2126', U'\uFF21', U'\uFFFF', U'\u4E2D', U' '};
  std::vector<char32_t> with_context = edges;
  with_context.insert(with_context.end(), {U'\u0130', U'\u03A3', U'\u0391'});
  const std::vector<char32_t>* alphabets[] = {&edges, &with_context};
  for (const std::vector<char32_t>* alphabet : alphabets) {
    for (std::size_t len = 1; len <= 40; ++len) {
      for (int i = 0; i < 40; ++i) {
        std::uniform_int_distribution<std::size_t> pick(0, alphabet->size() - 1);
        std::u32string text(len, U'\0');
        for (char32_t& c : text) c = (*alphabet)[pick(rng)];
        // One wide character at least, so that the text has two-byte units.
        text[std::uniform_int_distribution<std::size_t>(0, len - 1)(rng)] = U'\u0158';
        const std::string in = utf8(text);
        ASSERT_EQ(to_lower_full(in), to_lower_full_tables(in)) << in;
      }
    }
    for (int i = 0; i < 200; ++i) {
      const std::string in = utf8(random_text(rng, *alphabet, 400));
      ASSERT_EQ(to_lower_full(in), to_lower_full_tables(in)) << in;
    }
  }
}

// What the folded text is made of: the narrowest units that hold it when
// no character grows, wide ones when one does.
TEST(LowerFullShortcuts, FoldedUnits) {
  struct Case {
    std::u32string input;
    unsigned width;
  };
  for (const Case& c : {Case{U"\u00C9COLE", 1}, Case{U"\u0178VES", 1}, Case{U"\u1E9E\u212A", 1},
                        Case{U"DVO\u0158\u00C1K", 2}, Case{U"\u0416\u0416", 2}, Case{U"\u0130", 4},
                        Case{U"\U00010400", 4}}) {
    const quillstone::Utf8Text text(utf8(c.input));
    quillstone::detail::FoldedText folded;
    EXPECT_EQ(quillstone::detail::to_lower_full(text, folded).width(), c.width) << utf8(c.input);
  }
}

// One FoldedText reused, as a batch reuses it for its candidates: texts of
// every width and of lengths on both sides of the frame, one after another,
// each folded as it is into a fresh one.
TEST(LowerFullShortcuts, ReusedFoldedText) {
  std::mt19937 rng(19);
  const std::vector<std::vector<char32_t>> alphabets = {
      {U'a', U'B', U'\u00C9', U' '}, {U'\u0158', U'o', U'\u0416', U'\u212A'},
      {U'\u0130', U'\u03A3', U'\u0391', U'x'}, {U'\U00010400', U'\u00E9', U'Z'}};
  quillstone::detail::FoldedText reused;
  for (int i = 0; i < 600; ++i) {
    const std::u32string text = random_text(rng, alphabets[rng() % alphabets.size()], i % 3 == 0 ? 400 : 60);
    const quillstone::Utf8Text units(utf8(text));
    quillstone::detail::FoldedText fresh;
    const quillstone::TextView expected = quillstone::detail::to_lower_full(units, fresh);
    const quillstone::TextView got = quillstone::detail::to_lower_full(units, reused);
    ASSERT_EQ(got.width(), expected.width()) << utf8(text);
    ASSERT_EQ(got.size(), expected.size()) << utf8(text);
    for (std::size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], expected[k]) << utf8(text) << " at " << k;
  }
}

// Texts on both sides of the folded forms' room in the frame: wide
// characters that fold to wide ones, and wide characters (the Kelvin sign)
// that fold to bytes, up to well past it.
TEST(LowerFullShortcuts, TextsPastTheFrame) {
  std::mt19937 rng(13);
  const std::vector<char32_t> wide = {U'\u0130', U'\u0416', U'\u03A3', U'\u0391', U'a', U' '};
  const std::vector<char32_t> to_bytes = {U'\u212A', U'K', U'e', U'\u00C9', U' '};
  for (int i = 0; i < 400; ++i) {
    const std::string in = utf8(random_text(rng, i % 2 == 0 ? wide : to_bytes, 300));
    ASSERT_EQ(to_lower_full(in), to_lower_full_tables(in)) << in;
  }
  EXPECT_EQ(to_lower_full(utf8(std::u32string(200, U'\u212A'))), std::string(200, 'k'));
  // Forty dotted capitals become eighty characters.
  std::string dotted;
  for (int k = 0; k < 40; ++k) dotted += utf8(U"i\u0307");
  EXPECT_EQ(to_lower_full(utf8(std::u32string(40, U'\u0130'))), dotted);
}

}  // namespace
