// Jaro-Winkler similarity of two texts: matching characters within a window,
// transpositions among them, and the Winkler bonus for a common prefix.
#include <bit>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "edit/compared_pattern.hpp"
#include "jaro/multi_word_scan.hpp"
#include "jaro/plain_scan.hpp"
#include "jaro/scans.hpp"
#include "jaro/score.hpp"
#include "jaro/thresholds.hpp"
#include "jaro/vector_scan.hpp"
#include "jaro/word_scan.hpp"
#include "masks/multi_word_masks.hpp"
#include "text/prepared.hpp"
#include "text/units.hpp"

namespace quillstone {
namespace detail::jw {
namespace {

template <class Char>
double multiword_score(const Char* s1, std::size_t n1, const Char* s2, std::size_t n2,
                       double p) noexcept {
  std::vector<char32_t> keys = MultiWordMasks::wide_keys(s2, n2);
  if (!mask_table_fits(MultiWordMasks::rows_for(keys.size()), (n2 + kWordBits - 1) / kWordBits,
                       n2)) {
    return plain_scan_any(s1, n1, s2, n2, p);
  }
  const MultiWordMasks masks(s2, n2, std::move(keys));
  RowFinder find(masks);
  MultiWordScratch scratch;
  return multiword_match(masks, find, s1, n1, s2, n2, scratch, p);
}

}  // namespace

double direct_scan(TextView s1, TextView s2, double p) noexcept {
  WordFlags flags1, flags2;
  return plain_scan(units_of<unsigned char>(s1), s1.size(), units_of<unsigned char>(s2), s2.size(), flags1,
                    flags2, p);
}

double bit_parallel_scan(TextView s1, TextView s2, double p) noexcept {
  PositionMasks masks{};
  fill_position_masks(masks, s2);
  return bit_parallel_score(masks, s2, s1, p, KeepByte{});
}

bool vectors_hold(TextView s1, TextView s2) noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  const TextView& longer = s1.size() > s2.size() ? s1 : s2;
  if (longer.size() > kWordChars) return runs(VectorTarget::kAvx2) && longer.size() <= kHeldWordsMax;
  return runs(VectorTarget::kAvx2) && held_fits(longer.size(), longer.width());
#else
  static_cast<void>(s1);
  static_cast<void>(s2);
  return false;
#endif
}

double vector_scan(TextView s1, TextView s2, double p) noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  return held_vector_scan(s1, s2, p);
#else
  // Not taken: vectors_hold is false here. The multi-word scan takes any texts.
  return multiword_scan(s1, s1.size(), s2, s2.size(), p);
#endif
}

double small_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept {
  char32_t c1[kSmallChars], c2[kSmallChars];
  widen_chars(s1, c1);
  widen_chars(s2, c2);
  WordFlags flags1, flags2;
  return plain_scan(c1, n1, c2, n2, flags1, flags2, p);
}

double character_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept {
  char32_t c1[kWordBits];
  widen_chars(s1, c1);
  // A character's positions in s2 are found by comparing it with all of
  // them at once: no table to build.
  const ComparedPattern<char32_t> chars(s2, n2, 0, 16);
  return chars.with_chunks(n2, [&](auto window) {
    return word_scan(
        n1, [&](std::size_t i) { return c1[i]; }, n2, [&](std::size_t j) { return s2[j]; },
        [&](char32_t c) { return window(c, 0); }, p);
  });
}

double multiword_scan(TextView s1, std::size_t n1, TextView s2, std::size_t n2, double p) noexcept {
  if (s1.width() == s2.width()) {
    return with_units(s1, [&](const auto* units1) {
      using Unit = std::remove_cvref_t<decltype(*units1)>;
      return multiword_score(units1, n1, units_of<Unit>(s2), n2, p);
    });
  }
  const auto chars = std::make_unique_for_overwrite<char32_t[]>(n1 + n2);
  widen_chars(s1, chars.get());
  widen_chars(s2, chars.get() + n1);
  return multiword_score(chars.get(), n1, chars.get() + n1, n2, p);
}

}  // namespace detail::jw

Result<double> jaro_winkler(TextView str_1, TextView str_2, std::optional<double> p,
                            std::optional<std::size_t> max_len,
                            std::optional<bool> case_insensitive,
                            std::optional<double> score_cutoff) noexcept {
  namespace jw = detail::jw;
  const Result<double> scale = jw::checked_prefix_scale(p);
  if (!scale) return scale.error();

  detail::Prepared in;
  if (auto error = in.prepare(str_1, str_2, max_len, case_insensitive)) return *error;

  // Empty inputs are settled before the cut-off.
  if (in.n1 == 0) return in.n2 == 0 ? 1.0 : 0.0;
  if (in.n2 == 0) return 0.0;

  const double scale_value = scale.unchecked_value();
  const std::size_t longer = std::max(in.n1, in.n2);
  double result;
  if (in.both_narrow() && longer <= jw::kDirectScanMax) {
    result = jw::direct_scan(in.s1, in.s2, scale_value);
  } else if (!in.both_narrow() && longer <= jw::kPlainScanMax) {
    result = jw::small_scan(in.s1, in.n1, in.s2, in.n2, scale_value);
  } else if (jw::vectors_hold(in.s1, in.s2)) {
    result = jw::vector_scan(in.s1, in.s2, scale_value);
  } else if (longer > jw::kWordChars) {
    result = jw::multiword_scan(in.s1, in.n1, in.s2, in.n2, scale_value);
  } else if (in.both_narrow()) {
    result = jw::bit_parallel_scan(in.s1, in.s2, scale_value);
  } else {
    result = jw::character_scan(in.s1, in.n1, in.s2, in.n2, scale_value);
  }

  // A NaN cut-off compares false and never applies.
  if (score_cutoff && *score_cutoff > result) return 0.0;
  return result;
}

Result<double> jaro_winkler(std::string_view str_1, std::string_view str_2, std::optional<double> p,
                            std::optional<std::size_t> max_len, std::optional<bool> case_insensitive,
                            std::optional<double> score_cutoff) noexcept {
  return jaro_winkler(Utf8Text(str_1).view(), Utf8Text(str_2).view(), p, max_len, case_insensitive, score_cutoff);
}

}  // namespace quillstone
