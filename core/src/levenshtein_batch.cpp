// Levenshtein distance from one prepared query to many candidates.
#include "edit_distance.hpp"

namespace quillstone {

template class EditDistanceBatch<EditMetric::Levenshtein>;

std::vector<std::size_t> levenshtein_batch(TextView query, std::span<const TextView> candidates,
                                           std::optional<bool> case_insensitive) noexcept {
  return detail::batch_distances<EditMetric::Levenshtein>(query, candidates, case_insensitive);
}

}  // namespace quillstone
