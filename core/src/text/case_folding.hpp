// Full Unicode lower-casing of whole texts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quillstone/quillstone.hpp"
#include "simd/target.hpp"

#if defined(QUILLSTONE_LANE_TARGETS)
#include <immintrin.h>
#endif

namespace quillstone::detail {

// A text lower-cased into units it owns: bytes when every character of the
// result is below U+0100, else two-byte units when the text had them and no
// character expanded, else UCS-4. It does not move once made; folding
// another text into it reuses its storage.
class FoldedText {
 public:
  // Provided, not defaulted: a defaulted one would have optional::emplace()
  // and FoldedText{} clear the whole frame first.
  FoldedText() noexcept {}  // NOLINT(modernize-use-equals-default)
  FoldedText(const FoldedText&) = delete;
  FoldedText& operator=(const FoldedText&) = delete;

  TextView view() const noexcept { return view_; }

 private:
  template <bool kShortcuts>
  friend void lower_into(FoldedText& out, TextView text) noexcept;

  // Short texts fold into the frame, as most words and names do: wide
  // characters, and bytes written over them once they are known to fit.
  static constexpr std::size_t kInlineChars = 64;
  static constexpr std::size_t kInlineBytes = kInlineChars * sizeof(char32_t);
  union {
    unsigned char inline_[kInlineBytes];
    char16_t inline_half_[kInlineBytes / sizeof(char16_t)];
    char32_t inline_wide_[kInlineChars];
  };
  std::vector<unsigned char> bytes_;
  // Room for the lower case of a long text, left uncleared: only the pages
  // the result reaches are ever touched.
  std::unique_ptr<char16_t[]> half_;
  std::size_t half_room_ = 0;
  std::unique_ptr<char32_t[]> wide_;
  std::size_t wide_room_ = 0;
  TextView view_;
};

// The full Unicode lower-case form of a whole text, into `out`: UnicodeData
// and the unconditional SpecialCasing mappings, capital sigma by the
// Final_Sigma rule, no locale tailoring. Returns out.view().
TextView to_lower_full(TextView text, FoldedText& out) noexcept;

// The lower case of each character below U+0100, which is one too: a table
// of 256, the same one on every call.
[[gnu::const]] const std::uint8_t* lower_bytes() noexcept;

// The lower case of a character below U+0100.
inline unsigned char lower_byte(unsigned char c) noexcept { return lower_bytes()[c]; }

// The lower case of a character when it is one character that no context
// changes, into `out`; false for capital sigma and the characters whose
// lower case is longer.
bool lower_alone(char32_t c, char32_t& out) noexcept;

// The two characters up to U+FFFF for which lower_alone() is false: the
// lower case of capital dotted I is two characters, capital sigma's depends
// on its neighbours.
inline constexpr char16_t kCapitalDottedI = 0x0130;
inline constexpr char16_t kCapitalSigma = 0x03A3;

// Whether lower_alone() gives the lower case of each of the n two- or
// four-byte units: 16 bytes of them at a time, the last ones in a load that
// may overlap the one before. Texts of one to four loads (8 to 32 two-byte
// units, most names and words) take four loads whatever their length, so
// that no branch depends on it. Every character past U+FFFF has its lower
// case alone.
template <class Unit>
bool lower_alone_each(const Unit* units, std::size_t n) noexcept {
  static_assert(sizeof(Unit) == 2 || sizeof(Unit) == 4);
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  if (n >= kStep) {
    const auto found = [&](std::size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
      if constexpr (sizeof(Unit) == 2) {
        return _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(kCapitalDottedI))),
                            _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(kCapitalSigma))));
      } else {
        return _mm_or_si128(_mm_cmpeq_epi32(v, _mm_set1_epi32(kCapitalDottedI)),
                            _mm_cmpeq_epi32(v, _mm_set1_epi32(kCapitalSigma)));
      }
    };
    const std::size_t last = n - kStep;
    __m128i any = _mm_or_si128(_mm_or_si128(found(0), found(std::min(kStep, last))),
                               _mm_or_si128(found(std::min(2 * kStep, last)), found(last)));
    for (std::size_t i = 3 * kStep; i < last; i += kStep) any = _mm_or_si128(any, found(i));
    return _mm_movemask_epi8(any) == 0;
  }
#endif
  unsigned any = 0;
  for (std::size_t i = 0; i < n; ++i) any |= unsigned{units[i] == kCapitalDottedI} | unsigned{units[i] == kCapitalSigma};
  return any == 0;
}

#if defined(QUILLSTONE_LANE_TARGETS)
// keep_lower_alone() on two-byte texts: a text of up to 32 units in one
// masked load, which reads none past its end, whatever its length.
template <class PutAside>
[[gnu::target(QUILLSTONE_AVX512)]] std::size_t keep_lower_alone_avx512(std::span<const TextView> texts,
                                                                        std::size_t* which, std::size_t count,
                                                                        PutAside& put_aside) noexcept {
  constexpr std::size_t kUnits = 32;
  const __m512i dotted_i = _mm512_set1_epi16(static_cast<short>(kCapitalDottedI));
  const __m512i sigma = _mm512_set1_epi16(static_cast<short>(kCapitalSigma));
  std::size_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const TextView text = texts[which[k]];
    const auto* units = static_cast<const char16_t*>(text.data());
    bool alone;
    if (text.size() <= kUnits) [[likely]] {
      const auto present = static_cast<__mmask32>(text.size() == kUnits ? ~0u : (1u << text.size()) - 1);
      const __m512i v = _mm512_maskz_loadu_epi16(present, units);
      alone = (_mm512_cmpeq_epi16_mask(v, dotted_i) | _mm512_cmpeq_epi16_mask(v, sigma)) == 0;
    } else {
      alone = lower_alone_each(units, text.size());
    }
    if (alone) [[likely]] {
      which[kept++] = which[k];
    } else {
      put_aside(which[k]);
    }
  }
  return kept;
}
#endif

// Of the texts texts[which[k]], k < count, all of `Unit`s, keeps at the
// front of `which`, in their order, those for which lower_alone_each()
// holds, and returns how many; passes each other index to put_aside(index).
template <class Unit, class PutAside>
std::size_t keep_lower_alone(std::span<const TextView> texts, std::size_t* which, std::size_t count,
                             PutAside put_aside) noexcept {
#if defined(QUILLSTONE_LANE_TARGETS)
  if constexpr (sizeof(Unit) == 2) {
    if (runs(VectorTarget::kAvx512)) return keep_lower_alone_avx512(texts, which, count, put_aside);
  }
#endif
  std::size_t kept = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const TextView text = texts[which[k]];
    if (lower_alone_each(static_cast<const Unit*>(text.data()), text.size())) [[likely]] {
      which[kept++] = which[k];
    } else {
      put_aside(which[k]);
    }
  }
  return kept;
}

// The characters from U+0100 to U+FFFF whose lower case lower_alone() gives
// as `lower`, as many as `out` holds; returns how many there are.
std::size_t wide_lower_preimages(char32_t lower, std::span<char16_t> out) noexcept;

// The same from U+10000 on, as many as `out` holds; returns how many there
// are. Each capital there lies within kSupplementaryCaseReach of its lower
// case (the tests check every one), so only those near `lower` are asked.
std::size_t supplementary_lower_preimages(char32_t lower, std::span<char32_t> out) noexcept;
inline constexpr char32_t kSupplementaryCaseReach = 0x100;

// The same on UTF-8, for tests and tools.
std::string to_lower_full(std::string_view utf8) noexcept;

}  // namespace quillstone::detail
