// The error type's text form.
#include "quillstone/quillstone.hpp"

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

}  // namespace quillstone
