// The UTF-8 entry: texts decoded once into the narrowest units that hold
// them, and one character encoded.
#include "text/utf8.hpp"

#include <algorithm>
#include <cstring>

#include "quillstone/quillstone.hpp"

namespace quillstone {

Utf8Text::Utf8Text(std::string_view utf8) noexcept {
  std::size_t count = 0;
  char32_t most = 0;
  for (const char* p = utf8.data(); p < utf8.data() + utf8.size(); ++count) {
    most = std::max(most, detail::decode_next(p));
  }
  const unsigned width = most < 0x100 ? 1 : most < 0x10000 ? 2 : 4;
  units_.resize(count * width);
  const char* p = utf8.data();
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t c = detail::decode_next(p);
    if (width == 1) {
      units_[i] = static_cast<char>(c);
    } else if (width == 2) {
      const auto unit = static_cast<char16_t>(c);
      std::memcpy(units_.data() + 2 * i, &unit, 2);
    } else {
      std::memcpy(units_.data() + 4 * i, &c, 4);
    }
  }
  view_ = TextView(units_.data(), count, width);
}

Utf8Text::Utf8Text(const Utf8Text& other) noexcept
    : units_(other.units_), view_(units_.data(), other.view_.size(), other.view_.width()) {}

Utf8Text& Utf8Text::operator=(const Utf8Text& other) noexcept {
  units_ = other.units_;
  view_ = TextView(units_.data(), other.view_.size(), other.view_.width());
  return *this;
}

Utf8Text::~Utf8Text() = default;

namespace detail {

void append_utf8(std::string& out, char32_t c) noexcept {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace detail
}  // namespace quillstone
