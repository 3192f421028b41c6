// The whole column of a pattern of several words as vectors of word lanes,
// the lanes skewed by a column.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "edit/recurrence.hpp"
#include "masks/pattern_masks.hpp"
#include "simd/lane_vectors.hpp"
#include "simd/target.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// The pattern's words are taken a strip of kStripWords (4) at a time, one
// word per lane of a 256-bit vector. Within a strip the lanes are skewed by a
// column: at step s lane t works on text column s - t. Word t needs the
// carries of word t - 1 in the same column (the sum's carry, the two
// horizontal deltas, the transposition term), which lane t - 1 produced one
// step earlier, so every step updates all the strip's words at once and
// passes its carries one lane up. The top lane's carries are kept, one byte
// per column, for the next strip's bottom lane, which reads them in column
// order. A column's words then cost one vector step per strip instead of a
// chain of scalar words.
#if defined(QUILLSTONE_WAVEFRONT)

using WordLanes = Lanes64;
inline constexpr std::size_t kStripWords = kLanesOf<std::uint64_t>;

// The carries one word hands the next in a column, as bits of a byte.
enum : std::uint8_t { kSumCarry = 1, kHpCarry = 2, kHnCarry = 4, kTransposeCarry = 8 };

// Each lane's value from the lane below; lane 0 takes lane `From` of
// `bottom`.
template <std::size_t From>
__attribute__((target("avx2"), always_inline)) inline WordLanes lanes_up(WordLanes v, WordLanes bottom) noexcept {
  return __builtin_shufflevector(v, bottom, 4 + From, 0, 1, 2);
}

// The bottom lane's inputs of one column as lanes 0 to 3 of a vector: the
// sum's carry (all ones or zero), then the hp, hn and transposition bits.
inline std::array<WordLanes, 16> carry_vectors() noexcept {
  std::array<WordLanes, 16> table{};
  for (std::size_t c = 0; c < 16; ++c) {
    table[c][0] = c & kSumCarry ? ~std::uint64_t{0} : 0;
    table[c][1] = (c & kHpCarry) != 0;
    table[c][2] = (c & kHnCarry) != 0;
    table[c][3] = (c & kTransposeCarry) != 0;
  }
  return table;
}

// The recurrence state of a strip, and the outputs of its last step that
// the lane above reads.
struct StripVector {
  WordLanes vp, vn, d0_prev, pm_prev;
  WordLanes carry, hp, hn, x;
};

// One step of a strip, whose lane t works on column s - t; the bottom lane
// takes its carries from `bottom`.
template <EditMetric Metric>
__attribute__((target("avx2"), always_inline)) inline void strip_step(StripVector& v, WordLanes bottom,
                                                                      WordLanes pm, std::size_t s,
                                                                      std::size_t n, bool edge) noexcept {
  using V = WordLanes;
  const V zero = {}, ones = ~zero;
  const V X = pm & v.vp;
  const V partial = X + v.vp;
  const V carry_in = lanes_up<0>(v.carry, bottom);  // 0 or all ones
  const V sum = partial - carry_in;
  const V next_carry = (V)(partial < X) | ((V)(partial == ones) & carry_in);
  V d0 = (sum ^ v.vp) | pm | v.vn;
  V x = zero;
  if constexpr (kTransposes<Metric>) {
    x = ~v.d0_prev & pm;
    d0 |= ((x << 1) | lanes_up<3>(v.x >> 63, bottom)) & v.pm_prev;
  }
  const V hp = v.vn | ~(d0 | v.vp);
  const V hn = d0 & v.vp;
  const V hp_shifted = (hp << 1) | lanes_up<1>(v.hp >> 63, bottom);
  const V hn_shifted = (hn << 1) | lanes_up<2>(v.hn >> 63, bottom);
  V next_vp = hn_shifted | ~(d0 | hp_shifted);
  V next_vn = hp_shifted & d0;
  // Lanes before the text's first column or past its last keep their state.
  if (edge) [[unlikely]] {
    const V lane = {0, 1, 2, 3};
    const V column = (V){} + s - lane;  // wraps below zero
    const V active = (V)(column < n);
    next_vp = (next_vp & active) | (v.vp & ~active);
    next_vn = (next_vn & active) | (v.vn & ~active);
    d0 = (d0 & active) | (v.d0_prev & ~active);
    pm = (pm & active) | (v.pm_prev & ~active);
  }
  v = {next_vp, next_vn, d0, pm, next_carry, hp, hn, x};
}

// The whole column of m > 64 characters from `begin` (a multiple of 64) in
// `masks` against a text of n characters, compiled into each target's
// kernel below.
template <EditMetric Metric, class Reader, class Masks>
__attribute__((target("avx2"), always_inline)) inline std::size_t wavefront_body(
    Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n) noexcept {
  using V = WordLanes;
  constexpr std::size_t L = kStripWords;
  const std::size_t words = (m + kWordBits - 1) / kWordBits;
  const std::size_t first = begin / kWordBits;
  masks.reach(first + words);
  const std::size_t strips = (words + L - 1) / L;
  const std::array<V, 16> bottoms = carry_vectors();
  // The carries out of one strip's top word, and into the next one's bottom.
  std::vector<std::uint8_t> carries_in(strips > 1 ? n : 0), carries_out(strips > 1 ? n : 0);
  // A text that is not read byte by byte is looked up once, by
  // the first strip, for all of them.
  constexpr bool kKeepRows = !std::is_same_v<Reader, ByteReader>;
  std::vector<PatternMasks::Row> rows;
  if (kKeepRows && strips > 1) rows.reserve(n);
  const V zero = {}, ones = ~zero;
  const std::uint64_t last = std::uint64_t{1} << ((m - 1) % kWordBits);
  const std::size_t last_word = (words - 1) % L;
  std::size_t score = m;
  // The masks of a chunk of steps, already skewed: entry s holds word t of
  // column s - t in lane t (zero before the text, and in lanes above the
  // pattern). Column j fills entries j to j + L - 1, so the last L - 1
  // entries of a chunk carry over to the next.
  constexpr std::size_t kChunk = 64;
  // Aligned to a page, so that where its stores fall within a page does not
  // follow the caller's stack: a load whose low 12 address bits match an
  // earlier store's waits for it (4K aliasing), and the masks' loads moved
  // 5,000-character byte texts by 8% with the stack's depth alone.
  alignas(4096) V skew[kChunk + L - 1];
  for (std::size_t g = 0; g < strips; ++g) {
    const std::size_t base = first + g * L;
    const std::size_t used = std::min(L, words - g * L);
    const bool top = g + 1 == strips;
    Reader reader = text;
    std::fill(skew, skew + kChunk + L - 1, zero);
    StripVector strip = {ones, zero, zero, zero, zero, zero, zero, zero};
    const std::size_t steps = n + L - 1;
    for (std::size_t start = 0; start < steps; start += kChunk) {
      const std::size_t end = std::min(start + kChunk, steps);
      for (std::size_t j = start; j < std::min(start + kChunk, n); ++j) {
        const PatternMasks::Row row = !kKeepRows || g == 0 ? masks.row(reader.next()) : rows[j];
        if (kKeepRows && g == 0 && strips > 1) rows.push_back(row);
        for (std::size_t t = 0; t < used; ++t) skew[j - start + t][t] = row.word(base + t);
      }
      for (std::size_t s = start; s < end; ++s) {
        // Row 0 grows by one per column: the first strip's bottom hp is 1.
        const V bottom = s >= n ? zero : g == 0 ? bottoms[kHpCarry] : bottoms[carries_in[s]];
        strip_step<Metric>(strip, bottom, skew[s - start], s, n, s < L - 1 || s >= n);
        if (top) {
          if (s >= last_word && s - last_word < n) {
            score += (strip.hp[last_word] & last) != 0;
            score -= (strip.hn[last_word] & last) != 0;
          }
        } else if (s >= L - 1) {
          constexpr std::size_t t = L - 1;
          carries_out[s - t] = static_cast<std::uint8_t>(
              (strip.carry[t] & kSumCarry) | (strip.hp[t] >> 63) * kHpCarry | (strip.hn[t] >> 63) * kHnCarry |
              (strip.x[t] >> 63) * kTransposeCarry);
        }
      }
      // Later entries are written before they are read, except in lanes
      // that read past the text and keep their state.
      for (std::size_t e = 0; e + 1 < L; ++e) skew[e] = skew[kChunk + e];
    }
    carries_in.swap(carries_out);
  }
  return score;
}

// The kernel for each target: AVX-512 adds three-input logic and unsigned
// compares on the same 256-bit vectors.
template <EditMetric Metric, class Reader, class Masks>
__attribute__((target("avx2"), noinline)) std::size_t wavefront_scan_avx2(
    Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n) noexcept {
  return wavefront_body<Metric>(masks, begin, m, text, n);
}

template <EditMetric Metric, class Reader, class Masks>
__attribute__((target(QUILLSTONE_AVX512), noinline)) std::size_t wavefront_scan_avx512(
    Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n) noexcept {
  return wavefront_body<Metric>(masks, begin, m, text, n);
}
#endif

}  // namespace quillstone::detail
