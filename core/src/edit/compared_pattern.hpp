// Match masks found by comparing characters, with no table to build.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "text/units.hpp"

namespace quillstone::detail {

// A pattern whose masks are found by comparing each text character with a
// run of pattern characters, 16 at a time: no table to build, which pays
// for a one-off pair whose pattern is short or whose scan reads only a
// narrow band. The pattern is copied between two runs of padding that
// matches no character, so a window may start up to 64 positions before it
// and end up to 64 positions past it.
template <class Char>
class ComparedPattern {
 public:
  // Padding: no scalar value, or for bytes a control character that real
  // texts hardly hold, whose matches are then kept to the pattern.
  static constexpr Char kNone = sizeof(Char) == 1 ? Char(0x80) : Char(0xFFFFFFFF);

  // `front` and `back` positions of padding around the m characters.
  ComparedPattern(TextView pattern, std::size_t m, std::size_t front, std::size_t back) noexcept
      : front_(front), m_(m) {
    const std::size_t size = front + m + back;
    if (size > kInline) heap_.resize(size);
    chars_ = size > kInline ? heap_.data() : inline_;
    std::fill(chars_, chars_ + front, kNone);
    std::fill(chars_ + front + m, chars_ + size, kNone);
    widen_chars(pattern, chars_ + front);
  }
  ComparedPattern(const ComparedPattern&) = delete;
  ComparedPattern& operator=(const ComparedPattern&) = delete;

  // Bits 0 to 16·Chunks - 1: the positions from `pos` on that hold `c`.
  template <std::size_t Chunks>
  std::uint64_t bits(char32_t c, std::ptrdiff_t pos) const noexcept {
    if constexpr (sizeof(Char) == 1) {
      if (c >= 0x100) return 0;
      if (c == kNone) [[unlikely]] return padding_bits<Chunks>(c, pos);
    }
    const Char* p = chars_ + front_ + pos;
    std::uint64_t out = 0;
    for (std::size_t i = 0; i < Chunks; ++i) out |= std::uint64_t{match16(p + 16 * i, c)} << (16 * i);
    return out;
  }

  // Calls run with the bits<Chunks> of the smallest Chunks (1 to 4) that
  // covers `positions`.
  template <class Run>
  auto with_chunks(std::size_t positions, Run run) const noexcept {
    const auto of = [&](auto chunks) {
      return run([&](auto c, std::ptrdiff_t pos) { return bits<decltype(chunks)::value>(c, pos); });
    };
    if (positions <= 16) return of(std::integral_constant<std::size_t, 1>{});
    if (positions <= 32) return of(std::integral_constant<std::size_t, 2>{});
    if (positions <= 48) return of(std::integral_constant<std::size_t, 3>{});
    return of(std::integral_constant<std::size_t, 4>{});
  }

 private:
  // bits<Chunks> of the padding character: the pattern's own positions only.
  template <std::size_t Chunks>
  std::uint64_t padding_bits(char32_t c, std::ptrdiff_t pos) const noexcept {
    std::uint64_t out = 0;
    for (std::size_t i = 0; i < 16 * Chunks; ++i) {
      const std::ptrdiff_t at = pos + static_cast<std::ptrdiff_t>(i);
      if (at >= 0 && at < static_cast<std::ptrdiff_t>(m_) && chars_[front_ + at] == c) out |= std::uint64_t{1} << i;
    }
    return out;
  }

  static std::uint32_t match16(const Char* p, char32_t c) noexcept {
#if defined(__SSE2__)
    if constexpr (sizeof(Char) == 1) {
      const __m128i run = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      return static_cast<std::uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(run, _mm_set1_epi8(static_cast<char>(c)))));
    } else {
      const __m128i key = _mm_set1_epi32(static_cast<int>(c));
      const auto eq = [&](std::size_t at) {
        return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), key);
      };
      const __m128i low = _mm_packs_epi32(eq(0), eq(4)), high = _mm_packs_epi32(eq(8), eq(12));
      return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
    }
#else
    std::uint32_t out = 0;
    for (unsigned i = 0; i < 16; ++i) out |= std::uint32_t{p[i] == c} << i;
    return out;
#endif
  }

  // In the frame: a sentence beside its padding, or a short pattern.
  static constexpr std::size_t kInline = 4096 / sizeof(Char);
  std::size_t front_, m_;
  Char inline_[kInline];
  std::vector<Char> heap_;
  Char* chars_;
};

}  // namespace quillstone::detail
