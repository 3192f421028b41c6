// Turns a fuzzer's bytes into a valid call of the core: options first, then
// two or more texts. Every input decodes to well-formed UTF-8, so each one is
// a call the core must answer.
//
// Layout (missing bytes read as zero):
//   flags        bits 0-1 case_insensitive (absent, false, true, true),
//                bit 2 max_len given, bit 3 score_cutoff given,
//                bits 4-7 the prefix scale p (see `prefix_scale`)
//   max_len      one byte, see `size_option`
//   cutoff       one byte: an edit-distance bound (`size_option`) or a
//                similarity cut-off (`CutoffChoice`)
//   palette      one byte: bits 0-4 K (mod 17), bits 5-7 how often the
//                batch sees the texts (see `kRepeats`); then K entries of
//                three bytes
//   texts        the rest, split at 0xFF. A byte below 0x80 is that ASCII
//                character; 0x80 to 0xFD picks palette entry (b - 0x80) mod K,
//                or the Latin-1 character b when the palette is empty; 0xFE
//                doubles the text so far (up to kLongestText characters).
//
// Small palettes make repeated characters, and so matches and
// transpositions, frequent while still mixing every UTF-8 length. Doubling
// reaches the texts of a thousand characters and more that some paths need,
// within a short input.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "text/case_folding.hpp"
#include "text/utf8.hpp"

namespace quillstone::fuzz {

// The fuzzers call the UTF-8 entry: each text is decoded into the narrowest
// units that hold it, so that the case's characters choose the widths.
using TextView = std::string_view;

using Chars = std::u32string;

// Ends the run with the message; libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  __builtin_trap();
}

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::quillstone::fuzz::fail(#cond, __FILE__, __LINE__); \
  } while (0)

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  std::uint8_t byte() noexcept { return pos_ < size_ ? data_[pos_++] : 0; }

  std::uint64_t word() noexcept {
    std::uint64_t w = 0;
    for (int i = 0; i < 8; ++i) w = (w << 8) | byte();
    return w;
  }

  const std::uint8_t* rest() const noexcept { return data_ + pos_; }
  std::size_t rest_size() const noexcept { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Characters whose lower case is a special case: two-character mappings,
// the final-sigma rule and its case-ignorable context, compatibility
// letters that fold to ASCII, astral capitals, and characters with no
// mapping at all.
inline constexpr char32_t kCasingSpecials[] = {
    0x0130, 0x03A3, 0x03C2, 0x03C3, 0x212A, 0x212B, 0x00DF, 0x1E9E, 0x0049, 0x0399,
    0x1F88, 0x1FBC, 0x0345, 0x00C0, 0x2126, 0x10400, 0x1E900, 0x00B7, 0x0027, 0x0300,
    0xFB00, 0x0149, 0x01C5, 0x03F4, 0x0041, 0x004B, 0x0053, 0x00B5, 0x00C5, 0x1E9B,
};

// A code point from three bytes: ASCII, Latin-1, the rest of the BMP without
// surrogates, astral planes, casing specials, or capitals of cased scripts.
inline char32_t palette_entry(std::uint8_t kind, std::uint8_t hi, std::uint8_t lo) noexcept {
  const std::uint32_t v = (std::uint32_t{hi} << 8) | lo;
  switch (kind % 6) {
    case 0:
      return v % 0x80;
    case 1:
      return 0x80 + v % 0x80;
    case 2: {
      char32_t c = 0x100 + v % (0x10000 - 0x100 - 0x800);
      if (c >= 0xD800) c += 0x800;
      return c;
    }
    case 3:
      return 0x10000 + ((((std::uint32_t{kind} >> 3) & 0xF) << 16) | v);
    case 4:
      return kCasingSpecials[v % std::size(kCasingSpecials)];
    default: {
      static constexpr char32_t kBase[] = {0x0391, 0x0410, 0x0100, 0x1F08, 0x0041, 0x10400};
      static constexpr char32_t kSpan[] = {25, 48, 128, 104, 26, 80};
      const std::size_t r = v % std::size(kBase);
      return kBase[r] + (v >> 3) % kSpan[r];
    }
  }
}

// Lengths and bounds: small values, plus the edges of the unsigned types.
inline std::size_t size_option(std::uint8_t b) noexcept {
  switch (b) {
    case 0xFC:
      return 1000;
    case 0xFD:
      return std::numeric_limits<std::uint32_t>::max();
    case 0xFE:
      return std::numeric_limits<std::size_t>::max() - 1;
    case 0xFF:
      return std::numeric_limits<std::size_t>::max();
    default:
      return b;
  }
}

// Sixteen prefix scales: absent, the edges of the valid range and just past
// them, NaN, infinities, subnormals, and free values from the input.
inline std::optional<double> prefix_scale(std::uint8_t choice, ByteReader& in) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  switch (choice & 0xF) {
    case 0: return std::nullopt;
    case 1: return 0.0;
    case 2: return -0.0;
    case 3: return 0.25;
    case 4: return std::nextafter(0.25, 1.0);
    case 5: return 0.1;
    case 6: return std::numeric_limits<double>::quiet_NaN();
    case 7: return -std::numeric_limits<double>::quiet_NaN();
    case 8: return -1.0;
    case 9: return inf;
    case 10: return -inf;
    case 11: return std::numeric_limits<double>::denorm_min();
    case 12: return -std::numeric_limits<double>::denorm_min();
    case 13: return 0.3;
    case 14: return std::bit_cast<double>(in.word());  // anything at all
    default: return in.byte() / 1020.0;                // inside [0, 0.25]
  }
}

// The similarity cut-off: fixed values, or one placed relative to the score
// the reference expects (equal, just above, just below).
struct CutoffChoice {
  enum Kind { kNone, kFixed, kEqual, kAbove, kBelow } kind = kNone;
  double value = 0.0;

  // The cut-off to pass once the expected score is known.
  std::optional<double> resolve(double expected) const noexcept {
    switch (kind) {
      case kNone: return std::nullopt;
      case kFixed: return value;
      case kEqual: return expected;
      case kAbove: return std::nextafter(expected, 2.0);
      case kBelow: return std::nextafter(expected, -1.0);
    }
    return std::nullopt;
  }
};

inline CutoffChoice cutoff_choice(std::uint8_t b) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  static constexpr double kFixed[] = {
      0.0, -0.0, 1.0, 1.5, -1.0, 0.5, 0.7, 0.9, 0.95, inf, -inf,
      std::numeric_limits<double>::quiet_NaN(), 0x1.fffffffffffffp-1};  // the last: just below 1
  if (b < 0x20) return {CutoffChoice::kNone, 0.0};
  if (b < 0x40) return {CutoffChoice::kFixed, kFixed[b % std::size(kFixed)]};
  if (b < 0x60) return {CutoffChoice::kEqual, 0.0};
  if (b < 0x70) return {CutoffChoice::kAbove, 0.0};
  if (b < 0x80) return {CutoffChoice::kBelow, 0.0};
  return {CutoffChoice::kFixed, (b - 0x80) / 127.0};
}

// A whole decoded call.
struct Case {
  std::optional<bool> case_insensitive;
  std::optional<std::size_t> max_len;
  std::optional<std::size_t> distance_cutoff;
  CutoffChoice similarity_cutoff;
  std::optional<double> p;
  std::vector<Chars> chars;        // at least two texts
  std::vector<std::string> texts;  // their UTF-8
  std::size_t repeat = 1;

  bool folding() const noexcept { return case_insensitive.value_or(false); }

  // The text behind each candidate of the batch: all texts, `repeat` times,
  // every other round backwards.
  std::vector<std::size_t> batch_order() const {
    std::vector<std::size_t> order;
    for (std::size_t r = 0; r < repeat; ++r) {
      for (std::size_t k = 0; k < texts.size(); ++k) {
        order.push_back(r % 2 == 0 ? k : texts.size() - 1 - k);
      }
    }
    return order;
  }
};

// Texts beyond this many are ignored, so that one input stays cheap.
inline constexpr std::size_t kMaxTexts = 12;
// Doubling stops short of this many characters.
inline constexpr std::size_t kLongestText = 2500;

// The batch's candidate list is the texts over and over, so that batches
// score many candidates of equal length together.
inline constexpr std::size_t kRepeats[] = {1, 2, 3, 5, 8, 13, 24, 40};

inline Case decode(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  Case c;
  const std::uint8_t flags = in.byte();
  const std::uint8_t max_len = in.byte();
  const std::uint8_t cutoff = in.byte();
  switch (flags & 3) {
    case 0: break;
    case 1: c.case_insensitive = false; break;
    default: c.case_insensitive = true; break;
  }
  if (flags & 4) c.max_len = size_option(max_len);
  if (flags & 8) c.distance_cutoff = size_option(cutoff);
  c.similarity_cutoff = (flags & 8) ? cutoff_choice(cutoff) : CutoffChoice{};
  c.p = prefix_scale(flags >> 4, in);

  const std::uint8_t palette_byte = in.byte();
  c.repeat = kRepeats[palette_byte >> 5];
  std::vector<char32_t> palette((palette_byte & 0x1F) % 17);
  for (char32_t& entry : palette) {
    const std::uint8_t kind = in.byte(), hi = in.byte(), lo = in.byte();
    entry = palette_entry(kind, hi, lo);
  }

  c.chars.emplace_back();
  const std::uint8_t* p = in.rest();
  for (std::size_t k = 0; k < in.rest_size(); ++k) {
    const std::uint8_t b = p[k];
    if (b == 0xFF) {
      if (c.chars.size() == kMaxTexts) break;
      c.chars.emplace_back();
    } else if (b == 0xFE) {
      Chars& text = c.chars.back();
      if (2 * text.size() <= kLongestText) text += Chars(text);
    } else if (b < 0x80) {
      c.chars.back().push_back(b);
    } else if (palette.empty()) {
      c.chars.back().push_back(b);
    } else {
      c.chars.back().push_back(palette[(b - 0x80) % palette.size()]);
    }
  }
  if (c.chars.size() < 2) c.chars.emplace_back();
  for (const Chars& chars : c.chars) {
    std::string utf8;
    for (char32_t ch : chars) detail::append_utf8(utf8, ch);
    c.texts.push_back(std::move(utf8));
  }
  return c;
}

// ---------------------------------------------------------------- text helpers

inline Chars decode_utf8(TextView text) {
  Chars out;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) out.push_back(detail::decode_next(p));
  return out;
}

// What the metric sees: the full lower case when folding, else the text.
inline std::string prepared_text(const std::string& text, bool fold) {
  return fold ? detail::to_lower_full(text) : text;
}

inline bool same_double(double a, double b) noexcept {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace quillstone::fuzz
