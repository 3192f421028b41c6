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

}  // namespace quillstone::detail::jw
