// Jaro-Winkler of texts of any length against multi-word position masks.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "jaro/score.hpp"
#include "jaro/thresholds.hpp"
#include "masks/multi_word_masks.hpp"

namespace quillstone::detail::jw {

// The mask table of a text holds a row of ceil(n / 64) words for every
// character code below U+0100 and for every distinct wider character. That is
// a fixed multiple of n for text drawn from a small alphabet, but grows with
// the product of length and alphabet for long text with thousands of distinct
// characters (a long CJK text). Past this many words (64 MiB), or eight words
// per character of the text if that is more, the plain loops take over, whose
// memory only follows the lengths.
inline constexpr std::size_t kMaskTableBudget = std::size_t{1} << 23;

inline bool mask_table_fits(std::size_t rows, std::size_t words, std::size_t n) noexcept {
  constexpr std::size_t kWordsPerChar = 8;
  const std::size_t per_char = n > std::numeric_limits<std::size_t>::max() / kWordsPerChar
                                   ? std::numeric_limits<std::size_t>::max()
                                   : n * kWordsPerChar;
  const std::size_t budget = std::max(kMaskTableBudget, per_char);
  return rows <= budget / words;
}

// Working storage of multiword_match, reusable from one scanned text to the
// next against the same table.
struct MultiWordScratch {
  std::vector<std::uint64_t> matched1, matched2;
  std::vector<std::uint32_t> cursor;   // one per row of the table, zero between scans
  std::vector<std::uint32_t> touched;  // the rows whose cursor a scan moved
};

// Jaro-Winkler of s1 (n1 characters, scanned) against s2 (n2 characters),
// whose W-word position masks `masks` holds; `find` finds their rows. Both
// non-empty. Position i of s1 looks for the lowest set bit of PM(s1[i]) AND
// NOT matched2 within [lo, hi), which is the first free position the plain
// scan would take. Only the words from lo to hi are candidates, and with
// `Cursors` fewer still: for each character, `cursor` marks the word below
// which its free positions all lie below the window. Since the window's low
// end and matched2 only grow, a word found empty from the low end upwards
// stays empty for that character, so every step costs a few words and each
// word of each row is skipped at most once. A window of a few words is
// searched faster without them.
//
// `row_of(c)` gives c's row number (for the cursors) and `words(c, r)` its
// row, whose word k is words(c, r)[k]: a row of the table, or words found
// on demand.
template <bool Cursors, class Char1, class Char2, class RowOf, class Words>
double multiword_match_rows(RowOf row_of, Words words, std::size_t rows, const Char1* s1, std::size_t n1,
                            const Char2* s2, std::size_t n2, MultiWordScratch& scratch, double p) noexcept {
  const std::size_t w = match_window(n1, n2);
  // From position n2 + w on, the window lies past the end of s2; no match
  // lies at or past position n1 + w of s2.
  const std::size_t scan_end = std::min(n1, n2 + w);
  const std::size_t words1 = (n1 + kWordBits - 1) / kWordBits;
  const std::size_t words2 = (std::min(n2, n1 + w) + kWordBits - 1) / kWordBits;
  scratch.matched1.assign(words1, 0);
  scratch.matched2.assign(words2, 0);
  if (Cursors && scratch.cursor.size() != rows) scratch.cursor.assign(rows, 0);
  std::uint64_t* matched1 = scratch.matched1.data();
  std::uint64_t* matched2 = scratch.matched2.data();
  std::uint32_t* cursor = scratch.cursor.data();
  scratch.touched.clear();

  std::size_t m = 0;
  for (std::size_t i = 0; i < scan_end; ++i) {
    const std::size_t r = row_of(s1[i]);
    const auto pm = words(s1[i], r);
    const std::size_t lo = i > w ? i - w : 0;
    const std::size_t hi = std::min(n2, i + w + 1);
    const std::size_t lo_word = lo / kWordBits, last_word = (hi - 1) / kWordBits;
    std::size_t k = Cursors ? std::max(static_cast<std::size_t>(cursor[r]), lo_word) : lo_word;
    if (k > last_word) continue;  // no free position of this character up to hi
    std::uint64_t free = pm[k] & ~matched2[k];
    if (k == lo_word) free &= ~std::uint64_t{0} << (lo % kWordBits);
    while (free == 0 && k < last_word) {
      ++k;
      free = pm[k] & ~matched2[k];
    }
    if constexpr (Cursors) {
      const std::size_t next = free == 0 ? k + 1 : k;
      if (cursor[r] != next) {
        if (cursor[r] == 0) scratch.touched.push_back(static_cast<std::uint32_t>(r));
        cursor[r] = static_cast<std::uint32_t>(next);
      }
    }
    if (free == 0) continue;
    const std::size_t j = k * kWordBits + static_cast<std::size_t>(std::countr_zero(free));
    if (j >= hi) continue;
    matched2[k] |= free & (0 - free);
    matched1[i / kWordBits] |= std::uint64_t{1} << (i % kWordBits);
    ++m;
  }
  for (const std::uint32_t r : scratch.touched) cursor[r] = 0;
  if (m == 0) return 0.0;

  // The matched positions of both texts in step, word by word.
  std::size_t t = 0;
  std::size_t ka = 0, kb = 0;
  std::uint64_t a = matched1[0], b = matched2[0];
  for (std::size_t left = m; left > 0; --left) {
    while (a == 0) a = matched1[++ka];
    while (b == 0) b = matched2[++kb];
    t += char32_t{s1[ka * kWordBits + static_cast<std::size_t>(std::countr_zero(a))]} !=
         char32_t{s2[kb * kWordBits + static_cast<std::size_t>(std::countr_zero(b))]};
    a &= a - 1;
    b &= b - 1;
  }
  const std::size_t prefix = prefix_length(
      std::min({kMaxPrefix, n1, n2}), [&](std::size_t k) { return char32_t{s1[k]} == char32_t{s2[k]}; });
  return score(m, t, n1, n2, prefix, p);
}

// Against the rows of a table: the windows of few words are searched
// without cursors.
template <class Char1, class Char2>
double multiword_match(const MultiWordMasks& masks, RowFinder& find, const Char1* s1,
                       std::size_t n1, const Char2* s2, std::size_t n2,
                       MultiWordScratch& scratch, double p) noexcept {
  const std::size_t window_words = (2 * match_window(n1, n2) + 1) / kWordBits + 2;
  const auto row_of = [&](auto c) { return find(c); };
  const auto words = [&](auto, std::size_t r) { return masks.row(r); };
  return window_words <= kCursorlessWords
             ? multiword_match_rows<false>(row_of, words, masks.rows(), s1, n1, s2, n2, scratch, p)
             : multiword_match_rows<true>(row_of, words, masks.rows(), s1, n1, s2, n2, scratch, p);
}

}  // namespace quillstone::detail::jw
