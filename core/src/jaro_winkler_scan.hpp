// The pieces of the Jaro-Winkler similarity that the scalar operation and its
// batch form share: the prefix-scale check, the match window, the score
// formula and the bit-parallel scan over a table of position masks.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "common.hpp"

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

// Both texts ASCII and at most this long: positions fit one 64-bit word.
inline constexpr std::size_t kWordChars = 64;
// Up to this length the plain scan beats building a mask table.
inline constexpr std::size_t kDirectScanMax = 16;
// The plain scan on characters decoded into the frame takes texts up to
// this length; it is chosen for non-ASCII texts up to kPlainScanMax, below
// which it beats building a character-indexed mask table.
inline constexpr std::size_t kSmallChars = kWordChars;
inline constexpr std::size_t kPlainScanMax = 44;

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

// ---------------------------------------------------------------- bit-parallel scan

// Bit j of entry c is set where the text holds byte c at position j.
using PositionMasks = std::array<std::uint64_t, 128>;

// Sets the position bits of `text` (ASCII, at most 64 bytes) in `masks`,
// which the caller has cleared.
inline void fill_position_masks(PositionMasks& masks, TextView text) noexcept {
  for (std::size_t j = 0; j < text.size(); ++j) {
    masks[static_cast<unsigned char>(text[j])] |= std::uint64_t{1} << j;
  }
}

// Byte maps applied to the scanned text before it meets the table.
struct KeepByte {
  unsigned char operator()(unsigned char c) const noexcept { return c; }
};
struct FoldAsciiByte {  // A to Z become a to z; everything else stays
  unsigned char operator()(unsigned char c) const noexcept {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
  }
};

// Jaro-Winkler of a scanned text of `ns` characters against a table text of
// `nt` characters, 1 to 64 each, whose positions `mask_of(c)` gives for each
// character c. `scanned(i)` and `table(j)` are the characters at i and j.
// Matching is symmetric: scanning either text finds the same matched
// positions, and the score's sum m/n2 + m/n1 does not depend on the order of
// its two terms, so either text may be the scanned one.
template <class Scanned, class Table, class MaskOf>
inline double word_scan(std::size_t ns, Scanned scanned, std::size_t nt, Table table,
                        MaskOf mask_of, double p) noexcept {
  const std::size_t w = match_window(ns, nt);  // at most 31 here

  // `window` covers table positions max(0, i - w) to i + w for scanned position i.
  std::uint64_t window = (std::uint64_t{2} << w) - 1;
  std::uint64_t matched_s = 0, matched_t = 0;
  for (std::size_t i = 0; i < ns; ++i) {
    const std::uint64_t candidates = mask_of(scanned(i)) & ~matched_t & window;
    // The lowest candidate is the first free position, as the plain scan takes it.
    matched_t |= candidates & (0 - candidates);
    matched_s |= std::uint64_t{candidates != 0} << i;
    window = (window << 1) | std::uint64_t{i < w};
  }
  if (matched_s == 0) return 0.0;

  const auto m = static_cast<std::size_t>(std::popcount(matched_s));
  std::size_t t = 0;
  for (std::uint64_t a = matched_s, b = matched_t; a != 0; a &= a - 1, b &= b - 1) {
    t += scanned(static_cast<std::size_t>(std::countr_zero(a))) !=
         table(static_cast<std::size_t>(std::countr_zero(b)));
  }
  const std::size_t prefix = prefix_length(std::min({kMaxPrefix, ns, nt}),
                                           [&](std::size_t k) { return scanned(k) == table(k); });
  return score(m, t, ns, nt, prefix, p);
}

// Jaro-Winkler of `scanned` against `table_text`, whose positions `masks`
// holds. Both are ASCII with 1 to 64 bytes; `fold` maps each scanned byte
// first.
template <class Fold>
inline double bit_parallel_score(const PositionMasks& masks, TextView table_text,
                                 TextView scanned, double p, Fold fold) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(scanned.data());
  const auto* q = reinterpret_cast<const unsigned char*>(table_text.data());
  return word_scan(
      scanned.size(), [&](std::size_t i) { return fold(s[i]); }, table_text.size(),
      [&](std::size_t j) { return q[j]; }, [&](unsigned char c) { return masks[c]; }, p);
}

// ---------------------------------------------------------------- scalar paths
//
// Steps 4 to 7 of the scalar operation on prepared, non-empty texts. Each
// gives the same score, bit for bit, wherever its precondition holds.

// Both texts ASCII with 1 to 64 bytes: plain loops, matched flags in words.
double direct_scan(TextView s1, TextView s2, double p) noexcept;

// Both texts ASCII with 1 to 64 bytes: s2 becomes the mask table, s1 is scanned.
double bit_parallel_scan(TextView s1, TextView s2, double p) noexcept;

// Any non-empty texts with n1 and n2 characters: decoded to 32-bit
// characters, plain loops, one flag byte per position. The operation no
// longer takes it; it stays as the plain form that every other scan must
// equal, bit for bit.
double general_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept;

// Non-empty texts of at most kSmallChars characters each: decoded into the
// frame, plain loops, matched flags in words.
double small_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept;

// Non-empty texts of at most 64 characters each: s2 decoded into a direct
// mask table for characters below U+0100 and a sorted map for the others,
// s1 scanned against it in one word.
double character_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept;

// Any non-empty texts: s2 becomes W = ceil(n2 / 64) words of position masks
// per character, s1 is scanned against them and each step touches only the
// words it needs. `ascii` when both texts are ASCII (read as bytes, not
// decoded). A long s2 with a vast alphabet, whose table would be too large,
// takes the plain loops instead.
double multiword_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, bool ascii,
                      double p) noexcept;

}  // namespace quillstone::detail::jw
