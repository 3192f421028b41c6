// Machinery shared by the metrics of the core: UTF-8 scanning, full Unicode
// lower-casing and the input preparation of the scalar operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "quillstone/quillstone.hpp"

// A vector-lane kernel compiled for AVX2 and for the baseline, the one to run
// chosen at load time by what the processor has; everything it calls is
// inlined into each clone.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUILLSTONE_LANE_CLONES __attribute__((target_clones("avx2", "default"), flatten))
#else
#define QUILLSTONE_LANE_CLONES
#endif

namespace quillstone::detail {

// True when no byte is 0x80 or above. Eight bytes at a time.
inline bool is_ascii(TextView text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t acc = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    acc |= word;
  }
  for (; n > 0; ++p, --n) acc |= static_cast<unsigned char>(*p);
  return (acc & 0x8080808080808080ull) == 0;
}

// Number of Unicode scalar values: the bytes that are not continuation bytes.
inline std::size_t count_chars(TextView text) noexcept {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

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

// The full Unicode lower-case form of a whole text: UnicodeData and the
// unconditional SpecialCasing mappings, capital sigma by the Final_Sigma
// rule, no locale tailoring.
std::string to_lower_full(TextView text) noexcept;

// The two inputs of a scalar operation as its metric sees them: folded when
// asked, counted, checked against max_len. Views point into the caller's
// texts or into the folded copies owned here, so a Prepared stays in place.
struct Prepared {
  TextView s1, s2;
  std::size_t n1 = 0, n2 = 0;
  bool both_ascii = false;

  Prepared() = default;
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // Folds (only when case_insensitive is true), tests for ASCII (str_1
  // first), counts and checks max_len (str_1 first). Returns the error of a
  // rejected input.
  std::optional<MatchError> prepare(TextView str_1, TextView str_2,
                                    std::optional<std::size_t> max_len,
                                    std::optional<bool> case_insensitive) noexcept;

 private:
  std::string folded1_, folded2_;
};

}  // namespace quillstone::detail
