// Optimal string alignment distance: the Levenshtein recurrence with the
// transposition term.
#include "edit/plan.hpp"

namespace quillstone {

Result<std::size_t> damerau_bp(TextView str_1, TextView str_2,
                               std::optional<std::size_t> max_len,
                               std::optional<bool> case_insensitive,
                               std::optional<std::size_t> score_cutoff) noexcept {
  return detail::edit_distance<EditMetric::OptimalAlignment>(str_1, str_2, max_len, case_insensitive, score_cutoff);
}

}  // namespace quillstone
