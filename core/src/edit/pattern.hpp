// A pattern prepared once for any number of texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "edit/long_pattern.hpp"
#include "edit/recurrence.hpp"
#include "masks/character_masks.hpp"
#include "masks/pattern_masks.hpp"
#include "text/affixes.hpp"
#include "text/readers.hpp"
#include "text/utf8.hpp"

namespace quillstone::detail {

// A pattern prepared once for any number of texts: its characters' match
// masks in one word (at most 64 characters) or in PatternMasks. The text it
// is built from is borrowed and must outlive it.
template <EditMetric Metric>
class EditPattern {
 public:
  EditPattern(TextView text, std::size_t m, bool ascii) noexcept : text_(text), m_(m), ascii_(ascii) {
    if (m_ <= kWordBits) {
      word_.emplace(text, m_);
    } else if (ascii_) {
      blocks_.emplace(reinterpret_cast<const unsigned char*>(text.data()), m_);
    } else {
      std::vector<char32_t> chars(m_);
      decode_chars(text, chars.data());
      blocks_.emplace(chars.data(), m_);
    }
  }

  std::size_t size() const noexcept { return m_; }
  const CharacterMasks* word_masks() const noexcept { return word_ ? &*word_ : nullptr; }

  // The distance to `other` (n characters, ASCII or not), or some value
  // above k when it exceeds k. Common affixes are left out first.
  std::size_t distance(TextView other, std::size_t n, bool other_ascii, std::size_t k) const noexcept {
    const bool ascii = ascii_ && other_ascii;
    Affixes affixes = common_affixes(text_, other, ascii);
    std::size_t prefix_chars = affixes.prefix_chars(other, ascii);
    const std::size_t suffix_chars = affixes.suffix_chars(other, ascii);
    // A long pattern's masks are read from a word boundary: keep the rest of
    // the prefix, which changes nothing but a few columns of work.
    if (blocks_) {
      const std::size_t keep = prefix_chars % kWordBits;
      prefix_chars -= keep;
      std::size_t bytes = affixes.prefix_bytes;
      for (std::size_t back = 0; back < keep; ++back) {
        --bytes;
        while (is_continuation(other[bytes])) --bytes;
      }
      affixes.prefix_bytes = bytes;
    }
    const std::size_t m = m_ - prefix_chars - suffix_chars;
    const std::size_t len = n - prefix_chars - suffix_chars;
    if (m == 0) return len;
    if (len == 0) return m;
    const TextView rest = affixes.rest(other);
    return other_ascii ? scan(prefix_chars, m, ByteReader(rest), len, k)
                       : scan(prefix_chars, m, Utf8Reader(rest), len, k);
  }

  // Pattern positions `begin` to begin + m against a text of n characters,
  // neither empty.
  template <class Reader>
  std::size_t scan(std::size_t begin, std::size_t m, Reader text, std::size_t n, std::size_t k,
                   std::size_t excess = 0) const noexcept {
    if (word_) {
      const CharacterMasks& masks = *word_;
      return column_scan<Metric>(m, text, n, [&](auto c) { return masks.lookup(c) >> begin; }, k);
    }
    return long_pattern_distance<Metric>(*blocks_, begin, m, text, n, k, excess);
  }

 private:
  TextView text_;
  std::size_t m_;
  bool ascii_;
  std::optional<CharacterMasks> word_;
  std::optional<PatternMasks> blocks_;
};

}  // namespace quillstone::detail
