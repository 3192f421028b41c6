// Ukkonen's band of a bound k, held in one word or a few, shifted down the
// diagonal as in Hyyrö's banded formulation.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "edit/recurrence.hpp"
#include "masks/character_masks.hpp"

namespace quillstone::detail {

// The band of a bound k on a pair of lengths m and n, |m - n| <= k: a path of
// cost at most k keeps to the diagonals j - i from -below to above.
struct Band {
  std::size_t above, below;

  Band(std::size_t m, std::size_t n, std::size_t k) noexcept {
    const std::size_t gap = m > n ? m - n : n - m;
    const std::size_t half = (k - gap) / 2;
    above = (n > m ? gap : 0) + half;
    below = (m > n ? gap : 0) + half;
  }

  std::size_t rows() const noexcept { return above + below + 1; }
  // The vectors hold the band's rows, the row that enters it at the bottom
  // and the one below that, which the transposition term reads.
  std::size_t bits() const noexcept { return rows() + 2; }
  std::size_t words() const noexcept { return (bits() + kWordBits - 1) / kWordBits; }
};

// The band kernel. Bit t of the vectors at text column j stands for pattern
// row j - 1 - above + t; rows above the pattern are virtual, with the values
// of the extended table D[i][j] = j - i, and cells outside the band count as
// larger than they are, which changes no cell on a path of cost at most k.
// After each column the vectors shift down one row, following the diagonal.
// The score follows the diagonal of the last cell, n - m, which never falls;
// once it exceeds k the scan stops. `window(c, pos)` gives the 64 positions
// from pos on that hold c; `begin` is the pattern's first position there, a
// multiple of 64. When it stops early, `read` (if given) gets the number of
// columns read: how soon the texts part tells how far apart they are.
template <EditMetric Metric, class Reader, class Window>
std::size_t band_scan_word(Window window, std::size_t begin, std::size_t m, Reader text,
                           std::size_t n, std::size_t k, const Band& band,
                           std::size_t* read = nullptr) noexcept {
  const std::uint64_t keep = band.bits() >= kWordBits ? ~std::uint64_t{0}
                                                      : (std::uint64_t{1} << band.bits()) - 1;
  std::uint64_t vn = (std::uint64_t{2} << band.above) - 1;  // rows -above to 0 are virtual
  std::uint64_t vp = ~vn;
  std::uint64_t d0_prev = 0, pm_prev = 0;
  const unsigned track = static_cast<unsigned>(band.below + 1);
  std::size_t score = m > n ? m - n : n - m;
  auto pos = static_cast<std::ptrdiff_t>(begin) - 1 - static_cast<std::ptrdiff_t>(band.above);
  for (std::size_t j = 0; j < n; ++j, ++pos) {
    const std::uint64_t pm = window(text.next(), pos) & keep;
    const std::uint64_t x = pm | vn;
    std::uint64_t d0 = (((x & vp) + vp) ^ vp) | x;
    if constexpr (kTransposes<Metric>) d0 |= ~d0_prev & (pm << 1) & (pm_prev >> 1);
    const std::uint64_t hn = vp & d0;
    const std::uint64_t hp = vn | ~(vp | d0);
    score += (~d0 >> track) & 1;
    if (score > k) {
      if (read != nullptr) *read = j + 1;
      return score;
    }
    const std::uint64_t down = d0 >> 1;
    vn = down & hp;
    vp = hn | ~(down | hp);
    if constexpr (kTransposes<Metric>) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
  return score;
}

// The pattern words that w windows from `pos` on read.
inline std::size_t window_words(std::ptrdiff_t pos, std::size_t w) noexcept {
  return static_cast<std::size_t>(std::max<std::ptrdiff_t>(pos, 0)) / kWordBits + w + 1;
}

// a + b + carry (0 or 1); carry becomes the carry out.
inline std::uint64_t add_with_carry(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) noexcept {
#if defined(__x86_64__)
  unsigned long long sum;
  carry = _addcarry_u64(static_cast<unsigned char>(carry), a, b, &sum);
  return sum;
#else
  const std::uint64_t partial = a + b;
  const std::uint64_t sum = partial + carry;
  carry = (partial < a) | (sum < partial);
  return sum;
#endif
}

// The band kernel for a band wider than one word: the same steps on vectors
// of several words, acting as one number. `windows(c, pos, out, w)` gives the
// w words of positions from pos on that hold c.
inline constexpr std::size_t kMaxBandWords = 32;
// Every this many columns the outer words of a band are dropped when none of
// their cells can still lie on a path of cost at most k (below).
inline constexpr std::size_t kShrinkEvery = 16;

// The set bits from bit `from` to bit `to` - 1 of `size` words.
inline std::size_t count_bits(const std::uint64_t* words, std::size_t size, std::size_t from,
                              std::size_t to) noexcept {
  std::size_t count = 0;
  for (std::size_t t = from / kWordBits; t < size && t * kWordBits < to; ++t) {
    std::uint64_t word = words[t];
    if (t == from / kWordBits) word &= ~std::uint64_t{0} << (from % kWordBits);
    if ((t + 1) * kWordBits > to) word &= (std::uint64_t{1} << (to % kWordBits)) - 1;
    count += static_cast<std::size_t>(std::popcount(word));
  }
  return count;
}

// Ukkonen's cutoff on a band held in blocks of `block_bits` bits (its words,
// or vectors of them), after a column's step: moves the scanned blocks,
// first to last - 1, inward past every outer block whose cells can no
// longer lie on a path of cost at most k. Bit b of vp and vn then holds the
// vertical difference that bit b - 1 of the column's rows has into the row
// below it, so the cell at bit `edge` differs from the tracked one, of value
// `score`, by the differences from `edge` to track - 1 (above it) or from
// track to edge - 1 (below).
inline void leave_outer_blocks(const std::uint64_t* vp, const std::uint64_t* vn, std::size_t words,
                               std::size_t block_bits, std::size_t track, std::size_t score, std::size_t k,
                               std::size_t& first, std::size_t& last) noexcept {
  const auto value = [&](std::size_t from, std::size_t to) {
    return static_cast<std::ptrdiff_t>(count_bits(vp, words, from, to)) -
           static_cast<std::ptrdiff_t>(count_bits(vn, words, from, to));
  };
  const auto cut = static_cast<std::ptrdiff_t>(k), tracked = static_cast<std::ptrdiff_t>(score);
  const std::size_t track_block = track / block_bits;
  while (first < track_block) {
    const std::size_t edge = first * block_bits + block_bits - 1;
    if (tracked - value(edge, track) + static_cast<std::ptrdiff_t>(track - edge) <= cut) break;
    ++first;
  }
  while (last - 1 > track_block) {
    const std::size_t edge = (last - 1) * block_bits;
    if (tracked + value(track, edge) + static_cast<std::ptrdiff_t>(edge - track) <= cut) break;
    --last;
  }
}

// Words is the band's word count, or 0 for any count up to kMaxBandWords:
// a fixed count keeps the vectors in registers.
//
// Ukkonen's cutoff, by words: a cell of value v at r rows from the tracked
// diagonal leads to the last cell at no less than v + r, since every step
// off a diagonal costs one. Neighbouring cells of a column differ by at most
// one, so the cell of a word nearest the tracked row bounds v + r for the
// whole word. Once that bound exceeds k the word can hold no cell of a path
// of cost at most k, and the scan leaves it; the words between it and the
// tracked row then meet the band's edge, whose outside counts as larger, as
// before. On unrelated texts the band narrows steadily until the tracked
// score itself exceeds k.
template <EditMetric Metric, std::size_t Words, class Reader, class Windows>
std::size_t band_scan_words(Windows windows, std::size_t begin, std::size_t m, Reader text,
                            std::size_t n, std::size_t k, const Band& band,
                            std::size_t* read = nullptr) noexcept {
  const std::size_t w = Words != 0 ? Words : band.words();
  const std::size_t top_bits = band.bits() - (w - 1) * kWordBits;
  const std::uint64_t top_keep = top_bits >= kWordBits ? ~std::uint64_t{0}
                                                       : (std::uint64_t{1} << top_bits) - 1;
  std::array<std::uint64_t, Words != 0 ? Words : kMaxBandWords> vp, vn, d0_prev{}, pm_prev{}, pm, d0{}, hp, hn;
  for (std::size_t t = 0; t < w; ++t) {
    // Rows -above to 0 are virtual: bits 0 to above.
    const std::size_t lo = t * kWordBits;
    std::uint64_t virt = 0;
    if (band.above + 1 >= lo + kWordBits) {
      virt = ~std::uint64_t{0};
    } else if (band.above + 1 > lo) {
      virt = (std::uint64_t{1} << (band.above + 1 - lo)) - 1;
    }
    vn[t] = virt;
    vp[t] = ~virt;
  }
  const std::size_t track = band.below + 1;
  const std::size_t track_word = track / kWordBits;
  const unsigned track_bit = track % kWordBits;
  // The words still scanned: first to last - 1.
  std::size_t first = 0, last = w;
  std::size_t score = m > n ? m - n : n - m;
  auto pos = static_cast<std::ptrdiff_t>(begin) - 1 - static_cast<std::ptrdiff_t>(band.above);
  for (std::size_t j = 0; j < n; ++j, ++pos) {
    const std::size_t end = std::min(last, w);  // last, as the compiler can see
    windows(text.next(), pos + static_cast<std::ptrdiff_t>(first * kWordBits), pm.data() + first, end - first);
    if (end == w) pm[w - 1] &= top_keep;
    std::uint64_t carry = 0, up = 0;
#pragma GCC unroll 4
    for (std::size_t t = first; t < end; ++t) {
      const std::uint64_t x = pm[t] | vn[t];
      std::uint64_t d = add_with_carry(x & vp[t], vp[t], carry);
      d = (d ^ vp[t]) | x;
      if constexpr (kTransposes<Metric>) {
        const std::uint64_t pm_up = (pm[t] << 1) | up;
        up = pm[t] >> 63;
        const std::uint64_t prev_down = (pm_prev[t] >> 1) | (t + 1 < end ? pm_prev[t + 1] << 63 : 0);
        d |= ~d0_prev[t] & pm_up & prev_down;
      }
      d0[t] = d;
      hn[t] = vp[t] & d;
      hp[t] = vn[t] | ~(vp[t] | d);
    }
    score += (~d0[track_word] >> track_bit) & 1;
    if (score > k) {
      if (read != nullptr) *read = j + 1;
      return score;
    }
#pragma GCC unroll 4
    for (std::size_t t = first; t < end; ++t) {
      const std::uint64_t down = (d0[t] >> 1) | (t + 1 < end ? d0[t + 1] << 63 : 0);
      vn[t] = down & hp[t];
      vp[t] = hn[t] | ~(down | hp[t]);
    }
    if constexpr (kTransposes<Metric>) {
      d0_prev = d0;
      pm_prev = pm;
    }
    if (j % kShrinkEvery == kShrinkEvery - 1) {
      leave_outer_blocks(vp.data(), vn.data(), w, kWordBits, track, score, k, first, last);
    }
  }
  return score;
}

// band_scan_words with its word count fixed where it is small.
template <EditMetric Metric, class Reader, class Windows>
std::size_t band_scan_any(Windows windows, std::size_t begin, std::size_t m, Reader text, std::size_t n,
                          std::size_t k, const Band& band, std::size_t* read = nullptr) noexcept {
  switch (band.words()) {
    case 2: return band_scan_words<Metric, 2>(windows, begin, m, text, n, k, band, read);
    case 3: return band_scan_words<Metric, 3>(windows, begin, m, text, n, k, band, read);
    case 4: return band_scan_words<Metric, 4>(windows, begin, m, text, n, k, band, read);
    default: return band_scan_words<Metric, 0>(windows, begin, m, text, n, k, band, read);
  }
}

}  // namespace quillstone::detail
