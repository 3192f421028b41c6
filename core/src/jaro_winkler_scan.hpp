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
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "common.hpp"
#include "match_masks.hpp"

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

// ---------------------------------------------------------------- multi-word scan

// The mask table of a text holds a row of ceil(n / 64) words for every
// character code below U+0100 and for every distinct wider character. That is
// a fixed multiple of n for text drawn from a small alphabet, but grows with
// the product of length and alphabet for long text with thousands of distinct
// characters (a long CJK text). Past this many words (64 MiB), or eight words
// per character of the text if that is more, the plain loops take over, whose
// memory only follows the lengths.
inline constexpr std::size_t kMaskTableBudget = std::size_t{1} << 23;

inline bool mask_table_fits(std::size_t rows, std::size_t words, std::size_t n) noexcept {
  constexpr std::size_t kWordsPerChar = 8;
  const std::size_t per_char = n > std::numeric_limits<std::size_t>::max() / kWordsPerChar
                                   ? std::numeric_limits<std::size_t>::max()
                                   : n * kWordsPerChar;
  const std::size_t budget = std::max(kMaskTableBudget, per_char);
  return rows <= budget / words;
}

// Working storage of multiword_match, reusable from one scanned text to the
// next against the same table.
struct MultiWordScratch {
  std::vector<std::uint64_t> matched1, matched2;
  std::vector<std::uint32_t> cursor;   // one per row of the table, zero between scans
  std::vector<std::uint32_t> touched;  // the rows whose cursor a scan moved
};

// Jaro-Winkler of s1 (n1 characters, scanned) against s2 (n2 characters),
// whose W-word position masks `masks` holds; `find` finds their rows. Both
// non-empty. Position i of s1 looks for the lowest set bit of PM(s1[i]) AND
// NOT matched2 within [lo, hi), which is the first free position the plain
// scan would take. Only the words from lo to hi are candidates, and with
// `Cursors` fewer still: for each character, `cursor` marks the word below
// which its free positions all lie below the window. Since the window's low
// end and matched2 only grow, a word found empty from the low end upwards
// stays empty for that character, so every step costs a few words and each
// word of each row is skipped at most once. A window of a few words is
// searched faster without them.
template <bool Cursors, class Char1, class Char2>
double multiword_match_with(const MultiWordMasks& masks, RowFinder& find, const Char1* s1,
                            std::size_t n1, const Char2* s2, std::size_t n2,
                            MultiWordScratch& scratch, double p) noexcept {
  const std::size_t w = match_window(n1, n2);
  // From position n2 + w on, the window lies past the end of s2; no match
  // lies at or past position n1 + w of s2.
  const std::size_t scan_end = std::min(n1, n2 + w);
  const std::size_t words1 = (n1 + kWordBits - 1) / kWordBits;
  const std::size_t words2 = (std::min(n2, n1 + w) + kWordBits - 1) / kWordBits;
  scratch.matched1.assign(words1, 0);
  scratch.matched2.assign(words2, 0);
  if (Cursors && scratch.cursor.size() != masks.rows()) scratch.cursor.assign(masks.rows(), 0);
  std::uint64_t* matched1 = scratch.matched1.data();
  std::uint64_t* matched2 = scratch.matched2.data();
  std::uint32_t* cursor = scratch.cursor.data();
  scratch.touched.clear();

  std::size_t m = 0;
  for (std::size_t i = 0; i < scan_end; ++i) {
    const std::size_t r = find(s1[i]);
    const std::uint64_t* pm = masks.row(r);
    const std::size_t lo = i > w ? i - w : 0;
    const std::size_t hi = std::min(n2, i + w + 1);
    const std::size_t lo_word = lo / kWordBits, last_word = (hi - 1) / kWordBits;
    std::size_t k = Cursors ? std::max(static_cast<std::size_t>(cursor[r]), lo_word) : lo_word;
    if (k > last_word) continue;  // no free position of this character up to hi
    std::uint64_t free = pm[k] & ~matched2[k];
    if (k == lo_word) free &= ~std::uint64_t{0} << (lo % kWordBits);
    while (free == 0 && k < last_word) {
      ++k;
      free = pm[k] & ~matched2[k];
    }
    if constexpr (Cursors) {
      const std::size_t next = free == 0 ? k + 1 : k;
      if (cursor[r] != next) {
        if (cursor[r] == 0) scratch.touched.push_back(static_cast<std::uint32_t>(r));
        cursor[r] = static_cast<std::uint32_t>(next);
      }
    }
    if (free == 0) continue;
    const std::size_t j = k * kWordBits + static_cast<std::size_t>(std::countr_zero(free));
    if (j >= hi) continue;
    matched2[k] |= free & (0 - free);
    matched1[i / kWordBits] |= std::uint64_t{1} << (i % kWordBits);
    ++m;
  }
  for (const std::uint32_t r : scratch.touched) cursor[r] = 0;
  if (m == 0) return 0.0;

  // The matched positions of both texts in step, word by word.
  std::size_t t = 0;
  std::size_t ka = 0, kb = 0;
  std::uint64_t a = matched1[0], b = matched2[0];
  for (std::size_t left = m; left > 0; --left) {
    while (a == 0) a = matched1[++ka];
    while (b == 0) b = matched2[++kb];
    t += char32_t{s1[ka * kWordBits + static_cast<std::size_t>(std::countr_zero(a))]} !=
         char32_t{s2[kb * kWordBits + static_cast<std::size_t>(std::countr_zero(b))]};
    a &= a - 1;
    b &= b - 1;
  }
  const std::size_t prefix = prefix_length(
      std::min({kMaxPrefix, n1, n2}), [&](std::size_t k) { return char32_t{s1[k]} == char32_t{s2[k]}; });
  return score(m, t, n1, n2, prefix, p);
}

// Windows of up to this many words are searched without cursors.
inline constexpr std::size_t kCursorlessWords = 4;

template <class Char1, class Char2>
double multiword_match(const MultiWordMasks& masks, RowFinder& find, const Char1* s1,
                       std::size_t n1, const Char2* s2, std::size_t n2,
                       MultiWordScratch& scratch, double p) noexcept {
  const std::size_t window_words = (2 * match_window(n1, n2) + 1) / kWordBits + 2;
  return window_words <= kCursorlessWords
             ? multiword_match_with<false>(masks, find, s1, n1, s2, n2, scratch, p)
             : multiword_match_with<true>(masks, find, s1, n1, s2, n2, scratch, p);
}

// ---------------------------------------------------------------- lanes
//
// The batch scores many candidates against one query of 1 to 64 characters at
// once, one candidate per vector lane. A lane is as narrow as the query
// allows: bits above the query's last position never hold a match, so only
// fewer bits of the same words are kept. The candidates of one group all have
// the same length, so every lane runs the same steps with the same window.
// Each lane is given the query's position mask of each of its characters,
// column by column; everything else follows from those masks: the query holds
// character c at position j exactly where bit j of the mask of c is set.

inline constexpr std::size_t kVectorBytes = 32;
inline constexpr std::size_t kLaneMaxText = kWordChars;  // longer candidates run alone
inline constexpr std::size_t kMaxLanes = kVectorBytes;

// Match count, transposition count and prefix length of each lane.
struct LaneCounts {
  std::uint8_t m[kMaxLanes], t[kMaxLanes], prefix[kMaxLanes];
};

// `columns` holds n rows of kLanes masks, row i holding the masks of the
// lanes' characters at position i; n is 1 to kLaneMaxText, w the window.
template <class Lane>
inline void jaro_lanes(const Lane* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  typedef Lane Vec __attribute__((vector_size(kVectorBytes)));
  constexpr std::size_t kLanes = kVectorBytes / sizeof(Lane);
  constexpr std::size_t kLaneBits = 8 * sizeof(Lane);
  const Vec zero = Vec{} ^ Vec{};
  const Vec one = zero + 1;
  // The lowest w + 1 positions; bits past the lane would be lost to shifts anyway.
  const Lane first_window =
      w + 1 >= kLaneBits ? static_cast<Lane>(~Lane{0}) : static_cast<Lane>((Lane{1} << (w + 1)) - 1);
  Vec window = zero + first_window;
  Vec matched_q = zero, m = zero, prefix = zero, run = ~zero;
  Vec hit[kLaneMaxText];
  for (std::size_t i = 0; i < n; ++i) {
    Vec pm;
    std::memcpy(&pm, columns + i * kLanes, sizeof pm);
    const Vec c = pm & ~matched_q & window;
    // The lowest candidate is the first free position, as the plain scan takes it.
    matched_q |= c & (zero - c);
    hit[i] = (Vec)(c != zero);
    m -= hit[i];
    if (i < kMaxPrefix) {
      run &= (Vec)(((pm >> i) & one) != zero);
      prefix -= run;
    }
    window = (window << 1) | (i < w ? one : zero);
  }
  // The k-th matched candidate position against the k-th matched query
  // position: they differ where the query lacks the candidate's character
  // there.
  Vec rest = matched_q, t = zero;
  for (std::size_t i = 0; i < n; ++i) {
    Vec pm;
    std::memcpy(&pm, columns + i * kLanes, sizeof pm);
    const Vec low = rest & (zero - rest) & hit[i];
    t -= (Vec)((pm & low) == zero) & hit[i];
    rest &= ~low;
  }
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    out.m[lane] = static_cast<std::uint8_t>(m[lane]);
    out.t[lane] = static_cast<std::uint8_t>(t[lane]);
    out.prefix[lane] = static_cast<std::uint8_t>(prefix[lane]);
  }
}

// jaro_lanes for each lane width, compiled for AVX2 as well and chosen by what
// the processor has (jaro_winkler_lanes.cpp).
void jaro_lanes_8(const std::uint8_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_16(const std::uint16_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_32(const std::uint32_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_64(const std::uint64_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;

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
