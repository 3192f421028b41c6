// Text as the core reads it: code units of one width, each a character.
// Every scan that reads a text in place takes its unit type as a template
// parameter; `with_units` and `with_reader` choose it once per text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "quillstone/quillstone.hpp"

namespace quillstone::detail {

// The units of a text of width sizeof(Unit).
template <class Unit>
inline const Unit* units_of(TextView text) noexcept {
  return static_cast<const Unit*>(text.data());
}

// Calls f with the text's units as `const unsigned char*`, `const char16_t*`
// or `const char32_t*`.
template <class F>
[[gnu::always_inline]] inline decltype(auto) with_units(TextView text, F&& f) {
  switch (text.width()) {
    case 1: return f(units_of<unsigned char>(text));
    case 2: return f(units_of<char16_t>(text));
    default: return f(units_of<char32_t>(text));
  }
}

// Reads a text one character at a time, in place. Bytes come out as bytes,
// so that byte-indexed tables take them without a widening step.
template <class Unit>
struct UnitReader {
  using Char = std::conditional_t<sizeof(Unit) == 1, unsigned char, char32_t>;
  const Unit* p;
  explicit UnitReader(TextView text) noexcept : p(units_of<Unit>(text)) {}
  Char next() noexcept { return static_cast<Char>(*p++); }
};
using ByteReader = UnitReader<unsigned char>;

// Calls f with the reader of the text's width.
template <class F>
[[gnu::always_inline]] inline decltype(auto) with_reader(TextView text, F&& f) {
  return with_units(text, [&](const auto* units) {
    return f(UnitReader<std::remove_cvref_t<decltype(*units)>>(text));
  });
}

// The text's characters into `out`, whose units are at least as wide as the
// text's and which has room for text.size() of them; returns the count.
template <class Char>
inline std::size_t widen_chars(TextView text, Char* out) noexcept {
  with_units(text, [&](const auto* units) {
    if constexpr (sizeof(*units) == sizeof(Char)) {
      if (text.size() != 0) std::memcpy(out, units, text.size() * sizeof(Char));
    } else {
      std::copy(units, units + text.size(), out);
    }
  });
  return text.size();
}

// A copy of a text's units in storage of its own, which does not move.
class OwnedText {
 public:
  explicit OwnedText(TextView text) noexcept
      : storage_((text.size() * text.width() + sizeof(char32_t) - 1) / sizeof(char32_t)),
        view_(storage_.data(), text.size(), text.width()) {
    if (!text.empty()) std::memcpy(storage_.data(), text.data(), text.size() * text.width());
  }
  OwnedText(const OwnedText&) = delete;
  OwnedText& operator=(const OwnedText&) = delete;
  TextView view() const noexcept { return view_; }

 private:
  std::vector<char32_t> storage_;
  TextView view_;
};

}  // namespace quillstone::detail
