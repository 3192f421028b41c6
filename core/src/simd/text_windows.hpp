// Texts read 16 units at a time into a vector, each window of 16 units made
// into 16 bytes by a reader: without reading past a text's page, and with
// no read past its end where a sanitizer watches.
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

// The low bytes of sixteen 16-bit lanes that each hold 0 to 255, in order.
[[gnu::target("avx2"), gnu::always_inline]] inline __m128i low_bytes_of(__m256i lanes) noexcept {
  return _mm_packus_epi16(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
}

// Whether any of the n units of a two-byte text is `one` or `other`: 16
// units a window.
[[gnu::target("avx2")]] inline bool holds_either_avx2(const char16_t* units, std::size_t n, char16_t one,
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

inline bool holds_either_baseline(const char16_t* units, std::size_t n, char16_t one, char16_t other) noexcept {
  unsigned found = 0;
  for (std::size_t i = 0; i < n; ++i) found |= unsigned{units[i] == one} | unsigned{units[i] == other};
  return found != 0;
}

// Calls scan(holds) once, where holds(units, n) tells whether any of the n
// units of a two-byte text is `one` or `other`, compiled together with
// scan for the best target the processor runs.
template <class Scan>
void with_either_search(char16_t one, char16_t other, Scan scan) noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  if (runs(VectorTarget::kAvx2)) {
    return run_avx2([&] {
      scan([&](const char16_t* units, std::size_t n) { return holds_either_avx2(units, n, one, other); });
    });
  }
#endif
  scan([&](const char16_t* units, std::size_t n) { return holds_either_baseline(units, n, one, other); });
}

}  // namespace quillstone::detail
