// Vectors of narrow lanes, one candidate or one pattern word per lane.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillstone::detail {

inline constexpr std::size_t kVectorBytes = 32;

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
