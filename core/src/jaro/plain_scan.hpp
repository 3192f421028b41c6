// The matching and transposition loops written plainly over two character
// sequences: the scan of short texts, and the fallback of long texts whose
// mask table would be too large.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "jaro/score.hpp"

namespace quillstone::detail::jw {

// Matched flags of one text as bits of a single word (at most 64 positions).
class WordFlags {
 public:
  bool test(std::size_t k) const noexcept { return (bits_ >> k) & 1; }
  void set(std::size_t k) noexcept { bits_ |= std::uint64_t{1} << k; }

 private:
  std::uint64_t bits_ = 0;
};

// Matched flags of one text as one zeroed byte per position, any length.
class ByteFlags {
 public:
  explicit ByteFlags(unsigned char* flags) noexcept : flags_(flags) {}
  bool test(std::size_t k) const noexcept { return flags_[k] != 0; }
  void set(std::size_t k) noexcept { flags_[k] = 1; }

 private:
  unsigned char* flags_;
};

// The matching and transposition loops as plain scans over two character
// sequences; the scans that use them differ only in storage.
template <class Char, class Flags>
double plain_scan(const Char* s1, std::size_t n1, const Char* s2, std::size_t n2,
                  Flags& flags1, Flags& flags2, double p) noexcept {
  const std::size_t w = match_window(n1, n2);
  std::size_t m = 0;
  for (std::size_t i = 0; i < n1; ++i) {
    const std::size_t lo = i > w ? i - w : 0;
    const std::size_t hi = std::min(n2, i + w + 1);
    const Char c = s1[i];
    for (std::size_t j = lo; j < hi; ++j) {
      if (s2[j] == c && !flags2.test(j)) {
        flags1.set(i);
        flags2.set(j);
        ++m;
        break;
      }
    }
  }
  if (m == 0) return 0.0;

  std::size_t t = 0;
  std::size_t j = 0;
  for (std::size_t i = 0; i < n1; ++i) {
    if (!flags1.test(i)) continue;
    while (!flags2.test(j)) ++j;
    t += s1[i] != s2[j];
    ++j;
  }
  const std::size_t prefix =
      prefix_length(std::min({kMaxPrefix, n1, n2}), [&](std::size_t k) { return s1[k] == s2[k]; });
  return score(m, t, n1, n2, prefix, p);
}

// The plain loops on character arrays of any length, with the flags on the
// heap. Always inlined: in the multi-word scan's fallback it keeps that
// scan's code as it is laid out with the loops in place.
template <class Char>
[[gnu::always_inline]] inline double plain_scan_any(const Char* s1, std::size_t n1, const Char* s2, std::size_t n2,
                      double p) noexcept {
  const auto flags = std::make_unique<unsigned char[]>(n1 + n2);
  ByteFlags flags1(flags.get()), flags2(flags.get() + n1);
  return plain_scan(s1, n1, s2, n2, flags1, flags2, p);
}

}  // namespace quillstone::detail::jw
