// The pieces of the Jaro-Winkler similarity that the scalar operation and its
// batch form share: the prefix-scale check, the match window, the score
// formula and the bit-parallel scan over a table of position masks.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <optional>

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

}  // namespace quillstone::detail::jw
