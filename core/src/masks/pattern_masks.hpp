// Match masks of a long pattern, storage linear in the pattern whatever its
// alphabet.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "masks/char_numbers.hpp"
#include "masks/character_masks.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

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
  explicit PatternMasks(std::size_t m) noexcept : PatternMasks(m, Unallocated{}) {
    rows_.assign(stride_ + kWindowReach, 0);
  }

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
      r = numbers_.find_byte(static_cast<unsigned char>(c));
      if (r == 0) r = numbers_.insert(c, new_row());
    } else {
      r = numbers_.find(c);
      if (r == 0 && blocks_.empty() && (rows() + 1) * stride_ <= row_budget()) r = numbers_.insert(c, new_row());
      if (r == 0) {
        // A wide character past the rows' budget.
        if (blocks_.empty()) blocks_.resize(words_ + 1);
        blocks_[i / kWordBits].slot(c) |= bit;
        return;
      }
    }
    rows_[r * stride_ + i / kWordBits] |= bit;
  }

  [[gnu::always_inline]] Row row(unsigned char b) const noexcept {
    return Row(row_start(numbers_.find_byte(b)), nullptr, b, words_);
  }
  [[gnu::always_inline]] Row row(char32_t c) const noexcept {
    if (c < 256) return row(static_cast<unsigned char>(c));
    const std::uint32_t r = numbers_.find(c);
    if (r != 0 || blocks_.empty()) return Row(row_start(r), nullptr, c, words_);
    return Row(nullptr, blocks_.data(), c, words_);
  }

 private:
  struct Unallocated {};
  PatternMasks(std::size_t m, Unallocated) noexcept
      : m_(m), words_((m + kWordBits - 1) / kWordBits), stride_(words_ + 1) {}

  const std::uint64_t* row_start(std::uint32_t r) const noexcept { return rows_.data() + r * stride_; }
  std::size_t rows() const noexcept { return (rows_.size() - kWindowReach) / stride_; }
  // The words the rows may take; every character below U+0100 fits.
  std::size_t row_budget() const noexcept { return std::max(kRowWordsAlways, kRowWordsPerChar * m_); }

  // Numbers a row for each of the pattern's characters and fills the rows,
  // unless they would take more than row_budget() words.
  template <class Char>
  bool fill_rows(const Char* pattern) noexcept;

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
  CharNumbers numbers_;  // the row of each character that has one
  std::vector<std::uint64_t> rows_;
  std::vector<WideMasks> blocks_;  // words_ + 1 tables when used, the last one empty
};

template <class Char>
bool PatternMasks::fill_rows(const Char* pattern) noexcept {
  const std::size_t budget = row_budget();
  // Wider text keeps each position's row, so that each character is looked
  // up once.
  std::unique_ptr<std::uint32_t[]> row_at;
  if constexpr (sizeof(Char) > 1) row_at = std::make_unique_for_overwrite<std::uint32_t[]>(m_);
  std::uint32_t rows = 1;
  if (sizeof(Char) == 1 && m_ > 256) {
    // A long text of bytes is numbered in code order: marking a byte costs
    // a store, not a test of what an earlier one stored, and the 256 codes
    // are read once.
    bool seen[256] = {};
    for (std::size_t i = 0; i < m_; ++i) seen[static_cast<unsigned char>(pattern[i])] = true;
    for (unsigned c = 0; c < 256; ++c) {
      if (seen[c]) numbers_.insert(c, rows++);
    }
  } else {
    // Characters seen before are found by value; a new one moves the table.
    CharNumbers::Finder number = numbers_.finder();
    for (std::size_t i = 0; i < m_; ++i) {
      std::uint32_t r = number(pattern[i]);
      if (r == 0) {
        r = numbers_.insert(pattern[i], rows);
        number = numbers_.finder();
        if (++rows * stride_ > budget) return false;
      }
      if constexpr (sizeof(Char) > 1) row_at[i] = r;
    }
  }
  if (rows * stride_ > budget) return false;
  rows_.assign(rows * stride_ + kWindowReach, 0);
  std::uint64_t* const words = rows_.data();
  const std::size_t stride = stride_;
  const CharNumbers::Finder number = numbers_.finder();
  for (std::size_t i = 0; i < m_; ++i) {
    const std::uint32_t r = sizeof(Char) > 1 ? row_at[i] : number(pattern[i]);
    words[r * stride + i / kWordBits] |= std::uint64_t{1} << (i % kWordBits);
  }
  return true;
}

template <class Char>
PatternMasks::PatternMasks(const Char* pattern, std::size_t m) noexcept : PatternMasks(m, Unallocated{}) {
  if (!fill_rows(pattern)) {
    // Too many wide characters for a row each: all of them go to the tables.
    numbers_.clear();
    std::uint32_t rows = 1;
    for (std::size_t i = 0; i < m; ++i) {
      const char32_t c = pattern[i];
      if (c < 256 && numbers_.insert(c, rows) == rows) ++rows;
    }
    rows_.assign(rows * stride_ + kWindowReach, 0);
    blocks_.resize(words_ + 1);
    for (std::size_t i = 0; i < m; ++i) add(i, pattern[i]);
  }
}

}  // namespace quillstone::detail
