// Jaro-Winkler of two texts of 1 to 64 characters with one of them held in
// vector registers in its own units (masks/held_units.hpp), rather than made
// into a table of masks or copied to be compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "jaro/multi_word_scan.hpp"
#include "jaro/thresholds.hpp"
#include "jaro/word_scan.hpp"
#include "masks/held_units.hpp"
#include "simd/target.hpp"
#include "text/units.hpp"

namespace quillstone::detail::jw {

#if defined(QUILLSTONE_WAVEFRONT)

// The row of one character in held words, each word found as the window
// reaches it.
template <class Held>
struct HeldRow {
  const Held& held;
  char32_t c;
  [[gnu::target("avx2")]] std::uint64_t operator[](std::size_t k) const noexcept { return held.word(c, k); }
};

// Texts past 64 characters, the longer of up to kHeldWordsMax: the windows
// of the multi-word scan read the held words, with no table and no map of
// characters to build.
template <class Scanned, class Held>
[[gnu::target("avx2")]] inline double held_words_scan(const Scanned* scanned, std::size_t ns, const Held* held,
                                                      std::size_t nh, double p) noexcept {
  const HeldWords<Held, kHeldWordsMax / kWordBits> table(held, nh);
  MultiWordScratch scratch;
  return multiword_match_rows<false>(
      [](auto) { return std::size_t{0}; },
      [&](auto c, std::size_t) { return HeldRow<decltype(table)>{table, static_cast<char32_t>(c)}; }, 1, scanned,
      ns, held, nh, scratch, p);
}

// The longer text is held and the shorter scanned: each scanned character
// is a step of the chain of matches, while the compares beside it do not
// wait on one another. Matching is symmetric (word_scan), so the score is
// the same either way round.
template <class Scanned, class Held>
[[gnu::target("avx2")]] inline double held_scan(const Scanned* scanned, std::size_t ns, const Held* held,
                                                std::size_t nh, double p) noexcept {
  if (nh > kWordBits) return held_words_scan(scanned, ns, held, nh, p);
  return with_held_units(held, nh, [&](const auto& table) {
    return word_scan(
        ns, [&](std::size_t i) { return static_cast<char32_t>(scanned[i]); }, nh,
        [&](std::size_t j) { return static_cast<char32_t>(held[j]); },
        [&](char32_t c) { return table.positions(c); }, p);
  });
}

// Everything is inlined into these two functions, compiled for AVX2, once
// for each pair of unit widths; texts of a byte a character, the most
// common, in a function of their own.
[[gnu::target("avx2"), gnu::flatten]] inline double held_byte_scan(const unsigned char* scanned, std::size_t ns,
                                                                   const unsigned char* held, std::size_t nh,
                                                                   double p) noexcept {
  return held_scan(scanned, ns, held, nh, p);
}

[[gnu::target("avx2"), gnu::flatten]] inline double held_wide_scan(TextView s1, TextView s2, double p) noexcept {
  return with_units(s1, [&](const auto* scanned) {
    return with_units(s2, [&](const auto* held) { return held_scan(scanned, s1.size(), held, s2.size(), p); });
  });
}

inline double held_vector_scan(TextView s1, TextView s2, double p) noexcept {
  if (s1.size() > s2.size()) std::swap(s1, s2);
  if (s1.narrow() && s2.narrow()) {
    return held_byte_scan(units_of<unsigned char>(s1), s1.size(), units_of<unsigned char>(s2), s2.size(), p);
  }
  return held_wide_scan(s1, s2, p);
}

#endif

}  // namespace quillstone::detail::jw
