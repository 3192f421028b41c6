// Full Unicode lower-casing of whole texts: the default case conversion of
// the Unicode Character Database, with the Final_Sigma context and no locale
// tailoring.
#include "text/case_folding.hpp"
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

#include "text/unicode_tables.inc"

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;
constexpr std::size_t kBlockMask = (std::size_t{1} << kBlockShift) - 1;

inline const CaseRecord& record_of(char32_t cp) noexcept {
  if (cp >= kTableLimit) return kRecords[0];
  const std::size_t block = kBlockIndex[cp >> kBlockShift];
  return kRecords[kBlocks[(block << kBlockShift) | (cp & kBlockMask)]];
}

inline char ascii_lower(char c) noexcept {
  const unsigned u = static_cast<unsigned char>(c);
  return static_cast<char>(u + ((u - 'A' < 26u) << 5));
}

inline void append_record(std::string& out, char32_t cp, const CaseRecord& rec) noexcept {
  if (rec.length == 0) {
    append_utf8(out, static_cast<char32_t>(static_cast<std::int32_t>(cp) + rec.delta));
    return;
  }
  for (std::size_t i = 0; i < rec.length; ++i) append_utf8(out, kExpansions[rec.expansion + i]);
}

// Final_Sigma: the sigma at byte offset [at, next) of `text` is final when,
// skipping case-ignorable characters, a cased character comes before it and
// none comes after it.
bool is_final_sigma(TextView text, std::size_t at, std::size_t next) noexcept {
  const char* const begin = text.data();
  bool cased_before = false;
  for (std::size_t i = at; i > 0;) {
    do {
      --i;
    } while (i > 0 && (static_cast<unsigned char>(begin[i]) & 0xC0) == 0x80);
    const char* p = begin + i;
    const std::uint8_t flags = record_of(decode_next(p)).flags;
    if (flags & kCaseIgnorable) continue;
    cased_before = (flags & kCased) != 0;
    break;
  }
  if (!cased_before) return false;

  const char* p = begin + next;
  const char* const end = begin + text.size();
  while (p < end) {
    const std::uint8_t flags = record_of(decode_next(p)).flags;
    if (flags & kCaseIgnorable) continue;
    return (flags & kCased) == 0;
  }
  return true;
}

// One loop for both forms: with kShortcuts, all-ASCII texts are folded byte
// by byte and ASCII and Latin-1 characters skip the two-stage table inside
// mixed texts; without it, every character takes the table path. The tests
// hold the first form to the second.
template <bool kShortcuts>
std::string lower(TextView text) noexcept {
  if constexpr (kShortcuts) {
    if (is_ascii(text)) {
      std::string out(text);
      for (char& c : out) c = ascii_lower(c);
      return out;
    }
  }

  std::string out;
  // Lower-casing never grows a character's encoding by more than half; the
  // generator checks that for every mapping.
  out.reserve(text.size() + text.size() / 2);
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* const start = p;
    if constexpr (kShortcuts) {
      const auto b0 = static_cast<unsigned char>(*p);
      if (b0 < 0x80) {
        out.push_back(ascii_lower(*p++));
        continue;
      }
      if (b0 < 0xC4) {  // U+0080 to U+00FF: two bytes in, two bytes out
        const auto b1 = static_cast<unsigned char>(p[1]);
        const std::uint8_t lc = kLatin1Lower[((b0 & 0x1F) << 6) | (b1 & 0x3F)];
        out.push_back(static_cast<char>(0xC0 | (lc >> 6)));
        out.push_back(static_cast<char>(0x80 | (lc & 0x3F)));
        p += 2;
        continue;
      }
    }
    const char32_t cp = decode_next(p);
    if (cp == kCapitalSigma) {
      const bool final = is_final_sigma(text, static_cast<std::size_t>(start - text.data()),
                                        static_cast<std::size_t>(p - text.data()));
      append_utf8(out, final ? kFinalSigma : kSmallSigma);
      continue;
    }
    append_record(out, cp, record_of(cp));
  }
  return out;
}

}  // namespace

std::string to_lower_full(TextView text) noexcept { return lower<true>(text); }

// The table path alone, for the tests of the shortcuts.
std::string to_lower_full_tables(TextView text) noexcept { return lower<false>(text); }

}  // namespace quillstone::detail
