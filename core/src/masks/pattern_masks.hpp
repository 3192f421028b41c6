// Match masks of a long pattern, storage linear in the pattern whatever its
// alphabet.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "masks/char_hash.hpp"
#include "masks/character_masks.hpp"
#include "text/units.hpp"

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
    std::size_t i = char_slot(c, bits_);
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

}  // namespace quillstone::detail
