// Optimal string alignment distance from one prepared query to many
// candidates.
#include "edit/batch.hpp"

namespace quillstone {

template class EditDistanceBatch<EditMetric::OptimalAlignment>;

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive) noexcept {
  std::vector<std::size_t> out(candidates.size());
  DamerauBatch(query, case_insensitive).distances(candidates, out);
  return out;
}

}  // namespace quillstone
