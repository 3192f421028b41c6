// Jaro-Winkler of two texts of 1 to 64 characters, a byte each, with one of
// them held in vector registers: a character's positions in it take one
// compare a 32-byte vector. A table of 256 masks would first be cleared and
// filled, and its first lookups would wait for those stores to land.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "jaro/word_scan.hpp"
#include "simd/target.hpp"
#include "simd/text_windows.hpp"
#include "text/units.hpp"

#if defined(QUILLSTONE_WAVEFRONT)
#include <immintrin.h>
#endif

namespace quillstone::detail::jw {

#if defined(QUILLSTONE_WAVEFRONT)

// Up to 32 · Vectors bytes of a text in vectors; bit j of a byte's positions
// is set where the text holds it at j.
template <std::size_t Vectors>
class HeldBytes {
 public:
  [[gnu::target("avx2")]] HeldBytes(const unsigned char* text, std::size_t n) noexcept
      : valid_(n == kWordChars ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1) {
    // Windows past the end read nothing; bytes past it are masked off.
    __m128i windows[2 * Vectors];
    for (std::size_t w = 0; w < 2 * Vectors; ++w) {
      windows[w] = 16 * w < n ? text_window(ByteWindows{}, text, 16 * w, n) : _mm_setzero_si128();
    }
    for (std::size_t v = 0; v < Vectors; ++v) bytes_[v] = _mm256_set_m128i(windows[2 * v + 1], windows[2 * v]);
  }

  [[gnu::target("avx2")]] std::uint64_t positions(unsigned char c) const noexcept {
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

template <std::size_t Vectors>
[[gnu::target("avx2")]] inline double held_scan(const unsigned char* scanned, std::size_t ns,
                                                const unsigned char* held, std::size_t nh, double p) noexcept {
  const HeldBytes<Vectors> positions(held, nh);
  return word_scan(
      ns, [&](std::size_t i) { return scanned[i]; }, nh, [&](std::size_t j) { return held[j]; },
      [&](unsigned char c) { return positions.positions(c); }, p);
}

// The longer text is held and the shorter scanned: each scanned character
// is a step of the chain of matches, while the compares beside it do not
// wait on one another. Matching is symmetric (word_scan), so the score is
// the same either way round. Everything is inlined into this one function,
// compiled for AVX2.
[[gnu::target("avx2"), gnu::flatten]] inline double vector_scan(TextView s1, TextView s2, double p) noexcept {
  if (s1.size() > s2.size()) std::swap(s1, s2);
  const auto* scanned = units_of<unsigned char>(s1);
  const auto* held = units_of<unsigned char>(s2);
  if (s2.size() <= 32) return held_scan<1>(scanned, s1.size(), held, s2.size(), p);
  return held_scan<2>(scanned, s1.size(), held, s2.size(), p);
}

#endif

}  // namespace quillstone::detail::jw
