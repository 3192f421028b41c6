// Vectors of narrow lanes: one candidate per lane in the batches, one pattern
// word per lane in the whole column's wavefront.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillstone::detail {

// One AVX2 register. The baseline clones split it in halves.
inline constexpr std::size_t kVectorBytes = 32;

// Lanes of `Lane` in one vector, and the most of any width (8-bit lanes).
template <class Lane>
inline constexpr std::size_t kLanesOf = kVectorBytes / sizeof(Lane);
inline constexpr std::size_t kMaxLanes = kLanesOf<std::uint8_t>;

// The vector of each lane width. Named outside the kernels: a vector typedef
// that depends on a template parameter loses its attribute as a template
// argument.
template <class Lane>
struct LaneVector;
typedef std::uint8_t Lanes8 __attribute__((vector_size(kVectorBytes)));
typedef std::uint16_t Lanes16 __attribute__((vector_size(kVectorBytes)));
typedef std::uint32_t Lanes32 __attribute__((vector_size(kVectorBytes)));
typedef std::uint64_t Lanes64 __attribute__((vector_size(kVectorBytes)));
template <> struct LaneVector<std::uint8_t> { using type = Lanes8; };
template <> struct LaneVector<std::uint16_t> { using type = Lanes16; };
template <> struct LaneVector<std::uint32_t> { using type = Lanes32; };
template <> struct LaneVector<std::uint64_t> { using type = Lanes64; };

}  // namespace quillstone::detail
