// Candidates grouped by length, so that the lanes of one vector run the same
// steps and read their scores after the same one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "text/units.hpp"

namespace quillstone::detail {

// Groups of up to `Lanes` candidates, one per length from 1 to a maximum,
// each candidate known by its index. A group runs as soon as it is full;
// finish() runs the ones left partly filled. `run(n, index, size)` scores
// group n, whose members' indices are index[0] to index[size - 1]. Groups
// are made up to the longest length seen so far: made for every length a
// batch may hold, their indices would fill pages that most batches never
// use, which the allocator gives back to the system and the next chunk
// faults in again.
template <std::size_t Lanes>
class LengthGroups {
 public:
  LengthGroups() noexcept = default;

  // The lane that the next candidate of length n takes.
  std::size_t next_lane(std::size_t n) const noexcept { return n < groups_.size() ? groups_[n].size : 0; }

  // Adds a candidate of length n; runs its group once it is full.
  template <class Run>
  void add(std::size_t n, std::size_t index, Run&& run) noexcept {
    if (n >= groups_.size()) groups_.resize(std::max(n + 1, 2 * groups_.size()));
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

// The candidates `which` in order of length: `which` itself when they
// already are, as lists of one length are, otherwise `sorted`, filled by a
// counting sort, in which no branch depends on any one's length. ends[n] is
// where those of length n end, for n up to the longest; ends has two more
// entries than that length.
inline const std::size_t* in_order_of_length(std::span<const TextView> candidates, const std::size_t* which,
                                             std::size_t count, std::vector<std::size_t>& sorted,
                                             std::vector<std::size_t>& ends) noexcept {
  // In the same pass, each length's last candidate marks its end, which is
  // all that ordered candidates need, without a count that one run of
  // increments after another would wait on. Lengths past the marks' reach
  // (no lane takes them) are only ever counted.
  constexpr std::size_t kMarked = 256;
  std::size_t last[kMarked] = {};
  std::size_t longest = 0;
  bool ordered = true;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t n = candidates[which[k]].size();
    ordered &= n >= longest;
    longest = std::max(longest, n);
    last[std::min(n, kMarked - 1)] = k + 1;
  }
  ends.assign(longest + 2, 0);
  if (ordered && longest < kMarked - 1) {
    ends[0] = last[0];
    for (std::size_t n = 1; n <= longest; ++n) ends[n] = std::max(last[n], ends[n - 1]);
    ends[longest + 1] = count;
    return which;
  }
  std::vector<std::uint32_t> lengths(count);
  for (std::size_t k = 0; k < count; ++k) lengths[k] = static_cast<std::uint32_t>(candidates[which[k]].size());
  // ends[n + 1] counts the candidates of length n, then, summed, ends[n] is
  // where they start, and after the sort where they end.
  for (std::size_t k = 0; k < count; ++k) ++ends[lengths[k] + 1];
  for (std::size_t n = 1; n <= longest; ++n) ends[n] += ends[n - 1];
  sorted.resize(count);
  for (std::size_t k = 0; k < count; ++k) sorted[ends[lengths[k]]++] = which[k];
  ends[longest + 1] = count;
  return sorted.data();
}

// Scores the candidates `which` by length groups, each member's score into
// out[its index]. `kernel(texts, n, scores)` scores up to two vectors of
// equal-length candidates: texts[v][lane] is the units of a member and n[v]
// their length; n[1] is 0 when the second vector is absent. With `paired`
// vectors are handed on two at a time, so that the kernel can run one
// vector's chain of steps beside the other's; otherwise one at a time.
//
// The candidates are first put in order of length by a counting sort, with
// no branch on any one's length: in most lists it changes from each
// candidate to the next, and such a branch would be mispredicted about
// every time. Vectors then fill one length after the other; a length's last
// vector may be partly filled (its unused lanes repeat a member), and the
// vectors paired have one length but where one length ends.
template <std::size_t Lanes, class Unit, class Kernel>
void score_length_groups(std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                         bool paired, Kernel&& kernel, std::size_t* out) noexcept {
  if (count == 0) return;
  std::vector<std::size_t> sorted_store, ends;
  const std::size_t* sorted = in_order_of_length(candidates, which, count, sorted_store, ends);
  const std::size_t longest = ends.size() - 2;

  const Unit* texts[2][Lanes];
  std::size_t n[2] = {0, 0}, scores[2][Lanes];
  std::size_t members[2][Lanes], sizes[2] = {0, 0};
  const auto flush = [&] {
    kernel(texts, n, scores);
    for (std::size_t v = 0; v < 2; ++v) {
      for (std::size_t lane = 0; lane < sizes[v]; ++lane) out[members[v][lane]] = scores[v][lane];
      n[v] = sizes[v] = 0;
    }
  };
  std::size_t from = 0;
  for (std::size_t length = 0; length <= longest; ++length) {
    for (; from < ends[length]; from += Lanes) {
      const std::size_t size = std::min(Lanes, ends[length] - from);
      const std::size_t v = sizes[0] == 0 ? 0 : 1;
      for (std::size_t lane = 0; lane < Lanes; ++lane) {
        members[v][lane] = sorted[from + (lane < size ? lane : 0)];
        texts[v][lane] = units_of<Unit>(candidates[members[v][lane]]);
      }
      n[v] = length;
      sizes[v] = size;
      if (v == 1 || !paired) flush();
    }
    from = ends[length];
  }
  if (sizes[0] != 0) flush();
}

}  // namespace quillstone::detail
