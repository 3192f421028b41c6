// Levenshtein distance from one prepared query to many candidates.
#include "edit_distance.hpp"

namespace quillstone {

std::size_t LevenshteinBatch::distance(TextView candidate) const noexcept {
  return detail::batch_distance<false>(*this, candidate, levenshtein_bp);
}

std::vector<std::size_t> levenshtein_batch(TextView query, std::span<const TextView> candidates,
                                           std::optional<bool> case_insensitive) noexcept {
  return detail::batch_distances<false, LevenshteinBatch>(query, candidates, case_insensitive,
                                                   detail::levenshtein_table_path);
}

}  // namespace quillstone
