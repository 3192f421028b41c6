// The scalar operation's scans, each for the texts it suits.
#pragma once

#include <cstddef>

#include "text/units.hpp"

namespace quillstone::detail::jw {

// Steps 4 to 7 of the scalar operation on prepared, non-empty texts. Each
// gives the same score, bit for bit, wherever its precondition holds.

// Both texts 1 to 64 characters, a byte each: plain loops, matched flags in
// words.
double direct_scan(TextView s1, TextView s2, double p) noexcept;

// Non-empty texts: whether vector_scan takes them (AVX2 runs and the longer
// fits the vectors: up to 64 characters in one word, up to kHeldWordsMax a
// word at a time), and the scan that holds the longer in vectors and scans
// the shorter (vector_scan.hpp).
bool vectors_hold(TextView s1, TextView s2) noexcept;
double vector_scan(TextView s1, TextView s2, double p) noexcept;

// Both texts 1 to 64 characters, a byte each: s2 becomes the mask table, s1
// is scanned.
double bit_parallel_scan(TextView s1, TextView s2, double p) noexcept;

// Non-empty texts of at most kSmallChars characters each: widened into the
// frame, plain loops, matched flags in words.
double small_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept;

// Non-empty texts of at most 64 characters each: each character of s1 is
// compared with all of s2's at once, which gives its positions in one word.
double character_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept;

// Any non-empty texts: s2 becomes W = ceil(n2 / 64) words of position masks
// per character, s1 is scanned against them and each step touches only the
// words it needs. Texts of a byte a character are read in place, the others
// widened. A long s2 with a vast alphabet, whose table would be too large,
// takes the plain loops instead.
double multiword_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept;

}  // namespace quillstone::detail::jw
