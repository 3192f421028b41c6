// The match masks of long patterns: every character's words, however the
// masks store them (rows numbered through a direct table, a block's page or
// the index, or per-word tables past the rows' budget), against masks worked
// out one position at a time.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "masks/pattern_masks.hpp"
#include "reference.hpp"

namespace {

using quillstone::detail::kWordBits;
using quillstone::detail::PatternMasks;
using quillstone::testing::Chars;

// Alphabets of bytes, of one script, of several, and of many distinct wide
// characters (more than rows of the table may take).
Chars alphabet(std::mt19937_64& rng, int kind) {
  Chars out;
  switch (kind) {
    case 0: out = U"ACGT"; break;
    case 1: out = U"abc \u00e9\u00ff"; break;
    case 2: out = U"\u0430\u0431\u0432\u0433 "; break;
    case 3: out = U"a\u00e9\u0416\u4e00\u4e01\U0001F600\U0001F601"; break;
    default:
      for (int i = 0; i < 3000; ++i) out.push_back(0x4E00 + static_cast<char32_t>(rng() % 20000));
  }
  return out;
}

Chars random_text(std::mt19937_64& rng, const Chars& letters, std::size_t n) {
  Chars out(n, U'\0');
  for (char32_t& c : out) c = letters[rng() % letters.size()];
  return out;
}

// Word k of the mask of `c` in `text`, worked out position by position.
std::uint64_t expected_word(const Chars& text, char32_t c, std::size_t k) {
  std::uint64_t word = 0;
  for (std::size_t i = k * kWordBits; i < text.size() && i < (k + 1) * kWordBits; ++i) {
    if (text[i] == c) word |= std::uint64_t{1} << (i % kWordBits);
  }
  return word;
}

// The characters to look up: the text's own, and some it lacks.
Chars probes(const Chars& text) {
  Chars out = text;
  out += U"\u0000Z\u00fe\u0100\u0431\uffff\U00010000\U0010FFFF";
  return out;
}

TEST(PatternMasks, EveryCharacterHasItsPositions) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 200; ++round) {
    const Chars letters = alphabet(rng, round % 5);
    const Chars text = random_text(rng, letters, 65 + rng() % 2000);
    SCOPED_TRACE("alphabet " + std::to_string(round % 5) + ", length " + std::to_string(text.size()));
    const std::size_t words = (text.size() + kWordBits - 1) / kWordBits;
    const PatternMasks masks(text.data(), text.size());
    for (const char32_t c : probes(text)) {
      const PatternMasks::Row row = masks.row(c);
      for (std::size_t k = 0; k < words; ++k) {
        ASSERT_EQ(row.word(k), expected_word(text, c, k)) << "U+" << std::hex << static_cast<std::uint32_t>(c)
                                                          << ", word " << k;
      }
    }
  }
}

// Masks of bytes are built from byte units as well as from characters.
TEST(PatternMasks, BytesAsUnitsOrCharacters) {
  std::mt19937_64 rng(6);
  for (int round = 0; round < 50; ++round) {
    const Chars text = random_text(rng, alphabet(rng, round % 2), 65 + rng() % 700);
    std::vector<unsigned char> bytes(text.begin(), text.end());
    const PatternMasks from_chars(text.data(), text.size());
    const PatternMasks from_bytes(bytes.data(), bytes.size());
    for (unsigned c = 0; c < 256; ++c) {
      const PatternMasks::Row a = from_chars.row(char32_t{c}), b = from_bytes.row(static_cast<unsigned char>(c));
      for (std::size_t k = 0; k < (text.size() + kWordBits - 1) / kWordBits; ++k) {
        ASSERT_EQ(a.word(k), b.word(k)) << c;
      }
    }
  }
}

}  // namespace
