// The batch's query in vector lanes, its masks made from each byte's two
// nibbles: for queries of up to 16 characters against one-byte candidates.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "edit/nibble_windows.hpp"
#include "edit/query_lanes.hpp"
#include "edit/recurrence.hpp"
#include "simd/lane_vectors.hpp"
#include "simd/length_groups.hpp"
#include "simd/target.hpp"
#include "text/case_folding.hpp"
#include "text/units.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

namespace quillstone::detail {

// With 16 or 32 candidates to a vector, looking each lane's mask up in the
// table, a load and a store a lane, costs the lanes path more than the
// recurrence that the whole vector shares. A byte's mask is instead the AND
// of two 16-entry tables, one indexed by its low nibble and one by its high
// nibble, which a byte shuffle reads for 16 bytes at once. That holds when
// each pattern position's set of matching bytes is a product of a set of low
// and a set of high nibbles: a single byte is, and so is a letter with its
// other case (the two differ in one bit of the high nibble). Candidates are
// read 16 characters at a time and turned into columns by a byte transpose.
struct NibbleMasks {
  // tables[k] holds the low-nibble table of mask byte k, then the high one:
  // mask bits 8k to 8k + 7.
  alignas(16) std::uint8_t tables[2][2][16] = {};

  // The tables of `masks`, a table of 256 whose masks use bits 0 to 15;
  // false when some byte's mask is not the AND of its nibbles' entries.
  bool build(const std::uint64_t* masks) noexcept {
    *this = NibbleMasks();
    for (std::size_t c = 0; c < 256; ++c) {
      for (std::size_t k = 0; k < 2; ++k) {
        const auto byte = static_cast<std::uint8_t>(masks[c] >> (8 * k));
        tables[k][0][c & 15] |= byte;
        tables[k][1][c >> 4] |= byte;
      }
    }
    for (std::size_t c = 0; c < 256; ++c) {
      for (std::size_t k = 0; k < 2; ++k) {
        const auto byte = static_cast<std::uint8_t>(masks[c] >> (8 * k));
        if ((tables[k][0][c & 15] & tables[k][1][c >> 4]) != byte) return false;
      }
    }
    return true;
  }
};

// The nibble tables of two-byte candidates narrowed to bytes (`narrowing`,
// made here) against a query whose byte masks are `bytes`, a table of 256,
// and whose characters' masks are masks.lookup(c): each of its characters
// from U+0100 to U+FFFF is lent a byte that the query lacks. False when 255,
// where every other unit goes, is the query's, when those characters are
// too many, or when the tables cannot hold the masks.
template <class Masks>
bool narrowed_nibble_masks(TextView query, const std::uint64_t* bytes, const Masks& masks, UnitNarrowing& narrowing,
                           NibbleMasks& out) noexcept {
  narrowing = UnitNarrowing();
  if (bytes[255] != 0) return false;
  std::uint64_t table[256];
  std::memcpy(table, bytes, sizeof table);
  std::size_t free = 0;
  for (std::size_t i = 0; i < query.size(); ++i) {
    const char32_t c = query[i];
    // Characters past U+FFFF are in no two-byte unit.
    if (c < 0x100 || c > 0xFFFF) continue;
    const char16_t* const first = narrowing.wide;
    const char16_t* const last = first + narrowing.pairs;
    if (std::find(first, last, static_cast<char16_t>(c)) != last) continue;
    while (free < 255 && table[free] != 0) ++free;
    if (free == 255 || narrowing.lent == UnitNarrowing::kMaxLent) return false;
    narrowing.lent_byte[narrowing.lent++] = static_cast<std::uint8_t>(free);
    narrowing.pair(static_cast<char16_t>(c), static_cast<std::uint8_t>(free));
    table[free] = masks.lookup(c);
  }
  return out.build(table);
}

// Makes `narrowing`, made above for a lower-cased query, read candidates as
// they come, unfolded: each unit above U+00FF whose lower case alone is one
// of the query's characters reads as that character's byte, and any other
// as 255. The bytes' tables already hold each byte's lower case. A unit
// whose lower case is not one character alone (kCapitalDottedI,
// kCapitalSigma) must not be read this way. False when the units to pair
// are too many.
inline bool fold_narrowing(TextView query, UnitNarrowing& narrowing) noexcept {
  UnitNarrowing folded = narrowing;
  folded.pairs = 0;
  for (std::size_t i = 0; i < query.size(); ++i) {
    const char32_t c = query[i];
    bool seen = c > 0xFFFF;
    for (std::size_t j = 0; j < i && !seen; ++j) seen = query[j] == c;
    if (seen) continue;
    std::uint8_t to = static_cast<std::uint8_t>(c);
    for (std::size_t k = 0; k < narrowing.pairs; ++k) {
      if (char32_t{narrowing.wide[k]} == c) to = narrowing.byte[k];
    }
    char16_t units[UnitNarrowing::kMaxPairs];
    const std::size_t count = wide_lower_preimages(c, units);
    if (count > UnitNarrowing::kMaxPairs) return false;
    for (std::size_t k = 0; k < count; ++k) {
      if (!folded.pair(units[k], to)) return false;
    }
  }
  narrowing = folded;
  return true;
}

#if defined(QUILLSTONE_WAVEFRONT)

// Transposes 16 rows of 16 bytes in place: byte j of row i becomes byte i of
// row j. Each round interleaves row i with row i + 8; four rounds move every
// byte to its place.
template <class V, V (*Low)(V, V), V (*High)(V, V)>
[[gnu::target("avx2"), gnu::always_inline]] inline void transpose16(V (&rows)[16]) noexcept {
  for (int round = 0; round < 4; ++round) {
    V next[16];
    for (int i = 0; i < 8; ++i) {
      next[2 * i] = Low(rows[i], rows[i + 8]);
      next[2 * i + 1] = High(rows[i], rows[i + 8]);
    }
    for (int i = 0; i < 16; ++i) rows[i] = next[i];
  }
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m128i low_bytes(__m128i a, __m128i b) noexcept {
  return _mm_unpacklo_epi8(a, b);
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i high_bytes(__m128i a, __m128i b) noexcept {
  return _mm_unpackhi_epi8(a, b);
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i low_bytes(__m256i a, __m256i b) noexcept {
  return _mm256_unpacklo_epi8(a, b);
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i high_bytes(__m256i a, __m256i b) noexcept {
  return _mm256_unpackhi_epi8(a, b);
}

// Mask byte k (bits 8k to 8k + 7) of 16 bytes, from the nibble tables; of
// 32 or 64 bytes, the tables read by each 16.
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i nibble_masks(const NibbleMasks& masks, std::size_t k,
                                                                        __m128i bytes) noexcept {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.tables[k][0]));
  const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.tables[k][1]));
  return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(bytes, nibble)),
                       _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble)));
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i nibble_masks(const NibbleMasks& masks, std::size_t k,
                                                                        __m256i bytes) noexcept {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(masks.tables[k][0])));
  const __m256i high = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(masks.tables[k][1])));
  return _mm256_and_si256(_mm256_shuffle_epi8(low, _mm256_and_si256(bytes, nibble)),
                          _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
}
[[gnu::target(QUILLSTONE_AVX512), gnu::always_inline]] inline __m512i nibble_masks(const NibbleMasks& masks,
                                                                                   std::size_t k,
                                                                                   __m512i bytes) noexcept {
  const __m512i nibble = _mm512_set1_epi8(0x0F);
  const __m512i low = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(masks.tables[k][0])));
  const __m512i high = _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(masks.tables[k][1])));
  return _mm512_and_si512(_mm512_shuffle_epi8(low, _mm512_and_si512(bytes, nibble)),
                          _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(bytes, 4), nibble)));
}

// Columns from..from + 15 of 32 equal-length texts, the bytes of texts 0 to
// 15 in the low half of each column and of 16 to 31 in the high half.
template <class Windows>
[[gnu::target("avx2"), gnu::always_inline]] inline void window_columns(const Windows& read,
                                                                       const typename Windows::Unit* const* texts,
                                                                       std::size_t from, std::size_t n,
                                                                       __m256i (&columns)[16]) noexcept {
  for (std::size_t lane = 0; lane < 16; ++lane) {
    columns[lane] = _mm256_set_m128i(read(texts[lane + 16], from, n), read(texts[lane], from, n));
  }
  transpose16<__m256i, low_bytes, high_bytes>(columns);
}
// The masks of `columns` (up to 16) columns from column `from` on, of a
// vector of candidates of length n, lane i holding texts[i]; one overload
// for each vector of lanes. Not forced inline: each is inlined into the
// kernel of its own target, which alone may hold its instructions.
template <class Windows>
[[gnu::target("avx2")]] inline void nibble_block(const NibbleMasks& masks, const Windows& read,
    const typename Windows::Unit* const (&texts)[16],
                                                 std::size_t from, std::size_t n, std::size_t columns,
                                                 Lanes16 (&pm)[16]) noexcept {
  __m128i rows[16];
  for (std::size_t lane = 0; lane < 16; ++lane) rows[lane] = read(texts[lane], from, n);
  transpose16<__m128i, low_bytes, high_bytes>(rows);
  for (std::size_t j = 0; j < columns; ++j) {
    const __m128i low = nibble_masks(masks, 0, rows[j]), high = nibble_masks(masks, 1, rows[j]);
    pm[j] = (Lanes16)_mm256_set_m128i(_mm_unpackhi_epi8(low, high), _mm_unpacklo_epi8(low, high));
  }
}
template <class Windows>
[[gnu::target("avx2")]] inline void nibble_block(const NibbleMasks& masks, const Windows& read,
    const typename Windows::Unit* const (&texts)[32],
                                                 std::size_t from, std::size_t n, std::size_t columns,
                                                 Lanes8 (&pm)[16]) noexcept {
  __m256i rows[16];
  window_columns(read, texts, from, n, rows);
  for (std::size_t j = 0; j < columns; ++j) pm[j] = (Lanes8)nibble_masks(masks, 0, rows[j]);
}
template <class Windows>
[[gnu::target(QUILLSTONE_AVX512)]] inline void nibble_block(const NibbleMasks& masks, const Windows& read,
    const typename Windows::Unit* const (&texts)[32], std::size_t from,
                                                            std::size_t n, std::size_t columns,
                                                            WideLanes16 (&pm)[16]) noexcept {
  __m256i rows[16];
  window_columns(read, texts, from, n, rows);
  for (std::size_t j = 0; j < columns; ++j) {
    const __m512i low = _mm512_cvtepu8_epi16(nibble_masks(masks, 0, rows[j]));
    const __m512i high = _mm512_cvtepu8_epi16(nibble_masks(masks, 1, rows[j]));
    pm[j] = (WideLanes16)_mm512_or_si512(low, _mm512_slli_epi16(high, 8));
  }
}
template <class Windows>
[[gnu::target(QUILLSTONE_AVX512)]] inline void nibble_block(const NibbleMasks& masks, const Windows& read,
    const typename Windows::Unit* const (&texts)[64], std::size_t from,
                                                            std::size_t n, std::size_t columns,
                                                            WideLanes8 (&pm)[16]) noexcept {
  // Lanes 0 to 31 and 32 to 63 are transposed as two 256-bit halves, by the
  // AVX2 transpose, and joined column by column.
  __m256i rows[2][16];
  for (std::size_t half = 0; half < 2; ++half) window_columns(read, texts + 32 * half, from, n, rows[half]);
  for (std::size_t j = 0; j < columns; ++j) {
    pm[j] = (WideLanes8)nibble_masks(masks, 0, _mm512_inserti64x4(_mm512_castsi256_si512(rows[0][j]), rows[1][j], 1));
  }
}

// Up to two vectors of candidates, each of one length (n[0] and n[1]; a
// second vector of length 0 is absent), against a query of m characters:
// lanes of 16 bits (m of 9 to 16) or of 8 (m up to 8), in vectors of
// `Bytes`. A column's step is one chain of dependent operations; with its
// masks this cheap, the second vector's chain fills the time the first
// waits on it. Portable vector code, run through the kernels of one target
// (nibble_path).
template <class Lane, std::size_t Bytes, EditMetric Metric, class Windows>
void nibble_distance_lanes(const NibbleMasks& masks, const Windows& read, std::size_t m,
                           const typename Windows::Unit* const (&texts)[2][kLanesOf<Lane, Bytes>],
                           const std::size_t (&n)[2],
                           std::size_t (&out)[2][kLanesOf<Lane, Bytes>]) noexcept {
  using Vec = typename LaneVector<Lane, Bytes>::type;
  constexpr std::size_t kLanes = kLanesOf<Lane, Bytes>;
  ColumnWord<Metric, Vec> column[2];
  Vec hp, hn;
  for (std::size_t from = 0; from < n[0] || from < n[1]; from += 16) {
    Vec pm[2][16];
    std::size_t columns[2];
    for (std::size_t v = 0; v < 2; ++v) {
      columns[v] = from >= n[v] ? 0 : n[v] - from < 16 ? n[v] - from : 16;
      if (columns[v] != 0) nibble_block(masks, read, texts[v], from, n[v], columns[v], pm[v]);
    }
    const std::size_t both = columns[0] < columns[1] ? columns[0] : columns[1];
    for (std::size_t j = 0; j < both; ++j) {
      column[0].step(pm[0][j], hp, hn);
      column[1].step(pm[1][j], hp, hn);
    }
    // Each vector's own index is a constant, so that its state stays in registers.
    for (std::size_t j = both; j < columns[0]; ++j) column[0].step(pm[0][j], hp, hn);
    for (std::size_t j = both; j < columns[1]; ++j) column[1].step(pm[1][j], hp, hn);
  }
  for (std::size_t v = 0; v < 2; ++v) {
    Vec score;
    last_column_distance<Lane>(column[v], m, n[v], score);
    for (std::size_t lane = 0; lane < kLanes; ++lane) out[v][lane] = score[lane];
  }
}

// The candidates `which`, of 1 to kQueryLaneMaxChars characters each, read
// as bytes by `read`, against a query of 1 to 16 characters whose masks the
// nibble tables give, grouped by length into full vectors of `Bytes`, two
// at a time.
template <EditMetric Metric, class Lane, std::size_t Bytes, class Windows>
void nibble_path_lanes(const NibbleMasks& masks, const Windows& read, std::size_t m,
                       std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                       std::size_t* out) noexcept {
  constexpr std::size_t kLanes = kLanesOf<Lane, Bytes>;
  using Unit = typename Windows::Unit;
  score_length_groups<kLanes, Unit>(
      candidates, which, count, true,
      [&](const Unit* const (&texts)[2][kLanes], const std::size_t (&n)[2], std::size_t (&scores)[2][kLanes]) {
        const auto kernel = [&] { nibble_distance_lanes<Lane, Bytes, Metric>(masks, read, m, texts, n, scores); };
        if constexpr (Bytes == kWideVectorBytes) {
          run_avx512(kernel);
        } else {
          run_avx2(kernel);
        }
      },
      out);
}

// Lanes of 8 bits for a query of up to 8 characters, of 16 bits otherwise,
// in vectors of `Bytes`.
template <EditMetric Metric, std::size_t Bytes, class Windows>
void nibble_path_of_width(const NibbleMasks& masks, const Windows& read, std::size_t m,
                          std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                          std::size_t* out) noexcept {
  if (m <= 8) return nibble_path_lanes<Metric, std::uint8_t, Bytes>(masks, read, m, candidates, which, count, out);
  nibble_path_lanes<Metric, std::uint16_t, Bytes>(masks, read, m, candidates, which, count, out);
}

// In 512-bit vectors where the processor has AVX-512: twice the lanes for
// the same chain of steps.
template <EditMetric Metric, class Windows>
void nibble_path_read(const NibbleMasks& masks, const Windows& read, std::size_t m,
                      std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                      std::size_t* out) noexcept {
  if (runs(VectorTarget::kAvx512)) {
    return nibble_path_of_width<Metric, kWideVectorBytes>(masks, read, m, candidates, which, count, out);
  }
  nibble_path_of_width<Metric, kVectorBytes>(masks, read, m, candidates, which, count, out);
}

// One-byte candidates, read as they are.
template <EditMetric Metric>
void nibble_path(const NibbleMasks& masks, std::size_t m, std::span<const TextView> candidates,
                 const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  nibble_path_read<Metric>(masks, ByteWindows{}, m, candidates, which, count, out);
}

// Two-byte candidates, narrowed to bytes as `narrowing` says.
template <EditMetric Metric>
void nibble_path(const NibbleMasks& masks, const UnitNarrowing& narrowing, std::size_t m,
                 std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                 std::size_t* out) noexcept {
  nibble_path_read<Metric>(masks, UnitWindows{&narrowing}, m, candidates, which, count, out);
}

#endif

// Whether nibble_path runs here: a query of up to 16 characters, on a
// processor with AVX2.
inline bool nibble_path_runs(std::size_t m) noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  return m <= 16 && runs(VectorTarget::kAvx2);
#else
  static_cast<void>(m);
  return false;
#endif
}

}  // namespace quillstone::detail
