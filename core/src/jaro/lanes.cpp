// The vector-lane scan of the Jaro-Winkler batch, compiled for each
// instruction set and run for the one chosen (simd/target.hpp).
#include "jaro/lanes.hpp"
#include "simd/target.hpp"

namespace quillstone::detail::jw {

void jaro_lanes_8(const std::uint8_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  run_lane_kernel([&] { jaro_lanes(columns, n, w, out); });
}

void jaro_lanes_16(const std::uint16_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  run_lane_kernel([&] { jaro_lanes(columns, n, w, out); });
}

void jaro_lanes_32(const std::uint32_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  run_lane_kernel([&] { jaro_lanes(columns, n, w, out); });
}

void jaro_lanes_64(const std::uint64_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  run_lane_kernel([&] { jaro_lanes(columns, n, w, out); });
}

template <class Lane>
void jaro_lane_scores(const LaneCounts& counts, std::size_t size, std::size_t n1, std::size_t n2, double p,
                      double* out) noexcept {
  run_lane_kernel([&] { lane_scores<kLanesOf<Lane>>(counts, size, n1, n2, p, out); });
}

template void jaro_lane_scores<std::uint8_t>(const LaneCounts&, std::size_t, std::size_t, std::size_t, double,
                                             double*) noexcept;
template void jaro_lane_scores<std::uint16_t>(const LaneCounts&, std::size_t, std::size_t, std::size_t, double,
                                              double*) noexcept;
template void jaro_lane_scores<std::uint32_t>(const LaneCounts&, std::size_t, std::size_t, std::size_t, double,
                                              double*) noexcept;

}  // namespace quillstone::detail::jw
