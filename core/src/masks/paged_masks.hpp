// Match masks read by 2-byte units in two loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillstone/quillstone.hpp"
#include "text/case_folding.hpp"

namespace quillstone::detail {

// A pattern's masks for texts of 2-byte units: a page of 256 masks for each
// block of 256 code points that holds a character of the pattern, and one
// zero page for every other block, so that a unit's mask takes two loads
// and no branch. Characters from U+10000 on have no page: no 2-byte unit
// holds them.
class PagedMasks {
 public:
  PagedMasks() noexcept {
    // Room for the pages of most patterns, made once.
    pages_.reserve(4 * kPage);
    pages_.resize(kPage, 0);
  }

  // The masks of a pattern of at most 64 characters, as masks.lookup(c)
  // gives them.
  template <class Masks>
  PagedMasks(TextView pattern, const Masks& masks) noexcept : PagedMasks() {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      if (pattern[i] < 0x10000) set(pattern[i], masks.lookup(pattern[i]));
    }
  }

  // The masks of a lower-cased pattern of at most 64 characters for texts
  // read as they come, unfolded: each unit whose lower case alone is a
  // character of the pattern has that character's mask, as bytes[b] is the
  // mask of byte b's lower case. A text with a unit whose lower case is not
  // one character alone (lower_alone_each) must not be read this way.
  template <class Masks>
  static PagedMasks folding(TextView pattern, const Masks& masks, const std::uint64_t* bytes) noexcept {
    PagedMasks paged;
    for (char16_t b = 0; b < 256; ++b) {
      if (bytes[b] != 0) paged.set(b, bytes[b]);
    }
    std::vector<char16_t> units(4);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      const char32_t c = pattern[i];
      std::size_t count = wide_lower_preimages(c, units);
      if (count > units.size()) {
        units.resize(count);
        wide_lower_preimages(c, units);
      }
      for (std::size_t k = 0; k < count; ++k) paged.set(units[k], masks.lookup(c));
    }
    return paged;
  }

  std::uint64_t operator()(char16_t c) const noexcept { return pages_[start_of_[c >> 8] + (c & 255)]; }

 private:
  void set(char32_t c, std::uint64_t mask) noexcept {
    std::uint32_t& start = start_of_[c >> 8];
    if (start == 0) {
      start = static_cast<std::uint32_t>(pages_.size());
      pages_.resize(pages_.size() + kPage, 0);
    }
    pages_[start + (c & 255)] = mask;
  }

  static constexpr std::size_t kPage = 256;
  std::vector<std::uint64_t> pages_;  // page 0 is the zero page
  // Where each page starts in pages_, kept whole so that a lookup adds it
  // to the unit's low byte with no multiply or shift.
  std::uint32_t start_of_[256] = {};
};

}  // namespace quillstone::detail
