// A short text of a byte a character held in vector registers, where each
// character's positions in it are one compare a vector away: no table to
// clear and fill first, whose stores the first lookups would wait on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "masks/character_masks.hpp"
#include "simd/target.hpp"
#include "simd/text_windows.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

namespace quillstone::detail {

#if defined(QUILLSTONE_WAVEFRONT)

// Up to 32 · Vectors bytes of a text in vectors; bit j of a byte's positions
// is set where the text holds it at j.
template <std::size_t Vectors>
class HeldBytes {
 public:
  [[gnu::target("avx2")]] HeldBytes(const unsigned char* text, std::size_t n) noexcept
      : valid_(n == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1) {
    // Windows past the end read nothing; bytes past it are masked off.
    __m128i windows[2 * Vectors];
    for (std::size_t w = 0; w < 2 * Vectors; ++w) {
      windows[w] = 16 * w < n ? text_window(ByteWindows{}, text, 16 * w, n) : _mm_setzero_si128();
    }
    for (std::size_t v = 0; v < Vectors; ++v) bytes_[v] = _mm256_set_m128i(windows[2 * v + 1], windows[2 * v]);
  }

  // A character past U+00FF is in no text of bytes.
  [[gnu::target("avx2")]] std::uint64_t positions(char32_t c) const noexcept {
    if (c >= 256) return 0;
    const __m256i key = _mm256_set1_epi8(static_cast<char>(c));
    std::uint64_t bits = 0;
    for (std::size_t v = 0; v < Vectors; ++v) {
      const auto equal = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes_[v], key)));
      bits |= std::uint64_t{equal} << (32 * v);
    }
    return bits & valid_;
  }

 private:
  __m256i bytes_[Vectors];
  std::uint64_t valid_;
};

#endif

}  // namespace quillstone::detail
