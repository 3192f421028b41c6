// Cheap looks at two texts that choose a way of computing their distance,
// or settle it against a bound, before any column is computed.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "edit/thresholds.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// ---------------------------------------------------------------- likeness

// Whether two texts of at least kLikenessBytes bytes look like near-
// duplicates at either end: most of 16 bytes from the start (or the end) of
// one are found in the other at the same place or up to two bytes off. A
// few edits leave most of them; unrelated texts of any language match a few.
// Only chooses between ways of computing the same distance.

inline bool look_alike(TextView a, TextView b) noexcept {
  const auto matches = [](const auto* x, const auto* y) {
    // x[0..16) against y[d..d + 16) for d = 0..4: x sits two characters in.
#if defined(__SSE2__)
    if constexpr (sizeof(*x) == 1 && sizeof(*y) == 1) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
      __m128i any = _mm_setzero_si128();
      for (int d = 0; d <= 4; ++d) {
        any = _mm_or_si128(any, _mm_cmpeq_epi8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + d))));
      }
      return std::popcount(static_cast<unsigned>(_mm_movemask_epi8(any)));
    }
#endif
    int count = 0;
    for (int i = 0; i < 16; ++i) {
      bool any = false;
      for (int d = 0; d <= 4; ++d) any |= char32_t{x[i]} == char32_t{y[i + d]};
      count += any;
    }
    return count;
  };
  return with_units(a, [&](const auto* x) {
    return with_units(b, [&](const auto* y) {
      return matches(x + 2, y) >= kLikeBytes || matches(x + a.size() - 18, y + b.size() - 20) >= kLikeBytes;
    });
  });
}

// ---------------------------------------------------------------- counting

// A lower bound on both distances from character counts: an insertion or a
// deletion changes one count by one, a substitution at most two, a
// transposition none, so at least (L1 + |m - n|) / 2 edits separate texts
// whose counts differ by L1 in all. Characters are counted by their low
// byte, which puts each one in exactly one class: coarser classes only
// lower the bound.
inline std::size_t count_bound(TextView a, TextView b) noexcept {
  // Four tables, so that runs of one byte do not wait on each other.
  std::int64_t counts[4][256] = {};
  const auto tally = [&](TextView text, std::int64_t step) {
    with_units(text, [&](const auto* p) {
      std::size_t i = 0;
      for (; i + 4 <= text.size(); i += 4) {
        counts[0][p[i] & 0xFF] += step;
        counts[1][p[i + 1] & 0xFF] += step;
        counts[2][p[i + 2] & 0xFF] += step;
        counts[3][p[i + 3] & 0xFF] += step;
      }
      for (; i < text.size(); ++i) counts[0][p[i] & 0xFF] += step;
    });
  };
  tally(a, 1);
  tally(b, -1);
  const std::size_t m = a.size(), n = b.size();
  std::size_t l1 = m > n ? m - n : n - m;
  for (std::size_t c = 0; c < 256; ++c) {
    const std::int64_t d = counts[0][c] + counts[1][c] + counts[2][c] + counts[3][c];
    l1 += static_cast<std::size_t>(d < 0 ? -d : d);
  }
  return (l1 + 1) / 2;
}

// Whether the first kCountSample characters of two texts (or all of the
// shorter) differ in at least kCountsApart of 4 counts, as texts in other
// letters or scripts do.
inline bool counts_look_apart(TextView a, TextView b) noexcept {
  const std::size_t sample = std::min({a.size(), b.size(), kCountSample});
  std::int16_t counts[256] = {};
  const auto tally = [&](TextView text, std::int16_t step) {
    with_units(text, [&](const auto* p) {
      for (std::size_t i = 0; i < sample; ++i) counts[p[i] & 0xFF] += step;
    });
  };
  tally(a, 1);
  tally(b, -1);
  std::size_t apart = 0;  // of 2 * sample: each unmatched character once
  for (const std::int16_t count : counts) apart += static_cast<std::size_t>(count < 0 ? -count : count);
  return 4 * apart >= kCountsApart * 2 * sample;
}

// Whether the counts of two long texts, read whole, may bound their distance
// above a cutoff: when they look apart in a sample (other scripts), or
// unless a band of `tried` rows failed after `read` columns (0: none was
// tried) within kCountSlowGrowth columns a row. Near-duplicates whose many
// edits change their counts too fail such a band slowly; the distance of
// unrelated texts of one alphabet grows by half a row a column or more,
// and their counts differ far less.
inline bool counts_may_bound(TextView a, TextView b, std::size_t tried, std::size_t read) noexcept {
  return read == 0 || read > kCountSlowGrowth * tried || counts_look_apart(a, b);
}

}  // namespace quillstone::detail
