// The bit-parallel edit distances: Myers' recurrence in Hyyrö's formulation
// for Levenshtein, and Hyyrö's transposition term on top of it for the
// optimal string alignment distance. The measure is a template parameter;
// one recurrence body serves every kernel.
//
// Both distances are symmetric and unchanged by removing a common prefix or
// suffix, so a pair is first stripped of its common affixes and the shorter
// remainder becomes the pattern, the bit dimension: bit i of every vector
// stands for pattern character i. The text is read once, one column per
// character. Three kernels share the masks of a prepared pattern:
//   - a pattern of at most 64 characters: one word per column;
//   - a longer pattern with a bound k on the distance: only the diagonals
//     that a path of cost at most k can touch (Ukkonen's band), held in as
//     few words as they need and shifted down the diagonal (Hyyrö's banded
//     formulation), stopping once the distance must exceed k;
//   - a longer pattern whose band would cover it: every word of the column.
// Without a bound the band starts narrow and doubles until the distance
// fits in it, so near-duplicates cost about n·d/64 word steps.
//
// The plan, top to bottom below, one function per level:
//   - edit_distance, the scalar operation: the length bound and empty
//     texts, the common affixes, small bounds on long texts to the edit
//     sequences or the diagonals (bounded.hpp);
//   - one_off_distance, a pattern for one text: a one-word pattern held
//     in vectors, a short pattern's characters compared, a single-word
//     band, or the pattern's masks (built at once without a bound, filled
//     as the bands reach them with one);
//   - long_pattern_distance, past 64 characters without a bound, or with
//     one far above the distance: bands of doubling width, until one holds
//     the distance or the whole column would cost less (whole_column_pays);
//   - long_pattern_scan, one bound: the single-word band, the band of
//     several words, or the whole column (whole_column.hpp, wavefront.hpp).
// A prepared pattern (pattern.hpp) enters at long_pattern_distance. Every
// threshold weighed here is in thresholds.hpp, with its reason.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "edit/band.hpp"
#include "edit/band_vectors.hpp"
#include "edit/bounded.hpp"
#include "edit/compared_pattern.hpp"
#include "edit/pattern.hpp"
#include "edit/prefilters.hpp"
#include "edit/recurrence.hpp"
#include "edit/thresholds.hpp"
#include "edit/whole_column.hpp"
#include "masks/growing_masks.hpp"
#include "masks/held_units.hpp"
#include "masks/pattern_masks.hpp"
#include "text/affixes.hpp"
#include "text/prepared.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// A pattern of m characters against a text of n >= m, both without common
// affixes (below).
template <EditMetric Metric, class Reader>
std::size_t one_off_distance(TextView pattern, std::size_t m, bool narrow, TextView text_units, Reader text,
                             std::size_t n, std::size_t k) noexcept;

// The levels below it, in the order they are defined (long_pattern_distance
// is declared in pattern.hpp).
template <EditMetric Metric, class Reader, class Masks>
bool whole_column_pays(Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n,
                       std::size_t tried, std::size_t read) noexcept;
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_scan(Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n,
                              std::size_t k, std::size_t* read = nullptr) noexcept;

// The whole scalar operation: preparation, length cutoff, empty inputs, the
// common affixes, the shorter remainder as the pattern, bound.
template <EditMetric Metric>
Result<std::size_t> edit_distance(TextView str_1, TextView str_2, std::optional<std::size_t> max_len,
                                  std::optional<bool> case_insensitive,
                                  std::optional<std::size_t> score_cutoff) noexcept {
  Prepared in;
  if (auto error = in.prepare(str_1, str_2, max_len, case_insensitive)) return *error;
  const std::size_t m = in.n1, n = in.n2;
  const auto bound = [&](std::size_t d) -> std::size_t {
    return (score_cutoff && d > *score_cutoff) ? *score_cutoff + 1 : d;
  };
  if (score_cutoff && (m > n ? m - n : n - m) > *score_cutoff) return *score_cutoff + 1;
  if (m == 0) return bound(n);
  if (n == 0) return bound(m);
  const Affixes affixes = common_affixes(in.s1, in.s2);
  TextView pattern = affixes.rest(in.s1), text = affixes.rest(in.s2);
  if (pattern.empty()) return bound(text.size());
  if (text.empty()) return bound(pattern.size());
  if (pattern.size() > text.size()) std::swap(pattern, text);
  const std::size_t pm = pattern.size(), tn = text.size();
  // A small bound on long texts: the few edit sequences it allows, or for
  // Levenshtein the diagonals it reaches.
  if (score_cutoff && *score_cutoff <= kSmallBound && pm > kSmallBoundFrom) {
    return bound(small_bound_distance<Metric>(text, pattern, *score_cutoff));
  }
  if constexpr (Metric == EditMetric::Levenshtein) {
    if (score_cutoff && *score_cutoff <= kDiagonalBound && (*score_cutoff + 1) * (*score_cutoff + 1) <= pm) {
      return bound(diagonal_distance(pattern, text, *score_cutoff));
    }
    if (score_cutoff && *score_cutoff > kDiagonalBound && *score_cutoff <= pm / kDiagonalSpan) {
      const auto d = probed_diagonal_distance(pattern, text, *score_cutoff);
      if (d) return bound(*d);
    }
  }
  const std::size_t k = score_cutoff ? std::min(*score_cutoff, kUnbounded) : kUnbounded;
  return with_reader(text, [&](auto reader) {
    return bound(one_off_distance<Metric>(pattern, pm, pattern.narrow(), text, reader, tn, k));
  });
}

#if defined(QUILLSTONE_WAVEFRONT)
// A pattern held in vectors in its own units (held_fits), against a text of
// n: the column's masks are compares, with no copy of the pattern to store
// and read back first. Everything is inlined into this one function,
// compiled for AVX2.
template <EditMetric Metric, class Reader>
[[gnu::target("avx2"), gnu::flatten]] std::size_t held_column_scan(TextView pattern, std::size_t m, Reader text,
                                                                   std::size_t n, std::size_t k) noexcept {
  return with_units(pattern, [&](const auto* units) {
    return with_held_units(units, m, [&](const auto& held) {
      return column_scan<Metric>(m, text, n, [&](char32_t c) { return held.positions(c); }, k);
    });
  });
}
#endif

// A pattern of m characters against a text of n >= m, both without common
// affixes, for one call: a one-word pattern is held in vectors where AVX2
// runs; short patterns and single-word bands compare the pattern's
// characters directly; the rest build the pattern's masks.
template <EditMetric Metric, class Reader>
std::size_t one_off_distance(TextView pattern, std::size_t m, bool narrow, TextView text_units, Reader text,
                             std::size_t n, std::size_t k) noexcept {
  const auto compared = [&](auto run) {
    if (narrow) return run(static_cast<const ComparedPattern<unsigned char>*>(nullptr));
    return run(static_cast<const ComparedPattern<char32_t>*>(nullptr));
  };
  // One word: the pattern held in vectors, or its characters compared, or
  // its masks.
#if defined(QUILLSTONE_WAVEFRONT)
  if (m <= kWordBits && runs(VectorTarget::kAvx2) && held_fits(m, pattern.width())) {
    return held_column_scan<Metric>(pattern, m, text, n, k);
  }
#endif
  if (m <= (narrow ? kComparedByteChars : kComparedChars)) {
    return compared([&](auto* type) {
      using Compared = std::remove_cv_t<std::remove_pointer_t<decltype(type)>>;
      const Compared chars(pattern, m, 0, 16);
      return chars.with_chunks(m, [&](auto window) {
        return column_scan<Metric>(m, text, n, [&](auto c) { return window(c, 0); }, k);
      });
    });
  }
  if (m <= kWordBits) return EditPattern<Metric>(pattern).scan(0, m, text, n, k, 0);
  std::size_t excess = 0;
  bool single = false;  // under a cutoff, a single-word band to try on the masks first
  // The rows of the single-word band tried, and the columns it read before
  // it failed (0 if none was).
  std::size_t single_tried = 0, single_read = 0;
  // Without a cutoff a pattern of a few words tries only a narrow band, and
  // only on texts that look alike: the whole column costs little more than
  // a band that fails. Longer texts that do not look alike fail every band
  // up to about the whole column, which they take at once.
  const bool few = k >= kUnbounded && m <= kFewWords * kWordBits;
  static_assert(kLikenessBytes <= kWordBits);  // both texts have more characters
  const bool apart = k >= kUnbounded && !look_alike(pattern, text_units);
  if (n - m <= kWordBand && !apart) {
    const std::size_t widest = few ? std::min(kWordBand, n - m + kFewWordsBand) : kWordBand;
    const std::size_t tried = std::min({k, std::max(m, n), widest});
    const Band band(m, n, tried);
    const std::size_t chunks = (band.bits() + 15) / 16;
    if (narrow || chunks <= kComparedBandChunks) {
      const std::size_t d = compared([&](auto* type) {
        using Compared = std::remove_cv_t<std::remove_pointer_t<decltype(type)>>;
        const Compared chars(pattern, m, kWordBits, 2 * kWordBits);
        return chars.with_chunks(band.bits(), [&](auto window) {
          return band_scan_word<Metric>(window, 0, m, text, n, tried, band, &single_read);
        });
      });
      if (d <= tried || tried == std::min(k, std::max(m, n))) return d;
      single_tried = tried;
      excess = 2 * (tried - (n - m));
    } else {
      single = true;
    }
  }
  // Without a cutoff the bands reach the whole pattern: its masks are built
  // at once, which costs less than filling them as the scan goes, and the
  // doubling bands start with the single word.
  if (k >= kUnbounded) return EditPattern<Metric>(pattern).scan(0, m, text, n, k, excess, apart);
  // Under one they are filled as far as the bands reach.
  // `narrow_pattern` says at compile time whether a band may compare bytes.
  const auto run = [&](auto masks, auto narrow_pattern) {
    if (single) {
      const std::size_t tried = std::min({k, std::max(m, n), kWordBand});
      const std::size_t d = long_pattern_scan<Metric>(masks, 0, m, text, n, tried, &single_read);
      if (d <= tried || tried == std::min(k, std::max(m, n))) return d;
      single_tried = tried;
      excess = 2 * (tried - (n - m));
    }
    if (k < n && Band(m, n, k).words() > 1) {
      // A cutoff beyond a single word's band: the counts, read once, may
      // already show that the distance exceeds it, for far less than the
      // band, on texts where they can.
      if (counts_may_bound(pattern, text_units, single_tried, single_read) && count_bound(pattern, text_units) > k) {
        return k + 1;
      }
      // One band of the cutoff: narrower ones would be tried in vain beside
      // the single-word band that failed. On a pattern of bytes its windows
      // are compared, which beats reading the masks of words the band may
      // leave after a few columns, unless the band runs in vectors.
      const Band band(m, n, k);
      if constexpr (decltype(narrow_pattern)::value) {
        if (band.words() <= kMaxBandWords && band.words() < (m + kWordBits - 1) / kWordBits &&
            !band_vectors_run(band)) {
          const ComparedPattern<unsigned char> chars(pattern, m, band.above + 2,
                                                     kWordBits * (band.words() + 1));
          return band_scan_any<Metric>(
              [&](auto c, std::ptrdiff_t pos, std::uint64_t* out, std::size_t w) {
                for (std::size_t t = 0; t < w; ++t) {
                  out[t] = chars.bits<4>(c, pos + static_cast<std::ptrdiff_t>(t * kWordBits));
                }
              },
              0, m, text, n, k, band);
        }
      }
    }
    if (excess != 0) return long_pattern_scan<Metric>(masks, 0, m, text, n, std::min(k, std::max(m, n)));
    return long_pattern_distance<Metric>(masks, 0, m, text, n, k, excess, false);
  };
  if (narrow) return run(GrowingMasks(pattern), std::true_type{});
  return run(GrowingMasks(pattern), std::false_type{});
}

// A pattern of more than 64 characters without a bound, or with one that may
// be far above the distance: bands of growing width, each stopped as soon as
// the distance must exceed it, until one holds the distance.
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_distance(Masks& masks, std::size_t begin, std::size_t m,
                                  Reader text, std::size_t n, std::size_t k,
                                  std::size_t excess, bool apart) noexcept {
  const std::size_t gap = m > n ? m - n : n - m;
  k = std::min(k, std::max(m, n));  // no distance is larger
  const bool unbounded = k == std::max(m, n);
  // A few words, or texts that do not look alike: a failed band would cost
  // about as much as the whole column.
  if (unbounded && (apart || m <= kFewWords * kWordBits)) return full_scan<Metric>(masks, begin, m, text, n);
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

// Whether, without a bound, the whole column costs less than the bands that
// would be tried until one holds the distance. A band of `tried` that
// stopped after `read` columns says that the texts drift apart by about
// tried / read per column; when the band of that rate over the whole text
// would hold enough of the column's words, the distance of the texts' first
// kEstimateChars characters, scaled to their length, must say so too: texts
// with many insertions and deletions make the band stop early as well. A
// text shorter than that sample keeps to the bands.
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
  if (m < kEstimateFrom || n < kEstimateChars || !wide(tried, read)) return false;
  return wide(full_scan<Metric>(masks, begin, kEstimateChars, text, kEstimateChars), kEstimateChars);
}

// A pattern of more than 64 characters (positions `begin` to begin + m of
// `masks`) against a text of n: the band of k, or every word where the band
// would be as wide. Above k the result is some value above k, and `read`
// (if given) the columns the band read before it stopped.
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_scan(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                              std::size_t n, std::size_t k, std::size_t* read) noexcept {
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

}  // namespace quillstone::detail
