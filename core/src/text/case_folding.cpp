// Full Unicode lower-casing of whole texts: the default case conversion of
// the Unicode Character Database, with the Final_Sigma context and no locale
// tailoring.
#include "text/case_folding.hpp"

#include <algorithm>
#include <iterator>

#include "text/units.hpp"
#include "text/utf8.hpp"

namespace quillstone::detail {
namespace {

constexpr std::uint8_t kCased = 1;
constexpr std::uint8_t kCaseIgnorable = 2;

// The lower case of one code point: cp + delta when length is 0, otherwise
// the `length` characters kExpansions[expansion...].
struct CaseRecord {
  std::int32_t delta;
  std::uint16_t expansion;
  std::uint8_t length;
  std::uint8_t flags;
};

// A character from U+0100 to U+FFFF and its lower case, one other character.
struct WideCapital {
  char32_t lower;
  char16_t capital;
};

#include "text/unicode_tables.inc"

constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;
constexpr std::size_t kBlockMask = (std::size_t{1} << kBlockShift) - 1;

inline const CaseRecord& record_of(char32_t cp) noexcept {
  if (cp >= kTableLimit) return kRecords[0];
  const std::size_t block = kBlockIndex[cp >> kBlockShift];
  return kRecords[kBlocks[(block << kBlockShift) | (cp & kBlockMask)]];
}

inline std::uint8_t latin1_lower(std::uint8_t c) noexcept { return kLatin1Lower[c]; }

// The most characters the lower case of one character has.
constexpr std::size_t kLongestLower = [] {
  std::size_t most = 1;
  for (const CaseRecord& rec : kRecords) most = std::max<std::size_t>(most, rec.length);
  return most;
}();

// Final_Sigma: the sigma at `at` is final when, skipping case-ignorable
// characters, a cased character comes before it and none comes after it.
bool is_final_sigma(TextView text, std::size_t at) noexcept {
  bool cased_before = false;
  for (std::size_t i = at; i > 0;) {
    const std::uint8_t flags = record_of(text[--i]).flags;
    if (flags & kCaseIgnorable) continue;
    cased_before = (flags & kCased) != 0;
    break;
  }
  if (!cased_before) return false;
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    const std::uint8_t flags = record_of(text[i]).flags;
    if (flags & kCaseIgnorable) continue;
    return (flags & kCased) == 0;
  }
  return true;
}

}  // namespace

// One loop for both forms: with kShortcuts, characters below U+0100 skip
// the two-stage table, and one-byte texts stay bytes; without it, every
// character takes the table path. The tests hold the first form to the
// second.
template <bool kShortcuts>
void lower_into(FoldedText& out, TextView text) noexcept {
  out.bytes_.clear();
  if constexpr (kShortcuts) {
    // Lower-casing maps U+0000 to U+00FF one to one onto themselves.
    if (text.narrow()) {
      unsigned char* bytes = out.inline_;
      if (text.size() > FoldedText::kInlineBytes) {
        out.bytes_.resize(text.size());
        bytes = out.bytes_.data();
      }
      const auto* units = units_of<unsigned char>(text);
      for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = latin1_lower(units[i]);
      out.view_ = TextView(bytes, text.size());
      return;
    }
  }
  // Into the frame when the longest result fits, else into the heap.
  char32_t* wide = out.inline_wide_;
  if (const std::size_t room = kLongestLower * text.size(); room > FoldedText::kInlineChars) {
    if (room > out.wide_room_) {
      out.wide_ = std::make_unique_for_overwrite<char32_t[]>(room);
      out.wide_room_ = room;
    }
    wide = out.wide_.get();
  }
  std::size_t count = 0;
  char32_t most = 0;
  const auto put = [&](char32_t c) {
    wide[count++] = c;
    most = std::max(most, c);
  };
  with_units(text, [&](const auto* units) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char32_t cp = units[i];
      if constexpr (kShortcuts) {
        if (cp < 0x100) {
          put(latin1_lower(static_cast<std::uint8_t>(cp)));
          continue;
        }
      }
      if (cp == kCapitalSigma) {
        put(is_final_sigma(text, i) ? kFinalSigma : kSmallSigma);
        continue;
      }
      const CaseRecord& rec = record_of(cp);
      if (rec.length == 0) {
        put(static_cast<char32_t>(static_cast<std::int32_t>(cp) + rec.delta));
      } else {
        for (std::size_t e = 0; e < rec.length; ++e) put(kExpansions[rec.expansion + e]);
      }
    }
  });
  if (most < 0x100) {
    // In place over the characters when they are in the frame: byte k is
    // written after character k is read, below it.
    unsigned char* bytes = out.inline_;
    if (count > FoldedText::kInlineBytes) {
      out.bytes_.resize(count);
      bytes = out.bytes_.data();
    }
    for (std::size_t k = 0; k < count; ++k) {
      const char32_t c = wide[k];
      bytes[k] = static_cast<unsigned char>(c);
    }
    out.view_ = TextView(bytes, count);
  } else {
    out.view_ = TextView(wide, count);
  }
}

const std::uint8_t* lower_bytes() noexcept { return kLatin1Lower; }

bool lower_alone(char32_t c, char32_t& out) noexcept {
  const CaseRecord& rec = record_of(c);
  if (rec.length != 0 || c == kCapitalSigma) return false;
  out = static_cast<char32_t>(static_cast<std::int32_t>(c) + rec.delta);
  return true;
}

// The characters that lower-case to `lower` alone: itself when it stays as
// it is, and the capitals whose lower case it is.
std::size_t wide_lower_preimages(char32_t lower, std::span<char16_t> out) noexcept {
  std::size_t count = 0;
  const auto put = [&](char16_t c) {
    if (count < out.size()) out[count] = c;
    ++count;
  };
  char32_t same = 0;
  if (lower >= 0x100 && lower <= 0xFFFF && lower_alone(lower, same) && same == lower) put(static_cast<char16_t>(lower));
  const auto [first, last] = std::equal_range(std::begin(kWideCapitals), std::end(kWideCapitals), WideCapital{lower, 0},
                                              [](const WideCapital& a, const WideCapital& b) { return a.lower < b.lower; });
  for (auto it = first; it != last; ++it) put(it->capital);
  return count;
}

TextView to_lower_full(TextView text, FoldedText& out) noexcept {
  lower_into<true>(out, text);
  return out.view();
}

namespace {

std::string lower_utf8(std::string_view utf8, bool shortcuts) noexcept {
  const Utf8Text text(utf8);
  FoldedText folded;
  if (shortcuts) {
    lower_into<true>(folded, text);
  } else {
    lower_into<false>(folded, text);
  }
  std::string out;
  const TextView view = folded.view();
  for (std::size_t i = 0; i < view.size(); ++i) append_utf8(out, view[i]);
  return out;
}

}  // namespace

std::string to_lower_full(std::string_view utf8) noexcept { return lower_utf8(utf8, true); }

// The table path alone, for the tests of the shortcuts.
std::string to_lower_full_tables(std::string_view utf8) noexcept { return lower_utf8(utf8, false); }

}  // namespace quillstone::detail
