// Texts read in place by the three measures, at every pair of lengths up to
// 64 and at word boundaries past it, in every pair of unit widths, each text
// ending right before a page that cannot be read: a text held in vectors is loaded at every
// offset, and its units past the end must neither be read from that page
// nor match. Against the plain references, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "guarded_texts.hpp"
#include "quillstone/quillstone.hpp"
#include "reference.hpp"

namespace {

using quillstone::TextView;
using quillstone::testing::GuardedTexts;
using std::nullopt;

// Characters of each unit width: zero, which padding or a lane past the
// end could be mistaken for, letters, and for the wider widths characters
// whose low byte or low 16 bits are those of a narrower one ('a' is 0x61).
template <class Unit>
const std::vector<char32_t>& alphabet() {
  static const std::vector<char32_t> chars =
      sizeof(Unit) == 1   ? std::vector<char32_t>{0x00, 'a', 'b', 0x80, 0xFF}
      : sizeof(Unit) == 2 ? std::vector<char32_t>{0x00, 'a', 0x161, 0xFF61, 0xFFFF, 0x100}
                          : std::vector<char32_t>{0x00, 'a', 0x10061, 0x1F600, 0x161, 0x10FFFF};
  return chars;
}

// A text of n units whose last character needs the width (as an
// interpreter's narrowest form would), or a near-copy of `like`.
template <class Unit>
std::u32string text_of(std::mt19937_64& rng, std::size_t n, const std::u32string* like) {
  const auto& chars = alphabet<Unit>();
  std::u32string t;
  if (like != nullptr) {
    t = like->substr(0, n);
    t.resize(n, 'a');
    std::swap(t[rng() % n], t[rng() % n]);
  } else {
    for (std::size_t k = 0; k < n; ++k) t.push_back(chars[rng() % chars.size()]);
  }
  if (sizeof(Unit) > 1) t.back() = chars.back();
  return t;
}

template <class Unit>
std::basic_string<Unit> units(const std::u32string& t) {
  return std::basic_string<Unit>(t.begin(), t.end());
}

// Each measure both ways round, each text at the end of its own guarded
// block.
template <class U1, class U2>
void expect_all_agree(const std::u32string& s1, const std::u32string& s2, std::optional<std::size_t> cutoff) {
  const GuardedTexts<U1> first({units<U1>(s1)});
  const GuardedTexts<U2> second({units<U2>(s2)});
  const TextView a = first.views()[0], b = second.views()[0];
  for (const bool osa : {false, true}) {
    std::size_t want = quillstone::testing::reference_distance(s1, s2, osa);
    if (cutoff && want > *cutoff) want = *cutoff + 1;
    const auto metric = [&](TextView x, TextView y) {
      return (osa ? quillstone::damerau_bp(x, y, nullopt, nullopt, cutoff)
                  : quillstone::levenshtein_bp(x, y, nullopt, nullopt, cutoff))
          .unchecked_value();
    };
    ASSERT_EQ(metric(a, b), want) << (osa ? "OSA" : "Levenshtein");
    ASSERT_EQ(metric(b, a), want) << (osa ? "OSA" : "Levenshtein");
  }
  const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
  ASSERT_EQ(bits(quillstone::jaro_winkler(a, b, 0.1, nullopt, nullopt, nullopt).unchecked_value()),
            bits(quillstone::testing::reference_jaro_winkler(s1, s2, 0.1)));
  ASSERT_EQ(bits(quillstone::jaro_winkler(b, a, 0.1, nullopt, nullopt, nullopt).unchecked_value()),
            bits(quillstone::testing::reference_jaro_winkler(s2, s1, 0.1)));
}

template <class Pair>
class HeldTexts : public ::testing::Test {};
template <class A, class B>
struct Widths {
  using First = A;
  using Second = B;
};
using AllWidths = ::testing::Types<Widths<unsigned char, unsigned char>, Widths<char16_t, char16_t>,
                                   Widths<char32_t, char32_t>, Widths<unsigned char, char16_t>,
                                   Widths<char16_t, char32_t>, Widths<unsigned char, char32_t>>;
TYPED_TEST_SUITE(HeldTexts, AllWidths);

TYPED_TEST(HeldTexts, EveryPairOfLengthsAgreesWithTheReferences) {
  using U1 = typename TypeParam::First;
  using U2 = typename TypeParam::Second;
  std::mt19937_64 rng(0x4A57'0001);
  for (std::size_t n1 = 1; n1 <= 64; ++n1) {
    for (std::size_t n2 = 1; n2 <= 64; ++n2) {
      const std::u32string s1 = text_of<U1>(rng, n1, nullptr);
      // Every other pair a near-copy, with runs of matches and a transposition.
      const std::u32string s2 = text_of<U2>(rng, n2, n2 % 2 == 0 ? &s1 : nullptr);
      SCOPED_TRACE(std::to_string(n1) + " / " + std::to_string(n2));
      expect_all_agree<U1, U2>(s1, s2, (n1 + n2) % 3 == 0 ? std::optional<std::size_t>{(n1 + n2) / 8} : nullopt);
    }
  }
}

// Past one word: texts held a word at a time, lengths at the word
// boundaries and at the largest held text, and just past it.
TYPED_TEST(HeldTexts, LongTextsAtWordBoundariesAgree) {
  using U1 = typename TypeParam::First;
  using U2 = typename TypeParam::Second;
  std::mt19937_64 rng(0x4A57'0002);
  static constexpr std::size_t kLengths[] = {1, 63, 65, 127, 128, 129, 200, 255, 256, 257, 511, 512, 513};
  for (const std::size_t n1 : kLengths) {
    for (const std::size_t n2 : kLengths) {
      const std::u32string s1 = text_of<U1>(rng, n1, nullptr);
      const std::u32string s2 = text_of<U2>(rng, n2, (n1 + n2) % 2 == 0 ? &s1 : nullptr);
      SCOPED_TRACE(std::to_string(n1) + " / " + std::to_string(n2));
      expect_all_agree<U1, U2>(s1, s2, nullopt);
    }
  }
}

}  // namespace
