// Texts for the C++ suites: decoded characters and their UTF-8. The decoder
// is written out here rather than taken from the core, so that a reference
// fed by it does not share the core's reading of UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "reference.hpp"
#include "text/utf8.hpp"

namespace quillstone::testing {

inline std::string utf8(std::u32string_view chars) {
  std::string out;
  for (const char32_t c : chars) detail::append_utf8(out, c);
  return out;
}

// Well-formed UTF-8 to its characters.
inline Chars decode(std::string_view s) {
  Chars out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    for (int k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(c);
    i += len;
  }
  return out;
}

}  // namespace quillstone::testing
