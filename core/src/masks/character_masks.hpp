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
// many slots as keys so that probes stay short, in the owner's storage.
template <std::size_t Keys>
struct WideTable {
  static constexpr std::size_t kSlots = 2 * std::bit_ceil(Keys);
  static constexpr unsigned kSlotBits = std::countr_zero(kSlots);
  char32_t key[kSlots];  // 0 marks a free slot: keys are U+0100 and above
  std::uint64_t mask[kSlots];

  // Only the keys are cleared; a mask is written when its key is, so that
  // tables made for every word of a long pattern touch no more memory than
  // their keys and the masks in use.
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

// The masks of a pattern of 1 to 64 characters, bit i of the mask of the
// pattern's character i, for texts met one character at a time: a direct
// table below U+0100; above it, a second direct table when all the
// pattern's wider characters share one block of 256 code points (one
// script, as a word or a name mostly is), otherwise the hash table, which an
// empty slot ends within a probe or two. Built once, usable for any number
// of texts.
class CharacterMasks {
 public:
  explicit CharacterMasks(TextView pattern) noexcept : size(pattern.size()) {
    char32_t chars[kWordBits];
    widen_chars(pattern, chars);
    for (std::size_t i = 0; i < size; ++i) {
      const char32_t c = chars[i];
      if (c < 256) continue;
      if (page_block_ == 0) page_block_ = c >> 8;
      if (c >> 8 != page_block_) page_block_ = kNoBlock;
    }
    if (page_block_ != 0 && page_block_ != kNoBlock) std::memset(page_, 0, sizeof page_);
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t bit = std::uint64_t{1} << i;
      const char32_t c = chars[i];
      if (c < 256) {
        narrow.entry[c] |= bit;
      } else if (c >> 8 == page_block_) {
        page_[c & 255] |= bit;
      } else {
        wide_.slot(c) |= bit;
      }
    }
  }

  std::uint64_t lookup(char32_t c) const noexcept {
    if (c < 256) return narrow.entry[c];
    if (c >> 8 == page_block_) return page_[c & 255];
    return wide_.find(c);
  }

  ByteMasks narrow;
  std::size_t size;

 private:
  static constexpr char32_t kNoBlock = 0x110000;  // the block of no character
  char32_t page_block_ = 0;  // 0 until a wider character is seen: block 0 is below U+0100
  std::uint64_t page_[256];
  WideMasks wide_;
};

}  // namespace quillstone::detail
