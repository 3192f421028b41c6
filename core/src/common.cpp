// The error type's text form and the input preparation shared by the scalar
// operations.
#include "common.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <type_traits>

namespace quillstone {

std::string format_float(double value) noexcept {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

  // Shortest round-trip digits, taken apart as "d.ddde±x".
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  std::string out;
  if (sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const auto e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.') digits.push_back(c);
  }
  const int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
  const double magnitude = std::fabs(value);

  if (magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 1e16)) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    out.push_back('e');
    out.append(std::to_string(exponent));
    return out;
  }
  if (magnitude == 0.0) {
    out.append("0.0");
    return out;
  }
  // Positional: the point sits after digit number exponent + 1.
  const int point = exponent + 1;
  if (point <= 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits);
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    out.append(digits);
    out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    out.append(".0");
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

std::string to_string(const MatchError& error) noexcept {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, InputTooLong>) {
          return "InputTooLong { which: \"" + std::string(e.which) + "\", len: " +
                 std::to_string(e.len) + ", limit: " + std::to_string(e.limit) + " }";
        } else {
          return "InvalidPrefixScale { value: " + format_float(e.value) + " }";
        }
      },
      error);
}

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

std::optional<MatchError> Prepared::prepare(TextView str_1, TextView str_2,
                                            std::optional<std::size_t> max_len,
                                            std::optional<bool> case_insensitive) noexcept {
  if (case_insensitive.value_or(false)) {
    folded1_ = to_lower_full(str_1);
    folded2_ = to_lower_full(str_2);
    s1 = folded1_;
    s2 = folded2_;
  } else {
    s1 = str_1;
    s2 = str_2;
  }
  const TextShape shape1 = shape_of(s1), shape2 = shape_of(s2);
  ascii1 = shape1.ascii;
  ascii2 = shape2.ascii;
  n1 = shape1.chars;
  n2 = shape2.chars;
  if (max_len) {
    if (n1 > *max_len) return InputTooLong{"str_1", n1, *max_len};
    if (n2 > *max_len) return InputTooLong{"str_2", n2, *max_len};
  }
  return std::nullopt;
}

}  // namespace detail

}  // namespace quillstone
