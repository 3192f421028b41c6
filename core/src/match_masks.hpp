// Match masks: for each character, the word (or words) whose bit i is set
// where the pattern holds that character at position i. The layouts here
// serve every bit-parallel scan of the core.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "common.hpp"

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
    return static_cast<std::uint32_t>(c * 0x9E3779B1u) >> (32 - kSlotBits);
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

  CharacterMasks(TextView pattern, std::size_t chars) noexcept : size(chars) {
    char32_t decoded[kWordBits];
    decode_chars(pattern, decoded);
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (decoded[i] < 256) {
        narrow.entry[decoded[i]] |= bit;
      } else {
        wide.slot(decoded[i]) |= bit;
      }
    }
  }

  std::uint64_t lookup(char32_t c) const noexcept { return c < 256 ? narrow.entry[c] : wide.find(c); }
};

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

  template <class Char>
  MultiWordMasks(const Char* pattern, std::size_t m) noexcept
      : MultiWordMasks(pattern, m, wide_keys(pattern, m)) {}

  // `keys` is wide_keys of the same pattern.
  template <class Char>
  MultiWordMasks(const Char* pattern, std::size_t m, std::vector<char32_t> keys) noexcept;

  // Rows of the table for a pattern with `keys` wide characters.
  static std::size_t rows_for(std::size_t keys) noexcept { return kDirectRows + keys + 1; }

  std::size_t words() const noexcept { return words_; }
  std::size_t rows() const noexcept { return rows_for(keys_.size()); }

  // The row of `c`; every character the pattern lacks shares the last one.
  std::size_t row_of(char32_t c) const noexcept {
    if (c < kDirectRows) return c;
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), c);
    if (it == keys_.end() || *it != c) return rows() - 1;
    return kDirectRows + static_cast<std::size_t>(it - keys_.begin());
  }

  const std::uint64_t* row(std::size_t r) const noexcept { return rows_.data() + r * words_; }
  const std::uint64_t* lookup(char32_t c) const noexcept { return row(row_of(c)); }

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
  std::size_t operator()(char32_t c) noexcept {
    Slot& slot = memo_[slot_of(c)];
    if (slot.key != c) slot = {c, static_cast<std::uint32_t>(masks_.row_of(c))};
    return slot.row;
  }

  // Slots are picked by a multiplicative hash, so that characters a fixed
  // stride apart do not all collide.
  static std::size_t slot_of(char32_t c) noexcept {
    return static_cast<std::uint32_t>(c * 0x9E3779B1u) >> (32 - kSlotBits);
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

namespace quillstone::detail {

// The rows of a pattern's distinct characters U+0100 and above: open
// addressing from character to row number. The table doubles when it is half
// full, so its size follows the distinct characters, not the text's length.
class CharIndex {
 public:
  CharIndex() noexcept : key_(kFirstSlots, 0), row_(kFirstSlots, 0) {}

  std::size_t size() const noexcept { return size_; }

  // The row of `c`: `row` when it is new.
  std::uint32_t insert(char32_t c, std::uint32_t row) noexcept {
    std::size_t i = probe(c);
    if (key_[i] == 0) {
      if (2 * (size_ + 1) > key_.size()) {
        grow();
        i = probe(c);
      }
      key_[i] = c;
      row_[i] = row;
      ++size_;
    }
    return row_[i];
  }

  // 0 for a character that was never inserted.
  std::uint32_t find(char32_t c) const noexcept { return row_[probe(c)]; }

 private:
  static constexpr std::size_t kFirstSlots = 16;

  // The slot that holds c, or the free slot where it would go.
  std::size_t probe(char32_t c) const noexcept {
    const std::size_t mask = key_.size() - 1;
    std::size_t i = static_cast<std::uint32_t>(c * 0x9E3779B1u) >> (32 - bits_);
    while (key_[i] != 0 && key_[i] != c) i = (i + 1) & mask;
    return i;
  }

  void grow() noexcept {
    std::vector<char32_t> keys(2 * key_.size(), 0);
    std::vector<std::uint32_t> rows(2 * key_.size(), 0);
    keys.swap(key_);
    rows.swap(row_);
    ++bits_;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == 0) continue;
      const std::size_t at = probe(keys[i]);
      key_[at] = keys[i];
      row_[at] = rows[i];
    }
  }

  unsigned bits_ = std::countr_zero(kFirstSlots);
  std::vector<char32_t> key_;  // 0 marks a free slot: keys are U+0100 and above
  std::vector<std::uint32_t> row_;  // 0 in a free slot
  std::size_t size_ = 0;
};

// Match masks of a pattern of any length, W = ceil(m / 64) words per
// character. Characters below U+0100, and the wider ones while the table
// stays within a few words per pattern character, own a row of W words plus
// one zero word, so that a window may reach past the last word; row 0 is all
// zero and serves every character the pattern lacks. Wide characters met
// once rows would take more than that go to one table per 64-position word
// instead: a word holds at most 64 distinct characters, so storage stays
// linear in the pattern. The masks can be filled a word at a time, in order,
// so that a scan that stops early never reads the rest of its pattern.
class PatternMasks {
 public:
  // One character's masks.
  class Row {
   public:
    // The row's words, or null where they are looked up one by one.
    const std::uint64_t* direct() const noexcept { return row_; }

    [[gnu::always_inline]] std::uint64_t word(std::size_t k) const noexcept {
      return row_ != nullptr ? row_[k] : blocks_[k].find(c_);
    }

    // The 64 positions from `pos` on, zero before the pattern; past its end
    // they may hold the next row's bits, which the scans never read as
    // matches (the table is padded so that any window can be read).
    [[gnu::always_inline]] std::uint64_t bits(std::ptrdiff_t pos) const noexcept {
      if (row_ != nullptr && pos >= 0) {
        const auto k = static_cast<std::size_t>(pos) / kWordBits;
        const unsigned shift = static_cast<std::size_t>(pos) % kWordBits;
        const std::uint64_t low = row_[k] >> shift;
        return shift == 0 ? low : low | row_[k + 1] << (kWordBits - shift);
      }
      if (pos < 0) return pos <= -64 ? 0 : word(0) << -pos;
      const auto k = static_cast<std::size_t>(pos) / kWordBits;
      const unsigned shift = static_cast<std::size_t>(pos) % kWordBits;
      if (k >= words_) return 0;
      const std::uint64_t low = word(k) >> shift;
      return shift == 0 ? low : low | word(k + 1) << (kWordBits - shift);
    }

   private:
    friend class PatternMasks;
    Row(const std::uint64_t* row, const WideMasks* blocks, char32_t c, std::size_t words) noexcept
        : row_(row), blocks_(blocks), c_(c), words_(words) {}

    const std::uint64_t* row_;
    const WideMasks* blocks_;
    char32_t c_;
    std::size_t words_;
  };

  // Empty masks for a pattern of m characters, to be filled by add().
  explicit PatternMasks(std::size_t m) noexcept
      : m_(m), words_((m + kWordBits - 1) / kWordBits), stride_(words_ + 1),
        rows_(stride_ + kWindowReach, 0) {}

  // The masks of a whole pattern: its rows are numbered first, so that the
  // table is allocated once.
  template <class Char>
  PatternMasks(const Char* pattern, std::size_t m) noexcept;

  std::size_t words() const noexcept { return words_; }
  // Scans ask for the words they are about to read; these are all there.
  void reach(std::size_t) const noexcept {}

  // Marks character c at position i. Row pointers taken before may move.
  void add(std::size_t i, char32_t c) noexcept {
    const std::uint64_t bit = std::uint64_t{1} << (i % kWordBits);
    std::uint32_t r;
    if (c < 256) {
      if (narrow_[c] == 0) narrow_[c] = new_row();
      r = narrow_[c];
    } else {
      r = wide_.find(c);
      if (r == 0 && blocks_.empty() && (rows() + 1) * stride_ <= row_budget()) r = wide_.insert(c, new_row());
      if (r == 0) {
        if (blocks_.empty()) blocks_.resize(words_ + 1);
        blocks_[i / kWordBits].slot(c) |= bit;
        return;
      }
    }
    rows_[r * stride_ + i / kWordBits] |= bit;
  }

  [[gnu::always_inline]] Row row(unsigned char b) const noexcept {
    return Row(row_start(narrow_[b]), nullptr, b, words_);
  }
  [[gnu::always_inline]] Row row(char32_t c) const noexcept {
    if (c < 256) return row(static_cast<unsigned char>(c));
    const std::uint32_t r = wide_.find(c);
    if (r != 0 || blocks_.empty()) return Row(row_start(r), nullptr, c, words_);
    return Row(nullptr, blocks_.data(), c, words_);
  }

 private:
  const std::uint64_t* row_start(std::uint32_t r) const noexcept { return rows_.data() + r * stride_; }
  std::size_t rows() const noexcept { return (rows_.size() - kWindowReach) / stride_; }
  // The words the rows may take; every character below U+0100 fits.
  std::size_t row_budget() const noexcept { return std::max(kRowWordsAlways, kRowWordsPerChar * m_); }

  // A zero row at the end, before the padding (zero as well).
  std::uint32_t new_row() noexcept {
    const auto r = static_cast<std::uint32_t>(rows());
    rows_.resize(rows_.size() + stride_, 0);
    return r;
  }

  // How far past the last row a window may read: a band of the widest kind,
  // starting up to one row past the pattern.
  static constexpr std::size_t kWindowReach = 40;
  // Rows beyond this many words per pattern character go to per-word tables.
  static constexpr std::size_t kRowWordsPerChar = 8;
  static constexpr std::size_t kRowWordsAlways = std::size_t{1} << 15;

  std::size_t m_;
  std::size_t words_;
  std::size_t stride_;
  std::uint32_t narrow_[256] = {};
  CharIndex wide_;
  std::vector<std::uint64_t> rows_;
  std::vector<WideMasks> blocks_;  // words_ + 1 tables when used, the last one empty
};

template <class Char>
PatternMasks::PatternMasks(const Char* pattern, std::size_t m) noexcept
    : m_(m), words_((m + kWordBits - 1) / kWordBits), stride_(words_ + 1) {
  std::uint32_t rows = 1;
  bool tables = false;
  for (std::size_t i = 0; i < m; ++i) {
    const char32_t c = pattern[i];
    if (c < 256) {
      if (narrow_[c] == 0) narrow_[c] = rows++;
    } else if constexpr (sizeof(Char) > 1) {
      if (!tables && wide_.insert(c, rows) == rows) tables = ++rows * stride_ > row_budget();
    }
  }
  if (tables || rows * stride_ > row_budget()) {
    // Too many wide characters for a row each: all of them go to the tables.
    wide_ = CharIndex();
    std::fill(narrow_, narrow_ + 256, 0);
    rows = 1;
    for (std::size_t i = 0; i < m; ++i) {
      const char32_t c = pattern[i];
      if (c < 256 && narrow_[c] == 0) narrow_[c] = rows++;
    }
    blocks_.resize(words_ + 1);
  }
  rows_.assign(rows * stride_ + kWindowReach, 0);
  for (std::size_t i = 0; i < m; ++i) add(i, pattern[i]);
}

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
