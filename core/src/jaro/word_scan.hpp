// Jaro-Winkler of two texts of at most 64 characters, one word of position
// masks.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "jaro/score.hpp"
#include "text/units.hpp"

namespace quillstone::detail::jw {

// Bit j of entry c is set where the text holds byte c at position j.
using PositionMasks = std::array<std::uint64_t, 256>;

// Sets the position bits of `text` (one byte a character, at most 64 of
// them) in `masks`, which the caller has cleared.
inline void fill_position_masks(PositionMasks& masks, TextView text) noexcept {
  const auto* units = units_of<unsigned char>(text);
  for (std::size_t j = 0; j < text.size(); ++j) masks[units[j]] |= std::uint64_t{1} << j;
}

// Byte maps applied to the scanned text before it meets the table.
struct KeepByte {
  unsigned char operator()(unsigned char c) const noexcept { return c; }
};
struct FoldAsciiByte {  // A to Z become a to z; everything else stays
  unsigned char operator()(unsigned char c) const noexcept {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
  }
};

// Jaro-Winkler of a scanned text of `ns` characters against a table text of
// `nt` characters, 1 to 64 each, whose positions `mask_of(c)` gives for each
// character c. `scanned(i)` and `table(j)` are the characters at i and j.
// Matching is symmetric: scanning either text finds the same matched
// positions, and the score's sum m/n2 + m/n1 does not depend on the order of
// its two terms, so either text may be the scanned one.
template <class Scanned, class Table, class MaskOf>
inline double word_scan(std::size_t ns, Scanned scanned, std::size_t nt, Table table,
                        MaskOf mask_of, double p) noexcept {
  const std::size_t w = match_window(ns, nt);  // at most 31 here

  // `window` covers table positions max(0, i - w) to i + w for scanned position i.
  std::uint64_t window = (std::uint64_t{2} << w) - 1;
  std::uint64_t matched_s = 0, matched_t = 0;
  for (std::size_t i = 0; i < ns; ++i) {
    const std::uint64_t candidates = mask_of(scanned(i)) & ~matched_t & window;
    // The lowest candidate is the first free position, as the plain scan takes it.
    matched_t |= candidates & (0 - candidates);
    matched_s |= std::uint64_t{candidates != 0} << i;
    window = (window << 1) | std::uint64_t{i < w};
  }
  if (matched_s == 0) return 0.0;

  const auto m = static_cast<std::size_t>(std::popcount(matched_s));
  std::size_t t = 0;
  for (std::uint64_t a = matched_s, b = matched_t; a != 0; a &= a - 1, b &= b - 1) {
    t += scanned(static_cast<std::size_t>(std::countr_zero(a))) !=
         table(static_cast<std::size_t>(std::countr_zero(b)));
  }
  const std::size_t prefix = prefix_length(std::min({kMaxPrefix, ns, nt}),
                                           [&](std::size_t k) { return scanned(k) == table(k); });
  return score(m, t, ns, nt, prefix, p);
}

// Jaro-Winkler of `scanned` against `table_text`, whose positions `masks`
// holds. Both have 1 to 64 characters, a byte each; `fold` maps each
// scanned byte first.
template <class Fold>
inline double bit_parallel_score(const PositionMasks& masks, TextView table_text,
                                 TextView scanned, double p, Fold fold) noexcept {
  const auto* s = units_of<unsigned char>(scanned);
  const auto* q = units_of<unsigned char>(table_text);
  return word_scan(
      scanned.size(), [&](std::size_t i) { return fold(s[i]); }, table_text.size(),
      [&](std::size_t j) { return q[j]; }, [&](unsigned char c) { return masks[c]; }, p);
}

}  // namespace quillstone::detail::jw
