// Jaro-Winkler of many candidates at once, one per vector lane.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "jaro/score.hpp"
#include "jaro/word_scan.hpp"
#include "simd/lane_vectors.hpp"

namespace quillstone::detail::jw {

// The batch scores many candidates against one query of 1 to 64 characters at
// once, one candidate per vector lane. A lane is as narrow as the query
// allows: bits above the query's last position never hold a match, so only
// fewer bits of the same words are kept. The candidates of one group all have
// the same length, so every lane runs the same steps with the same window.
// Each lane is given the query's position mask of each of its characters,
// column by column; everything else follows from those masks: the query holds
// character c at position j exactly where bit j of the mask of c is set.

// Longer candidates run alone: a lane holds one word's positions.
inline constexpr std::size_t kLaneMaxChars = kWordChars;

// Match count, transposition count and prefix length of each lane.
struct LaneCounts {
  std::uint8_t m[kMaxLanes], t[kMaxLanes], prefix[kMaxLanes];
};

// `columns` holds n rows of kLanes masks, row i holding the masks of the
// lanes' characters at position i; n is 1 to kLaneMaxChars, w the window.
template <class Lane>
inline void jaro_lanes(const Lane* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept {
  using Vec = typename LaneVector<Lane>::type;
  constexpr std::size_t kLanes = kLanesOf<Lane>;
  constexpr std::size_t kLaneBits = 8 * sizeof(Lane);
  const Vec zero = Vec{} ^ Vec{};
  const Vec one = zero + 1;
  // The lowest w + 1 positions; bits past the lane would be lost to shifts anyway.
  const Lane first_window =
      w + 1 >= kLaneBits ? static_cast<Lane>(~Lane{0}) : static_cast<Lane>((Lane{1} << (w + 1)) - 1);
  Vec window = zero + first_window;
  Vec matched_q = zero, m = zero, prefix = zero, run = ~zero;
  Vec hit[kLaneMaxChars];
  for (std::size_t i = 0; i < n; ++i) {
    Vec pm;
    std::memcpy(&pm, columns + i * kLanes, sizeof pm);
    const Vec c = pm & ~matched_q & window;
    // The lowest candidate is the first free position, as the plain scan takes it.
    matched_q |= c & (zero - c);
    hit[i] = (Vec)(c != zero);
    m -= hit[i];
    if (i < kMaxPrefix) {
      run &= (Vec)(((pm >> i) & one) != zero);
      prefix -= run;
    }
    window = (window << 1) | (i < w ? one : zero);
  }
  // The k-th matched candidate position against the k-th matched query
  // position: they differ where the query lacks the candidate's character
  // there.
  Vec rest = matched_q, t = zero;
  for (std::size_t i = 0; i < n; ++i) {
    Vec pm;
    std::memcpy(&pm, columns + i * kLanes, sizeof pm);
    const Vec low = rest & (zero - rest) & hit[i];
    t -= (Vec)((pm & low) == zero) & hit[i];
    rest &= ~low;
  }
  for (std::size_t lane = 0; lane < kLanes; ++lane) {
    out.m[lane] = static_cast<std::uint8_t>(m[lane]);
    out.t[lane] = static_cast<std::uint8_t>(t[lane]);
    out.prefix[lane] = static_cast<std::uint8_t>(prefix[lane]);
  }
}

// jaro_lanes for each lane width, compiled for each target and run for the
// one chosen (jaro/lanes.cpp).
void jaro_lanes_8(const std::uint8_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_16(const std::uint16_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_32(const std::uint32_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_64(const std::uint64_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;

}  // namespace quillstone::detail::jw
