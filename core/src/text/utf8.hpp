// UTF-8, for the entry that C++ callers use: one character decoded or
// encoded at a time.
#pragma once

#include <cstddef>
#include <string>

namespace quillstone::detail {

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

// Appends the UTF-8 encoding of `c` to `out`.
void append_utf8(std::string& out, char32_t c) noexcept;

}  // namespace quillstone::detail
