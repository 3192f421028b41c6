// Match masks of a pattern of at most 64 characters: for each character, the
// word whose bit i is set where the pattern holds it at position i.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "masks/char_hash.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

inline constexpr std::size_t kWordBits = 64;

// Direct table of match masks indexed by character code, in the owner's
// storage: characters below U+0100, or bytes.
template <std::size_t Entries>
struct DirectMasks {
  std::uint64_t entry[Entries];

  DirectMasks() noexcept { std::memset(entry, 0, sizeof entry); }
};
using ByteMasks = DirectMasks<256>;

// Masks of characters U+0100 and above for a pattern of at most Keys
// distinct such characters: open addressing on the character, with twice as
// many slots as keys so that probes stay short, in the owner's storage. Only
// the keys are cleared; a mask is written when its key is.
template <std::size_t Keys>
struct WideTable {
  static constexpr std::size_t kSlots = 2 * std::bit_ceil(Keys);
  static constexpr unsigned kSlotBits = std::countr_zero(kSlots);
  char32_t key[kSlots];  // 0 marks a free slot: keys are U+0100 and above
  std::uint64_t mask[kSlots];

  WideTable() noexcept { std::memset(key, 0, sizeof key); }

  static std::size_t home(char32_t c) noexcept {
    return char_slot(c, kSlotBits);
  }

  std::uint64_t& slot(char32_t c) noexcept {
    std::size_t i = home(c);
    while (key[i] != 0 && key[i] != c) i = (i + 1) & (kSlots - 1);
    if (key[i] == 0) {
      key[i] = c;
      mask[i] = 0;
    }
    return mask[i];
  }

  std::uint64_t find(char32_t c) const noexcept {
    for (std::size_t i = home(c);; i = (i + 1) & (kSlots - 1)) {
      if (key[i] == c) return mask[i];
      if (key[i] == 0) return 0;
    }
  }
};
using WideMasks = WideTable<kWordBits>;

// The masks of a pattern of 1 to 64 characters: bit i of the mask of the
// pattern's character i, characters below U+0100 in a direct table, the
// others in the hash table. Built once, usable for any number of texts.
struct CharacterMasks {
  ByteMasks narrow;
  WideMasks wide;
  std::size_t size;

  explicit CharacterMasks(TextView pattern) noexcept : size(pattern.size()) {
    char32_t chars[kWordBits];
    widen_chars(pattern, chars);
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (chars[i] < 256) {
        narrow.entry[chars[i]] |= bit;
      } else {
        wide.slot(chars[i]) |= bit;
      }
    }
  }

  std::uint64_t lookup(char32_t c) const noexcept { return c < 256 ? narrow.entry[c] : wide.find(c); }
};

}  // namespace quillstone::detail
