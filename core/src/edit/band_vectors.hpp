// The band of a bound on 256-bit vectors, four of its words to a vector.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "edit/band.hpp"
#include "edit/recurrence.hpp"
#include "edit/thresholds.hpp"
#include "masks/pattern_masks.hpp"
#include "simd/lane_vectors.hpp"
#include "simd/target.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

namespace quillstone::detail {

// band_scan_words reads its words one after another: the sum's carry runs
// from each word into the next. Here a column's words are four to a vector
// and every step but that carry works on four at once. The carry is settled
// for the whole band by one scalar addition: each word's sum either makes a
// carry, passes one on (all its bits set), or stops it, and adding the
// makers to the makers-or-passers as bit masks carries exactly as the words
// do. The diagonal shift pulls each word's lowest bit from the word after
// it, a lane shuffle. Masks are read four words at a time from the
// pattern's rows. Results equal band_scan_words' on every input.
#if defined(QUILLSTONE_WAVEFRONT)

inline constexpr std::size_t kBandLanes = kLanesOf<std::uint64_t>;
inline constexpr std::size_t kMaxBandVectors = kMaxBandWords / kBandLanes;

// Each lane's word from the next lane up; lane 3 takes lane 0 of `next`.
[[gnu::target("avx2"), gnu::always_inline]] inline Lanes64 lanes_from_next(Lanes64 v, Lanes64 next) noexcept {
  return __builtin_shufflevector(v, next, 1, 2, 3, 4);
}

// Each lane's word from the lane below; lane 0 takes lane 3 of `below`.
[[gnu::target("avx2"), gnu::always_inline]] inline Lanes64 lanes_from_below(Lanes64 v, Lanes64 below) noexcept {
  return __builtin_shufflevector(v, below, 7, 0, 1, 2);
}

// All ones in the lanes whose bit is set in the low four bits of `bits`.
[[gnu::target("avx2"), gnu::always_inline]] inline Lanes64 lanes_of(std::uint64_t bits) noexcept {
  const Lanes64 lane = {1, 2, 4, 8};
  return (Lanes64)((((Lanes64){} + bits) & lane) != 0);
}

// The lanes of a vector with all bits set, as four bits.
[[gnu::target("avx2"), gnu::always_inline]] inline std::uint64_t set_lanes(Lanes64 v) noexcept {
  return static_cast<std::uint64_t>(_mm256_movemask_pd(_mm256_castsi256_pd((__m256i)v)));
}

// The positions p, p + 64, p + 128 and p + 192 of a row of masks that holds
// its words in order, zero before the pattern.
[[gnu::target("avx2"), gnu::always_inline]] inline Lanes64 row_windows(const std::uint64_t* row,
                                                                       std::ptrdiff_t p) noexcept {
  const std::ptrdiff_t word = p >> 6;  // rounds down
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(p & 63));
  const __m128i back = _mm_cvtsi32_si128(64 - static_cast<int>(p & 63));  // 64 shifts out every bit
  __m256i low, high;
  if (word >= 0) [[likely]] {
    low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + word));
    high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + word + 1));
  } else {
    // Words before the row are not read: their lanes load as zero.
    const __m256i index = _mm256_add_epi64(_mm256_set1_epi64x(word), _mm256_setr_epi64x(0, 1, 2, 3));
    const __m256i low_in = _mm256_cmpgt_epi64(index, _mm256_set1_epi64x(-1));
    const __m256i high_in = _mm256_cmpgt_epi64(index, _mm256_set1_epi64x(-2));
    low = _mm256_maskload_epi64(reinterpret_cast<const long long*>(row) + word, low_in);
    high = _mm256_maskload_epi64(reinterpret_cast<const long long*>(row) + word + 1, high_in);
  }
  return (Lanes64)_mm256_or_si256(_mm256_srl_epi64(low, shift), _mm256_sll_epi64(high, back));
}

template <EditMetric Metric, class Reader, class Masks>
[[gnu::target("avx2"), gnu::noinline]] std::size_t band_scan_vectors(Masks& masks, std::size_t begin,
                                                                     std::size_t m, Reader text, std::size_t n,
                                                                     std::size_t k, const Band& band,
                                                                     std::size_t* read = nullptr) noexcept {
  using V = Lanes64;
  constexpr std::size_t L = kBandLanes;
  const std::size_t w = band.words();
  const std::size_t vectors = (w + L - 1) / L;
  const V zero = {}, ones = ~zero;
  // The last vector's lanes past the band stay zero, the band's last word
  // keeps its rows.
  V last_keep = zero;
  for (std::size_t t = (vectors - 1) * L; t < w; ++t) {
    const std::size_t bits = std::min(kWordBits, band.bits() - t * kWordBits);
    last_keep[t % L] = bits >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  }
  V vp[kMaxBandVectors], vn[kMaxBandVectors], d0[kMaxBandVectors], pm[kMaxBandVectors], sum[kMaxBandVectors];
  V d0_prev[kMaxBandVectors], pm_prev[kMaxBandVectors], hp[kMaxBandVectors], hn[kMaxBandVectors];
  for (std::size_t v = 0; v < vectors; ++v) {
    for (std::size_t l = 0; l < L; ++l) {
      // Rows -above to 0 are virtual: bits 0 to above.
      const std::size_t lo = (v * L + l) * kWordBits;
      std::uint64_t virt = 0;
      if (band.above + 1 >= lo + kWordBits) {
        virt = ~std::uint64_t{0};
      } else if (band.above + 1 > lo) {
        virt = (std::uint64_t{1} << (band.above + 1 - lo)) - 1;
      }
      vn[v][l] = virt;
      vp[v][l] = ~virt;
    }
    d0_prev[v] = pm_prev[v] = zero;
  }
  const std::size_t track = band.below + 1;
  const std::size_t track_vector = track / (L * kWordBits);
  const std::size_t track_lane = track / kWordBits % L;
  const unsigned track_bit = track % kWordBits;
  std::size_t first = 0, last = vectors;  // the vectors still scanned
  std::size_t score = m > n ? m - n : n - m;
  auto pos = static_cast<std::ptrdiff_t>(begin) - 1 - static_cast<std::ptrdiff_t>(band.above);
  for (std::size_t j = 0; j < n; ++j, ++pos) {
    const std::size_t end = std::min(last, vectors);  // last, as the compiler can see
    const std::ptrdiff_t from = pos + static_cast<std::ptrdiff_t>(first * L * kWordBits);
    masks.reach(window_words(from, (end - first) * L));
    const PatternMasks::Row row = masks.row(text.next());
    std::uint64_t makers = 0, passers = 0;
    for (std::size_t v = first; v < end; ++v) {
      const std::ptrdiff_t at = from + static_cast<std::ptrdiff_t>((v - first) * L * kWordBits);
      if (const std::uint64_t* words = row.direct()) [[likely]] {
        pm[v] = row_windows(words, at);
      } else {
        pm[v] = (V){row.bits(at), row.bits(at + 64), row.bits(at + 128), row.bits(at + 192)};
      }
      if (v + 1 == vectors) pm[v] &= last_keep;
      const V x = pm[v] | vn[v];
      sum[v] = (x & vp[v]) + vp[v];
      const unsigned lane = static_cast<unsigned>((v - first) * L);
      makers |= set_lanes((V)(sum[v] < vp[v])) << lane;
      passers |= set_lanes((V)(sum[v] == ones)) << lane;
    }
    // The carry into each word: makers carry, passers pass on what comes in.
    const std::uint64_t carries = ((makers | passers) + makers) ^ passers;
    for (std::size_t v = first; v < end; ++v) {
      const V x = pm[v] | vn[v];
      V d = ((sum[v] - lanes_of(carries >> ((v - first) * L))) ^ vp[v]) | x;
      if constexpr (kTransposes<Metric>) {
        const V below = v > first ? pm[v - 1] : zero;
        const V above_prev = v + 1 < end ? pm_prev[v + 1] : zero;
        const V pm_up = (pm[v] << 1) | lanes_from_below(pm[v] >> 63, below >> 63);
        const V prev_down = (pm_prev[v] >> 1) | (lanes_from_next(pm_prev[v], above_prev) << 63);
        d |= ~d0_prev[v] & pm_up & prev_down;
      }
      if (v + 1 == vectors) d &= (V)(last_keep != 0);
      d0[v] = d;
      hn[v] = vp[v] & d;
      hp[v] = vn[v] | ~(vp[v] | d);
    }
    score += (~d0[track_vector][track_lane] >> track_bit) & 1;
    if (score > k) {
      if (read != nullptr) *read = j + 1;
      return score;
    }
    for (std::size_t v = first; v < end; ++v) {
      const V down = (d0[v] >> 1) | (lanes_from_next(d0[v], v + 1 < end ? d0[v + 1] : zero) << 63);
      vn[v] = down & hp[v];
      vp[v] = hn[v] | ~(down | hp[v]);
      if constexpr (kTransposes<Metric>) {
        d0_prev[v] = d0[v];
        pm_prev[v] = pm[v];
      }
    }
    if (j % kShrinkEvery == kShrinkEvery - 1) {
      // A vector's lanes are its words; the copies are of a fixed size,
      // which compiles to a few vector moves.
      std::uint64_t up[kMaxBandWords], un[kMaxBandWords];
      std::memcpy(up, vp, sizeof up);
      std::memcpy(un, vn, sizeof un);
      leave_outer_blocks(up, un, w, L * kWordBits, track, score, k, first, last);
    }
  }
  return score;
}

#endif

// Whether a band runs in vectors here: wide enough, on a processor with
// AVX2.
inline bool band_vectors_run(const Band& band) noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  return band.words() >= kBandVectorWords && runs(VectorTarget::kAvx2);
#else
  static_cast<void>(band);
  return false;
#endif
}

}  // namespace quillstone::detail
