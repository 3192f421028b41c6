// Pattern masks filled as a scan first reaches them.
#pragma once

#include <algorithm>
#include <cstddef>

#include "masks/pattern_masks.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// The masks of a pattern read by one scan, filled a word at a time as the
// scan first reaches each word: a band that stops early never reads or
// indexes the rest of its pattern.
class GrowingMasks {
 public:
  explicit GrowingMasks(TextView pattern) noexcept : masks_(pattern.size()), pattern_(pattern) {}

  [[gnu::always_inline]] PatternMasks::Row row(unsigned char c) const noexcept { return masks_.row(c); }
  [[gnu::always_inline]] PatternMasks::Row row(char32_t c) const noexcept { return masks_.row(c); }

  [[gnu::always_inline]] void reach(std::size_t words) noexcept {
    if (words > filled_) [[unlikely]] fill(words);
  }

 private:
  void fill(std::size_t words) noexcept {
    const std::size_t end = std::min(words * kWordBits, pattern_.size());
    with_units(pattern_, [&](const auto* units) {
      for (; position_ < end; ++position_) masks_.add(position_, units[position_]);
    });
    filled_ = words;
  }

  PatternMasks masks_;
  TextView pattern_;
  std::size_t position_ = 0, filled_ = 0;
};

}  // namespace quillstone::detail
