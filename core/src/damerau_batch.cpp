// Optimal string alignment distance from one prepared query to many
// candidates.
#include "edit_distance.hpp"

namespace quillstone {

template class EditDistanceBatch<EditMetric::OptimalAlignment>;

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive) noexcept {
  return detail::batch_distances<EditMetric::OptimalAlignment>(query, candidates, case_insensitive);
}

}  // namespace quillstone
