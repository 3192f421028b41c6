// Pattern masks filled as a scan first reaches them, from a pattern read by
// one of the text readers.
#pragma once

#include <algorithm>
#include <cstddef>

#include "masks/pattern_masks.hpp"
#include "text/readers.hpp"

namespace quillstone::detail {

// The masks of a pattern read by one scan, filled a word at a time as the
// scan first reaches each word: a band that stops early never decodes or
// indexes the rest of its pattern.
template <class Reader>
class GrowingMasks {
 public:
  GrowingMasks(Reader pattern, std::size_t m) noexcept : masks_(m), pattern_(pattern), m_(m) {}

  [[gnu::always_inline]] PatternMasks::Row row(unsigned char c) const noexcept { return masks_.row(c); }
  [[gnu::always_inline]] PatternMasks::Row row(char32_t c) const noexcept { return masks_.row(c); }

  [[gnu::always_inline]] void reach(std::size_t words) noexcept {
    if (words > filled_) [[unlikely]] fill(words);
  }

 private:
  void fill(std::size_t words) noexcept {
    const std::size_t end = std::min(words * kWordBits, m_);
    for (; position_ < end; ++position_) masks_.add(position_, pattern_.next());
    filled_ = words;
  }

  PatternMasks masks_;
  Reader pattern_;
  std::size_t m_;
  std::size_t position_ = 0, filled_ = 0;
};

}  // namespace quillstone::detail
