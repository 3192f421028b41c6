// The input preparation shared by the scalar operations.
#include "text/prepared.hpp"

namespace quillstone::detail {

std::optional<MatchError> Prepared::prepare(TextView str_1, TextView str_2,
                                            std::optional<std::size_t> max_len,
                                            std::optional<bool> case_insensitive) noexcept {
  if (case_insensitive.value_or(false)) {
    s1 = to_lower_full(str_1, folded1_.emplace());
    s2 = to_lower_full(str_2, folded2_.emplace());
  } else {
    s1 = str_1;
    s2 = str_2;
  }
  n1 = s1.size();
  n2 = s2.size();
  if (max_len) {
    if (n1 > *max_len) return InputTooLong{"str_1", n1, *max_len};
    if (n2 > *max_len) return InputTooLong{"str_2", n2, *max_len};
  }
  return std::nullopt;
}

}  // namespace quillstone::detail
