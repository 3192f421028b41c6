// Match masks read by 4-byte units, with no branch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quillstone/quillstone.hpp"

namespace quillstone::detail {

// A pattern's masks for texts of 4-byte units: a table of 256 for the units
// below U+0100, and a slot by the low byte for each of the pattern's other
// characters. A unit takes both lookups and keeps the one its range says,
// as whether a unit is below U+0100 changes within most texts that hold a
// wider one (a handle and its emoji). A pattern without wider characters
// reads slots that stay empty, made at compile time: a batch whose query is
// ASCII allocates nothing for them.
class FourByteMasks {
 public:
  FourByteMasks() noexcept = default;

  // The masks of a pattern of at most 64 characters, as masks.lookup(c)
  // gives them; `bytes` is the table of those below U+0100, which the
  // caller keeps. Not built (built() is false) when two of the pattern's
  // characters share a slot.
  template <class Masks>
  FourByteMasks(TextView pattern, const Masks& masks, const std::uint64_t* bytes) noexcept : bytes_(bytes) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const char32_t c = pattern[i];
      if (c < 256) continue;
      if (!owned_) {
        owned_ = std::make_unique<Slots>();
        slots_ = owned_.get();
      }
      char32_t& key = owned_->key[c & 255];
      if (key != 0 && key != c) return;
      key = c;
      owned_->mask[c & 255] = masks.lookup(c);
    }
    built_ = true;
  }

  bool built() const noexcept { return built_; }

  // An empty slot's key, 0, is below U+0100, where its mask is not taken.
  std::uint64_t operator()(char32_t c) const noexcept {
    const std::size_t low = c & 255;
    const std::uint64_t slotted = slots_->key[low] == c ? slots_->mask[low] : 0;
    return c < 256 ? bytes_[low] : slotted;
  }

 private:
  struct Slots {
    char32_t key[256] = {};
    std::uint64_t mask[256] = {};
  };
  static const Slots kEmpty;

  const std::uint64_t* bytes_ = nullptr;
  const Slots* slots_ = &kEmpty;
  std::unique_ptr<Slots> owned_;
  bool built_ = false;
};

inline constexpr FourByteMasks::Slots FourByteMasks::kEmpty{};

}  // namespace quillstone::detail
