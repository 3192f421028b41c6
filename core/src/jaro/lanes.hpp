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

// Groups of at least this many lanes score in vectors, four lanes a vector,
// where at least one lane in kVectorScoresShare matched. Fewer lanes (a
// query of over 32 characters) pay more for calling the vector code than
// its divisions save. Groups that match in fewer lanes score lane by lane:
// an unmatched lane's score costs no division, where the vectors would
// divide every lane (a CJK word against CJK words matches in few lanes).
inline constexpr std::size_t kVectorScoresLanes = 8;
inline constexpr std::size_t kVectorScoresShare = 4;

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
  if constexpr (kLanes >= kVectorScoresLanes) {
    // Each count in one store, which the scores' wider loads can take
    // straight from the store buffer; byte stores would make them wait.
    typedef std::uint8_t LaneBytes __attribute__((vector_size(kLanes)));
    const LaneBytes counts[3] = {__builtin_convertvector(m, LaneBytes), __builtin_convertvector(t, LaneBytes),
                                 __builtin_convertvector(prefix, LaneBytes)};
    std::memcpy(out.m, &counts[0], kLanes);
    std::memcpy(out.t, &counts[1], kLanes);
    std::memcpy(out.prefix, &counts[2], kLanes);
  } else {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      out.m[lane] = static_cast<std::uint8_t>(m[lane]);
      out.t[lane] = static_cast<std::uint8_t>(t[lane]);
      out.prefix[lane] = static_cast<std::uint8_t>(prefix[lane]);
    }
  }
}

// Four scores a vector, from the counts of lanes `from` to `from + 3`:
// score() on each lane, the same operations in the same order, so that each
// rounds as the scalar operation does (the core is built without fused
// multiply-adds).
typedef std::uint8_t CountBytes __attribute__((vector_size(4)));
typedef double Scores __attribute__((vector_size(32)));
typedef std::int64_t ScoreMask __attribute__((vector_size(32)));

[[gnu::always_inline]] inline void four_scores(const LaneCounts& counts, std::size_t from, double n1, double n2,
                                               double p, double* out) noexcept {
  CountBytes m, t, prefix;
  std::memcpy(&m, counts.m + from, sizeof m);
  std::memcpy(&t, counts.t + from, sizeof t);
  std::memcpy(&prefix, counts.prefix + from, sizeof prefix);
  const Scores zero = Scores{} * 0.0;
  const Scores matches = __builtin_convertvector(m, Scores);
  const Scores a = matches / (zero + n2);
  const Scores b = a + matches / (zero + n1);
  const Scores c = __builtin_convertvector(static_cast<CountBytes>(m - (t >> 1)), Scores) / matches;
  const Scores jaro = (b + c) / (zero + kJaroDivisor);
  const Scores scaled = p * __builtin_convertvector(prefix, Scores);
  const Scores bonus = (1.0 - jaro) * scaled;
  const ScoreMask boosted = jaro > kBoostThreshold;
  const ScoreMask matched = matches != zero;
  const Scores boosted_score = jaro + bonus;
  Scores result = boosted ? boosted_score : jaro;
  result = matched ? result : zero;
  std::memcpy(out + from, &result, sizeof result);
}

// Whether the first `size` lanes score in vectors: when at least one in
// kVectorScoresShare matched.
template <std::size_t Lanes>
inline bool vector_scores_pay(const LaneCounts& counts, std::size_t size) noexcept {
  static_assert(Lanes >= kVectorScoresLanes);
  std::size_t matched = 0;
  for (std::size_t lane = 0; lane < Lanes; ++lane) matched += counts.m[lane] != 0;
  return kVectorScoresShare * matched >= size;
}

// The scores of the first `size` lanes from their counts, four a vector,
// against a query of n2 characters and candidates of n1, into out[0] to
// out[size - 1] (and the rest of their last vector).
template <std::size_t Lanes>
[[gnu::always_inline]] inline void lane_scores(const LaneCounts& counts, std::size_t size, std::size_t n1,
                                               std::size_t n2, double p, double* out) noexcept {
  static_assert(Lanes % 4 == 0);
  for (std::size_t from = 0; from < size; from += 4) {
    four_scores(counts, from, static_cast<double>(n1), static_cast<double>(n2), p, out);
  }
}

// jaro_lanes for each lane width, compiled for each target and run for the
// one chosen (jaro/lanes.cpp).
void jaro_lanes_8(const std::uint8_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_16(const std::uint16_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_32(const std::uint32_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;
void jaro_lanes_64(const std::uint64_t* columns, std::size_t n, std::size_t w, LaneCounts& out) noexcept;

// lane_scores for groups of kLanesOf<Lane> lanes, the same way, for the
// lanes that score in vectors.
template <class Lane>
void jaro_lane_scores(const LaneCounts& counts, std::size_t size, std::size_t n1, std::size_t n2, double p,
                      double* out) noexcept;

}  // namespace quillstone::detail::jw
