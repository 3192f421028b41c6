// The whole column of a pattern of 3 or 4 words as one AVX2 vector.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "edit/recurrence.hpp"
#include "masks/pattern_masks.hpp"
#include "simd/target.hpp"

namespace quillstone::detail {

// The full kernel for a pattern of 3 or 4 words, one word per lane of a
// 256-bit vector, the lanes skewed by a column: at step s lane t works on
// text column s - t. Word t needs the carries of word t - 1 in the same
// column, which lane t - 1 produced one step earlier, so every step updates
// all words at once and passes its carries one lane up. A column's words
// then cost one vector step instead of a chain of scalar words.
#if defined(QUILLSTONE_WAVEFRONT)

typedef std::uint64_t WordLanes __attribute__((vector_size(32)));

// Each lane's input from the lane below, lane 0 taking `bottom`'s.
__attribute__((target("avx2"), always_inline)) inline WordLanes lanes_up(WordLanes v, WordLanes bottom) noexcept {
  return __builtin_shufflevector(v, bottom, 4, 0, 1, 2);
}

template <EditMetric Metric, std::size_t Words, class Reader, class Masks>
__attribute__((target("avx2"))) std::size_t wavefront_scan(Masks& masks, std::size_t begin, std::size_t m,
                                                          Reader text, std::size_t n) noexcept {
  static_assert(Words >= 3 && Words <= 4);
  using Lanes = WordLanes;
  const std::size_t first = begin / kWordBits;
  masks.reach(first + Words);
  const Lanes zero = {0, 0, 0, 0}, ones = ~zero;
  const Lanes low_one = {1, 0, 0, 0};  // row 0 grows by one per column
  Lanes vp = ones, vn = zero, d0_prev = zero, pm_prev = zero;
  // The previous step's outputs that the lane above reads.
  Lanes carry = zero, hp_top = zero, hn_top = zero, x_top = zero;
  const std::uint64_t last = std::uint64_t{1} << ((m - 1) % kWordBits);
  std::size_t score = m;
  // The masks of a chunk of steps, already skewed: entry s holds word t of
  // column s - t in lane t (zero before the text, and in lanes above the
  // pattern). Column j fills entries j to j + 3, so the last three entries
  // of a chunk carry over to the next.
  constexpr std::size_t kChunk = 64;
  Lanes skew[kChunk + 3] = {};
  const std::size_t steps = n + Words - 1;
  for (std::size_t start = 0; start < steps; start += kChunk) {
    const std::size_t end = std::min(start + kChunk, steps);
    for (std::size_t j = start; j < std::min(start + kChunk, n); ++j) {
      const PatternMasks::Row row = masks.row(text.next());
      for (std::size_t t = 0; t < Words; ++t) skew[j - start + t][t] = row.word(first + t);
    }
    for (std::size_t s = start; s < end; ++s) {
      Lanes pm = skew[s - start];
      const Lanes X = pm & vp;
      const Lanes partial = X + vp;
      const Lanes carry_in = lanes_up(carry, zero);  // 0 or all ones
      const Lanes sum = partial - carry_in;
      const Lanes next_carry = (Lanes)(partial < X) | ((Lanes)(partial == ones) & carry_in);
      Lanes d0 = (sum ^ vp) | pm | vn;
      Lanes x = zero;
      if constexpr (kTransposes<Metric>) {
        x = ~d0_prev & pm;
        d0 |= ((x << 1) | lanes_up(x_top >> 63, zero)) & pm_prev;
      }
      const Lanes hp = vn | ~(d0 | vp);
      const Lanes hn = d0 & vp;
      const Lanes hp_shifted = (hp << 1) | lanes_up(hp_top >> 63, low_one);
      const Lanes hn_shifted = (hn << 1) | lanes_up(hn_top >> 63, zero);
      Lanes next_vp = hn_shifted | ~(d0 | hp_shifted);
      Lanes next_vn = hp_shifted & d0;
      // Lanes before the text's first column or past its last keep their
      // state.
      if (s < Words - 1 || s >= n) [[unlikely]] {
        Lanes active;
        for (std::size_t t = 0; t < 4; ++t) active[t] = s >= t && s - t < n ? ~std::uint64_t{0} : 0;
        next_vp = (next_vp & active) | (vp & ~active);
        next_vn = (next_vn & active) | (vn & ~active);
        d0 = (d0 & active) | (d0_prev & ~active);
        pm = (pm & active) | (pm_prev & ~active);
      }
      vp = next_vp;
      vn = next_vn;
      d0_prev = d0;
      pm_prev = pm;
      carry = next_carry;
      hp_top = hp;
      hn_top = hn;
      x_top = x;
      if (s >= Words - 1) {
        score += (hp[Words - 1] & last) != 0;
        score -= (hn[Words - 1] & last) != 0;
      }
    }
    // Later entries are written before they are read, except in lanes
    // that read past the text and keep their state.
    for (std::size_t i = 0; i < 3; ++i) skew[i] = skew[kChunk + i];
  }
  return score;
}
#endif

}  // namespace quillstone::detail
