// Jaro-Winkler of two texts of 1 to 64 characters, a byte each, with one of
// them held in vector registers (masks/held_bytes.hpp) rather than made into
// a table of 256 masks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "jaro/word_scan.hpp"
#include "masks/held_bytes.hpp"
#include "simd/target.hpp"
#include "text/units.hpp"

namespace quillstone::detail::jw {

#if defined(QUILLSTONE_WAVEFRONT)

template <std::size_t Vectors>
[[gnu::target("avx2")]] inline double held_scan(const unsigned char* scanned, std::size_t ns,
                                                const unsigned char* held, std::size_t nh, double p) noexcept {
  const HeldBytes<Vectors> table(held, nh);
  return word_scan(
      ns, [&](std::size_t i) { return scanned[i]; }, nh, [&](std::size_t j) { return held[j]; },
      [&](unsigned char c) { return table.positions(c); }, p);
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
