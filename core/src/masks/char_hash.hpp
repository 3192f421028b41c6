// The hash that places a character in an open-addressed table or a memo.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillstone::detail {

// The slot of `c` among 2^bits slots (bits 1 to 32). Multiplicative, so that
// the letters of one script, a fixed stride apart, spread over the table.
inline std::size_t char_slot(char32_t c, unsigned bits) noexcept {
  return static_cast<std::uint32_t>(c * 0x9E3779B1u) >> (32 - bits);
}

}  // namespace quillstone::detail
