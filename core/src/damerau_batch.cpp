// Optimal string alignment distance from one prepared query to many candidates.
#include "edit_distance.hpp"

namespace quillstone {

namespace {

// The lanes are compiled for AVX2 as well, chosen when the processor has it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default"), flatten))
#endif
void table_path(const EditDistanceBatch& batch, std::span<const TextView> candidates,
                const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  detail::table_path<true>(batch, candidates, which, count, out);
}

}  // namespace

std::size_t DamerauBatch::distance(TextView candidate) const noexcept {
  return detail::batch_distance<true>(*this, candidate, damerau_bp);
}

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive) noexcept {
  return detail::batch_distances<DamerauBatch>(query, candidates, case_insensitive, table_path);
}

}  // namespace quillstone
