// The batch's query in vector lanes: one candidate per lane, all read
// against the query's masks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "edit/recurrence.hpp"
#include "masks/four_byte_masks.hpp"
#include "masks/paged_masks.hpp"
#include "simd/lane_vectors.hpp"
#include "simd/length_groups.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// The batch table path scores many candidates against one query at once, one
// candidate per vector lane. Lanes are as narrow as the query allows (8 bits
// for a query of up to 8 characters, up to 64 bits), because every bit above
// the last pattern position is irrelevant: the recurrence is the same, only
// fewer bits of it are kept. The candidates of one group all have the same
// length, so every lane reads its final score after the same step.

// Longer candidates run alone; a score of the narrowest lanes stays below 256.
inline constexpr std::size_t kQueryLaneMaxChars = 255;

// The masks of a byte, read from a table of 256.
struct ByteLookup {
  const std::uint64_t* masks;
  std::uint64_t operator()(unsigned char c) const noexcept { return masks[c]; }
};

// Up to two vectors of candidates, each of one length (n[0] and n[1]; a
// second vector of length 0 is absent), against the query's masks. A
// column's steps are one chain of dependent operations: the second vector's
// chain runs beside the first and fills the time the first waits on it.
template <class Lane, EditMetric Metric, class Unit, class Lookup>
void distance_lanes(const Lookup& masks, std::size_t m, const Unit* const (&texts)[2][kLanesOf<Lane>],
                    const std::size_t (&n)[2], std::size_t (&out)[2][kLanesOf<Lane>]) noexcept {
  using Vec = typename LaneVector<Lane>::type;
  constexpr std::size_t kLanes = kLanesOf<Lane>;
  ColumnWord<Metric, Vec> column[2];
  const auto step = [&](std::size_t v, std::size_t j) __attribute__((always_inline)) {
    alignas(kVectorBytes) Lane column_masks[kLanes];
    if constexpr (requires { masks.entries; }) {
      // A lookup that chooses among entries: the choices first, then the
      // loads, which go straight into the vector as a table's do.
      std::uint32_t at[kLanes];
      for (std::size_t lane = 0; lane < kLanes; ++lane) at[lane] = masks.index(texts[v][lane][j]);
      for (std::size_t lane = 0; lane < kLanes; ++lane) column_masks[lane] = static_cast<Lane>(masks.entries[at[lane]]);
    } else {
      for (std::size_t lane = 0; lane < kLanes; ++lane) {
        column_masks[lane] = static_cast<Lane>(masks(texts[v][lane][j]));
      }
    }
    Vec pm;
    std::memcpy(&pm, column_masks, sizeof pm);
    Vec hp, hn;
    column[v].step(pm, hp, hn);
  };
  const std::size_t both = std::min(n[0], n[1]);
  for (std::size_t j = 0; j < both; ++j) {
    step(0, j);
    step(1, j);
  }
  // Each vector's own index is a constant, so that its state stays in registers.
  for (std::size_t j = both; j < n[0]; ++j) step(0, j);
  for (std::size_t j = both; j < n[1]; ++j) step(1, j);
  for (std::size_t v = 0; v < 2; ++v) {
    Vec score;
    last_column_distance<Lane>(column[v], m, n[v], score);
    for (std::size_t lane = 0; lane < kLanes; ++lane) out[v][lane] = score[lane];
  }
}

// Candidates of the table path, grouped by length into full vectors; a group
// left incomplete at the end runs with its unused lanes repeating a member.
// Vectors of four 64-bit lanes run two at a time: their few lookups leave a
// column waiting on its chain. Narrower lanes look up 8 to 32 characters a
// column, which already fills that time, and run one at a time.
template <class Lane, EditMetric Metric, class Unit, class Lookup>
void table_path_lanes(const Lookup& masks, std::size_t m, std::span<const TextView> candidates,
                      const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  constexpr std::size_t kLanes = kLanesOf<Lane>;
  score_length_groups<kLanes, Unit>(
      candidates, which, count, sizeof(Lane) == 8,
      [&](const Unit* const (&texts)[2][kLanes], const std::size_t (&n)[2], std::size_t (&scores)[2][kLanes]) {
        distance_lanes<Lane, Metric>(masks, m, texts, n, scores);
      },
      out);
}

// The table-path candidates `which` of a batch whose query has 1 to 64
// characters, all of units of one width, in lanes as narrow as the query
// allows.
template <EditMetric Metric, class Unit, class Lookup>
void table_path(const Lookup& masks, std::size_t m, std::span<const TextView> candidates,
                const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  if (m <= 8) return table_path_lanes<std::uint8_t, Metric, Unit>(masks, m, candidates, which, count, out);
  if (m <= 16) return table_path_lanes<std::uint16_t, Metric, Unit>(masks, m, candidates, which, count, out);
  if (m <= 32) return table_path_lanes<std::uint32_t, Metric, Unit>(masks, m, candidates, which, count, out);
  table_path_lanes<std::uint64_t, Metric, Unit>(masks, m, candidates, which, count, out);
}

// table_path for each metric on one-byte candidates (a table of 256 masks),
// on two-byte ones (paged masks) and on four-byte ones, compiled for each
// target and run for the one chosen (edit/lanes.cpp).
void levenshtein_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void damerau_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void levenshtein_paged_path(const PagedMasks& masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void damerau_paged_path(const PagedMasks& masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void levenshtein_wide_path(const FourByteMasks& masks, std::size_t m, std::span<const TextView> candidates,
                           const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void damerau_wide_path(const FourByteMasks& masks, std::size_t m, std::span<const TextView> candidates,
                       const std::size_t* which, std::size_t count, std::size_t* out) noexcept;

template <EditMetric Metric>
inline constexpr auto kTablePath =
    Metric == EditMetric::Levenshtein ? levenshtein_table_path : damerau_table_path;
template <EditMetric Metric>
inline constexpr auto kPagedPath =
    Metric == EditMetric::Levenshtein ? levenshtein_paged_path : damerau_paged_path;
template <EditMetric Metric>
inline constexpr auto kWidePath = Metric == EditMetric::Levenshtein ? levenshtein_wide_path : damerau_wide_path;

}  // namespace quillstone::detail
