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
// The plan, top to bottom below: the scalar operation settles the length
// bound and empty texts, strips the affixes, gives small bounds on long
// texts to the edit sequences or the diagonals (bounded.hpp), and the rest
// to one_off_distance, which compares a short pattern's characters, tries a
// single-word band, or builds the pattern's masks (pattern.hpp), past 64
// characters for the bands or the whole column (long_pattern.hpp). Every
// threshold it weighs is in thresholds.hpp.
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
#include "edit/long_pattern.hpp"
#include "edit/pattern.hpp"
#include "edit/prefilters.hpp"
#include "edit/recurrence.hpp"
#include "edit/thresholds.hpp"
#include "masks/growing_masks.hpp"
#include "text/affixes.hpp"
#include "text/prepared.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// A pattern of m characters against a text of n >= m, both without common
// affixes (below).
template <EditMetric Metric, class Reader>
std::size_t one_off_distance(TextView pattern, std::size_t m, bool narrow, TextView text_units, Reader text,
                             std::size_t n, std::size_t k) noexcept;

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

// A pattern of m characters against a text of n >= m, both without common
// affixes, for one call: short patterns and single-word bands compare the
// pattern's characters directly; the rest build the pattern's masks.
template <EditMetric Metric, class Reader>
std::size_t one_off_distance(TextView pattern, std::size_t m, bool narrow, TextView text_units, Reader text,
                             std::size_t n, std::size_t k) noexcept {
  const auto compared = [&](auto run) {
    if (narrow) return run(static_cast<const ComparedPattern<unsigned char>*>(nullptr));
    return run(static_cast<const ComparedPattern<char32_t>*>(nullptr));
  };
  // One word of compared characters for the column.
  if (m <= (narrow ? kComparedByteChars : kComparedChars)) {
    return compared([&](auto* type) {
      using Compared = std::remove_cv_t<std::remove_pointer_t<decltype(type)>>;
      const Compared chars(pattern, m, 0, 16);
      return chars.with_chunks(m, [&](auto window) {
        return column_scan<Metric>(m, text, n, [&](auto c) { return window(c, 0); }, k);
      });
    });
  }
  if (m <= kWordBits) return EditPattern<Metric>(pattern).scan(0, m, text, n, k);
  std::size_t excess = 0;
  bool single = false;  // under a cutoff, a single-word band to try on the masks first
  // The rows of the single-word band tried, and the columns it read before
  // it failed (0 if none was).
  std::size_t single_tried = 0, single_read = 0;
  // Without a cutoff a pattern of a few words tries only a narrow band, and
  // only on texts that look alike: the whole column costs little more than
  // a band that fails.
  const bool few = k >= kUnbounded && m <= kFewWords * kWordBits;
  static_assert(kLikenessBytes <= kWordBits);  // both texts have more characters
  if (n - m <= kWordBand && (!few || look_alike(pattern, text_units))) {
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
  if (k >= kUnbounded) return EditPattern<Metric>(pattern).scan(0, m, text, n, k, excess);
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
    return long_pattern_distance<Metric>(masks, 0, m, text, n, k, excess);
  };
  if (narrow) return run(GrowingMasks(pattern), std::true_type{});
  return run(GrowingMasks(pattern), std::false_type{});
}

}  // namespace quillstone::detail
