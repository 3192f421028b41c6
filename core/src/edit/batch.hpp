// The edit-distance batch: a query prepared once, scored against chunks of
// candidates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "edit/candidate_lanes.hpp"
#include "edit/pattern.hpp"
#include "edit/query_lanes.hpp"
#include "masks/character_masks.hpp"
#include "text/case_folding.hpp"
#include "text/utf8.hpp"

namespace quillstone::detail {

// The query of a batch, prepared once: folded as the scalar operation folds
// it, its pattern built once. Candidates are folded one by one the same way.
template <EditMetric Metric>
class EditBatch {
 public:
  EditBatch(TextView query, std::optional<bool> case_insensitive) noexcept
      : fold_(case_insensitive.value_or(false)),
        folded_(fold_ ? to_lower_full(query) : std::string(query)),
        ascii_(is_ascii(folded_)),
        pattern_(folded_, ascii_ ? folded_.size() : count_chars(folded_), ascii_),
        numbers_(folded_, ascii_) {
    static_assert(sizeof(lane_masks_) == sizeof(ByteMasks{}.entry));
    // The lanes read candidate bytes unfolded: a folding query's letters
    // mark both their cases.
    if (const CharacterMasks* masks = pattern_.word_masks(); masks != nullptr && !folded_.empty()) {
      if (ascii_) {
        std::memcpy(lane_masks_.data(), masks->narrow.entry, sizeof(lane_masks_));
        if (fold_) {
          for (unsigned char c = 'A'; c <= 'Z'; ++c) lane_masks_[c] = lane_masks_[c + 0x20];
        }
        lanes_ = true;
      }
      // The same lanes read any other candidate as the query's numbers, a
      // byte a character: a character the query lacks is 0, which matches
      // nothing, and only equality with the query's characters counts.
      char32_t chars[kWordBits];
      const std::size_t m = decode_chars(folded_, chars);
      for (std::size_t i = 0; i < m; ++i) number_masks_[numbers_(chars[i])] = masks->lookup(chars[i]);
      numbered_lanes_ = true;
    }
  }

  EditBatch(const EditBatch&) = delete;
  EditBatch& operator=(const EditBatch&) = delete;

  std::size_t distance(TextView candidate) const noexcept {
    // An empty query (folding empties no text) scores a candidate by its own
    // count, unfolded.
    if (pattern_.size() == 0) return count_chars(candidate);
    std::string folded;
    if (fold_) {
      folded = to_lower_full(candidate);
      candidate = folded;
    }
    const bool ascii = is_ascii(candidate);
    const std::size_t n = ascii ? candidate.size() : count_chars(candidate);
    if (n == 0) return pattern_.size();
    return pattern_.distance(candidate, n, ascii, kUnbounded);
  }

  // candidates[i]'s distance into out[i]: an ASCII candidate of up to 255
  // bytes against a short ASCII query in the query's lanes, a candidate of
  // at most 64 characters otherwise in candidate lanes, every other one by
  // distance(). Candidate lanes are filled in chunks, so that their buffers
  // stay small. Each result equals the scalar operation's on its candidate.
  void distances(std::span<const TextView> candidates, std::size_t* out) const noexcept {
    constexpr std::size_t kChunk = 4096;
    std::vector<std::size_t> lanes, renumbered;
    if (lanes_) lanes.reserve(candidates.size());
    // The query's numbers of the candidates that the byte table cannot read,
    // and where each one ends in `numbers`.
    std::string numbers;
    std::vector<std::size_t> ends;
    if (numbered_lanes_ && !lanes_) {
      std::size_t bytes = 0;
      for (const TextView candidate : candidates) bytes += std::min(candidate.size(), 4 * kQueryLaneMaxBytes);
      numbers.reserve(bytes);
    }
    NumberedCandidates numbered;
    const auto flush = [&] {
      if (numbered.size() == 0) return;
      kCandidateLanes<Metric>(numbers_.sequence().data(), pattern_.size(), numbers_.numbers(), numbered, out);
      numbered.clear();
    };
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const TextView candidate = candidates[i];
      if (lanes_ && !candidate.empty() && candidate.size() <= kQueryLaneMaxBytes && is_ascii(candidate)) {
        lanes.push_back(i);
      } else if (numbered_lanes_ && renumber(candidate, numbers)) {
        renumbered.push_back(i);
        ends.push_back(numbers.size());
      } else if (number(candidate, i, numbered)) {
        if (numbered.size() == kChunk) flush();
      } else {
        out[i] = distance(candidate);
      }
    }
    flush();
    if (!lanes.empty()) {
      kTablePath<Metric>(lane_masks_.data(), pattern_.size(), candidates, lanes.data(), lanes.size(), out);
    }
    if (!renumbered.empty()) {
      // Views of the numbers at the candidates' own places, so that the
      // scores land there.
      std::vector<TextView> views(candidates.size());
      std::size_t from = 0;
      for (std::size_t k = 0; k < renumbered.size(); ++k) {
        views[renumbered[k]] = TextView(numbers.data() + from, ends[k] - from);
        from = ends[k];
      }
      kTablePath<Metric>(number_masks_.data(), pattern_.size(), views, renumbered.data(), renumbered.size(), out);
    }
  }

 private:
  // Calls put(number) with the query's number of each of `candidate`'s
  // characters, folded as the query is (0 for a character it lacks); false,
  // having stopped, at a character past the first `most`.
  template <class Put>
  bool for_each_number(TextView candidate, std::size_t most, Put put) const noexcept {
    const bool ascii = is_ascii(candidate);
    std::string folded;
    if (fold_ && !ascii) {
      folded = to_lower_full(candidate);
      candidate = folded;
    }
    const char* p = candidate.data();
    const char* end = p + candidate.size();
    std::size_t count = 0;
    if (ascii) {
      for (; p < end; ++p) {
        if (count++ == most) return false;
        unsigned char c = static_cast<unsigned char>(*p);
        if (fold_ && c >= 'A' && c <= 'Z') c += 0x20;
        put(numbers_(c));
      }
    } else {
      while (p < end) {
        if (count++ == most) return false;
        put(numbers_(decode_next(p)));
      }
    }
    return true;
  }

  // Appends `candidate` to `out` as the query's numbers, a byte a character,
  // when it has 1 to kQueryLaneMaxBytes characters once folded; false, with
  // `out` as it was, otherwise.
  bool renumber(TextView candidate, std::string& out) const noexcept {
    // Four bytes a character at most: a longer text may still qualify.
    if (candidate.empty() || candidate.size() > 4 * kQueryLaneMaxBytes) return false;
    char numbers[kQueryLaneMaxBytes];
    std::size_t count = 0;
    if (!for_each_number(candidate, kQueryLaneMaxBytes,
                         [&](std::uint32_t id) { numbers[count++] = static_cast<char>(id); })) {
      return false;
    }
    out.append(numbers, count);
    return count != 0;  // folding may empty a text
  }

  // Appends `candidate` to `out` in the query's numbers when it has 1 to 64
  // characters once folded; false otherwise.
  bool number(TextView candidate, std::size_t index, NumberedCandidates& out) const noexcept {
    // Four bytes a character at most: a longer text may still qualify.
    if (pattern_.size() == 0 || candidate.empty() || candidate.size() > 4 * kCandidateLaneMax) return false;
    if (candidate.size() > kCandidateLaneMax && is_ascii(candidate)) return false;
    const std::size_t first = out.ids.size();
    if (!for_each_number(candidate, kCandidateLaneMax, [&](std::uint32_t id) { out.ids.push_back(id); })) {
      out.ids.resize(first);
      return false;
    }
    out.start.push_back(static_cast<std::uint32_t>(out.ids.size()));
    out.index.push_back(index);
    return true;
  }

  bool fold_;
  std::string folded_;
  bool ascii_;
  EditPattern<Metric> pattern_;
  QueryNumbers numbers_;
  bool lanes_ = false, numbered_lanes_ = false;
  std::array<std::uint64_t, 256> lane_masks_{}, number_masks_{};
};

}  // namespace quillstone::detail

namespace quillstone {

template <EditMetric Metric>
EditDistanceBatch<Metric>::EditDistanceBatch(TextView query, std::optional<bool> case_insensitive) noexcept
    : impl_(std::make_unique<const detail::EditBatch<Metric>>(query, case_insensitive)) {}

template <EditMetric Metric>
EditDistanceBatch<Metric>::EditDistanceBatch(EditDistanceBatch&&) noexcept = default;

template <EditMetric Metric>
EditDistanceBatch<Metric>& EditDistanceBatch<Metric>::operator=(EditDistanceBatch&&) noexcept = default;

template <EditMetric Metric>
EditDistanceBatch<Metric>::~EditDistanceBatch() = default;

template <EditMetric Metric>
std::size_t EditDistanceBatch<Metric>::distance(TextView candidate) const noexcept {
  return impl_->distance(candidate);
}

template <EditMetric Metric>
void EditDistanceBatch<Metric>::distances(std::span<const TextView> candidates,
                                          std::span<std::size_t> out) const noexcept {
  impl_->distances(candidates, out.data());
}

}  // namespace quillstone
