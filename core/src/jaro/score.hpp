// The pieces of the Jaro-Winkler similarity that the scalar operation and its
// batch form share: the prefix-scale check, the match window, the score
// formula and the bit-parallel scan over a table of position masks.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/units.hpp"

// Scores must be the same on every target, bit for bit: wider intermediates
// (x87 without -mfpmath=sse) would round twice.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "double arithmetic must evaluate in double (FLT_EVAL_METHOD 0); on 32-bit x86 build with -msse2 -mfpmath=sse"
#endif

namespace quillstone::detail::jw {

inline constexpr double kDefaultPrefixScale = 0.1;
inline constexpr double kMaxPrefixScale = 0.25;
inline constexpr double kBoostThreshold = 0.7;
inline constexpr double kJaroDivisor = 3.0;
inline constexpr std::size_t kMaxPrefix = 4;

// Texts of at most this many characters: positions fit one 64-bit word.
inline constexpr std::size_t kWordChars = 64;
// The plain scan on characters widened into the frame takes texts up to
// this length (the dispatch gives it fewer: kPlainScanMax).
inline constexpr std::size_t kSmallChars = kWordChars;

// The prefix scale after defaulting. NaN fails both comparisons, so it is
// rejected by the first; -0.0 compares equal to 0 and passes.
inline Result<double> checked_prefix_scale(std::optional<double> p) noexcept {
  if (!p) return kDefaultPrefixScale;
  const double value = *p;
  if (!(value >= 0.0)) return InvalidPrefixScale{value};
  if (!(value <= kMaxPrefixScale)) return InvalidPrefixScale{value};
  return value;
}

// Positions i and j may match when |i - j| <= window.
inline std::size_t match_window(std::size_t n1, std::size_t n2) noexcept {
  const std::size_t half = std::max(n1, n2) / 2;
  return half == 0 ? 0 : half - 1;
}

// Leading positions, at most `limit`, at which `equal(k)` holds, up to the
// first that differs.
template <class Equal>
inline std::size_t prefix_length(std::size_t limit, Equal equal) noexcept {
  std::size_t k = 0;
  while (k < limit && equal(k)) ++k;
  return k;
}

// The score from the counts. Every path ends here, so the floating-point
// operations happen in one fixed order and every path rounds alike. Each
// intermediate is a named double so that no wider precision survives it and
// no multiply-add is fused across statements.
inline double score(std::size_t m, std::size_t t, std::size_t n1, std::size_t n2,
                    std::size_t prefix, double p) noexcept {
  if (m == 0) return 0.0;
  const double matches = static_cast<double>(m);
  const double a = matches / static_cast<double>(n2);
  const double b = a + matches / static_cast<double>(n1);
  const double c = static_cast<double>(m - t / 2) / matches;
  const double jaro = (b + c) / kJaroDivisor;
  if (!(jaro > kBoostThreshold)) return jaro;
  const double scaled = p * static_cast<double>(prefix);
  const double bonus = (1.0 - jaro) * scaled;
  return jaro + bonus;
}

#if defined(__SSE2__)
// score() of two candidates of one length n1 at once, into out[0] and
// out[1]: the same operations in the same order, each lane of a packed
// double operation rounding as the scalar one does, so the same bits. A
// lane without matches divides by zero and is then set to 0.
inline void score_pair(const std::size_t (&m)[2], const std::size_t (&t)[2], std::size_t n1, std::size_t n2,
                       const std::size_t (&prefix)[2], double p, double* out) noexcept {
  const auto pair = [](std::size_t low, std::size_t high) {
    return _mm_set_pd(static_cast<double>(high), static_cast<double>(low));
  };
  const __m128d matches = pair(m[0], m[1]);
  const __m128d a = _mm_div_pd(matches, _mm_set1_pd(static_cast<double>(n2)));
  const __m128d b = _mm_add_pd(a, _mm_div_pd(matches, _mm_set1_pd(static_cast<double>(n1))));
  const __m128d c = _mm_div_pd(pair(m[0] - t[0] / 2, m[1] - t[1] / 2), matches);
  const __m128d jaro = _mm_div_pd(_mm_add_pd(b, c), _mm_set1_pd(kJaroDivisor));
  const __m128d scaled = _mm_mul_pd(_mm_set1_pd(p), pair(prefix[0], prefix[1]));
  const __m128d bonus = _mm_mul_pd(_mm_sub_pd(_mm_set1_pd(1.0), jaro), scaled);
  const __m128d boost = _mm_cmpgt_pd(jaro, _mm_set1_pd(kBoostThreshold));
  const __m128d scored = _mm_or_pd(_mm_and_pd(boost, _mm_add_pd(jaro, bonus)), _mm_andnot_pd(boost, jaro));
  _mm_storeu_pd(out, _mm_and_pd(scored, _mm_cmpneq_pd(matches, _mm_setzero_pd())));
}
#endif

}  // namespace quillstone::detail::jw
