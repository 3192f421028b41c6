// UTF-8 as the core reads it: whether a text is ASCII, how many characters
// it has, its characters decoded one by one, and their encoding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quillstone/quillstone.hpp"

namespace quillstone::detail {

// The high bit of every byte of a word.
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// The n < 8 bytes at p as the low bytes of a word (on a little-endian
// machine), the rest zero: loads whose count depends only on the size
// class, no call and no byte loop.
inline std::uint64_t load_short(const char* p, std::size_t n) noexcept {
  if (n >= 4) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    // The two overlap on equal bytes, so or-ing them rebuilds the text.
    return lo | std::uint64_t{hi} << (8 * (n - 4));
  }
  if (n == 0) return 0;  // an empty view may have no data
  const auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i); };
  return byte(0) | byte(n / 2) | byte(n - 1);
}

// True when no byte is 0x80 or above.
inline bool is_ascii(TextView text) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  // Any byte order keeps each byte's high bit a high bit.
  if (n < 8) return (load_short(p, n) & kHighBits) == 0;
  // Words from the start, and the last eight bytes, which may overlap them.
  std::uint64_t acc = 0, word;
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    std::memcpy(&word, p + i, 8);
    acc |= word;
  }
  std::memcpy(&word, p + n - 8, 8);
  return ((acc | word) & kHighBits) == 0;
}

// A text's number of Unicode scalar values (the bytes that are not
// continuation bytes) and whether it is ASCII, read in one pass.
struct TextShape {
  std::size_t chars;
  bool ascii;
};

// The same of eight bytes, as a word: its high bits, and its continuation
// bytes (high bit set, the next one clear), one per byte, summed by a multiply.
struct WordShape {
  std::uint64_t high;
  std::size_t continuation;
};

inline WordShape shape_of_word(std::uint64_t w) noexcept {
  const std::uint64_t cont = w & ~(w << 1) & kHighBits;
  return {w & kHighBits, static_cast<std::size_t>(((cont >> 7) * 0x0101010101010101ull) >> 56)};
}

inline TextShape shape_of(TextView text) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  if (n < 16 && std::endian::native == std::endian::little) {
    // Two words that may overlap, the second without the bytes they share.
    std::uint64_t high = 0;
    std::size_t continuation = 0;
    if (n >= 8) {
      std::uint64_t first, last;
      std::memcpy(&first, p, 8);
      std::memcpy(&last, p + n - 8, 8);
      if (n > 8) last &= ~std::uint64_t{0} << (8 * (16 - n));
      else last = 0;
      const WordShape a = shape_of_word(first), b = shape_of_word(last);
      high = a.high | b.high;
      continuation = a.continuation + b.continuation;
    } else {
      const WordShape a = shape_of_word(load_short(p, n));
      high = a.high;
      continuation = a.continuation;
    }
    return {n - continuation, high == 0};
  }
  std::size_t continuation = 0, i = 0;
#if defined(__SSE2__)
  // Continuation bytes, 0x80 to 0xBF, are the signed bytes below -64: each
  // adds one to its byte of `run`, which is summed before it can overflow.
  const __m128i below = _mm_set1_epi8(-64), zero = _mm_setzero_si128();
  __m128i high = zero, run = zero;
  const auto sum = [&] {
    const __m128i halves = _mm_sad_epu8(run, zero);
    continuation += static_cast<std::size_t>(_mm_cvtsi128_si32(halves)) +
                    static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves)));
    run = zero;
  };
  const auto add = [&](__m128i v) {
    high = _mm_or_si128(high, v);
    run = _mm_sub_epi8(run, _mm_cmplt_epi8(v, below));
  };
  for (std::size_t block = 0; i + 16 <= n; i += 16) {
    add(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (++block == 255) {
      sum();
      block = 0;
    }
  }
  // The last 16 bytes, the ones already read masked out.
  if (i < n) {
    const __m128i lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i fresh = _mm_cmpgt_epi8(lane, _mm_set1_epi8(static_cast<char>(15 - (n - i))));
    add(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16)), fresh));
  }
  sum();
  return {n - continuation, _mm_movemask_epi8(high) == 0};
#else
  std::uint64_t high = 0;
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    high |= c & 0x80;
    continuation += (c & 0xC0) == 0x80;
  }
  return {n - continuation, high == 0};
#endif
}

inline std::size_t count_chars(TextView text) noexcept { return shape_of(text).chars; }

// Decodes the character at `p` (well-formed UTF-8) and advances `p`.
[[gnu::always_inline]] inline char32_t decode_next(const char*& p) noexcept {
  const auto b0 = static_cast<unsigned char>(*p++);
  if (b0 < 0x80) return b0;
  if (b0 < 0xE0) {
    const auto b1 = static_cast<unsigned char>(*p++);
    return (char32_t(b0 & 0x1F) << 6) | (b1 & 0x3F);
  }
  if (b0 < 0xF0) {
    const auto b1 = static_cast<unsigned char>(*p++);
    const auto b2 = static_cast<unsigned char>(*p++);
    return (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (b2 & 0x3F);
  }
  const auto b1 = static_cast<unsigned char>(*p++);
  const auto b2 = static_cast<unsigned char>(*p++);
  const auto b3 = static_cast<unsigned char>(*p++);
  return (char32_t(b0 & 0x07) << 18) | (char32_t(b1 & 0x3F) << 12) |
         (char32_t(b2 & 0x3F) << 6) | (b3 & 0x3F);
}

// Decodes a well-formed UTF-8 text into `out`, which the caller sizes for
// its characters; returns the character count.
inline std::size_t decode_chars(TextView text, char32_t* out) noexcept {
  const char* p = text.data();
  const char* end = p + text.size();
  std::size_t n = 0;
  while (p < end) out[n++] = decode_next(p);
  return n;
}

// Appends the UTF-8 encoding of `c` to `out`.
void append_utf8(std::string& out, char32_t c) noexcept;

}  // namespace quillstone::detail
