// The common prefix and suffix of two texts.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "text/utf8.hpp"

namespace quillstone::detail {

// The common prefix and suffix of two texts, in bytes. The affixes end on
// character boundaries and do not overlap.
struct Affixes {
  std::size_t prefix_bytes = 0, suffix_bytes = 0;

  // What is left of either text between them.
  TextView rest(TextView text) const noexcept {
    return text.substr(prefix_bytes, text.size() - prefix_bytes - suffix_bytes);
  }
  // Their characters, counted in either text.
  std::size_t prefix_chars(TextView text, bool ascii) const noexcept {
    return ascii ? prefix_bytes : count_chars(text.substr(0, prefix_bytes));
  }
  std::size_t suffix_chars(TextView text, bool ascii) const noexcept {
    return ascii ? suffix_bytes : count_chars(text.substr(text.size() - suffix_bytes));
  }
};

inline bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Equal leading characters of a and b, at most `limit`: bytes, or decoded
// characters (equal when all their bytes are), 16 bytes at a time.
template <class Char>
inline std::size_t equal_run(const Char* a, const Char* b, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16 / sizeof(Char);
  for (; i + kStep <= limit; i += kStep) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same)) / sizeof(Char);
  }
#endif
  if constexpr (sizeof(Char) == 1 && std::endian::native == std::endian::little) {
    for (; i + 8 <= limit; i += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
    }
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// Equal trailing bytes of the texts ending at a_end and b_end, at most `limit`.
inline std::size_t equal_run_back(const char* a_end, const char* b_end, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= limit; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_end - i - 16));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b_end - i - 16));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countl_one(same << 16));
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= limit; i += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a_end - i - 8, 8);
      std::memcpy(&y, b_end - i - 8, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countl_zero(x ^ y)) / 8;
    }
  }
  while (i < limit && *(a_end - 1 - i) == *(b_end - 1 - i)) ++i;
  return i;
}


inline Affixes common_affixes(TextView a, TextView b, bool ascii) noexcept {
  Affixes out;
  const std::size_t shortest = std::min(a.size(), b.size());
  std::size_t p = equal_run(a.data(), b.data(), shortest);
  // A difference inside a character moves the prefix back to its start
  // (equal bytes before it put the same boundaries in both texts).
  if (!ascii) {
    while (p > 0 && p < shortest && is_continuation(a[p])) --p;
  }
  std::size_t s = equal_run_back(a.data() + a.size(), b.data() + b.size(), shortest - p);
  // Equal bytes from the end may begin inside a character: move past it.
  if (!ascii) {
    while (s > 0 && is_continuation(a[a.size() - s])) --s;
  }
  out.prefix_bytes = p;
  out.suffix_bytes = s;
  return out;
}

}  // namespace quillstone::detail
