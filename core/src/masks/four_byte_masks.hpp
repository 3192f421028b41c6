// Match masks read by 4-byte units, with no branch.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "quillstone/quillstone.hpp"
#include "text/case_folding.hpp"

namespace quillstone::detail {

// A pattern's masks for texts of 4-byte units, in one table: the masks of
// the 256 units below U+0100, then a slot by the low byte for each of the
// pattern's other characters, then a zero. A unit's entry is chosen by its
// range and, from U+0100 on, by its slot's key, with selects and no branch:
// whether a unit is below U+0100 changes within most texts that hold a
// wider one (a handle and its emoji). The kernels then load each lane's
// mask straight into a vector, as they load a byte's.
class FourByteMasks {
 public:
  FourByteMasks() noexcept = default;

  // The masks of a pattern of at most 64 characters, as masks.lookup(c)
  // gives them; `bytes` is the table of those below U+0100. Not built
  // (built() is false) when two of the pattern's characters from U+0100 on
  // share a slot.
  template <class Masks>
  FourByteMasks(TextView pattern, const Masks& masks, const std::uint64_t* bytes) noexcept : FourByteMasks(bytes) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      if (pattern[i] >= 256 && !add(pattern[i], masks.lookup(pattern[i]))) return;
    }
    built_ = true;
  }

  // The masks of a lower-cased pattern of at most 64 characters for texts
  // read as they come, unfolded: each unit whose lower case alone is a
  // character of the pattern has that character's mask, as bytes[b] is the
  // mask of byte b's lower case. A text with a unit whose lower case is not
  // one character alone (lower_alone_each) must not be read this way.
  template <class Masks>
  static FourByteMasks folding(TextView pattern, const Masks& masks, const std::uint64_t* bytes) noexcept {
    FourByteMasks out(bytes);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const char32_t c = pattern[i];
      std::array<char16_t, kMostPreimages> units;
      std::array<char32_t, kMostPreimages> wide;
      const std::size_t n = wide_lower_preimages(c, units), m = supplementary_lower_preimages(c, wide);
      if (n > units.size() || m > wide.size()) return out;
      for (std::size_t k = 0; k < n; ++k) {
        if (!out.add(units[k], masks.lookup(c))) return out;
      }
      for (std::size_t k = 0; k < m; ++k) {
        if (!out.add(wide[k], masks.lookup(c))) return out;
      }
    }
    out.built_ = true;
    return out;
  }

  bool built() const noexcept { return built_; }

  // The lookup, by value: a lane kernel keeps its pointers in registers.
  struct Lookup {
    const std::uint64_t* entries;
    const char32_t* keys;
    // The entry of c.
    [[gnu::always_inline]] std::uint32_t index(char32_t c) const noexcept {
      const std::uint32_t low = c & 255;
      // An empty slot's key, 0, is below U+0100, where it is not asked.
      const std::uint32_t wide = keys[low] == c ? kSlots + low : kZero;
      return c < 256 ? low : wide;
    }
    std::uint64_t operator()(char32_t c) const noexcept { return entries[index(c)]; }
  };
  Lookup lookup() const noexcept { return {table_->entries, table_->keys}; }

 private:
  static constexpr std::uint32_t kSlots = 256, kZero = 512;
  struct Table {
    std::uint64_t entries[kZero + 1] = {};
    char32_t keys[256] = {};
  };
  // More characters lower-casing to one than any has.
  static constexpr std::size_t kMostPreimages = 8;

  explicit FourByteMasks(const std::uint64_t* bytes) noexcept : table_(std::make_unique<Table>()) {
    std::copy(bytes, bytes + 256, table_->entries);
  }

  // c, from U+0100 on, has `mask`; false when its slot is another's.
  bool add(char32_t c, std::uint64_t mask) noexcept {
    char32_t& key = table_->keys[c & 255];
    if (key != 0 && key != c) return false;
    key = c;
    table_->entries[kSlots + (c & 255)] = mask;
    return true;
  }

  std::unique_ptr<Table> table_;
  bool built_ = false;
};

}  // namespace quillstone::detail
