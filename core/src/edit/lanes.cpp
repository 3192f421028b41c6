// The vector-lane paths of both edit-distance batches, compiled twice:
// for the baseline instruction set and for AVX2, chosen at load time by what
// the processor has.
#include "edit/candidate_lanes.hpp"
#include "edit/query_lanes.hpp"
#include "simd/target.hpp"

namespace quillstone::detail {

QUILLSTONE_LANE_CLONES
void levenshtein_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  table_path<EditMetric::Levenshtein, unsigned char>(ByteLookup{masks}, m, candidates, which, count, out);
}

QUILLSTONE_LANE_CLONES
void damerau_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  table_path<EditMetric::OptimalAlignment, unsigned char>(ByteLookup{masks}, m, candidates, which, count, out);
}

QUILLSTONE_LANE_CLONES
void levenshtein_paged_path(const PagedMasks& masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  table_path<EditMetric::Levenshtein, char16_t>(masks, m, candidates, which, count, out);
}

QUILLSTONE_LANE_CLONES
void damerau_paged_path(const PagedMasks& masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  table_path<EditMetric::OptimalAlignment, char16_t>(masks, m, candidates, which, count, out);
}

QUILLSTONE_LANE_CLONES
void levenshtein_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                                 const NumberedCandidates& candidates, std::size_t* out) noexcept {
  candidate_lanes<EditMetric::Levenshtein>(query, m, numbers, candidates, out);
}

QUILLSTONE_LANE_CLONES
void damerau_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                             const NumberedCandidates& candidates, std::size_t* out) noexcept {
  candidate_lanes<EditMetric::OptimalAlignment>(query, m, numbers, candidates, out);
}

}  // namespace quillstone::detail
