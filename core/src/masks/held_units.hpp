// A short text held in vector registers in its own units, where each
// character's positions in it are one compare a vector away: no table to
// clear and fill, and no copy to store and read back, before the first
// lookup.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "masks/character_masks.hpp"
#include "simd/target.hpp"
#include "simd/text_windows.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

namespace quillstone::detail {

#if defined(QUILLSTONE_WAVEFRONT)

// Up to kCapacity units of a text in `Vectors` vectors of 32 bytes; bit j of
// a character's positions is set where the text holds it at j.
template <class Unit, std::size_t Vectors>
class HeldUnits {
 public:
  static constexpr std::size_t kPerVector = 32 / sizeof(Unit);
  static constexpr std::size_t kCapacity = kPerVector * Vectors;
  static_assert(kCapacity <= kWordBits);

  HeldUnits() noexcept = default;  // to be assigned
  [[gnu::target("avx2")]] HeldUnits(const Unit* text, std::size_t n) noexcept
      : valid_(n == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1) {
    // Vectors past the end read nothing; units past it are masked off.
    for (std::size_t v = 0; v < Vectors; ++v) {
      units_[v] = kPerVector * v < n ? text_vector(text, kPerVector * v, n) : _mm256_setzero_si256();
    }
  }

  // A character wider than the units is in no such text.
  [[gnu::target("avx2")]] std::uint64_t positions(char32_t c) const noexcept {
    if (c > std::numeric_limits<Unit>::max()) return 0;
    std::uint64_t bits = 0;
    if constexpr (sizeof(Unit) == 1) {
      const __m256i key = _mm256_set1_epi8(static_cast<char>(c));
      for (std::size_t v = 0; v < Vectors; ++v) {
        bits |= std::uint64_t{mask_of_bytes(_mm256_cmpeq_epi8(units_[v], key))} << (32 * v);
      }
    } else if constexpr (sizeof(Unit) == 2) {
      // Two vectors of 16-bit results packed into one of bytes; the pack
      // works within 128-bit halves, and the permute puts them in order.
      const __m256i key = _mm256_set1_epi16(static_cast<short>(c));
      for (std::size_t v = 0; v < Vectors; v += 2) {
        const __m256i low = _mm256_cmpeq_epi16(units_[v], key);
        const __m256i high = v + 1 < Vectors ? _mm256_cmpeq_epi16(units_[v + 1], key) : _mm256_setzero_si256();
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(low, high), 0xD8);
        bits |= std::uint64_t{mask_of_bytes(packed)} << (16 * v);
      }
    } else {
      const __m256i key = _mm256_set1_epi32(static_cast<int>(c));
      for (std::size_t v = 0; v < Vectors; ++v) {
        const auto equal = _mm256_castsi256_ps(_mm256_cmpeq_epi32(units_[v], key));
        bits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_ps(equal))} << (8 * v);
      }
    }
    return bits & valid_;
  }

 private:
  [[gnu::target("avx2"), gnu::always_inline]] static std::uint32_t mask_of_bytes(__m256i bytes) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
  }

  __m256i units_[Vectors];
  std::uint64_t valid_;
};

// A text of up to 64 · Words units held a word of 64 positions at a time;
// word k of a character's positions is word(c, k), for k below the text's
// words.
template <class Unit, std::size_t Words>
class HeldWords {
 public:
  [[gnu::target("avx2")]] HeldWords(const Unit* text, std::size_t n) noexcept {
    for (std::size_t k = 0; k * kWordBits < n; ++k) {
      words_[k] = Word(text + k * kWordBits, std::min(kWordBits, n - k * kWordBits));
    }
  }

  [[gnu::target("avx2")]] std::uint64_t word(char32_t c, std::size_t k) const noexcept {
    return words_[k].positions(c);
  }

 private:
  using Word = HeldUnits<Unit, kWordBits / (32 / sizeof(Unit))>;
  Word words_[Words];
};

// Calls run(held) with the text of n units (1 to 64) held in the fewest
// vectors that take it, and returns what run returns; a text of four-byte
// units takes at most 32 (held_fits).
template <class Unit, class Run>
[[gnu::target("avx2")]] inline auto with_held_units(const Unit* text, std::size_t n, Run run) noexcept {
  constexpr std::size_t kPerVector = 32 / sizeof(Unit);
  if (n <= kPerVector) return run(HeldUnits<Unit, 1>(text, n));
  if constexpr (sizeof(Unit) == 1) {
    return run(HeldUnits<Unit, 2>(text, n));
  } else {
    if (n <= 2 * kPerVector) return run(HeldUnits<Unit, 2>(text, n));
    return run(HeldUnits<Unit, 4>(text, n));
  }
}

// Whether a text of n units of `width` bytes fits the held vectors.
inline bool held_fits(std::size_t n, unsigned width) noexcept { return n <= 128 / width && n <= kWordBits; }

#endif

}  // namespace quillstone::detail
