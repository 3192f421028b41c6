// Match masks of a pattern of any length, several words per character, in
// rows that a scan can number.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "masks/char_hash.hpp"
#include "masks/character_masks.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// Masks of a pattern of any length, W words per character, in one block of
// rows of W words each: a direct row per character code below U+0100
// (row-major by character), then the rows of the pattern's characters U+0100
// and above in the order of a sorted key map, then one all-zero row for every
// character the pattern lacks. Row numbers let a scan keep state per
// character next to the masks.
class MultiWordMasks {
 public:
  static constexpr char32_t kDirectRows = 256;

  // The pattern's distinct characters U+0100 and above, sorted: the keys of
  // the map. They are known before the rows are allocated, so a caller can
  // weigh the table's size first.
  template <class Char>
  static std::vector<char32_t> wide_keys(const Char* pattern, std::size_t m) noexcept;

  // `keys` is wide_keys of the same pattern.
  template <class Char>
  MultiWordMasks(const Char* pattern, std::size_t m, std::vector<char32_t> keys) noexcept;

  // Rows of the table for a pattern with `keys` wide characters.
  static std::size_t rows_for(std::size_t keys) noexcept { return kDirectRows + keys + 1; }

  std::size_t rows() const noexcept { return rows_for(keys_.size()); }

  // The row of `c`; every character the pattern lacks shares the last one.
  std::size_t row_of(char32_t c) const noexcept {
    if (c < kDirectRows) return c;
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), c);
    if (it == keys_.end() || *it != c) return rows() - 1;
    return kDirectRows + static_cast<std::size_t>(it - keys_.begin());
  }

  const std::uint64_t* row(std::size_t r) const noexcept { return rows_.data() + r * words_; }

 private:
  std::size_t words_;
  std::vector<char32_t> keys_;
  std::vector<std::uint64_t> rows_;
};

// The rows of characters met one after another. A text repeats few distinct
// characters, so the key map is bisected only when a character misses a
// small direct-mapped memo; the row found is always row_of's. Bytes are
// their own rows. Decoded characters all go through the memo, even those
// below U+0100: in text that mixes them with wider ones, a test for the
// direct rows would be a branch mispredicted all along.
class RowFinder {
 public:
  explicit RowFinder(const MultiWordMasks& masks) noexcept : masks_(masks) {}

  std::size_t operator()(unsigned char c) noexcept { return c; }
  std::size_t operator()(char16_t c) noexcept { return (*this)(char32_t{c}); }
  std::size_t operator()(char32_t c) noexcept {
    Slot& slot = memo_[slot_of(c)];
    if (slot.key != c) slot = {c, static_cast<std::uint32_t>(masks_.row_of(c))};
    return slot.row;
  }

  // Slots are picked by a multiplicative hash, so that characters a fixed
  // stride apart do not all collide.
  static std::size_t slot_of(char32_t c) noexcept {
    return char_slot(c, kSlotBits);
  }
  static constexpr unsigned kSlotBits = 8;

 private:
  struct Slot {
    char32_t key = 0;  // an empty slot holds U+0000, whose row is 0
    std::uint32_t row = 0;  // rows are fewer than the code points plus 257
  };
  const MultiWordMasks& masks_;
  Slot memo_[std::size_t{1} << kSlotBits];
};

template <class Char>
std::vector<char32_t> MultiWordMasks::wide_keys(const Char* pattern, std::size_t m) noexcept {
  std::vector<char32_t> keys;
  if constexpr (sizeof(Char) > 1) {
    // A character already in its memo slot is a repeat; only the others are
    // collected, so the sort sees few more than the distinct characters.
    char32_t seen[std::size_t{1} << RowFinder::kSlotBits] = {};
    for (std::size_t i = 0; i < m; ++i) {
      const char32_t c = pattern[i];
      if (c < kDirectRows) continue;
      char32_t& slot = seen[RowFinder::slot_of(c)];
      if (slot == c) continue;
      slot = c;
      keys.push_back(c);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  }
  return keys;
}

template <class Char>
MultiWordMasks::MultiWordMasks(const Char* pattern, std::size_t m,
                               std::vector<char32_t> keys) noexcept
    : words_((m + kWordBits - 1) / kWordBits), keys_(std::move(keys)) {
  rows_.assign(rows() * words_, 0);
  RowFinder find(*this);
  for (std::size_t i = 0; i < m; ++i) {
    rows_[find(pattern[i]) * words_ + i / kWordBits] |= std::uint64_t{1} << (i % kWordBits);
  }
}

}  // namespace quillstone::detail
