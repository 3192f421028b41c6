// Candidates grouped by length, so that the lanes of one vector run the same
// steps and read their scores after the same one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "text/units.hpp"

namespace quillstone::detail {

// Groups of up to `Lanes` candidates, one per length from 1 to a maximum,
// each candidate known by its index. A group runs as soon as it is full;
// finish() runs the ones left partly filled. `run(n, index, size)` scores
// group n, whose members' indices are index[0] to index[size - 1].
template <std::size_t Lanes>
class LengthGroups {
 public:
  explicit LengthGroups(std::size_t max_length) noexcept : groups_(max_length + 1) {}

  // The lane that the next candidate of length n takes.
  std::size_t next_lane(std::size_t n) const noexcept { return groups_[n].size; }

  template <class Run>
  void add(std::size_t n, std::size_t index, Run&& run) noexcept {
    Group& group = groups_[n];
    group.index[group.size] = index;
    if (++group.size == Lanes) {
      run(n, group.index, Lanes);
      group.size = 0;
    }
  }

  template <class Run>
  void finish(Run&& run) noexcept {
    for (std::size_t n = 1; n < groups_.size(); ++n) {
      Group& group = groups_[n];
      if (group.size == 0) continue;
      run(n, group.index, group.size);
      group.size = 0;
    }
  }

 private:
  struct Group {
    // Provided, so that making the groups does not clear every index.
    Group() noexcept {}
    std::size_t size = 0;
    std::size_t index[Lanes];
  };
  std::vector<Group> groups_;
};

// The longest of the candidates `which`: no more groups than that are made.
inline std::size_t longest_of(std::span<const TextView> candidates, const std::size_t* which,
                              std::size_t count) noexcept {
  std::size_t longest = 0;
  for (std::size_t k = 0; k < count; ++k) longest = std::max(longest, candidates[which[k]].size());
  return longest;
}

}  // namespace quillstone::detail
