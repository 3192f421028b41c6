// Match masks: for each character, the word (or words) whose bit i is set
// where the pattern holds that character at position i. The layouts here
// serve every bit-parallel scan of the core.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillstone::detail {

inline constexpr std::size_t kWordBits = 64;

// Direct table of match masks indexed by character code, in the caller's
// frame: characters below U+0100 on the character path (256 entries), bytes
// on the byte path, where both texts are ASCII and 128 entries cover every
// byte that can be looked up (half the table to clear on every call).
template <std::size_t Entries>
struct DirectMasks {
  std::uint64_t entry[Entries];

  DirectMasks() noexcept { std::memset(entry, 0, sizeof entry); }
};
using ByteMasks = DirectMasks<256>;
using AsciiMasks = DirectMasks<128>;

// Masks of characters U+0100 and above for a pattern of at most 64
// characters: a sorted array searched by bisection, at most one entry per
// distinct pattern character, in the caller's frame.
struct WideMasks {
  char32_t key[kWordBits];
  std::uint64_t mask[kWordBits];
  std::size_t size = 0;

  std::uint64_t& slot(char32_t c) noexcept {
    const auto pos = static_cast<std::size_t>(std::lower_bound(key, key + size, c) - key);
    if (pos == size || key[pos] != c) {
      std::memmove(key + pos + 1, key + pos, (size - pos) * sizeof key[0]);
      std::memmove(mask + pos + 1, mask + pos, (size - pos) * sizeof mask[0]);
      key[pos] = c;
      mask[pos] = 0;
      ++size;
    }
    return mask[pos];
  }

  std::uint64_t find(char32_t c) const noexcept {
    const char32_t* it = std::lower_bound(key, key + size, c);
    return (it != key + size && *it == c) ? mask[it - key] : 0;
  }
};

// Masks of a pattern of any length, W words per character: a zeroed direct
// table of 256·W words (row-major by character), the rows of characters
// U+0100 and above in a sorted map, and one all-zero row for every character
// the pattern lacks.
class MultiWordMasks {
 public:
  MultiWordMasks(const char32_t* pattern, std::size_t m) noexcept
      : words_((m + kWordBits - 1) / kWordBits), table_(256 * words_, 0), zero_(words_, 0) {
    for (std::size_t i = 0; i < m; ++i) {
      if (pattern[i] >= 256) keys_.push_back(pattern[i]);
    }
    std::sort(keys_.begin(), keys_.end());
    keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
    wide_.assign(keys_.size() * words_, 0);
    for (std::size_t i = 0; i < m; ++i) {
      row(pattern[i])[i / kWordBits] |= std::uint64_t{1} << (i % kWordBits);
    }
  }

  std::size_t words() const noexcept { return words_; }

  const std::uint64_t* lookup(char32_t c) const noexcept {
    if (c < 256) return table_.data() + c * words_;
    const auto it = std::lower_bound(keys_.begin(), keys_.end(), c);
    if (it == keys_.end() || *it != c) return zero_.data();
    return wide_.data() + static_cast<std::size_t>(it - keys_.begin()) * words_;
  }

 private:
  std::uint64_t* row(char32_t c) noexcept {
    return const_cast<std::uint64_t*>(lookup(c));
  }

  std::size_t words_;
  std::vector<std::uint64_t> table_;
  std::vector<char32_t> keys_;
  std::vector<std::uint64_t> wide_;
  std::vector<std::uint64_t> zero_;
};

}  // namespace quillstone::detail
