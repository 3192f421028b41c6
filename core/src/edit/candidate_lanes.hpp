// Candidates in vector lanes, each its own pattern, the query the text they
// all read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "edit/recurrence.hpp"
#include "masks/char_numbers.hpp"
#include "simd/lane_vectors.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// The other way round: each lane holds one candidate of 1 to 64 characters as
// its pattern, and the query is the text that all lanes read. The query's
// characters are numbered once per batch; a candidate's characters become
// bits in a table row per number, and a character the query lacks is never
// looked up. Every lane runs the query's m steps, whatever its length, so a
// group needs no common length; lanes are as narrow as the candidates and
// the score (at most max(m, 64)) allow.

inline constexpr std::size_t kCandidateLaneMax = 64;

// Candidates in the number form: `ids` holds each one's characters as the
// query's numbers (0 for characters it lacks), `start` where each begins.
struct NumberedCandidates {
  std::vector<std::uint32_t> ids;
  std::vector<std::uint32_t> start{0};
  std::vector<std::size_t> index;  // the candidate's place in the result

  std::size_t size() const noexcept { return index.size(); }
  std::size_t length(std::size_t i) const noexcept { return start[i + 1] - start[i]; }
  void clear() noexcept {
    ids.clear();
    start.assign(1, 0);
    index.clear();
  }
};

template <class Lane, EditMetric Metric>
void candidate_lanes_of(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                        const NumberedCandidates& group_of, const std::size_t* which, std::size_t count,
                        std::size_t* out) noexcept {
  using Vec = typename LaneVector<Lane>::type;
  constexpr std::size_t kLanes = kLanesOf<Lane>;
  std::vector<Lane> table(numbers * kLanes);
  Lane* cells = table.data();
  const Vec zero = Vec{} ^ Vec{};
  for (std::size_t first = 0; first < count; first += kLanes) {
    const std::size_t size = std::min(kLanes, count - first);
    alignas(kVectorBytes) Lane last_lanes[kLanes], lengths[kLanes];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      // Unused lanes repeat the first candidate.
      const std::size_t c = which[first + (lane < size ? lane : 0)];
      const std::size_t len = group_of.length(c);
      const std::uint32_t* ids = group_of.ids.data() + group_of.start[c];
      for (std::size_t i = 0; i < len; ++i) cells[ids[i] * kLanes + lane] |= static_cast<Lane>(Lane{1} << i);
      last_lanes[lane] = static_cast<Lane>(Lane{1} << (len - 1));
      lengths[lane] = static_cast<Lane>(len);
    }
    Vec last, score;
    std::memcpy(&last, last_lanes, sizeof last);
    std::memcpy(&score, lengths, sizeof score);
    ColumnWord<Metric, Vec> column;
    for (std::size_t j = 0; j < m; ++j) {
      Vec hp, hn;
      Vec pm;
      std::memcpy(&pm, cells + query[j] * kLanes, sizeof pm);
      column.step(pm, hp, hn);
      score -= (Vec)((hp & last) != zero);
      score += (Vec)((hn & last) != zero);
    }
    for (std::size_t lane = 0; lane < size; ++lane) out[group_of.index[which[first + lane]]] = score[lane];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const std::size_t c = which[first + (lane < size ? lane : 0)];
      const std::uint32_t* ids = group_of.ids.data() + group_of.start[c];
      for (std::size_t i = 0; i < group_of.length(c); ++i) cells[ids[i] * kLanes + lane] = 0;
    }
  }
}

// All of `candidates`, each in the narrowest lanes its length and the score
// allow.
template <EditMetric Metric>
void candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                     const NumberedCandidates& candidates, std::size_t* out) noexcept {
  std::vector<std::size_t> by_width[4];
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    const std::size_t len = candidates.length(c);
    const std::size_t width = len <= 8 && m <= 255 ? 0 : len <= 16 && m <= 65535 ? 1 : len <= 32 ? 2 : 3;
    by_width[width].push_back(c);
  }
  const auto run = [&](auto lane, const std::vector<std::size_t>& which) {
    if (!which.empty()) {
      candidate_lanes_of<decltype(lane), Metric>(query, m, numbers, candidates, which.data(), which.size(), out);
    }
  };
  run(std::uint8_t{}, by_width[0]);
  run(std::uint16_t{}, by_width[1]);
  run(std::uint32_t{}, by_width[2]);
  run(std::uint64_t{}, by_width[3]);
}

// candidate_lanes for each metric, compiled for each target (edit/lanes.cpp).
void levenshtein_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                                 const NumberedCandidates& candidates, std::size_t* out) noexcept;
void damerau_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                             const NumberedCandidates& candidates, std::size_t* out) noexcept;

template <EditMetric Metric>
inline constexpr auto kCandidateLanes =
    Metric == EditMetric::Levenshtein ? levenshtein_candidate_lanes : damerau_candidate_lanes;

// The query's characters numbered from 1 in order of first occurrence.
class QueryNumbers {
 public:
  explicit QueryNumbers(TextView query) noexcept {
    std::uint32_t next = 1;
    for (std::size_t i = 0; i < query.size(); ++i) {
      const char32_t c = query[i];
      const std::uint32_t id = numbers_.insert(c, next);
      if (id == next) {
        ++next;
        if (c >= 256) {
          Slot& slot = slots_[c % kSlots];
          if (slot.key == 0) {
            slot = {c, id, false};
          } else {
            slot.shared = true;
          }
        }
      }
      sequence_.push_back(id);
    }
    count_ = next;
  }

  const std::vector<std::uint32_t>& sequence() const noexcept { return sequence_; }
  std::size_t numbers() const noexcept { return count_; }
  std::uint32_t operator()(char32_t c) const noexcept {
    if (c < 256) return numbers_.find_byte(static_cast<unsigned char>(c));
    // Most characters of a candidate are not the query's: a slot by the low
    // bits answers for them, and for the query's own, without a probe.
    // Whether a character is the query's is as good as random: a select,
    // not a branch.
    const Slot& slot = slots_[c % kSlots];
    if (!slot.shared) [[likely]] return slot.key == c ? slot.id : 0;
    return slot.key == c ? slot.id : numbers_.find(c);
  }

  // The numbers of `units` into `out`, a byte each, for a query of fewer
  // than 256 numbers. Texts mostly begin with a run below U+0100 (names,
  // handles, words before emoji): its blocks of eight take one test and a
  // load from the byte table a unit; from the first block that holds a
  // wider character on, each unit takes the full lookup.
  template <class Unit>
  void bytes_of(const Unit* units, std::size_t n, unsigned char* out) const noexcept {
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
      std::uint32_t any = 0;
      for (std::size_t k = 0; k < kBlock; ++k) any |= units[i + k];
      if (any >= 256) break;
      for (std::size_t k = 0; k < kBlock; ++k) {
        out[i + k] = static_cast<unsigned char>(numbers_.find_byte(static_cast<unsigned char>(units[i + k])));
      }
    }
    for (; i < n; ++i) out[i] = static_cast<unsigned char>((*this)(units[i]));
  }

 private:
  static constexpr std::size_t kBlock = 8;

  struct Slot {
    char32_t key = 0;  // 0: no wide character of the query falls here
    std::uint32_t id = 0;
    bool shared = false;  // several do: the numbers decide
  };
  static constexpr std::size_t kSlots = 256;

  CharNumbers numbers_;
  Slot slots_[kSlots];
  std::vector<std::uint32_t> sequence_;
  std::size_t count_ = 1;
};

}  // namespace quillstone::detail
