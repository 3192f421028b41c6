// Texts read 16 characters at a time as bytes, for the nibble lanes: a
// one-byte text as it is, a text of two-byte units narrowed to the bytes that
// the query's nibble tables know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/target.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

// Whether a sanitizer watches every byte read.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLSTONE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUILLSTONE_SANITIZED 1
#endif
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

// Byte k of the result is byte k + shift of `bytes`, zero past the last.
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i shift_down(__m128i bytes, std::size_t shift) noexcept {
  // Indices of 0x80 read zero.
  alignas(32) static constexpr std::uint8_t kShift[32] = {
      0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,
      0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
  return _mm_shuffle_epi8(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShift + shift)));
}

// Units from..from + 15 of a text of n units (from < n) as 16 bytes, each
// 16 units read by read.load(p); those past its end are arbitrary. A load
// of 16 units that would run past the text reads the 16 ending with its
// last unit instead and shifts them into place; a text shorter than 16
// units is read by a load that stays within a page the text is on, which
// cannot fault, or copied where the sanitizers watch.
template <class Windows, class Unit = typename Windows::Unit>
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i text_window(const Windows& read, const Unit* text,
                                                                       std::size_t from, std::size_t n) noexcept {
  if (from + 16 <= n) return read.load(text + from);
  if (n >= 16) return shift_down(read.load(text + n - 16), from + 16 - n);
#if defined(QUILLSTONE_SANITIZED)
  Unit copy[16] = {};
  std::memcpy(copy, text, n * sizeof(Unit));
  return read.load(copy);
#else
  // Pages are at least 4 KiB. Sixteen units from the text's start stay in
  // its first page, or else the 16 ending with its last unit are in its
  // first page or the page its end is on.
  constexpr std::uintptr_t kPage = 4096;
  if ((reinterpret_cast<std::uintptr_t>(text) & (kPage - 1)) <= kPage - 16 * sizeof(Unit)) return read.load(text);
  return shift_down(read.load(text + n - 16), 16 - n);
#endif
}

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

// Whether any of the n units of a two-byte text is `one` or `other`: 16
// units a window.
[[gnu::target("avx2")]] inline bool holds_either(const char16_t* units, std::size_t n, char16_t one,
                                                  char16_t other) noexcept {
  struct Matches {
    __m256i one, other;
    [[gnu::target("avx2"), gnu::always_inline]] __m128i load(const char16_t* p) const noexcept {
      const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i found = _mm256_or_si256(_mm256_cmpeq_epi16(units, one), _mm256_cmpeq_epi16(units, other));
      return low_bytes_of(_mm256_srli_epi16(found, 8));
    }
  };
  const Matches read{_mm256_set1_epi16(static_cast<short>(one)), _mm256_set1_epi16(static_cast<short>(other))};
  for (std::size_t from = 0; from < n; from += 16) {
    auto found = static_cast<unsigned>(_mm_movemask_epi8(text_window(read, units, from, n)));
    if (n - from < 16) found &= (1u << (n - from)) - 1;  // the rest are not the text's
    if (found != 0) return true;
  }
  return false;
}

#endif

}  // namespace quillstone::detail
