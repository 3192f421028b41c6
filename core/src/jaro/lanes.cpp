// The vector-lane scan of the Jaro-Winkler batch, compiled twice: for the
// baseline instruction set and for AVX2, chosen at load time by what the
// processor has.
#include "jaro/lanes.hpp"
#include "simd/target.hpp"

namespace quillstone::detail::jw {

QUILLSTONE_LANE_CLONES
void jaro_lanes_8(const std::uint8_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  jaro_lanes(columns, n, w, out);
}

QUILLSTONE_LANE_CLONES
void jaro_lanes_16(const std::uint16_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  jaro_lanes(columns, n, w, out);
}

QUILLSTONE_LANE_CLONES
void jaro_lanes_32(const std::uint32_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  jaro_lanes(columns, n, w, out);
}

QUILLSTONE_LANE_CLONES
void jaro_lanes_64(const std::uint64_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  jaro_lanes(columns, n, w, out);
}

}  // namespace quillstone::detail::jw
