// Texts read into vectors in place: 16 units at a time made into 16 bytes by
// a reader, or 32 bytes of units as they are; without reading past a text's
// page, and with no read past its end where a sanitizer watches.
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

// Whether `bytes` bytes from `at` lie in the page `at` is on: pages are at
// least 4 KiB, so such a load cannot fault, whatever lies past the text.
inline bool stays_in_page(const void* at, std::size_t bytes) noexcept {
  constexpr std::uintptr_t kPage = 4096;
  return (reinterpret_cast<std::uintptr_t>(at) & (kPage - 1)) <= kPage - bytes;
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
  // Sixteen units from the text's start stay in its first page, or else the
  // 16 ending with its last unit are in its first page or the page its end
  // is on.
  if (stays_in_page(text, 16 * sizeof(Unit))) return read.load(text);
  return shift_down(read.load(text + n - 16), 16 - n);
#endif
}

// The 32 bytes of units from `from` on of a text of n units (from < n);
// those past its end are arbitrary. A load that would run past the text
// stays within the page it starts on, which cannot fault, or else the rest
// of the text is copied (so too where the sanitizers watch).
template <class Unit>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i text_vector(const Unit* text, std::size_t from,
                                                                      std::size_t n) noexcept {
  constexpr std::size_t kUnits = 32 / sizeof(Unit);
  const Unit* at = text + from;
  if (from + kUnits <= n) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
#if !defined(QUILLSTONE_SANITIZED)
  if (stays_in_page(at, 32)) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
#endif
  Unit copy[kUnits] = {};
  std::memcpy(copy, at, (n - from) * sizeof(Unit));
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(copy));
}

#endif

}  // namespace quillstone::detail
