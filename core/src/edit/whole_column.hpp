// Every word of the column, for a pattern of any length.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "edit/band.hpp"
#include "edit/recurrence.hpp"
#include "edit/wavefront.hpp"
#include "masks/pattern_masks.hpp"
#include "simd/target.hpp"

namespace quillstone::detail {

// Working words of a kernel, zeroed: in the frame up to a few hundred, on
// the heap beyond.
class WorkWords {
 public:
  explicit WorkWords(std::size_t n) noexcept {
    if (n > kInline) heap_.resize(n);
    data_ = n > kInline ? heap_.data() : inline_;
    std::fill(data_, data_ + n, 0);
  }
  WorkWords(const WorkWords&) = delete;
  WorkWords& operator=(const WorkWords&) = delete;
  std::uint64_t* data() noexcept { return data_; }

 private:
  static constexpr std::size_t kInline = 256;
  std::uint64_t inline_[kInline];
  std::vector<std::uint64_t> heap_;
  std::uint64_t* data_;
};

// The full kernel: every word of the column, for a pattern of any length
// whose first position in `masks` is a multiple of 64. Words is the
// pattern's word count, or 0 for any: a fixed count of a few words keeps
// the vectors in registers.
template <EditMetric Metric, std::size_t Words, class Reader, class Masks>
std::size_t full_scan_of(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                         std::size_t n) noexcept {
  const std::size_t w = Words != 0 ? Words : (m + kWordBits - 1) / kWordBits;
  const std::size_t first = begin / kWordBits;
  masks.reach(first + w);
  WorkWords state(Words != 0 ? 0 : 4 * w);
  std::array<std::uint64_t, 4 * Words> fixed{};
  std::uint64_t* vp = Words != 0 ? fixed.data() : state.data();
  std::uint64_t* vn = vp + w;
  std::uint64_t* d0_prev = vn + w;
  std::uint64_t* pm_prev = d0_prev + w;
  std::fill(vp, vp + w, ~std::uint64_t{0});
  const std::uint64_t last = std::uint64_t{1} << ((m - 1) % kWordBits);
  std::size_t score = m;
  for (std::size_t j = 0; j < n; ++j) {
    const PatternMasks::Row row = masks.row(text.next());
    const std::uint64_t* words = row.direct();
    std::uint64_t sum_carry = 0, hp_carry = 1, hn_carry = 0, tr_carry = 0;
    std::uint64_t hp = 0, hn = 0;  // of the last word, once the loop is done
#pragma GCC unroll 4
    for (std::size_t t = 0; t < w; ++t) {
      const std::uint64_t pm = words != nullptr ? words[first + t] : row.word(first + t);
      const std::uint64_t vpt = vp[t], vnt = vn[t];
      std::uint64_t tr = 0;
      if constexpr (kTransposes<Metric>) {
        const std::uint64_t x = ~d0_prev[t] & pm;
        tr = ((x << 1) | tr_carry) & pm_prev[t];
        tr_carry = x >> 63;
        pm_prev[t] = pm;
      }
      const std::uint64_t sum = add_with_carry(pm & vpt, vpt, sum_carry);
      const std::uint64_t d0 = (sum ^ vpt) | pm | vnt | tr;
      hp = vnt | ~(d0 | vpt);
      hn = d0 & vpt;
      const std::uint64_t hp_shifted = (hp << 1) | hp_carry;
      const std::uint64_t hn_shifted = (hn << 1) | hn_carry;
      hp_carry = hp >> 63;
      hn_carry = hn >> 63;
      vp[t] = hn_shifted | ~(d0 | hp_shifted);
      vn[t] = hp_shifted & d0;
      if constexpr (kTransposes<Metric>) d0_prev[t] = d0;
    }
    score += (hp & last) != 0;
    score -= (hn & last) != 0;
  }
  return score;
}

template <EditMetric Metric, class Reader, class Masks>
std::size_t full_scan(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                      std::size_t n) noexcept {
  const std::size_t words = (m + kWordBits - 1) / kWordBits;
#if defined(QUILLSTONE_WAVEFRONT)
  // Two words run faster as a scalar chain than skewed.
  if (words >= 3) {
    switch (vector_target()) {
      case VectorTarget::kAvx512: return wavefront_scan_avx512<Metric>(masks, begin, m, text, n);
      case VectorTarget::kAvx2: return wavefront_scan_avx2<Metric>(masks, begin, m, text, n);
      case VectorTarget::kBaseline: break;
    }
  }
#endif
  switch (words) {
    case 2: return full_scan_of<Metric, 2>(masks, begin, m, text, n);
    case 3: return full_scan_of<Metric, 3>(masks, begin, m, text, n);
    case 4: return full_scan_of<Metric, 4>(masks, begin, m, text, n);
    default: return full_scan_of<Metric, 0>(masks, begin, m, text, n);
  }
}

}  // namespace quillstone::detail
