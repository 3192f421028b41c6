// A pattern of more than 64 characters: the band of a bound, bands of
// growing width without one, or the whole column where a band would be as
// wide.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "edit/band.hpp"
#include "edit/band_vectors.hpp"
#include "edit/thresholds.hpp"
#include "edit/whole_column.hpp"
#include "masks/pattern_masks.hpp"

namespace quillstone::detail {

// A pattern of more than 64 characters (positions `begin` to begin + m of
// `masks`) against a text of n: the band of k, or every word where the band
// would be as wide. Above k the result is some value above k, and `read`
// (if given) the columns the band read before it stopped.
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_scan(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                              std::size_t n, std::size_t k, std::size_t* read = nullptr) noexcept {
  const Band band(m, n, k);
  const std::size_t full_words = (m + kWordBits - 1) / kWordBits;
  if (band.words() == 1) {
    return band_scan_word<Metric>(
        [&](auto c, std::ptrdiff_t pos) __attribute__((always_inline)) {
          masks.reach(window_words(pos, 1));
          return masks.row(c).bits(pos);
        },
        begin, m, text, n, k, band, read);
  }
  if (band.words() < full_words && band.words() <= kMaxBandWords) {
#if defined(QUILLSTONE_WAVEFRONT)
    if (band_vectors_run(band)) return band_scan_vectors<Metric>(masks, begin, m, text, n, k, band, read);
#endif
    return band_scan_any<Metric>(
        [&](auto c, std::ptrdiff_t pos, std::uint64_t* out,
            std::size_t w) __attribute__((always_inline)) {
          masks.reach(window_words(pos, w));
          const PatternMasks::Row row = masks.row(c);
#pragma GCC unroll 4
          for (std::size_t t = 0; t < w; ++t) out[t] = row.bits(pos + static_cast<std::ptrdiff_t>(t * kWordBits));
        },
        begin, m, text, n, k, band, read);
  }
  return full_scan<Metric>(masks, begin, m, text, n);
}

// Whether, without a bound, the whole column costs less than the bands that
// would be tried until one holds the distance. A band of `tried` that
// stopped after `read` columns says that the texts drift apart by about
// tried / read per column; when the band of that rate over the whole text
// would hold enough of the column's words, the distance of the texts' first
// kEstimateChars characters, scaled to their length, must say so too: texts
// with many insertions and deletions make the band stop early as well.
template <EditMetric Metric, class Reader, class Masks>
bool whole_column_pays(Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n,
                       std::size_t tried, std::size_t read) noexcept {
  const std::size_t full_words = (m + kWordBits - 1) / kWordBits;
  const auto wide = [&](std::uint64_t distance, std::size_t of) {
    // 64 bits: on a 32-bit target distance × n may not fit a word.
    const std::uint64_t estimate = std::min<std::uint64_t>(distance * n / std::max<std::size_t>(of, 1), std::max(m, n));
    const std::size_t gap = m > n ? m - n : n - m;
    return Band(m, n, std::max(static_cast<std::size_t>(estimate), gap)).words() * kBandWordCost >= full_words;
  };
  if (m < kEstimateFrom || !wide(tried, read)) return false;
  return wide(full_scan<Metric>(masks, begin, kEstimateChars, text, kEstimateChars), kEstimateChars);
}

// The same without a bound, or with one that may be far above the distance:
// bands of growing width, each stopped as soon as the distance must exceed
// it, until one holds the distance.
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_distance(Masks& masks, std::size_t begin, std::size_t m,
                                  Reader text, std::size_t n, std::size_t k,
                                  std::size_t excess = 0) noexcept {
  const std::size_t gap = m > n ? m - n : n - m;
  k = std::min(k, std::max(m, n));  // no distance is larger
  const bool unbounded = k == std::max(m, n);
  // A few words: a failed narrow band would cost about as much as the whole
  // column.
  if (unbounded && m <= kFewWords * kWordBits) return full_scan<Metric>(masks, begin, m, text, n);
  // The widest band a single word holds, then twice the excess each time.
  if (excess == 0) excess = gap < kWordBand ? kWordBand - gap : kWordBits;
  const std::size_t full_words = (m + kWordBits - 1) / kWordBits;
  for (;;) {
    const std::size_t tried = gap + excess >= k ? k : gap + excess;
    // A band as wide as the column, or too wide for the band kernel: the
    // whole column, once, gives the distance itself.
    const std::size_t words = Band(m, n, tried).words();
    if (words >= full_words || words > kMaxBandWords) return full_scan<Metric>(masks, begin, m, text, n);
    std::size_t read = n;
    const std::size_t d = long_pattern_scan<Metric>(masks, begin, m, text, n, tried, &read);
    if (d <= tried || tried == k) return d;
    // Texts far apart fail every band up to about the whole column.
    if (unbounded && whole_column_pays<Metric>(masks, begin, m, text, n, tried, read)) {
      return full_scan<Metric>(masks, begin, m, text, n);
    }
    excess *= 2;
  }
}

}  // namespace quillstone::detail
