// Texts read 16 characters at a time as bytes, for the nibble lanes: a
// one-byte text as it is, a text of two-byte units narrowed to the bytes that
// the query's nibble tables know.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simd/target.hpp"
#include "simd/text_windows.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

namespace quillstone::detail {

// How two-byte units become bytes against a query whose characters up to
// U+00FF are bytes of its tables and which lacks U+00FF: a unit up to U+00FE
// is its own byte and any other is 255, which matches nothing, but for the
// units of the pairs, each read as its byte. A query's characters above
// U+00FF are each lent a byte of its tables that the query lacks, and a unit
// equal to a lent byte is 255 in turn.
struct UnitNarrowing {
  static constexpr std::size_t kMaxLent = 4;
  // Room for a folding query's four lent characters in each of their cases
  // and the few wider characters that lower-case to a byte.
  static constexpr std::size_t kMaxPairs = 16;
  std::size_t lent = 0, pairs = 0;
  std::uint8_t lent_byte[kMaxLent] = {};
  char16_t wide[kMaxPairs] = {};
  std::uint8_t byte[kMaxPairs] = {};

  // Reads `unit` as `to`; false when the pairs are full.
  bool pair(char16_t unit, std::uint8_t to) noexcept {
    if (pairs == kMaxPairs) return false;
    wide[pairs] = unit;
    byte[pairs++] = to;
    return true;
  }
};

#if defined(QUILLSTONE_WAVEFRONT)

// Sixteen units as bytes in the low half of each 16-bit lane.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i narrow16(const UnitNarrowing& to, __m256i units) noexcept {
  const __m256i sink = _mm256_set1_epi16(255);
  __m256i bytes = _mm256_min_epu16(units, sink);
  for (std::size_t i = 0; i < to.lent; ++i) {
    bytes = _mm256_blendv_epi8(bytes, sink, _mm256_cmpeq_epi16(units, _mm256_set1_epi16(to.lent_byte[i])));
  }
  for (std::size_t i = 0; i < to.pairs; ++i) {
    const __m256i wide = _mm256_set1_epi16(static_cast<short>(to.wide[i]));
    bytes = _mm256_blendv_epi8(bytes, _mm256_set1_epi16(to.byte[i]), _mm256_cmpeq_epi16(units, wide));
  }
  return bytes;
}

// The low bytes of sixteen 16-bit lanes that each hold 0 to 255, in order.
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i low_bytes_of(__m256i lanes) noexcept {
  return _mm_packus_epi16(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
}

// The windows of the nibble lanes' texts, by their unit: a one-byte text as
// it is, a two-byte one narrowed.
struct ByteWindows {
  using Unit = unsigned char;
  [[gnu::target("avx2"), gnu::always_inline]] __m128i load(const unsigned char* p) const noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  [[gnu::target("avx2"), gnu::always_inline]] __m128i operator()(const unsigned char* text, std::size_t from,
                                                                  std::size_t n) const noexcept {
    return text_window(*this, text, from, n);
  }
};

struct UnitWindows {
  using Unit = char16_t;
  const UnitNarrowing* narrowing;
  [[gnu::target("avx2"), gnu::always_inline]] __m128i load(const char16_t* p) const noexcept {
    return low_bytes_of(narrow16(*narrowing, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
  }
  [[gnu::target("avx2"), gnu::always_inline]] __m128i operator()(const char16_t* text, std::size_t from,
                                                                  std::size_t n) const noexcept {
    return text_window(*this, text, from, n);
  }
};

#endif

}  // namespace quillstone::detail
