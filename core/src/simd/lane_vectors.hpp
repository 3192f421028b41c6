// Vectors of narrow lanes: one candidate per lane in the batches, one pattern
// word per lane in the whole column's wavefront.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillstone::detail {

// One AVX2 register, the width of most lane kernels; the baseline splits it
// in halves. The nibble lanes also come in the width of an AVX-512 register.
inline constexpr std::size_t kVectorBytes = 32;
inline constexpr std::size_t kWideVectorBytes = 64;

// Lanes of `Lane` in one vector, and the most of any width (8-bit lanes).
template <class Lane, std::size_t Bytes = kVectorBytes>
inline constexpr std::size_t kLanesOf = Bytes / sizeof(Lane);
inline constexpr std::size_t kMaxLanes = kLanesOf<std::uint8_t>;

// The vector of each lane width. Named outside the kernels: a vector typedef
// that depends on a template parameter loses its attribute as a template
// argument.
template <class Lane, std::size_t Bytes = kVectorBytes>
struct LaneVector;
typedef std::uint8_t Lanes8 __attribute__((vector_size(kVectorBytes)));
typedef std::uint16_t Lanes16 __attribute__((vector_size(kVectorBytes)));
typedef std::uint32_t Lanes32 __attribute__((vector_size(kVectorBytes)));
typedef std::uint64_t Lanes64 __attribute__((vector_size(kVectorBytes)));
typedef std::uint8_t WideLanes8 __attribute__((vector_size(kWideVectorBytes)));
typedef std::uint16_t WideLanes16 __attribute__((vector_size(kWideVectorBytes)));
template <> struct LaneVector<std::uint8_t> { using type = Lanes8; };
template <> struct LaneVector<std::uint16_t> { using type = Lanes16; };
template <> struct LaneVector<std::uint32_t> { using type = Lanes32; };
template <> struct LaneVector<std::uint64_t> { using type = Lanes64; };
template <> struct LaneVector<std::uint8_t, kWideVectorBytes> { using type = WideLanes8; };
template <> struct LaneVector<std::uint16_t, kWideVectorBytes> { using type = WideLanes16; };

// Replaces each lane of a vector of `Lane` by the number of its bits set,
// by halves: pairs, then nibbles, then bytes, then sums of bytes. (A
// reference, not a value: a function that returns a 256-bit vector has
// another calling convention in each instruction set.)
template <class Lane>
inline constexpr Lane kEveryByte = static_cast<Lane>(static_cast<Lane>(~Lane{0}) / 0xFF);

template <class Lane, class Vec>
[[gnu::always_inline]] inline void count_lane_bits(Vec& x) noexcept {
  constexpr Lane k55 = static_cast<Lane>(kEveryByte<Lane> * 0x55), k33 = static_cast<Lane>(kEveryByte<Lane> * 0x33),
                 k0f = static_cast<Lane>(kEveryByte<Lane> * 0x0F);
  x -= (x >> 1) & k55;
  x = (x & k33) + ((x >> 2) & k33);
  x = (x + (x >> 4)) & k0f;
  for (std::size_t shift = 8; shift < 8 * sizeof(Lane); shift *= 2) x += x >> shift;
  x &= static_cast<Lane>(0xFF);
}

}  // namespace quillstone::detail
