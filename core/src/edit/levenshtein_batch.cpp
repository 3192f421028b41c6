// Levenshtein distance from one prepared query to many candidates.
#include "edit/batch.hpp"

namespace quillstone {

template class EditDistanceBatch<EditMetric::Levenshtein>;

std::vector<std::size_t> levenshtein_batch(TextView query, std::span<const TextView> candidates,
                                           std::optional<bool> case_insensitive) noexcept {
  std::vector<std::size_t> out(candidates.size());
  LevenshteinBatch(query, case_insensitive).distances(candidates, out);
  return out;
}

}  // namespace quillstone
