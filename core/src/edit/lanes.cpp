// The vector-lane paths of both edit-distance batches, compiled for each
// instruction set and run for the one chosen (simd/target.hpp).
#include "edit/candidate_lanes.hpp"
#include "edit/query_lanes.hpp"
#include "simd/target.hpp"

namespace quillstone::detail {

void levenshtein_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  run_lane_kernel([&] {
    table_path<EditMetric::Levenshtein, unsigned char>(ByteLookup{masks}, m, candidates, which, count, out);
  });
}

void damerau_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  run_lane_kernel([&] {
    table_path<EditMetric::OptimalAlignment, unsigned char>(ByteLookup{masks}, m, candidates, which, count, out);
  });
}

void levenshtein_paged_path(const PagedMasks& masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  run_lane_kernel([&] { table_path<EditMetric::Levenshtein, char16_t>(masks, m, candidates, which, count, out); });
}

void damerau_paged_path(const PagedMasks& masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  run_lane_kernel([&] { table_path<EditMetric::OptimalAlignment, char16_t>(masks, m, candidates, which, count, out); });
}

void levenshtein_wide_path(const FourByteMasks& masks, std::size_t m, std::span<const TextView> candidates,
                           const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  run_lane_kernel([&] {
    table_path<EditMetric::Levenshtein, char32_t>(masks.lookup(), m, candidates, which, count, out);
  });
}

void damerau_wide_path(const FourByteMasks& masks, std::size_t m, std::span<const TextView> candidates,
                       const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  run_lane_kernel([&] {
    table_path<EditMetric::OptimalAlignment, char32_t>(masks.lookup(), m, candidates, which, count, out);
  });
}

void levenshtein_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                                 const NumberedCandidates& candidates, std::size_t* out) noexcept {
  run_lane_kernel([&] { candidate_lanes<EditMetric::Levenshtein>(query, m, numbers, candidates, out); });
}

void damerau_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                             const NumberedCandidates& candidates, std::size_t* out) noexcept {
  run_lane_kernel([&] { candidate_lanes<EditMetric::OptimalAlignment>(query, m, numbers, candidates, out); });
}

}  // namespace quillstone::detail
