// The bit-parallel recurrence of both edit distances: Myers' in Hyyrö's
// formulation for Levenshtein, with Hyyrö's transposition term for the
// optimal string alignment distance, and the one-word column scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "simd/lane_vectors.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

template <EditMetric Metric>
inline constexpr bool kTransposes = Metric == EditMetric::OptimalAlignment;

// No bound: larger than any distance.
inline constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max() / 4;

// One column of the recurrence on one word of 64 pattern positions, or on a
// vector of narrower lanes, each its own pattern. Bits above the last
// pattern position take part in the arithmetic but never reach the bits
// below it: carries and shifts only move information upwards.
template <EditMetric Metric, class Word>
struct ColumnWord {
  Word vp, vn, d0_prev, pm_prev;

  // Column 0: row i is i. No vector argument: one would be passed one way
  // by the kernels built for AVX2 and another by the baseline.
  ColumnWord() noexcept : vp(~Word{}), vn(Word{}), d0_prev(Word{}), pm_prev(Word{}) {}

  // Advances by one text character with match mask `pm`; `hp` and `hn` are
  // the horizontal differences of the new column, before they are shifted.
  // (`pm` by reference: a vector passed by value would be passed one way by
  // the kernels built for AVX2 or AVX-512 and another by the baseline.)
  [[gnu::always_inline]] inline void step(const Word& pm, Word& hp, Word& hn) noexcept {
    const Word sum = (pm & vp) + vp;
    Word d0 = (sum ^ vp) | pm | vn;
    Word transposed{};
    if constexpr (kTransposes<Metric>) {
      transposed = ((~d0_prev & pm) << 1) & pm_prev;
      d0 |= transposed;
    }
    hn = vp & d0;
    const Word hn_shifted = hn << 1;
    if constexpr (std::is_integral_v<Word>) {
      // One word is one chain of dependent operations, which its length
      // bounds: d0 | vp is sum | vp | pm ((x ^ vp) | vp is x | vp), and
      // vp = hn_shifted | ~(d0 | hp_shifted) with ~hp_shifted = ~hp << 1
      // and ~hp = ~vn & (d0 | vp), so that the next column's vp waits
      // neither for hp nor for d0 | vp: seven dependent operations instead
      // of nine.
      const Word reach = sum | vp | pm | transposed;
      hp = vn | ~reach;
      const Word hp_shifted = (hp << 1) | 1;  // row 0 grows by one per text character
      vp = hn_shifted | (~d0 & ((~vn & reach) << 1));
      vn = hp_shifted & d0;
    } else {
      // Vectors of lanes fill that wait with their column's lookups or a
      // second chain: the number of operations bounds them, and this form
      // has the fewest.
      hp = vn | ~(d0 | vp);
      const Word hp_shifted = (hp << 1) | 1;
      vp = hn_shifted | ~(d0 | hp_shifted);
      vn = hp_shifted & d0;
    }
    if constexpr (kTransposes<Metric>) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
};

// The distance in each lane of a vector of columns after n text characters,
// a pattern of m: row 0's n plus the vertical differences down to row m.
// Counting them once costs less than following the last row column by
// column. Narrow lanes may wrap on the way; the result fits.
template <class Lane, EditMetric Metric, class Vec>
[[gnu::always_inline]] inline void last_column_distance(const ColumnWord<Metric, Vec>& column, std::size_t m,
                                                        std::size_t n, Vec& out) noexcept {
  const Lane rows = static_cast<Lane>(static_cast<Lane>(~Lane{0}) >> (8 * sizeof(Lane) - m));
  Vec up = column.vp & rows, down = column.vn & rows;
  count_lane_bits<Lane>(up);
  count_lane_bits<Lane>(down);
  out = up - down + static_cast<Lane>(n);
}

// A pattern of 1 to 64 characters against a text of n: one word per column.
// `pm_of` gives a text character's mask. With a bound k the scan stops as
// soon as the last row can no longer come back to k (it falls by at most one
// per column); the result is then above k.
template <EditMetric Metric, class Reader, class Masks>
std::size_t column_scan(std::size_t m, Reader text, std::size_t n, Masks pm_of, std::size_t k) noexcept {
  ColumnWord<Metric, std::uint64_t> column;
  if (k >= kUnbounded) {
    // Nothing stops early: the last row is counted once, from the last
    // column, and the loop carries only the recurrence.
    for (std::size_t j = 0; j < n; ++j) {
      std::uint64_t hp, hn;
      column.step(pm_of(text.next()), hp, hn);
    }
    std::uint64_t distance;
    last_column_distance<std::uint64_t>(column, m, n, distance);
    return static_cast<std::size_t>(distance);
  }
  const std::uint64_t last = std::uint64_t{1} << (m - 1);
  std::size_t score = m;
  std::size_t budget = k + n;  // the bound plus the columns still to come
  for (std::size_t j = 0; j < n; ++j) {
    std::uint64_t hp, hn;
    column.step(pm_of(text.next()), hp, hn);
    score += (hp & last) != 0;
    score -= (hn & last) != 0;
    if (score > --budget) return score;
  }
  return score;
}

}  // namespace quillstone::detail
