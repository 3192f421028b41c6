// A batch's candidates sorted into lists by the width of their units.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "edit/query_lanes.hpp"
#include "simd/target.hpp"
#include "text/units.hpp"

#if defined(QUILLSTONE_LANE_TARGETS)
#include <immintrin.h>
#endif

namespace quillstone::detail {

// The lane paths' candidates by width, in order: lists[0] those of one-byte
// units, lists[1] two-byte, lists[2] four-byte, each of 1 to
// kQueryLaneMaxChars units, and lists[3] every other one; count[k] is the
// length of lists[k]. Each list has room for every candidate: the vector
// form writes eight places from a list's count, which is never more than
// the candidates before the eight it reads.
struct WidthLists {
  std::size_t* lists[4];
  std::size_t count[4] = {};
};

// Units of every width come mixed in any order, so each candidate goes to
// its list without a branch: it is written to all four, and only its own
// count moves.
inline void sort_by_width_portable(std::span<const TextView> candidates, std::size_t from,
                                   WidthLists& out) noexcept {
  std::size_t bytes = out.count[0], pairs = out.count[1], quads = out.count[2], rest = out.count[3];
  for (std::size_t i = from; i < candidates.size(); ++i) {
    const TextView candidate = candidates[i];
    const std::size_t fits = candidate.size() - 1 < kQueryLaneMaxChars;
    const unsigned width = candidate.width();
    out.lists[0][bytes] = i;
    out.lists[1][pairs] = i;
    out.lists[2][quads] = i;
    out.lists[3][rest] = i;
    bytes += fits & (width == 1);
    pairs += fits & (width == 2);
    quads += fits & (width == 4);
    rest += fits ^ 1;
  }
  out.count[0] = bytes;
  out.count[1] = pairs;
  out.count[2] = quads;
  out.count[3] = rest;
}

#if defined(QUILLSTONE_LANE_TARGETS)
// Eight candidates a step: their size words side by side in one vector,
// compared into a mask per list, and each list's indices compressed into
// place. A view is its units' address and then one word of the size above
// the width's logarithm (TextView).
[[gnu::target(QUILLSTONE_AVX512)]] inline void sort_by_width_avx512(std::span<const TextView> candidates,
                                                                     WidthLists& out) noexcept {
  static_assert(sizeof(TextView) == 16 && std::is_standard_layout_v<TextView> &&
                std::is_trivially_copyable_v<TextView>);
  const auto* words = reinterpret_cast<const long long*>(candidates.data());
  const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
  const __m512i step = _mm512_set1_epi64(8), low_bits = _mm512_set1_epi64(3);
  // Sizes 1 to kQueryLaneMaxChars are size words 4 to 4 * kQueryLaneMaxChars + 3.
  const __m512i four = _mm512_set1_epi64(4), reach = _mm512_set1_epi64(4 * kQueryLaneMaxChars);
  __m512i index = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
  std::size_t i = 0;
  for (; i + 8 <= candidates.size(); i += 8) {
    const __m512i first = _mm512_loadu_si512(words + 2 * i), second = _mm512_loadu_si512(words + 2 * i + 8);
    const __m512i packed = _mm512_permutex2var_epi64(first, odd, second);
    const __mmask8 fits = _mm512_cmplt_epu64_mask(_mm512_sub_epi64(packed, four), reach);
    const __m512i log_width = _mm512_and_si512(packed, low_bits);
    const __mmask8 masks[4] = {
        static_cast<__mmask8>(fits & _mm512_cmpeq_epi64_mask(log_width, _mm512_setzero_si512())),
        static_cast<__mmask8>(fits & _mm512_cmpeq_epi64_mask(log_width, _mm512_set1_epi64(1))),
        static_cast<__mmask8>(fits & _mm512_cmpeq_epi64_mask(log_width, _mm512_set1_epi64(2))),
        static_cast<__mmask8>(~fits)};
    for (std::size_t k = 0; k < 4; ++k) {
      _mm512_storeu_si512(out.lists[k] + out.count[k], _mm512_maskz_compress_epi64(masks[k], index));
      out.count[k] += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(masks[k])));
    }
    index = _mm512_add_epi64(index, step);
  }
  sort_by_width_portable(candidates, i, out);
}
#endif

// The candidates into `out`'s lists.
inline void sort_by_width(std::span<const TextView> candidates, WidthLists& out) noexcept {
#if defined(QUILLSTONE_LANE_TARGETS)
  if (runs(VectorTarget::kAvx512)) return sort_by_width_avx512(candidates, out);
#endif
  sort_by_width_portable(candidates, 0, out);
}

}  // namespace quillstone::detail
