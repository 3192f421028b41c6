// Numbers for the distinct characters of a text: rows of a mask table, or
// the symbols of a query's lanes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "masks/char_hash.hpp"

namespace quillstone::detail {

// Numbers of characters U+0100 and above: open addressing from character to
// number, key and number side by side. The table doubles when half full, so
// that its size follows the distinct characters, not the text's length, and
// the thousands of a CJK text stay within the first level of cache.
struct CharIndexSlot {
  char32_t key = 0;  // 0 marks a free slot: keys are U+0100 and above
  std::uint32_t number = 0;  // 0 in a free slot
};

class CharIndex {
  using Slot = CharIndexSlot;

 public:
  // Lookups by value, for a scan to keep in registers: its stores to words
  // of the same types cannot change them, so the compiler need not reload
  // them at every character.
  class Finder {
   public:
    // 0 for a character that was never inserted.
    [[gnu::always_inline]] std::uint32_t operator()(char32_t c) const noexcept { return slots_[probe(c)].number; }

   private:
    friend class CharIndex;
    Finder(const Slot* slots, unsigned bits) noexcept : slots_(slots), bits_(bits) {}

    // The slot that holds c, or the free slot where it would go.
    [[gnu::always_inline]] std::size_t probe(char32_t c) const noexcept {
      const std::size_t mask = (std::size_t{1} << bits_) - 1;
      std::size_t i = char_slot(c, bits_);
      while (slots_[i].key != 0 && slots_[i].key != c) i = (i + 1) & mask;
      return i;
    }

    const Slot* slots_;
    unsigned bits_;
  };

  Finder finder() const noexcept { return Finder(slots_.empty() ? kNoSlots : slots_.data(), bits_); }

  // The number of `c`: `number` when it is new.
  std::uint32_t insert(char32_t c, std::uint32_t number) noexcept {
    if (size_ != 0) {
      const Slot& slot = slots_[finder().probe(c)];
      if (slot.key == c) return slot.number;
    }
    if (2 * (size_ + 1) > slots_.size()) grow();
    slots_[finder().probe(c)] = {c, number};
    ++size_;
    return number;
  }

 private:
  // The table is allocated at the first insert; until then lookups read
  // these free slots.
  static constexpr std::size_t kFirstSlots = 8;
  static constexpr Slot kNoSlots[kFirstSlots] = {};

  void grow() noexcept {
    std::vector<Slot> old(slots_.empty() ? kFirstSlots : 2 * slots_.size());
    old.swap(slots_);
    bits_ = std::countr_zero(slots_.size());
    for (const Slot& slot : old) {
      if (slot.key != 0) slots_[finder().probe(slot.key)] = slot;
    }
  }

  unsigned bits_ = std::countr_zero(kFirstSlots);
  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

// Numbers of characters, 0 for a character that has none: a direct table
// below U+0100, a second one for the block of 256 code points of the first
// wider character (a text in one script keeps to one block, as Cyrillic or
// Greek do), the index for the rest.
class CharNumbers {
 public:
  // Lookups by value, like CharIndex::Finder.
  class Finder {
   public:
    [[gnu::always_inline]] std::uint32_t operator()(char32_t c) const noexcept {
      if (c < 256) return narrow_[c];
      if (c >> 8 == block_) return page_[c & 255];
      return wide_(c);
    }

   private:
    friend class CharNumbers;
    Finder(const std::uint32_t* narrow, const std::uint32_t* page, char32_t block, CharIndex::Finder wide) noexcept
        : narrow_(narrow), page_(page), block_(block), wide_(wide) {}

    const std::uint32_t* narrow_;
    const std::uint32_t* page_;
    char32_t block_;
    CharIndex::Finder wide_;
  };

  Finder finder() const noexcept { return Finder(narrow_, page_, block_, wide_.finder()); }

  // The number of `c`: `number` when it is new.
  std::uint32_t insert(char32_t c, std::uint32_t number) noexcept {
    if (c >= 256 && block_ == kNoBlock) {
      // The page is cleared when it is first used: texts of bytes never do.
      block_ = c >> 8;
      std::fill(page_, page_ + 256, 0);
    }
    if (c >= 256 && c >> 8 != block_) return wide_.insert(c, number);
    std::uint32_t& slot = c < 256 ? narrow_[c] : page_[c & 255];
    if (slot == 0) slot = number;
    return slot;
  }

  // Every character without a number again.
  void clear() noexcept {
    std::fill(narrow_, narrow_ + 256, 0);
    block_ = kNoBlock;
    wide_ = CharIndex();
  }

  std::uint32_t find(char32_t c) const noexcept { return finder()(c); }
  [[gnu::always_inline]] std::uint32_t find_byte(unsigned char b) const noexcept { return narrow_[b]; }

 private:
  static constexpr char32_t kNoBlock = 0;  // block 0 is below U+0100, never a wide character's

  std::uint32_t narrow_[256] = {};
  std::uint32_t page_[256];  // the block's, cleared with its first character
  char32_t block_ = kNoBlock;
  CharIndex wide_;
};

}  // namespace quillstone::detail
