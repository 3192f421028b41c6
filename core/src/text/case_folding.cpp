// Full Unicode lower-casing of whole texts: the default case conversion of
// the Unicode Character Database, with the Final_Sigma context and no locale
// tailoring.
#include "text/case_folding.hpp"

#include <algorithm>
#include <array>
#include <cstring>
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

constexpr const CaseRecord& record_of(char32_t cp) noexcept {
  if (cp >= kTableLimit) return kRecords[0];
  const std::size_t block = kBlockIndex[cp >> kBlockShift];
  return kRecords[kBlocks[(block << kBlockShift) | (cp & kBlockMask)]];
}

inline std::uint8_t latin1_lower(std::uint8_t c) noexcept { return kLatin1Lower[c]; }

// Below U+0800 (Latin, IPA, Greek, Cyrillic, Armenian, and the scripts
// without case up to Arabic), what a character's lower case adds to it when
// it is one character, in one load instead of the two stages' three.
constexpr char32_t kFlatLimit = 0x800;
constexpr std::int32_t flat_delta(char32_t cp) noexcept {
  return record_of(cp).length == 0 ? record_of(cp).delta : 0;
}
constexpr auto kFlatDeltas = [] {
  std::array<std::int16_t, kFlatLimit> deltas{};
  for (char32_t cp = 0; cp < kFlatLimit; ++cp) deltas[cp] = static_cast<std::int16_t>(flat_delta(cp));
  return deltas;
}();
static_assert([] {
  for (char32_t cp = 0; cp < kFlatLimit; ++cp) {
    if (kFlatDeltas[cp] != flat_delta(cp)) return false;
  }
  return true;
}());

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

#if defined(__SSE2__)
// The Latin-1 lower case of 16 bytes at a time: the capitals are A to Z and
// U+00C0 to U+00DE but the multiplication sign, each 0x20 below its lower
// case.
inline __m128i lower_latin1_bytes(__m128i v) noexcept {
  const __m128i zero = _mm_setzero_si128();
  const auto within = [&](char from, char span) {
    return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(from)), _mm_set1_epi8(span)), zero);
  };
  const __m128i capital = _mm_or_si128(
      within('A', 'Z' - 'A'),
      _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xD7))), within(static_cast<char>(0xC0), 0x1E)));
  return _mm_add_epi8(v, _mm_and_si128(capital, _mm_set1_epi8(0x20)));
}

// 16, 8 or 4 bytes from or to the low lanes of a vector.
template <std::size_t kBytes>
[[gnu::always_inline]] inline __m128i load_low(const void* from) noexcept {
  if constexpr (kBytes == 16) {
    return _mm_loadu_si128(static_cast<const __m128i*>(from));
  } else if constexpr (kBytes == 8) {
    return _mm_loadl_epi64(static_cast<const __m128i*>(from));
  } else {
    std::int32_t word;
    std::memcpy(&word, from, sizeof word);
    return _mm_cvtsi32_si128(word);
  }
}

template <std::size_t kBytes>
[[gnu::always_inline]] inline void store_low(void* to, __m128i v) noexcept {
  if constexpr (kBytes == 16) {
    _mm_storeu_si128(static_cast<__m128i*>(to), v);
  } else if constexpr (kBytes == 8) {
    _mm_storel_epi64(static_cast<__m128i*>(to), v);
  } else {
    const std::int32_t word = _mm_cvtsi128_si32(v);
    std::memcpy(to, &word, sizeof word);
  }
}

// Calls block(bytes, in + at, out + at) on blocks of the widest load of 16,
// 8 or 4 bytes that the n units fill (at least 4 bytes of them), covering
// them, the last block overlapping the one before; `bytes` is the load's
// size as an integral constant. Lower-casing a unit does not depend on its
// neighbours, so a unit folded twice comes out the same, and no load
// reaches past the text.
template <class Unit, class Block>
[[gnu::always_inline]] inline void for_each_block(const Unit* in, std::size_t n, Unit* out, Block block) noexcept {
  const auto run = [&](auto bytes) {
    constexpr std::size_t kUnits = decltype(bytes)::value / sizeof(Unit);
    for (std::size_t at = 0;; at += kUnits) {
      if (at > n - kUnits) at = n - kUnits;
      block(bytes, in + at, out + at);
      if (at == n - kUnits) return;
    }
  };
  if (n * sizeof(Unit) >= 16) return run(std::integral_constant<std::size_t, 16>{});
  if (n * sizeof(Unit) >= 8) return run(std::integral_constant<std::size_t, 8>{});
  run(std::integral_constant<std::size_t, 4>{});
}
#endif

// The lower case of n one-byte units into out.
void lower_byte_run(const unsigned char* in, std::size_t n, unsigned char* out) noexcept {
#if defined(__SSE2__)
  if (n >= 4) {
    for_each_block(in, n, out, [](auto bytes, const unsigned char* from, unsigned char* to) {
      constexpr std::size_t kBytes = decltype(bytes)::value;
      store_low<kBytes>(to, lower_latin1_bytes(load_low<kBytes>(from)));
    });
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = latin1_lower(in[i]);
}

// Returned by lower_half_run() for a text with a unit whose lower case is
// not one character alone: above any unit.
constexpr std::uint32_t kNotAlone = 0x10000;

// The lower case of n two-byte units into out, when each unit's lower case
// is one character that no context changes (no capital dotted I or capital
// sigma). Returns the bitwise or of results that include every one past
// U+00FF, which is below U+0100 when the whole result is; or kNotAlone,
// with `out` unfinished.
std::uint32_t lower_half_run(const char16_t* in, std::size_t n, char16_t* out) noexcept {
  // Below U+0800 in one load, above it in the two stages' three.
  const auto wide_lower = [](char16_t c) {
    const std::int32_t delta = c < kFlatLimit ? kFlatDeltas[c] : record_of(c).delta;
    return static_cast<char16_t>(static_cast<std::int32_t>(c) + delta);
  };
  std::uint32_t most = 0;
#if defined(__SSE2__)
  if (n >= 2) {
    for_each_block(in, n, out, [&](auto bytes, const char16_t* from, char16_t* to) {
      constexpr std::size_t kBytes = decltype(bytes)::value;
      constexpr std::size_t kUnits = kBytes / sizeof(char16_t);
      const __m128i v = load_low<kBytes>(from);
      // Lanes past the load are zero, which folds alone.
      const __m128i far = _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(~(kFlatLimit - 1)))),
                                          _mm_setzero_si128());
      const __m128i context = _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(kCapitalDottedI))),
                                           _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(kCapitalSigma))));
      if (_mm_movemask_epi8(_mm_andnot_si128(context, far)) == 0xFFFF) [[likely]] {
        // Every unit in one load each, with no branch on which it is: the
        // bitwise or of those below U+0100 stays below U+0100.
        for (std::size_t i = 0; i < kUnits; ++i) {
          to[i] = static_cast<char16_t>(from[i] + kFlatDeltas[from[i]]);
          most |= to[i];
        }
        return;
      }
      if (_mm_movemask_epi8(context) != 0) most |= kNotAlone;
      for (std::size_t i = 0; i < kUnits; ++i) {
        to[i] = wide_lower(from[i]);
        most |= to[i];
      }
    });
    return most;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) {
    if (in[i] < 0x100) {
      out[i] = latin1_lower(static_cast<std::uint8_t>(in[i]));
    } else {
      if (in[i] == kCapitalDottedI || in[i] == kCapitalSigma) return kNotAlone;
      out[i] = wide_lower(in[i]);
      most |= out[i];
    }
  }
  return most;
}

}  // namespace

// One loop for both forms: with kShortcuts, one-byte texts stay bytes and
// two-byte texts whose characters fold alone stay two-byte units, folded a
// block at a time; characters below U+0100 skip the two-stage table.
// Without it, every character takes the table path. The tests hold the
// first form to the second.
template <bool kShortcuts>
void lower_into(FoldedText& out, TextView text) noexcept {
  out.bytes_.clear();
  const std::size_t n = text.size();
  // Bytes for `count` characters, in the frame when they fit.
  const auto byte_room = [&](std::size_t count) {
    if (count <= FoldedText::kInlineBytes) return out.inline_;
    out.bytes_.resize(count);
    return out.bytes_.data();
  };
  if constexpr (kShortcuts) {
    // Lower-casing maps U+0000 to U+00FF one to one onto themselves.
    if (text.narrow()) {
      unsigned char* bytes = byte_room(n);
      lower_byte_run(units_of<unsigned char>(text), n, bytes);
      out.view_ = TextView(bytes, n);
      return;
    }
    // Every character up to U+FFFF but two lower-cases to one below U+FFFF;
    // a text that holds one of the two takes the character path below.
    if (text.width() == 2) {
      char16_t* half = out.inline_half_;
      if (n > std::size(out.inline_half_)) {
        if (n > out.half_room_) {
          out.half_ = std::make_unique_for_overwrite<char16_t[]>(n);
          out.half_room_ = n;
        }
        half = out.half_.get();
      }
      const std::uint32_t most = lower_half_run(units_of<char16_t>(text), n, half);
      if (most < 0x100) {
        // Only characters below U+0100 came out. In place over the units
        // when they are in the frame: byte k is written after unit k is read.
        unsigned char* bytes = byte_room(n);
        for (std::size_t k = 0; k < n; ++k) bytes[k] = static_cast<unsigned char>(half[k]);
        out.view_ = TextView(bytes, n);
        return;
      }
      if (most < kNotAlone) {
        out.view_ = TextView(half, n);
        return;
      }
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
    unsigned char* bytes = byte_room(count);
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

std::size_t supplementary_lower_preimages(char32_t lower, std::span<char32_t> out) noexcept {
  std::size_t count = 0;
  const auto put = [&](char32_t c) {
    if (count < out.size()) out[count] = c;
    ++count;
  };
  if (lower < 0x10000) return 0;
  char32_t to = 0;
  if (lower_alone(lower, to) && to == lower) put(lower);
  // Only a cased character is the lower case of another.
  if ((record_of(lower).flags & kCased) == 0) return count;
  const char32_t from = std::max<char32_t>(0x10000, lower - kSupplementaryCaseReach);
  for (char32_t c = from; c <= lower + kSupplementaryCaseReach; ++c) {
    if (c != lower && lower_alone(c, to) && to == lower) put(c);
  }
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
