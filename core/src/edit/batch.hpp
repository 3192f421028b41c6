// The edit-distance batch: a query prepared once, scored against chunks of
// candidates.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "edit/candidate_lanes.hpp"
#include "edit/nibble_lanes.hpp"
#include "edit/pattern.hpp"
#include "edit/plan.hpp"
#include "edit/query_lanes.hpp"
#include "edit/thresholds.hpp"
#include "edit/width_lists.hpp"
#include "masks/character_masks.hpp"
#include "masks/four_byte_masks.hpp"
#include "text/case_folding.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// Bytes appended in place: room is made before they are written, and is
// not filled first.
class PackedBytes {
 public:
  // At least n bytes past the end, to write before grow_by().
  unsigned char* room(std::size_t n) noexcept {
    if (capacity_ - size_ < n) {
      const std::size_t capacity = std::max(2 * capacity_, size_ + n);
      auto bytes = std::make_unique_for_overwrite<unsigned char[]>(capacity);
      if (size_ != 0) std::memcpy(bytes.get(), bytes_.get(), size_);
      bytes_ = std::move(bytes);
      capacity_ = capacity;
    }
    return bytes_.get() + size_;
  }
  void grow_by(std::size_t n) noexcept { size_ += n; }
  const unsigned char* data() const noexcept { return bytes_.get(); }
  std::size_t size() const noexcept { return size_; }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t size_ = 0, capacity_ = 0;
};

// The query of a batch, prepared once: folded as the scalar operation folds
// it, its pattern built once. Candidates are folded one by one the same way.
template <EditMetric Metric>
class EditBatch {
 public:
  EditBatch(TextView query, std::optional<bool> case_insensitive) noexcept
      : fold_(case_insensitive.value_or(false)),
        copy_(fold_ ? TextView() : query),
        query_(fold_ ? to_lower_full(query, folded_) : copy_.view()),
        pattern_(query_),
        numbers_(query_) {
    static_assert(sizeof(lane_masks_) == sizeof(ByteMasks{}.entry));
    // The lanes read the bytes of a one-byte candidate unfolded, whatever
    // the query's width (its wider characters match no byte): a folding
    // query's letters mark both their cases, as a byte folds to one byte.
    if (const CharacterMasks* masks = pattern_.word_masks(); masks != nullptr && !query_.empty()) {
      std::memcpy(lane_masks_.data(), masks->narrow.entry, sizeof(lane_masks_));
      if (fold_) {
        for (std::size_t c = 0; c < 256; ++c) lane_masks_[c] = lane_masks_[lower_byte(static_cast<unsigned char>(c))];
      }
      // The same lanes read any other candidate as the query's numbers, a
      // byte a character: a character the query lacks is 0, which matches
      // nothing, and only equality with the query's characters counts.
      for (std::size_t i = 0; i < query_.size(); ++i) number_masks_[numbers_(query_[i])] = masks->lookup(query_[i]);
      lanes_ = true;
      nibbles_ = nibble_path_runs(query_.size()) && nibble_masks_.build(lane_masks_.data());
      // Two-byte candidates are read in place, folding or not: in the same
      // lanes as bytes, else by the pages of the query's blocks.
      unit_nibbles_ =
          nibbles_ && narrowed_nibble_masks(query_, lane_masks_.data(), *masks, narrowing_, unit_nibble_masks_) &&
          (!fold_ || fold_narrowing(query_, narrowing_));
      if (!unit_nibbles_) {
        paged_ = fold_ ? PagedMasks::folding(query_, *masks, lane_masks_.data()) : PagedMasks(query_, *masks);
      }
    }
  }
  EditBatch(const EditBatch&) = delete;
  EditBatch& operator=(const EditBatch&) = delete;

  std::size_t distance(TextView candidate) const noexcept {
    // An empty query (folding empties no text) scores a candidate by its own
    // count, unfolded.
    if (pattern_.size() == 0) return candidate.size();
    FoldedText folded;
    if (fold_) candidate = to_lower_full(candidate, folded);
    if (candidate.empty()) return pattern_.size();
    return pattern_.distance(candidate, kUnbounded);
  }

  // candidates[i]'s distance into out[i]: a candidate of up to 255
  // characters against a query of up to 64 in the query's lanes, read in
  // place when its units are one byte, or two or four bytes that the lanes
  // read unfolded (and, folding, each lower-cased alone), otherwise as the
  // query's numbers; a candidate of at most 64 characters otherwise in
  // candidate lanes, every other one by distance(). Candidate lanes are
  // filled in chunks, so that their buffers stay small. Each result equals
  // the scalar operation's on its candidate.
  void distances(std::span<const TextView> candidates, std::size_t* out) const noexcept {
    constexpr std::size_t kChunk = 4096;
    // The candidates of each lane path, in one allocation with room for
    // every candidate in each, filled without being cleared first.
    const std::size_t room = lanes_ ? candidates.size() : 0;
    const auto lists = std::make_unique_for_overwrite<std::size_t[]>(4 * room);
    WidthLists by_width{{lists.get(), lists.get() + room, lists.get() + 2 * room, lists.get() + 3 * room}};
    std::size_t* const lanes = by_width.lists[0];
    std::size_t* const paged = by_width.lists[1];
    std::size_t* const wide = by_width.lists[2];
    std::vector<std::size_t> renumbered;
    // The query's numbers of the candidates that the lanes cannot read in
    // place, and where each one ends in `numbers`.
    PackedBytes numbers;
    std::vector<std::size_t> ends;
    NumberedCandidates numbered;
    const auto flush = [&] {
      if (numbered.size() == 0) return;
      kCandidateLanes<Metric>(numbers_.sequence().data(), pattern_.size(), numbers_.numbers(), numbered, out);
      numbered.clear();
    };
    std::vector<std::size_t> others;
    if (!lanes_) {
      // No query lanes (an empty query, or one past 64 characters): every
      // candidate takes the paths below.
      others.resize(candidates.size());
      for (std::size_t i = 0; i < candidates.size(); ++i) others[i] = i;
    } else if (all_bytes_in_reach(candidates)) {
      // Most lists of one script hold nothing else: their list is every
      // candidate in order.
      for (std::size_t i = 0; i < candidates.size(); ++i) lanes[i] = i;
      by_width.count[0] = candidates.size();
    } else {
      sort_by_width(candidates, by_width);
      others.assign(by_width.lists[3], by_width.lists[3] + by_width.count[3]);
    }
    std::size_t bytes = by_width.count[0], pairs = by_width.count[1], quads = by_width.count[2];
    // Folding, the lanes read only units whose lower case is one character
    // alone: a pass of its own, as a branch on the width while sorting
    // would be mispredicted.
    if (fold_) {
      const auto put_aside = [&](std::size_t i) { others.push_back(i); };
      pairs = keep_lower_alone<char16_t>(candidates, paged, pairs, put_aside);
      quads = keep_lower_alone<char32_t>(candidates, wide, quads, put_aside);
    }
    // Four-byte candidates are read in place, folding or not, by masks made
    // only for a chunk that holds enough of them: most batches hold none.
    FourByteMasks four_bytes;
    if (quads != 0) {
      if (quads >= kFourByteLanesFrom) four_bytes = four_byte_masks();
      if (!four_bytes.built()) {
        others.insert(others.end(), wide, wide + quads);
        quads = 0;
      }
    }
    for (const std::size_t i : others) {
      const TextView candidate = candidates[i];
      if (lanes_ && renumber(candidate, numbers)) {
        renumbered.push_back(i);
        ends.push_back(numbers.size());
      } else if (number(candidate, i, numbered)) {
        if (numbered.size() == kChunk) flush();
      } else {
        out[i] = distance(candidate);
      }
    }
    flush();
    if (bytes != 0) byte_lanes(candidates, lanes, bytes, out);
    if (pairs != 0) unit_lanes(candidates, paged, pairs, out);
    if (quads != 0) kWidePath<Metric>(four_bytes, pattern_.size(), candidates, wide, quads, out);
    score_packed(numbers, ends, renumbered, out, [&](auto views, auto which, auto count, auto scores) {
      kTablePath<Metric>(number_masks_.data(), pattern_.size(), views, which, count, scores);
    });
  }

 private:
  // Whether every candidate is 1 to kQueryLaneMaxChars bytes, which the
  // lanes read in place: a pass with no store and a branch a block, which
  // stops at the first block that says no (lists of mixed widths say so
  // in their first block or two).
  static bool all_bytes_in_reach(std::span<const TextView> candidates) noexcept {
    constexpr std::size_t kBlock = 16;
    for (std::size_t from = 0; from < candidates.size(); from += kBlock) {
      const std::size_t end = std::min(candidates.size(), from + kBlock);
      unsigned all = 1;
      for (std::size_t i = from; i < end; ++i) {
        all &= unsigned{candidates[i].narrow()} & unsigned{candidates[i].size() - 1 < kQueryLaneMaxChars};
      }
      if (all == 0) return false;
    }
    return true;
  }

  // Calls put(number) with the query's number of each of `candidate`'s
  // characters, folded as the query is (0 for a character it lacks); false,
  // having stopped, at a character past the first `most`.
  template <class Put>
  bool for_each_number(TextView candidate, std::size_t most, Put put) const noexcept {
    // Folding never shortens a text.
    if (candidate.size() > most) return false;
    if (fold_ && candidate.narrow()) {
      const auto* units = units_of<unsigned char>(candidate);
      for (std::size_t i = 0; i < candidate.size(); ++i) put(numbers_(lower_byte(units[i])));
      return true;
    }
    FoldedText folded;
    if (fold_) {
      candidate = to_lower_full(candidate, folded);
      if (candidate.size() > most) return false;
    }
    with_units(candidate, [&](const auto* units) {
      for (std::size_t i = 0; i < candidate.size(); ++i) put(numbers_(units[i]));
    });
    return true;
  }

  // The masks that the lanes read four-byte candidates by.
  FourByteMasks four_byte_masks() const noexcept {
    const CharacterMasks& masks = *pattern_.word_masks();
    return fold_ ? FourByteMasks::folding(query_, masks, lane_masks_.data())
                 : FourByteMasks(query_, masks, lane_masks_.data());
  }

  // The one-byte candidates `which`, read in place.
  void byte_lanes(std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                  std::size_t* out) const noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
    if (nibbles_) return nibble_path<Metric>(nibble_masks_, pattern_.size(), candidates, which, count, out);
#endif
    kTablePath<Metric>(lane_masks_.data(), pattern_.size(), candidates, which, count, out);
  }

  // Scores the texts laid end to end in `packed`, text k ending at ends[k]
  // and belonging to candidate which[k], by `score(views, order, count,
  // scores)`, and puts each score at its candidate's place in `out`.
  template <class Score>
  static void score_packed(const PackedBytes& packed, const std::vector<std::size_t>& ends,
                           const std::vector<std::size_t>& which, std::size_t* out, Score score) noexcept {
    const std::size_t count = which.size();
    if (count == 0) return;
    std::vector<TextView> views(count);
    std::vector<std::size_t> order(count), scores(count);
    std::size_t from = 0;
    for (std::size_t k = 0; k < count; ++k) {
      views[k] = TextView(packed.data() + from, ends[k] - from);
      order[k] = k;
      from = ends[k];
    }
    score(std::span<const TextView>(views), order.data(), count, scores.data());
    for (std::size_t k = 0; k < count; ++k) out[which[k]] = scores[k];
  }

  // The two-byte candidates `which`, read in place.
  void unit_lanes(std::span<const TextView> candidates, const std::size_t* which, std::size_t count,
                  std::size_t* out) const noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
    if (unit_nibbles_) {
      return nibble_path<Metric>(unit_nibble_masks_, narrowing_, pattern_.size(), candidates, which, count, out);
    }
#endif
    kPagedPath<Metric>(paged_, pattern_.size(), candidates, which, count, out);
  }

  // Appends `candidate` to `out` as the query's numbers, a byte a character,
  // when it has 1 to kQueryLaneMaxChars characters once folded; false, with
  // `out` as it was, otherwise.
  bool renumber(TextView candidate, PackedBytes& out) const noexcept {
    // Folding never shortens a text.
    if (candidate.empty() || candidate.size() > kQueryLaneMaxChars) return false;
    // Bytes fold one by one as they are read.
    const bool fold_bytes = fold_ && candidate.narrow();
    FoldedText folded;
    if (fold_ && !fold_bytes) {
      candidate = to_lower_full(candidate, folded);
      if (candidate.size() > kQueryLaneMaxChars) return false;
    }
    unsigned char* numbers = out.room(candidate.size());
    if (fold_bytes) {
      const auto* units = units_of<unsigned char>(candidate);
      for (std::size_t i = 0; i < candidate.size(); ++i) {
        numbers[i] = static_cast<unsigned char>(numbers_(lower_byte(units[i])));
      }
    } else {
      with_units(candidate, [&](const auto* units) { numbers_.bytes_of(units, candidate.size(), numbers); });
    }
    out.grow_by(candidate.size());
    return true;
  }

  // Appends `candidate` to `out` in the query's numbers when it has 1 to 64
  // characters once folded; false otherwise.
  bool number(TextView candidate, std::size_t index, NumberedCandidates& out) const noexcept {
    if (pattern_.size() == 0 || candidate.empty()) return false;
    const std::size_t first = out.ids.size();
    if (!for_each_number(candidate, kCandidateLaneMax, [&](std::uint32_t id) { out.ids.push_back(id); }) ||
        out.ids.size() == first) {
      out.ids.resize(first);
      return false;
    }
    out.start.push_back(static_cast<std::uint32_t>(out.ids.size()));
    out.index.push_back(index);
    return true;
  }

  bool fold_;
  FoldedText folded_;
  OwnedText copy_;
  TextView query_;
  EditPattern<Metric> pattern_;
  QueryNumbers numbers_;
  bool lanes_ = false, nibbles_ = false, unit_nibbles_ = false;
  std::array<std::uint64_t, 256> lane_masks_{}, number_masks_{};
  NibbleMasks nibble_masks_, unit_nibble_masks_;
  UnitNarrowing narrowing_;
  PagedMasks paged_;
};

}  // namespace quillstone::detail

namespace quillstone {

template <EditMetric Metric>
EditDistanceBatch<Metric>::EditDistanceBatch(TextView query, std::optional<bool> case_insensitive) noexcept
    : impl_(std::make_unique<const detail::EditBatch<Metric>>(query, case_insensitive)) {}

template <EditMetric Metric>
EditDistanceBatch<Metric>::EditDistanceBatch(std::string_view utf8_query, std::optional<bool> case_insensitive) noexcept
    : EditDistanceBatch(Utf8Text(utf8_query).view(), case_insensitive) {}

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
std::size_t EditDistanceBatch<Metric>::distance(std::string_view utf8_candidate) const noexcept {
  return impl_->distance(Utf8Text(utf8_candidate));
}

template <EditMetric Metric>
void EditDistanceBatch<Metric>::distances(std::span<const TextView> candidates,
                                          std::span<std::size_t> out) const noexcept {
  impl_->distances(candidates, out.data());
}

template <EditMetric Metric>
void EditDistanceBatch<Metric>::distances(std::span<const std::string_view> utf8_candidates,
                                          std::span<std::size_t> out) const noexcept {
  const std::vector<Utf8Text> texts(utf8_candidates.begin(), utf8_candidates.end());
  const std::vector<TextView> views(texts.begin(), texts.end());
  impl_->distances(views, out.data());
}

}  // namespace quillstone
