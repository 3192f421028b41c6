// Optimal string alignment distance from one prepared query to many
// candidates.
#include "edit_distance.hpp"

namespace quillstone {

std::size_t DamerauBatch::distance(TextView candidate) const noexcept {
  return detail::batch_distance<true>(*this, candidate, damerau_bp);
}

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive) noexcept {
  return detail::batch_distances<true, DamerauBatch>(query, candidates, case_insensitive,
                                               detail::damerau_table_path);
}

}  // namespace quillstone
