// The input preparation shared by the scalar operations.
#include "text/prepared.hpp"

#include "text/case_folding.hpp"
#include "text/utf8.hpp"

namespace quillstone::detail {

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

}  // namespace quillstone::detail
