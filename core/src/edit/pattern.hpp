// A pattern prepared once for any number of texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "edit/prefilters.hpp"
#include "edit/recurrence.hpp"
#include "edit/thresholds.hpp"
#include "masks/character_masks.hpp"
#include "masks/pattern_masks.hpp"
#include "text/affixes.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// The plan for patterns past 64 characters (plan.hpp).
// `apart`: texts without a bound that do not look alike (look_alike).
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_distance(Masks& masks, std::size_t begin, std::size_t m, Reader text, std::size_t n,
                                  std::size_t k, std::size_t excess, bool apart) noexcept;

// A pattern prepared once for any number of texts: its characters' match
// masks in one word (at most 64 characters) or in PatternMasks. The text it
// is built from is borrowed and must outlive it.
template <EditMetric Metric>
class EditPattern {
 public:
  explicit EditPattern(TextView text) noexcept : text_(text), m_(text.size()) {
    if (m_ <= kWordBits) {
      word_.emplace(text);
    } else {
      with_units(text, [&](const auto* units) { blocks_.emplace(units, m_); });
    }
  }

  std::size_t size() const noexcept { return m_; }
  const CharacterMasks* word_masks() const noexcept { return word_ ? &*word_ : nullptr; }

  // The distance to `other`, or some value above k when it exceeds k.
  // Common affixes are left out first.
  std::size_t distance(TextView other, std::size_t k) const noexcept {
    const Affixes affixes = common_affixes(text_, other);
    std::size_t prefix = affixes.prefix;
    // A long pattern's masks are read from a word boundary: keep the rest of
    // the prefix, which changes nothing but a few columns of work.
    if (blocks_) prefix -= prefix % kWordBits;
    const std::size_t m = m_ - prefix - affixes.suffix;
    const std::size_t len = other.size() - prefix - affixes.suffix;
    if (m == 0) return len;
    if (len == 0) return m;
    const TextView rest = other.substr(prefix, len);
    const bool apart = k >= kUnbounded && m > kWordBits && len >= kLikenessBytes &&
                       !look_alike(text_.substr(prefix, m), rest);
    return with_reader(rest, [&](auto reader) { return scan(prefix, m, reader, len, k, 0, apart); });
  }

  // Pattern positions `begin` to begin + m against a text of n characters,
  // neither empty.
  template <class Reader>
  std::size_t scan(std::size_t begin, std::size_t m, Reader text, std::size_t n, std::size_t k,
                   std::size_t excess, bool apart = false) const noexcept {
    if (word_) {
      const CharacterMasks& masks = *word_;
      return column_scan<Metric>(m, text, n, [&](auto c) { return masks.lookup(c) >> begin; }, k);
    }
    return long_pattern_distance<Metric>(*blocks_, begin, m, text, n, k, excess, apart);
  }

 private:
  TextView text_;
  std::size_t m_;
  std::optional<CharacterMasks> word_;
  std::optional<PatternMasks> blocks_;
};

}  // namespace quillstone::detail
