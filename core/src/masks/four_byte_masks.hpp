// Match masks read by 4-byte units, with no branch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "masks/paged_masks.hpp"
#include "quillstone/quillstone.hpp"

namespace quillstone::detail {

// A pattern's masks for texts of 4-byte units: the pages of its characters
// up to U+FFFF, and a slot by the low byte for each one from U+10000 on
// (emoji, the rarer ideographs). A unit takes both lookups and keeps the one
// its range says, as whether a unit is past U+FFFF changes within most texts
// that hold one (a handle and its emoji).
class FourByteMasks {
 public:
  FourByteMasks() noexcept = default;

  // The masks of a pattern of at most 64 characters, as masks.lookup(c)
  // gives them. Not built (built() is false) when two of its characters
  // past U+FFFF share a slot.
  template <class Masks>
  FourByteMasks(TextView pattern, const Masks& masks) noexcept : pages_(pattern, masks), built_(true) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const char32_t c = pattern[i];
      if (c < 0x10000) continue;
      Slot& slot = slots_[c & 255];
      if (slot.key != 0 && slot.key != c) built_ = false;
      slot = {c, masks.lookup(c)};
    }
  }

  bool built() const noexcept { return built_; }

  // A free slot's key, 0, is below U+10000, where its mask is not taken.
  std::uint64_t operator()(char32_t c) const noexcept {
    const std::uint64_t paged = pages_(static_cast<char16_t>(c));
    const Slot& slot = slots_[c & 255];
    const std::uint64_t slotted = slot.key == c ? slot.mask : 0;
    return c < 0x10000 ? paged : slotted;
  }

 private:
  struct Slot {
    char32_t key = 0;
    std::uint64_t mask = 0;
  };
  PagedMasks pages_;
  Slot slots_[256];
  bool built_ = false;
};

}  // namespace quillstone::detail
