// Short texts of a byte a character read in place by the three measures, at
// every pair of lengths up to 64, from memory that ends right before a page
// that cannot be read: a text held in vectors is read in windows at every
// offset, and its bytes past the end must neither be read from that page
// nor match. Against the plain references, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "guarded_texts.hpp"
#include "quillstone/quillstone.hpp"
#include "reference.hpp"

namespace {

using quillstone::TextView;
using quillstone::testing::GuardedTexts;
using Bytes = std::basic_string<unsigned char>;
using std::nullopt;

std::u32string chars(const Bytes& t) { return std::u32string(t.begin(), t.end()); }

// Each text in turn is the one that ends at the unreadable page; each
// measure is asked both ways round.
void expect_all_agree(const Bytes& s1, const Bytes& s2, std::optional<std::size_t> cutoff) {
  const GuardedTexts<unsigned char> first_last({s1, s2}), second_last({s2, s1});
  const TextView layouts[2][2] = {{first_last.views()[0], first_last.views()[1]},
                                  {second_last.views()[1], second_last.views()[0]}};
  const double jw = quillstone::testing::reference_jaro_winkler(chars(s1), chars(s2), 0.1);
  const double jw_back = quillstone::testing::reference_jaro_winkler(chars(s2), chars(s1), 0.1);
  for (const bool osa : {false, true}) {
    std::size_t want = quillstone::testing::reference_distance(chars(s1), chars(s2), osa);
    if (cutoff && want > *cutoff) want = *cutoff + 1;
    for (const auto& [a, b] : layouts) {
      const auto metric = [&](TextView x, TextView y) {
        return (osa ? quillstone::damerau_bp(x, y, nullopt, nullopt, cutoff)
                    : quillstone::levenshtein_bp(x, y, nullopt, nullopt, cutoff))
            .unchecked_value();
      };
      ASSERT_EQ(metric(a, b), want) << (osa ? "OSA" : "Levenshtein");
      ASSERT_EQ(metric(b, a), want) << (osa ? "OSA" : "Levenshtein");
    }
  }
  for (const auto& [a, b] : layouts) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(quillstone::jaro_winkler(a, b, 0.1, nullopt, nullopt, nullopt).unchecked_value()),
              std::bit_cast<std::uint64_t>(jw));
    ASSERT_EQ(std::bit_cast<std::uint64_t>(quillstone::jaro_winkler(b, a, 0.1, nullopt, nullopt, nullopt).unchecked_value()),
              std::bit_cast<std::uint64_t>(jw_back));
  }
}

TEST(HeldTexts, EveryPairOfLengthsAgreesWithTheReferences) {
  std::mt19937_64 rng(0x4A57'0001);
  // Bytes that padding or a lane past the end could be mistaken for.
  static constexpr unsigned char kBytes[] = {0x00, 'a', 'b', 0x80, 0xFF};
  const auto text = [&](std::size_t n) {
    Bytes t;
    for (std::size_t k = 0; k < n; ++k) t.push_back(kBytes[rng() % std::size(kBytes)]);
    return t;
  };
  for (std::size_t n1 = 1; n1 <= 64; ++n1) {
    for (std::size_t n2 = 1; n2 <= 64; ++n2) {
      const Bytes s1 = text(n1);
      Bytes s2 = text(n2);
      // Every other pair a near-copy, with runs of matches and a transposition.
      if (n2 % 2 == 0) {
        s2 = s1.substr(0, n2);
        s2.resize(n2, 'a');
        std::swap(s2[rng() % n2], s2[rng() % n2]);
      }
      SCOPED_TRACE(std::to_string(n1) + " / " + std::to_string(n2));
      expect_all_agree(s1, s2, (n1 + n2) % 3 == 0 ? std::optional<std::size_t>{(n1 + n2) / 8} : nullopt);
    }
  }
}

// A held pattern of bytes against a text of wider characters whose low
// bytes are the pattern's own: no character past U+00FF matches a byte.
TEST(HeldTexts, WiderCharactersMatchNoByte) {
  std::mt19937_64 rng(0x4A57'0002);
  for (std::size_t n = 1; n <= 40; ++n) {
    for (const char32_t high : {char32_t{0x100}, char32_t{0x4E00}, char32_t{0x1F600}}) {
      Bytes pattern;
      std::u32string text;
      for (std::size_t k = 0; k < n; ++k) {
        pattern.push_back(static_cast<unsigned char>("ab\x80\xff"[rng() % 4]));
        text.push_back(high + pattern.back());
      }
      text.push_back(U'a');  // longer, so that the bytes are the pattern
      std::u16string units16(text.begin(), text.end());
      const TextView narrow(pattern.data(), pattern.size());
      const TextView wide = high < 0x10000 ? TextView(units16.data(), units16.size()) : TextView(text.data(), text.size());
      for (const bool osa : {false, true}) {
        const std::size_t want = quillstone::testing::reference_distance(chars(pattern), text, osa);
        const auto got = osa ? quillstone::damerau_bp(narrow, wide, nullopt, nullopt, nullopt)
                             : quillstone::levenshtein_bp(narrow, wide, nullopt, nullopt, nullopt);
        ASSERT_EQ(got.unchecked_value(), want) << n << " characters from U+" << std::hex << std::uint32_t{high};
      }
    }
  }
}

}  // namespace
