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

#include "text/units.hpp"

namespace quillstone::detail {

// The common prefix and suffix of two texts, in characters; they do not
// overlap.
struct Affixes {
  std::size_t prefix = 0, suffix = 0;

  // What is left of either text between them.
  TextView rest(TextView text) const noexcept { return text.substr(prefix, text.size() - prefix - suffix); }
};

// Equal leading units of a and b (of one width), at most `limit`, 16 bytes
// at a time, then 8.
template <class Unit>
inline std::size_t equal_run(const Unit* a, const Unit* b, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  for (; i + kStep <= limit; i += kStep) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same)) / sizeof(Unit);
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::size_t kWord = 8 / sizeof(Unit);
    for (; i + kWord <= limit; i += kWord) {
      std::uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / (8 * sizeof(Unit));
    }
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// Equal trailing units of the texts ending at a_end and b_end, at most `limit`.
template <class Unit>
inline std::size_t equal_run_back(const Unit* a_end, const Unit* b_end, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  for (; i + kStep <= limit; i += kStep) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_end - i - kStep));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b_end - i - kStep));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countl_one(same << 16)) / sizeof(Unit);
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::size_t kWord = 8 / sizeof(Unit);
    for (; i + kWord <= limit; i += kWord) {
      std::uint64_t x, y;
      std::memcpy(&x, a_end - i - kWord, 8);
      std::memcpy(&y, b_end - i - kWord, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countl_zero(x ^ y)) / (8 * sizeof(Unit));
    }
  }
  while (i < limit && *(a_end - 1 - i) == *(b_end - 1 - i)) ++i;
  return i;
}

// The same for texts of two widths, a character at a time.
template <class A, class B>
inline std::size_t equal_run(const A* a, const B* b, std::size_t limit) noexcept {
  std::size_t i = 0;
  while (i < limit && char32_t{a[i]} == char32_t{b[i]}) ++i;
  return i;
}
template <class A, class B>
inline std::size_t equal_run_back(const A* a_end, const B* b_end, std::size_t limit) noexcept {
  std::size_t i = 0;
  while (i < limit && char32_t{*(a_end - 1 - i)} == char32_t{*(b_end - 1 - i)}) ++i;
  return i;
}

// Bytes against two-byte units, as names with accents meet their plain
// forms: eight at a time, the bytes widened.
inline std::size_t equal_run(const unsigned char* a, const char16_t* b, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= limit; i += 8) {
    const __m128i x = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)), _mm_setzero_si128());
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same)) / 2;
  }
#endif
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}
inline std::size_t equal_run_back(const unsigned char* a_end, const char16_t* b_end, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= limit; i += 8) {
    const __m128i x =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a_end - i - 8)), _mm_setzero_si128());
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b_end - i - 8));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countl_one(same << 16)) / 2;
  }
#endif
  while (i < limit && *(a_end - 1 - i) == *(b_end - 1 - i)) ++i;
  return i;
}
inline std::size_t equal_run(const char16_t* a, const unsigned char* b, std::size_t limit) noexcept {
  return equal_run(b, a, limit);
}
inline std::size_t equal_run_back(const char16_t* a_end, const unsigned char* b_end, std::size_t limit) noexcept {
  return equal_run_back(b_end, a_end, limit);
}

template <class A, class B>
inline Affixes common_affixes_of(const A* x, std::size_t m, const B* y, std::size_t n) noexcept {
  Affixes out;
  const std::size_t shortest = std::min(m, n);
  out.prefix = equal_run(x, y, shortest);
  out.suffix = equal_run_back(x + m, y + n, shortest - out.prefix);
  return out;
}

inline Affixes common_affixes(TextView a, TextView b) noexcept {
  // Texts of one width are the common case, and bytes the commonest.
  if (a.narrow() && b.narrow()) [[likely]] {
    return common_affixes_of(units_of<unsigned char>(a), a.size(), units_of<unsigned char>(b), b.size());
  }
  return with_units(a, [&](const auto* x) {
    return with_units(b, [&](const auto* y) { return common_affixes_of(x, a.size(), y, b.size()); });
  });
}

}  // namespace quillstone::detail
