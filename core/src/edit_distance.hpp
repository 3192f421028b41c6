// The bit-parallel edit distances: Myers' recurrence in Hyyrö's formulation
// for Levenshtein, and Hyyrö's transposition term on top of it for the
// optimal string alignment distance. The measure is a template parameter;
// one recurrence body serves every kernel.
//
// Both distances are symmetric and unchanged by removing a common prefix or
// suffix, so a pair is first stripped of its common affixes and the shorter
// remainder becomes the pattern, the bit dimension: bit i of every vector
// stands for pattern character i. The text is read once, one column per
// character. Three kernels share the masks of a prepared pattern:
//   - a pattern of at most 64 characters: one word per column;
//   - a longer pattern with a bound k on the distance: only the diagonals
//     that a path of cost at most k can touch (Ukkonen's band), held in as
//     few words as they need and shifted down the diagonal (Hyyrö's banded
//     formulation), stopping once the distance must exceed k;
//   - a longer pattern whose band would cover it: every word of the column.
// Without a bound the band starts narrow and doubles until the distance
// fits in it, so near-duplicates cost about n·d/64 word steps.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "common.hpp"
#include "match_masks.hpp"

namespace quillstone::detail {

template <EditMetric Metric>
inline constexpr bool kTransposes = Metric == EditMetric::OptimalAlignment;

// No bound: larger than any distance.
inline constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max() / 4;

// ---------------------------------------------------------------- recurrence

// One column of the recurrence on one word of 64 pattern positions, or on a
// vector of narrower lanes, each its own pattern. Bits above the last
// pattern position take part in the arithmetic but never reach the bits
// below it: carries and shifts only move information upwards.
template <EditMetric Metric, class Word>
struct ColumnWord {
  Word vp, vn, d0_prev, pm_prev;

  explicit ColumnWord(Word zero) noexcept : vp(~zero), vn(zero), d0_prev(zero), pm_prev(zero) {}

  // Advances by one text character with match mask `pm`; `hp` and `hn` are
  // the horizontal differences of the new column, before they are shifted.
  [[gnu::always_inline]] inline void step(Word pm, Word& hp, Word& hn) noexcept {
    Word d0 = (((pm & vp) + vp) ^ vp) | pm | vn;
    if constexpr (kTransposes<Metric>) d0 |= ((~d0_prev & pm) << 1) & pm_prev;
    hp = vn | ~(d0 | vp);
    hn = vp & d0;
    const Word hp_shifted = (hp << 1) | 1;  // row 0 grows by one per text character
    const Word hn_shifted = hn << 1;
    vp = hn_shifted | ~(d0 | hp_shifted);
    vn = hp_shifted & d0;
    if constexpr (kTransposes<Metric>) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
};

// The texts a kernel reads: ASCII bytes, or UTF-8 decoded while it is read.
struct ByteReader {
  const unsigned char* p;
  explicit ByteReader(TextView text) noexcept : p(reinterpret_cast<const unsigned char*>(text.data())) {}
  unsigned char next() noexcept { return *p++; }
};

struct Utf8Reader {
  const char* p;
  explicit Utf8Reader(TextView text) noexcept : p(text.data()) {}
  char32_t next() noexcept { return decode_next(p); }
};

// A pattern of 1 to 64 characters against a text of n: one word per column.
// `pm_of` gives a text character's mask. With a bound k the scan stops as
// soon as the last row can no longer come back to k (it falls by at most one
// per column); the result is then above k.
template <EditMetric Metric, class Reader, class Masks>
std::size_t column_scan(std::size_t m, Reader text, std::size_t n, Masks pm_of, std::size_t k) noexcept {
  ColumnWord<Metric, std::uint64_t> column(0);
  const std::uint64_t last = std::uint64_t{1} << (m - 1);
  std::size_t score = m;
  std::size_t budget = k + n;  // the bound plus the columns still to come
  for (std::size_t j = 0; j < n; ++j) {
    std::uint64_t hp, hn;
    column.step(pm_of(text.next()), hp, hn);
    score += (hp & last) != 0;
    score -= (hn & last) != 0;
    if (score > --budget) return score;
  }
  return score;
}

// ---------------------------------------------------------------- compared masks

// A pattern whose masks are found by comparing each text character with a
// run of pattern characters, 16 at a time: no table to build, which pays
// for a one-off pair whose pattern is short or whose scan reads only a
// narrow band. The pattern is copied between two runs of padding that
// matches no character, so a window may start up to 64 positions before it
// and end up to 64 positions past it.
template <class Char>
class ComparedPattern {
 public:
  // Padding: no ASCII byte and no scalar value.
  static constexpr Char kNone = sizeof(Char) == 1 ? Char(0x80) : Char(0xFFFFFFFF);

  // `front` and `back` positions of padding around the m characters.
  ComparedPattern(TextView pattern, std::size_t m, std::size_t front, std::size_t back) noexcept
      : front_(front) {
    const std::size_t size = front + m + back;
    if (size > kInline) heap_.resize(size);
    chars_ = size > kInline ? heap_.data() : inline_;
    std::fill(chars_, chars_ + front, kNone);
    std::fill(chars_ + front + m, chars_ + size, kNone);
    if constexpr (sizeof(Char) == 1) {
      std::memcpy(chars_ + front, pattern.data(), m);
    } else {
      decode_chars(pattern, chars_ + front);
    }
  }
  ComparedPattern(const ComparedPattern&) = delete;
  ComparedPattern& operator=(const ComparedPattern&) = delete;

  // Bits 0 to 16·Chunks - 1: the positions from `pos` on that hold `c`.
  template <std::size_t Chunks>
  std::uint64_t bits(char32_t c, std::ptrdiff_t pos) const noexcept {
    if constexpr (sizeof(Char) == 1) {
      if (c >= 0x80) return 0;
    }
    const Char* p = chars_ + front_ + pos;
    std::uint64_t out = 0;
    for (std::size_t i = 0; i < Chunks; ++i) out |= std::uint64_t{match16(p + 16 * i, c)} << (16 * i);
    return out;
  }

  // Calls run with the bits<Chunks> of the smallest Chunks (1 to 4) that
  // covers `positions`.
  template <class Run>
  auto with_chunks(std::size_t positions, Run run) const noexcept {
    const auto of = [&](auto chunks) {
      return run([&](auto c, std::ptrdiff_t pos) { return bits<decltype(chunks)::value>(c, pos); });
    };
    if (positions <= 16) return of(std::integral_constant<std::size_t, 1>{});
    if (positions <= 32) return of(std::integral_constant<std::size_t, 2>{});
    if (positions <= 48) return of(std::integral_constant<std::size_t, 3>{});
    return of(std::integral_constant<std::size_t, 4>{});
  }

 private:
  static std::uint32_t match16(const Char* p, char32_t c) noexcept {
#if defined(__SSE2__)
    if constexpr (sizeof(Char) == 1) {
      const __m128i run = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      return static_cast<std::uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(run, _mm_set1_epi8(static_cast<char>(c)))));
    } else {
      const __m128i key = _mm_set1_epi32(static_cast<int>(c));
      const auto eq = [&](std::size_t at) {
        return _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), key);
      };
      const __m128i low = _mm_packs_epi32(eq(0), eq(4)), high = _mm_packs_epi32(eq(8), eq(12));
      return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
    }
#else
    std::uint32_t out = 0;
    for (unsigned i = 0; i < 16; ++i) out |= std::uint32_t{p[i] == c} << i;
    return out;
#endif
  }

  // In the frame: a sentence beside its padding, or a short pattern.
  static constexpr std::size_t kInline = 4096 / sizeof(Char);
  std::size_t front_;
  Char inline_[kInline];
  std::vector<Char> heap_;
  Char* chars_;
};

// ---------------------------------------------------------------- the band

// The band of a bound k on a pair of lengths m and n, |m - n| <= k: a path of
// cost at most k keeps to the diagonals j - i from -below to above.
struct Band {
  std::size_t above, below;

  Band(std::size_t m, std::size_t n, std::size_t k) noexcept {
    const std::size_t gap = m > n ? m - n : n - m;
    const std::size_t half = (k - gap) / 2;
    above = (n > m ? gap : 0) + half;
    below = (m > n ? gap : 0) + half;
  }

  std::size_t rows() const noexcept { return above + below + 1; }
  // The vectors hold the band's rows, the row that enters it at the bottom
  // and the one below that, which the transposition term reads.
  std::size_t bits() const noexcept { return rows() + 2; }
  std::size_t words() const noexcept { return (bits() + kWordBits - 1) / kWordBits; }
};

// The band kernel. Bit t of the vectors at text column j stands for pattern
// row j - 1 - above + t; rows above the pattern are virtual, with the values
// of the extended table D[i][j] = j - i, and cells outside the band count as
// larger than they are, which changes no cell on a path of cost at most k.
// After each column the vectors shift down one row, following the diagonal.
// The score follows the diagonal of the last cell, n - m, which never falls;
// once it exceeds k the scan stops. `window(c, pos)` gives the 64 positions
// from pos on that hold c; `begin` is the pattern's first position there, a
// multiple of 64.
template <EditMetric Metric, class Reader, class Window>
std::size_t band_scan_word(Window window, std::size_t begin, std::size_t m, Reader text,
                           std::size_t n, std::size_t k, const Band& band) noexcept {
  const std::uint64_t keep = band.bits() >= kWordBits ? ~std::uint64_t{0}
                                                      : (std::uint64_t{1} << band.bits()) - 1;
  std::uint64_t vn = (std::uint64_t{2} << band.above) - 1;  // rows -above to 0 are virtual
  std::uint64_t vp = ~vn;
  std::uint64_t d0_prev = 0, pm_prev = 0;
  const unsigned track = static_cast<unsigned>(band.below + 1);
  std::size_t score = m > n ? m - n : n - m;
  auto pos = static_cast<std::ptrdiff_t>(begin) - 1 - static_cast<std::ptrdiff_t>(band.above);
  for (std::size_t j = 0; j < n; ++j, ++pos) {
    const std::uint64_t pm = window(text.next(), pos) & keep;
    const std::uint64_t x = pm | vn;
    std::uint64_t d0 = (((x & vp) + vp) ^ vp) | x;
    if constexpr (kTransposes<Metric>) d0 |= ~d0_prev & (pm << 1) & (pm_prev >> 1);
    const std::uint64_t hn = vp & d0;
    const std::uint64_t hp = vn | ~(vp | d0);
    score += (~d0 >> track) & 1;
    if (score > k) return score;
    const std::uint64_t down = d0 >> 1;
    vn = down & hp;
    vp = hn | ~(down | hp);
    if constexpr (kTransposes<Metric>) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
  return score;
}

// a + b + carry (0 or 1); carry becomes the carry out.
inline std::uint64_t add_with_carry(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) noexcept {
#if defined(__x86_64__)
  unsigned long long sum;
  carry = _addcarry_u64(static_cast<unsigned char>(carry), a, b, &sum);
  return sum;
#else
  const std::uint64_t partial = a + b;
  const std::uint64_t sum = partial + carry;
  carry = (partial < a) | (sum < partial);
  return sum;
#endif
}

// The band kernel for a band wider than one word: the same steps on vectors
// of several words, acting as one number. `windows(c, pos, out, w)` gives the
// w words of positions from pos on that hold c.
inline constexpr std::size_t kMaxBandWords = 32;

// Words is the band's word count, or 0 for any count up to kMaxBandWords:
// a fixed count keeps the vectors in registers.
template <EditMetric Metric, std::size_t Words, class Reader, class Windows>
std::size_t band_scan_words(Windows windows, std::size_t begin, std::size_t m, Reader text,
                            std::size_t n, std::size_t k, const Band& band) noexcept {
  const std::size_t w = Words != 0 ? Words : band.words();
  const std::size_t top_bits = band.bits() - (w - 1) * kWordBits;
  const std::uint64_t top_keep = top_bits >= kWordBits ? ~std::uint64_t{0}
                                                       : (std::uint64_t{1} << top_bits) - 1;
  std::array<std::uint64_t, Words != 0 ? Words : kMaxBandWords> vp, vn, d0_prev{}, pm_prev{}, pm, d0{}, hp, hn;
  for (std::size_t t = 0; t < w; ++t) {
    // Rows -above to 0 are virtual: bits 0 to above.
    const std::size_t lo = t * kWordBits;
    std::uint64_t virt = 0;
    if (band.above + 1 >= lo + kWordBits) {
      virt = ~std::uint64_t{0};
    } else if (band.above + 1 > lo) {
      virt = (std::uint64_t{1} << (band.above + 1 - lo)) - 1;
    }
    vn[t] = virt;
    vp[t] = ~virt;
  }
  const std::size_t track = band.below + 1;
  const std::size_t track_word = track / kWordBits;
  const unsigned track_bit = track % kWordBits;
  std::size_t score = m > n ? m - n : n - m;
  auto pos = static_cast<std::ptrdiff_t>(begin) - 1 - static_cast<std::ptrdiff_t>(band.above);
  for (std::size_t j = 0; j < n; ++j, ++pos) {
    windows(text.next(), pos, pm.data(), w);
    pm[w - 1] &= top_keep;
    std::uint64_t carry = 0, up = 0;
#pragma GCC unroll 4
    for (std::size_t t = 0; t < w; ++t) {
      const std::uint64_t x = pm[t] | vn[t];
      std::uint64_t d = add_with_carry(x & vp[t], vp[t], carry);
      d = (d ^ vp[t]) | x;
      if constexpr (kTransposes<Metric>) {
        const std::uint64_t pm_up = (pm[t] << 1) | up;
        up = pm[t] >> 63;
        const std::uint64_t prev_down = (pm_prev[t] >> 1) | (t + 1 < w ? pm_prev[t + 1] << 63 : 0);
        d |= ~d0_prev[t] & pm_up & prev_down;
      }
      d0[t] = d;
      hn[t] = vp[t] & d;
      hp[t] = vn[t] | ~(vp[t] | d);
    }
    score += (~d0[track_word] >> track_bit) & 1;
    if (score > k) return score;
#pragma GCC unroll 4
    for (std::size_t t = 0; t < w; ++t) {
      const std::uint64_t down = (d0[t] >> 1) | (t + 1 < w ? d0[t + 1] << 63 : 0);
      vn[t] = down & hp[t];
      vp[t] = hn[t] | ~(down | hp[t]);
    }
    if constexpr (kTransposes<Metric>) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
  return score;
}

// band_scan_words with its word count fixed where it is small.
template <EditMetric Metric, class Reader, class Windows>
std::size_t band_scan_any(Windows windows, std::size_t begin, std::size_t m, Reader text, std::size_t n,
                          std::size_t k, const Band& band) noexcept {
  switch (band.words()) {
    case 2: return band_scan_words<Metric, 2>(windows, begin, m, text, n, k, band);
    case 3: return band_scan_words<Metric, 3>(windows, begin, m, text, n, k, band);
    case 4: return band_scan_words<Metric, 4>(windows, begin, m, text, n, k, band);
    default: return band_scan_words<Metric, 0>(windows, begin, m, text, n, k, band);
  }
}

// Working words of a kernel, zeroed: in the frame up to a few hundred, on
// the heap beyond.
class WorkWords {
 public:
  explicit WorkWords(std::size_t n) noexcept {
    if (n > kInline) heap_.resize(n);
    data_ = n > kInline ? heap_.data() : inline_;
    std::fill(data_, data_ + n, 0);
  }
  WorkWords(const WorkWords&) = delete;
  WorkWords& operator=(const WorkWords&) = delete;
  std::uint64_t* data() noexcept { return data_; }

 private:
  static constexpr std::size_t kInline = 256;
  std::uint64_t inline_[kInline];
  std::vector<std::uint64_t> heap_;
  std::uint64_t* data_;
};

// The full kernel: every word of the column, for a pattern of any length
// whose first position in `masks` is a multiple of 64. Words is the
// pattern's word count, or 0 for any: a fixed count of a few words keeps
// the vectors in registers.
template <EditMetric Metric, std::size_t Words, class Reader, class Masks>
std::size_t full_scan_of(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                         std::size_t n) noexcept {
  const std::size_t w = Words != 0 ? Words : (m + kWordBits - 1) / kWordBits;
  const std::size_t first = begin / kWordBits;
  masks.reach(first + w);
  WorkWords state(Words != 0 ? 0 : 4 * w);
  std::array<std::uint64_t, 4 * Words> fixed{};
  std::uint64_t* vp = Words != 0 ? fixed.data() : state.data();
  std::uint64_t* vn = vp + w;
  std::uint64_t* d0_prev = vn + w;
  std::uint64_t* pm_prev = d0_prev + w;
  std::fill(vp, vp + w, ~std::uint64_t{0});
  const std::uint64_t last = std::uint64_t{1} << ((m - 1) % kWordBits);
  std::size_t score = m;
  for (std::size_t j = 0; j < n; ++j) {
    const PatternMasks::Row row = masks.row(text.next());
    const std::uint64_t* words = row.direct();
    std::uint64_t sum_carry = 0, hp_carry = 1, hn_carry = 0, tr_carry = 0;
    std::uint64_t hp = 0, hn = 0;  // of the last word, once the loop is done
#pragma GCC unroll 4
    for (std::size_t t = 0; t < w; ++t) {
      const std::uint64_t pm = words != nullptr ? words[first + t] : row.word(first + t);
      const std::uint64_t vpt = vp[t], vnt = vn[t];
      std::uint64_t tr = 0;
      if constexpr (kTransposes<Metric>) {
        const std::uint64_t x = ~d0_prev[t] & pm;
        tr = ((x << 1) | tr_carry) & pm_prev[t];
        tr_carry = x >> 63;
        pm_prev[t] = pm;
      }
      const std::uint64_t sum = add_with_carry(pm & vpt, vpt, sum_carry);
      const std::uint64_t d0 = (sum ^ vpt) | pm | vnt | tr;
      hp = vnt | ~(d0 | vpt);
      hn = d0 & vpt;
      const std::uint64_t hp_shifted = (hp << 1) | hp_carry;
      const std::uint64_t hn_shifted = (hn << 1) | hn_carry;
      hp_carry = hp >> 63;
      hn_carry = hn >> 63;
      vp[t] = hn_shifted | ~(d0 | hp_shifted);
      vn[t] = hp_shifted & d0;
      if constexpr (kTransposes<Metric>) d0_prev[t] = d0;
    }
    score += (hp & last) != 0;
    score -= (hn & last) != 0;
  }
  return score;
}

// The full kernel for a pattern of 3 or 4 words, one word per lane of a
// 256-bit vector, the lanes skewed by a column: at step s lane t works on
// text column s - t. Word t needs the carries of word t - 1 in the same
// column, which lane t - 1 produced one step earlier, so every step updates
// all words at once and passes its carries one lane up. A column's words
// then cost one vector step instead of a chain of scalar words.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUILLSTONE_WAVEFRONT 1

typedef std::uint64_t WordLanes __attribute__((vector_size(32)));

inline bool has_wavefront() noexcept { return __builtin_cpu_supports("avx2"); }

// Each lane's input from the lane below, lane 0 taking `bottom`'s.
__attribute__((target("avx2"), always_inline)) inline WordLanes lanes_up(WordLanes v, WordLanes bottom) noexcept {
  return __builtin_shufflevector(v, bottom, 4, 0, 1, 2);
}

template <EditMetric Metric, std::size_t Words, class Reader, class Masks>
__attribute__((target("avx2"))) std::size_t wavefront_scan(Masks& masks, std::size_t begin, std::size_t m,
                                                          Reader text, std::size_t n) noexcept {
  static_assert(Words >= 3 && Words <= 4);
  using Lanes = WordLanes;
  const std::size_t first = begin / kWordBits;
  masks.reach(first + Words);
  const Lanes zero = {0, 0, 0, 0}, ones = ~zero;
  const Lanes low_one = {1, 0, 0, 0};  // row 0 grows by one per column
  Lanes vp = ones, vn = zero, d0_prev = zero, pm_prev = zero;
  // The previous step's outputs that the lane above reads.
  Lanes carry = zero, hp_top = zero, hn_top = zero, x_top = zero;
  const std::uint64_t last = std::uint64_t{1} << ((m - 1) % kWordBits);
  std::size_t score = m;
  // The masks of a chunk of steps, already skewed: entry s holds word t of
  // column s - t in lane t (zero before the text, and in lanes above the
  // pattern). Column j fills entries j to j + 3, so the last three entries
  // of a chunk carry over to the next.
  constexpr std::size_t kChunk = 64;
  Lanes skew[kChunk + 3] = {};
  const std::size_t steps = n + Words - 1;
  for (std::size_t start = 0; start < steps; start += kChunk) {
    const std::size_t end = std::min(start + kChunk, steps);
    for (std::size_t j = start; j < std::min(start + kChunk, n); ++j) {
      const PatternMasks::Row row = masks.row(text.next());
      for (std::size_t t = 0; t < Words; ++t) skew[j - start + t][t] = row.word(first + t);
    }
    for (std::size_t s = start; s < end; ++s) {
      Lanes pm = skew[s - start];
      const Lanes X = pm & vp;
      const Lanes partial = X + vp;
      const Lanes carry_in = lanes_up(carry, zero);  // 0 or all ones
      const Lanes sum = partial - carry_in;
      const Lanes next_carry = (Lanes)(partial < X) | ((Lanes)(partial == ones) & carry_in);
      Lanes d0 = (sum ^ vp) | pm | vn;
      Lanes x = zero;
      if constexpr (kTransposes<Metric>) {
        x = ~d0_prev & pm;
        d0 |= ((x << 1) | lanes_up(x_top >> 63, zero)) & pm_prev;
      }
      const Lanes hp = vn | ~(d0 | vp);
      const Lanes hn = d0 & vp;
      const Lanes hp_shifted = (hp << 1) | lanes_up(hp_top >> 63, low_one);
      const Lanes hn_shifted = (hn << 1) | lanes_up(hn_top >> 63, zero);
      Lanes next_vp = hn_shifted | ~(d0 | hp_shifted);
      Lanes next_vn = hp_shifted & d0;
      // Lanes before the text's first column or past its last keep their
      // state.
      if (s < Words - 1 || s >= n) [[unlikely]] {
        Lanes active;
        for (std::size_t t = 0; t < 4; ++t) active[t] = s >= t && s - t < n ? ~std::uint64_t{0} : 0;
        next_vp = (next_vp & active) | (vp & ~active);
        next_vn = (next_vn & active) | (vn & ~active);
        d0 = (d0 & active) | (d0_prev & ~active);
        pm = (pm & active) | (pm_prev & ~active);
      }
      vp = next_vp;
      vn = next_vn;
      d0_prev = d0;
      pm_prev = pm;
      carry = next_carry;
      hp_top = hp;
      hn_top = hn;
      x_top = x;
      if (s >= Words - 1) {
        score += (hp[Words - 1] & last) != 0;
        score -= (hn[Words - 1] & last) != 0;
      }
    }
    // Later entries are written before they are read, except in lanes
    // that read past the text and keep their state.
    for (std::size_t i = 0; i < 3; ++i) skew[i] = skew[kChunk + i];
  }
  return score;
}
#endif

template <EditMetric Metric, class Reader, class Masks>
std::size_t full_scan(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                      std::size_t n) noexcept {
  const std::size_t words = (m + kWordBits - 1) / kWordBits;
#if defined(QUILLSTONE_WAVEFRONT)
  // Two words run faster as a scalar chain than skewed.
  if ((words == 3 || words == 4) && has_wavefront()) {
    return words == 3 ? wavefront_scan<Metric, 3>(masks, begin, m, text, n)
                      : wavefront_scan<Metric, 4>(masks, begin, m, text, n);
  }
#endif
  switch (words) {
    case 2: return full_scan_of<Metric, 2>(masks, begin, m, text, n);
    case 3: return full_scan_of<Metric, 3>(masks, begin, m, text, n);
    case 4: return full_scan_of<Metric, 4>(masks, begin, m, text, n);
    default: return full_scan_of<Metric, 0>(masks, begin, m, text, n);
  }
}

// The pattern words that w windows from `pos` on read.
inline std::size_t window_words(std::ptrdiff_t pos, std::size_t w) noexcept {
  return static_cast<std::size_t>(std::max<std::ptrdiff_t>(pos, 0)) / kWordBits + w + 1;
}

// A pattern of more than 64 characters (positions `begin` to begin + m of
// `masks`) against a text of n: the band of k, or every word where the band
// would be as wide. Above k the result is some value above k.
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_scan(Masks& masks, std::size_t begin, std::size_t m, Reader text,
                              std::size_t n, std::size_t k) noexcept {
  const Band band(m, n, k);
  const std::size_t full_words = (m + kWordBits - 1) / kWordBits;
  if (band.words() == 1) {
    return band_scan_word<Metric>(
        [&](auto c, std::ptrdiff_t pos) __attribute__((always_inline)) {
          masks.reach(window_words(pos, 1));
          return masks.row(c).bits(pos);
        },
        begin, m, text, n, k, band);
  }
  if (band.words() < full_words && band.words() <= kMaxBandWords) {
    return band_scan_any<Metric>(
        [&](auto c, std::ptrdiff_t pos, std::uint64_t* out,
            std::size_t w) __attribute__((always_inline)) {
          masks.reach(window_words(pos, w));
          const PatternMasks::Row row = masks.row(c);
#pragma GCC unroll 4
          for (std::size_t t = 0; t < w; ++t) out[t] = row.bits(pos + static_cast<std::ptrdiff_t>(t * kWordBits));
        },
        begin, m, text, n, k, band);
  }
  return full_scan<Metric>(masks, begin, m, text, n);
}

// The widest band one word holds: 62 rows, with the two below it.
inline constexpr std::size_t kWordBand = 61;
// Patterns of up to this many words skip the doubling bands without a bound,
// after one band of this excess over their length difference.
inline constexpr std::size_t kFewWords = 4;
inline constexpr std::size_t kFewWordsBand = 14;

// The same without a bound, or with one that may be far above the distance:
// bands of growing width, each stopped as soon as the distance must exceed
// it, until one holds the distance.
template <EditMetric Metric, class Reader, class Masks>
std::size_t long_pattern_distance(Masks& masks, std::size_t begin, std::size_t m,
                                  Reader text, std::size_t n, std::size_t k,
                                  std::size_t excess = 0) noexcept {
  const std::size_t gap = m > n ? m - n : n - m;
  k = std::min(k, std::max(m, n));  // no distance is larger
  // A few words: a failed narrow band would cost about as much as the whole
  // column.
  if (k == std::max(m, n) && m <= kFewWords * kWordBits) return full_scan<Metric>(masks, begin, m, text, n);
  // The widest band a single word holds, then twice the excess each time.
  if (excess == 0) excess = gap < kWordBand ? kWordBand - gap : kWordBits;
  const std::size_t full_words = (m + kWordBits - 1) / kWordBits;
  for (;;) {
    const std::size_t tried = gap + excess >= k ? k : gap + excess;
    // A band as wide as the column, or too wide for the band kernel: the
    // whole column, once, gives the distance itself.
    const std::size_t words = Band(m, n, tried).words();
    if (words >= full_words || words > kMaxBandWords) return full_scan<Metric>(masks, begin, m, text, n);
    const std::size_t d = long_pattern_scan<Metric>(masks, begin, m, text, n, tried);
    if (d <= tried || tried == k) return d;
    excess *= 2;
  }
}

// ---------------------------------------------------------------- affixes

// The common prefix and suffix of two texts, in bytes. The affixes end on
// character boundaries and do not overlap.
struct Affixes {
  std::size_t prefix_bytes = 0, suffix_bytes = 0;

  // What is left of either text between them.
  TextView rest(TextView text) const noexcept {
    return text.substr(prefix_bytes, text.size() - prefix_bytes - suffix_bytes);
  }
  // Their characters, counted in either text.
  std::size_t prefix_chars(TextView text, bool ascii) const noexcept {
    return ascii ? prefix_bytes : count_chars(text.substr(0, prefix_bytes));
  }
  std::size_t suffix_chars(TextView text, bool ascii) const noexcept {
    return ascii ? suffix_bytes : count_chars(text.substr(text.size() - suffix_bytes));
  }
};

inline bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Equal leading characters of a and b, at most `limit`: bytes, or decoded
// characters (equal when all their bytes are), 16 bytes at a time.
template <class Char>
inline std::size_t equal_run(const Char* a, const Char* b, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16 / sizeof(Char);
  for (; i + kStep <= limit; i += kStep) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same)) / sizeof(Char);
  }
#endif
  if constexpr (sizeof(Char) == 1 && std::endian::native == std::endian::little) {
    for (; i + 8 <= limit; i += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
    }
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// Equal trailing bytes of the texts ending at a_end and b_end, at most `limit`.
inline std::size_t equal_run_back(const char* a_end, const char* b_end, std::size_t limit) noexcept {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= limit; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_end - i - 16));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b_end - i - 16));
    const auto same = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countl_one(same << 16));
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= limit; i += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a_end - i - 8, 8);
      std::memcpy(&y, b_end - i - 8, 8);
      if (x != y) return i + static_cast<std::size_t>(std::countl_zero(x ^ y)) / 8;
    }
  }
  while (i < limit && *(a_end - 1 - i) == *(b_end - 1 - i)) ++i;
  return i;
}


inline Affixes common_affixes(TextView a, TextView b, bool ascii) noexcept {
  Affixes out;
  const std::size_t shortest = std::min(a.size(), b.size());
  std::size_t p = equal_run(a.data(), b.data(), shortest);
  // A difference inside a character moves the prefix back to its start
  // (equal bytes before it put the same boundaries in both texts).
  if (!ascii) {
    while (p > 0 && p < shortest && is_continuation(a[p])) --p;
  }
  std::size_t s = equal_run_back(a.data() + a.size(), b.data() + b.size(), shortest - p);
  // Equal bytes from the end may begin inside a character: move past it.
  if (!ascii) {
    while (s > 0 && is_continuation(a[a.size() - s])) --s;
  }
  out.prefix_bytes = p;
  out.suffix_bytes = s;
  return out;
}

// ---------------------------------------------------------------- likeness

// Whether two texts of at least kLikenessBytes bytes look like near-
// duplicates at either end: most of 16 bytes from the start (or the end) of
// one are found in the other at the same place or up to two bytes off. A
// few edits leave most of them; unrelated texts of any language match a few.
// Only chooses between ways of computing the same distance.
inline constexpr std::size_t kLikenessBytes = 20;

inline bool look_alike(TextView a, TextView b) noexcept {
  constexpr int kLike = 11;  // of 16
  const auto matches = [](const char* x, const char* y) {
    // x[0..16) against y[d..d + 16) for d = 0..4: x sits two bytes in.
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
    __m128i any = _mm_setzero_si128();
    for (int d = 0; d <= 4; ++d) {
      any = _mm_or_si128(any, _mm_cmpeq_epi8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + d))));
    }
    return std::popcount(static_cast<unsigned>(_mm_movemask_epi8(any)));
#else
    int count = 0;
    for (int i = 0; i < 16; ++i) {
      bool any = false;
      for (int d = 0; d <= 4; ++d) any |= x[i] == y[i + d];
      count += any;
    }
    return count;
#endif
  };
  return matches(a.data() + 2, b.data()) >= kLike ||
         matches(a.data() + a.size() - 18, b.data() + b.size() - 20) >= kLike;
}

// ---------------------------------------------------------------- counting

// A lower bound on both distances from character counts: an insertion or a
// deletion changes one count by one, a substitution at most two, a
// transposition none, so at least (L1 + |m - n|) / 2 edits separate texts
// whose counts differ by L1 in all. Characters are counted by their first
// byte, which puts each one in exactly one class: coarser classes only
// lower the bound. m and n are the texts' lengths in characters.
inline std::size_t count_bound(TextView a, TextView b, std::size_t m, std::size_t n) noexcept {
  // Four tables, so that runs of one byte do not wait on each other.
  std::int64_t counts[4][256] = {};
  const auto tally = [&](TextView text, std::int64_t step) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    for (; i + 4 <= text.size(); i += 4) {
      counts[0][p[i]] += step;
      counts[1][p[i + 1]] += step;
      counts[2][p[i + 2]] += step;
      counts[3][p[i + 3]] += step;
    }
    for (; i < text.size(); ++i) counts[0][p[i]] += step;
  };
  tally(a, 1);
  tally(b, -1);
  std::size_t l1 = m > n ? m - n : n - m;
  for (std::size_t c = 0; c < 256; ++c) {
    if ((c & 0xC0) == 0x80) continue;  // continuation bytes start no character
    const std::int64_t d = counts[0][c] + counts[1][c] + counts[2][c] + counts[3][c];
    l1 += static_cast<std::size_t>(d < 0 ? -d : d);
  }
  return (l1 + 1) / 2;
}

// ---------------------------------------------------------------- small bounds

// A bound of at most 3 on two ASCII texts without common affixes, `a` the
// longer: every optimal alignment can match equal characters greedily, so
// the distance is the cheapest of the few sequences of at most k edits that
// take one text to the other, each applied at a mismatch (delete from a,
// delete from b, substitute, transpose), the equal runs between them skipped
// 16 bytes at a time. Above k the result is k + 1.
inline constexpr std::size_t kSmallBound = 3;
// Shorter texts go through the bit-parallel column, as fast for them.
inline constexpr std::size_t kSmallBoundFrom = 32;

enum class Edit : std::uint8_t { DeleteA, DeleteB, Substitute, Transpose };

struct EditModels {
  // Sequences of exactly k edits, `count` of them, each packed 2 bits an edit.
  std::uint8_t model[64] = {};
  std::size_t count = 0;
};

// The sequences of k edits whose deletions from a outnumber those from b by
// gap: those that end with the lengths equal.
constexpr EditModels edit_models(std::size_t k, std::size_t gap, bool transpositions) {
  EditModels out;
  std::size_t kinds = transpositions ? 4 : 3;
  std::size_t total = 1;
  for (std::size_t i = 0; i < k; ++i) total *= kinds;
  for (std::size_t code = 0; code < total; ++code) {
    std::size_t rest = code, a = 0, b = 0;
    std::uint8_t packed = 0;
    for (std::size_t i = 0; i < k; ++i) {
      const std::size_t edit = rest % kinds;
      rest /= kinds;
      a += edit == 0;
      b += edit == 1;
      packed = static_cast<std::uint8_t>(packed | (edit << (2 * i)));
    }
    if (a == b + gap) out.model[out.count++] = packed;
  }
  return out;
}

template <EditMetric Metric>
std::size_t small_bound_distance(TextView a, TextView b, std::size_t k) noexcept {
  const std::size_t la = a.size(), lb = b.size(), gap = la - lb;
  std::size_t best = k + 1;
  static constexpr EditModels kModels[kSmallBound + 1][kSmallBound + 1] = {
      {edit_models(0, 0, kTransposes<Metric>), {}, {}, {}},
      {edit_models(1, 0, kTransposes<Metric>), edit_models(1, 1, kTransposes<Metric>), {}, {}},
      {edit_models(2, 0, kTransposes<Metric>), edit_models(2, 1, kTransposes<Metric>),
       edit_models(2, 2, kTransposes<Metric>), {}},
      {edit_models(3, 0, kTransposes<Metric>), edit_models(3, 1, kTransposes<Metric>),
       edit_models(3, 2, kTransposes<Metric>), edit_models(3, 3, kTransposes<Metric>)}};
  // An optimal sequence of fewer than k edits, followed by substitutions, is
  // the start of a model of k edits with the same difference: the models of
  // exactly k edits cover every distance up to k.
  const EditModels& models = kModels[k][gap];
  for (std::size_t mi = 0; mi < models.count; ++mi) {
    std::uint8_t model = models.model[mi];
    std::size_t i = 0, j = 0, cost = 0, left = k;
    for (;;) {
      const std::size_t run = equal_run(a.data() + i, b.data() + j, std::min(la - i, lb - j));
      i += run;
      j += run;
      if (i == la || j == lb) break;
      if (left == 0) {
        cost = k + 1;
        break;
      }
      const auto edit = static_cast<Edit>(model & 3);
      model = static_cast<std::uint8_t>(model >> 2);
      --left;
      if (edit == Edit::DeleteA) {
        ++i;
      } else if (edit == Edit::DeleteB) {
        ++j;
      } else if (edit == Edit::Substitute) {
        ++i;
        ++j;
      } else if (i + 1 < la && j + 1 < lb && a[i] == b[j + 1] && a[i + 1] == b[j]) {
        i += 2;
        j += 2;
      } else {
        cost = k + 1;
        break;
      }
      ++cost;
    }
    cost += (la - i) + (lb - j);
    best = std::min(best, cost);
  }
  return best;
}

// A bound k on the Levenshtein distance of two long texts without common
// affixes, small beside their length: Landau and Vishkin's furthest
// reaching diagonals. For e = 0, 1, ... each diagonal j - i within e of the
// main one keeps the last row it reaches with e edits, one edit beyond the
// rows its neighbours reached with e - 1, then as far as the texts stay
// equal (16 ASCII bytes or 4 characters at a time). The cost grows with e²,
// not with the texts, so near-duplicates under a modest bound take a few
// runs along their equal stretches. Above k the result is k + 1. `Char` is
// char for ASCII, char32_t for decoded text.
inline constexpr std::size_t kDiagonalBound = 32;
// Beyond kDiagonalBound, bounds of up to one in this many characters: the
// band would read every column, the diagonals about k² cells at most.
inline constexpr std::size_t kDiagonalSpan = 32;

template <class Char>
std::size_t diagonal_distance(std::basic_string_view<Char> a, std::basic_string_view<Char> b,
                              std::size_t k) noexcept {
  const auto la = static_cast<std::ptrdiff_t>(a.size()), lb = static_cast<std::ptrdiff_t>(b.size());
  const auto sk = static_cast<std::ptrdiff_t>(k);
  const std::ptrdiff_t target = lb - la;  // the diagonal of the last cell
  // Row reached on diagonal d, at reach[d + k + 1]; unreached: below any row.
  constexpr std::ptrdiff_t kNone = std::numeric_limits<std::ptrdiff_t>::min() / 2;
  const std::size_t span = 2 * k + 3;
  std::ptrdiff_t rows[2][2 * kDiagonalBound + 3];
  std::vector<std::ptrdiff_t> wide;
  std::ptrdiff_t* reach = rows[0];
  std::ptrdiff_t* next = rows[1];
  if (k > kDiagonalBound) {
    wide.resize(2 * span);
    reach = wide.data();
    next = reach + span;
  }
  std::fill(reach, reach + span, kNone);
  std::fill(next, next + span, kNone);
  const auto slide = [&](std::ptrdiff_t i, std::ptrdiff_t d) {
    const std::ptrdiff_t room = std::min(la - i, lb - i - d);
    return room <= 0 ? i : i + static_cast<std::ptrdiff_t>(equal_run(a.data() + i, b.data() + i + d,
                                                                     static_cast<std::size_t>(room)));
  };
  reach[sk + 1] = slide(0, 0);
  if (target == 0 && reach[sk + 1] == la) return 0;
  for (std::ptrdiff_t e = 1; e <= sk; ++e) {
    // Only diagonals within e - 1 have been reached; both rows hold the
    // unreached mark beyond them.
    std::copy(reach + sk + 1 - (e - 1), reach + sk + 2 + (e - 1), next + sk + 1 - (e - 1));
    for (std::ptrdiff_t d = -e; d <= e; ++d) {
      const std::ptrdiff_t at = d + sk + 1;
      // Substitution, a step along the text, a step down the pattern.
      std::ptrdiff_t i = std::max({reach[at] + 1, reach[at - 1], reach[at + 1] + 1});
      const std::ptrdiff_t first = std::max<std::ptrdiff_t>(0, -d), last = std::min(la, lb - d);
      if (i < first || first > last) continue;
      i = slide(std::min(i, last), d);
      next[at] = i;
      if (d == target && i == la) return static_cast<std::size_t>(e);
    }
    std::swap(reach, next);
  }
  return k + 1;
}

// The diagonals under a bound beyond kDiagonalBound cost up to k² even on
// texts that differ far more, where the band stops early. A prefix of one
// in kProbeShare characters (at least kProbeChars), under its share of the
// bound with room to spare, shows first whether the whole may come within
// it; nullopt when it does not, and the band is left to decide. Other texts
// than ASCII are decoded, the prefix first.
inline constexpr std::size_t kProbeShare = 16;
inline constexpr std::size_t kProbeChars = 256;

inline std::optional<std::size_t> probed_diagonal_distance(TextView pattern, std::size_t m, TextView text,
                                                           std::size_t n, bool ascii, std::size_t k) noexcept {
  const std::size_t probe = std::min(m, std::max(kProbeChars, m / kProbeShare));
  const auto share = static_cast<std::size_t>(std::uint64_t{3} * k * probe / (std::uint64_t{2} * m)) + 4;
  if (ascii) {
    if (diagonal_distance(pattern.substr(0, probe), text.substr(0, probe), share) > share) return std::nullopt;
    return diagonal_distance(pattern, text, k);
  }
  std::u32string a(m, U'\0'), b(n, U'\0');
  const char* pa = pattern.data();
  const char* pb = text.data();
  for (std::size_t i = 0; i < probe; ++i) {
    a[i] = decode_next(pa);
    b[i] = decode_next(pb);
  }
  const std::u32string_view a_view(a), b_view(b);
  if (diagonal_distance(a_view.substr(0, probe), b_view.substr(0, probe), share) > share) return std::nullopt;
  for (std::size_t i = probe; i < m; ++i) a[i] = decode_next(pa);
  for (std::size_t i = probe; i < n; ++i) b[i] = decode_next(pb);
  return diagonal_distance(a_view, b_view, k);
}

// ---------------------------------------------------------------- the pattern

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

// A pattern of m characters against a text of n >= m, both without common
// affixes, for one call: short patterns and single-word bands compare the
// pattern's characters directly; the rest build the pattern's masks.
template <EditMetric Metric, class Reader>
std::size_t one_off_distance(TextView pattern, std::size_t m, bool ascii, TextView text_bytes, Reader text,
                             std::size_t n, std::size_t k) noexcept {
  const auto compared = [&](auto run) {
    if (ascii) return run(static_cast<const ComparedPattern<unsigned char>*>(nullptr));
    return run(static_cast<const ComparedPattern<char32_t>*>(nullptr));
  };
  // One word of compared characters for the column.
  if (m <= (ascii ? 32 : 16)) {
    return compared([&](auto* type) {
      using Compared = std::remove_cv_t<std::remove_pointer_t<decltype(type)>>;
      const Compared chars(pattern, m, 0, 16);
      return chars.with_chunks(m, [&](auto window) {
        return column_scan<Metric>(m, text, n, [&](auto c) { return window(c, 0); }, k);
      });
    });
  }
  if (m <= kWordBits) return EditPattern<Metric>(pattern, m, ascii).scan(0, m, text, n, k);
  std::size_t excess = 0;
  bool single = false;  // under a cutoff, a single-word band to try on the masks first
  // Without a cutoff a pattern of a few words tries only a narrow band, and
  // only on texts that look alike: the whole column costs little more than
  // a band that fails.
  const bool few = k >= kUnbounded && m <= kFewWords * kWordBits;
  static_assert(kLikenessBytes <= kWordBits);  // both texts have more characters
  if (n - m <= kWordBand && (!few || look_alike(pattern, text_bytes))) {
    const std::size_t widest = few ? std::min(kWordBand, n - m + kFewWordsBand) : kWordBand;
    const std::size_t tried = std::min({k, std::max(m, n), widest});
    const Band band(m, n, tried);
    const std::size_t chunks = (band.bits() + 15) / 16;
    if (ascii || chunks <= 2) {
      const std::size_t d = compared([&](auto* type) {
        using Compared = std::remove_cv_t<std::remove_pointer_t<decltype(type)>>;
        const Compared chars(pattern, m, kWordBits, 2 * kWordBits);
        return chars.with_chunks(band.bits(), [&](auto window) {
          return band_scan_word<Metric>(window, 0, m, text, n, tried, band);
        });
      });
      if (d <= tried || tried == std::min(k, std::max(m, n))) return d;
      excess = 2 * (tried - (n - m));
    } else {
      single = true;
    }
  }
  // Without a cutoff the bands reach the whole pattern: its masks are built
  // at once, which costs less than filling them as the scan goes, and the
  // doubling bands start with the single word.
  if (k >= kUnbounded) return EditPattern<Metric>(pattern, m, ascii).scan(0, m, text, n, k, excess);
  // Under one they are filled as far as the bands reach.
  const auto run = [&](auto masks) {
    if (single) {
      const std::size_t tried = std::min({k, std::max(m, n), kWordBand});
      const std::size_t d = long_pattern_scan<Metric>(masks, 0, m, text, n, tried);
      if (d <= tried || tried == std::min(k, std::max(m, n))) return d;
      excess = 2 * (tried - (n - m));
    }
    if (k < n && Band(m, n, k).words() > 1) {
      // A cutoff beyond a single word's band: the counts, read once, may
      // already show that the distance exceeds it, for far less than the band.
      if (count_bound(pattern, text_bytes, m, n) > k) return k + 1;
      // One band of the cutoff: narrower ones would be tried in vain beside
      // the single-word band that failed. On an ASCII pattern its windows
      // are compared, which beats reading the masks of words the band may
      // leave after a few columns.
      const Band band(m, n, k);
      if constexpr (std::is_same_v<decltype(masks), GrowingMasks<ByteReader>>) {
        if (band.words() <= kMaxBandWords && band.words() < (m + kWordBits - 1) / kWordBits) {
          const ComparedPattern<unsigned char> chars(pattern, m, band.above + 2,
                                                     kWordBits * (band.words() + 1));
          return band_scan_any<Metric>(
              [&](auto c, std::ptrdiff_t pos, std::uint64_t* out, std::size_t w) {
                for (std::size_t t = 0; t < w; ++t) {
                  out[t] = chars.bits<4>(c, pos + static_cast<std::ptrdiff_t>(t * kWordBits));
                }
              },
              0, m, text, n, k, band);
        }
      }
    }
    if (excess != 0) return long_pattern_scan<Metric>(masks, 0, m, text, n, std::min(k, std::max(m, n)));
    return long_pattern_distance<Metric>(masks, 0, m, text, n, k, excess);
  };
  if (ascii) return run(GrowingMasks<ByteReader>(ByteReader(pattern), m));
  return run(GrowingMasks<Utf8Reader>(Utf8Reader(pattern), m));
}

// The whole scalar operation: preparation, length cutoff, empty inputs, the
// common affixes, the shorter remainder as the pattern, bound.
template <EditMetric Metric>
Result<std::size_t> edit_distance(TextView str_1, TextView str_2, std::optional<std::size_t> max_len,
                                  std::optional<bool> case_insensitive,
                                  std::optional<std::size_t> score_cutoff) noexcept {
  Prepared in;
  if (auto error = in.prepare(str_1, str_2, max_len, case_insensitive)) return *error;
  const std::size_t m = in.n1, n = in.n2;
  const auto bound = [&](std::size_t d) -> std::size_t {
    return (score_cutoff && d > *score_cutoff) ? *score_cutoff + 1 : d;
  };
  if (score_cutoff && (m > n ? m - n : n - m) > *score_cutoff) return *score_cutoff + 1;
  if (m == 0) return bound(n);
  if (n == 0) return bound(m);
  const Affixes affixes = common_affixes(in.s1, in.s2, in.both_ascii());
  TextView pattern = affixes.rest(in.s1), text = affixes.rest(in.s2);
  // Both texts lose the same characters with the affixes: counting what is
  // left of one (the ASCII or the shorter one) gives the other's.
  std::size_t rest1, rest2;
  if (in.ascii1 || (!in.ascii2 && pattern.size() <= text.size())) {
    rest1 = in.ascii1 ? pattern.size() : count_chars(pattern);
    rest2 = n - (m - rest1);
  } else {
    rest2 = in.ascii2 ? text.size() : count_chars(text);
    rest1 = m - (n - rest2);
  }
  if (rest1 == 0) return bound(rest2);
  if (rest2 == 0) return bound(rest1);
  std::size_t pm = rest1, tn = rest2;
  bool pattern_ascii = in.ascii1, text_ascii = in.ascii2;
  if (pm > tn) {
    std::swap(pattern, text);
    std::swap(pm, tn);
    std::swap(pattern_ascii, text_ascii);
  }
  // A small bound on long ASCII texts: the few edit sequences it allows, or
  // for Levenshtein the diagonals it reaches.
  if (score_cutoff && *score_cutoff <= kSmallBound && in.both_ascii() && pm > kSmallBoundFrom) {
    return bound(small_bound_distance<Metric>(text, pattern, *score_cutoff));
  }
  if constexpr (Metric == EditMetric::Levenshtein) {
    if (score_cutoff && *score_cutoff <= kDiagonalBound && in.both_ascii() &&
        (*score_cutoff + 1) * (*score_cutoff + 1) <= pm) {
      return bound(diagonal_distance(pattern, text, *score_cutoff));
    }
    if (score_cutoff && *score_cutoff > kDiagonalBound && *score_cutoff <= pm / kDiagonalSpan) {
      const auto d = probed_diagonal_distance(pattern, pm, text, tn, in.both_ascii(), *score_cutoff);
      if (d) return bound(*d);
    }
  }
  const std::size_t k = score_cutoff ? std::min(*score_cutoff, kUnbounded) : kUnbounded;
  // An ASCII pattern beside a non-ASCII text is still indexed by byte, as
  // is what is left of a text once its non-ASCII affixes are gone.
  pattern_ascii = pattern_ascii || is_ascii(pattern);
  text_ascii = text_ascii || is_ascii(text);
  const auto scan = [&](auto reader) {
    return bound(one_off_distance<Metric>(pattern, pm, pattern_ascii, text, reader, tn, k));
  };
  return text_ascii ? scan(ByteReader(text)) : scan(Utf8Reader(text));
}

// ---------------------------------------------------------------- lanes
//
// The batch table path scores many candidates against one query at once, one
// candidate per vector lane. Lanes are as narrow as the query allows (8 bits
// for a query of up to 8 characters, up to 64 bits), because every bit above
// the last pattern position is irrelevant: the recurrence is the same, only
// fewer bits of it are kept. The candidates of one group all have the same
// length, so every lane reads its final score after the same step.

inline constexpr std::size_t kVectorBytes = 32;

// The vector of each lane width. Named outside the kernels: a vector typedef
// that depends on a template parameter loses its attribute as a template
// argument.
template <class Lane>
struct LaneVector;
typedef std::uint8_t Lanes8 __attribute__((vector_size(kVectorBytes)));
typedef std::uint16_t Lanes16 __attribute__((vector_size(kVectorBytes)));
typedef std::uint32_t Lanes32 __attribute__((vector_size(kVectorBytes)));
typedef std::uint64_t Lanes64 __attribute__((vector_size(kVectorBytes)));
template <> struct LaneVector<std::uint8_t> { using type = Lanes8; };
template <> struct LaneVector<std::uint16_t> { using type = Lanes16; };
template <> struct LaneVector<std::uint32_t> { using type = Lanes32; };
template <> struct LaneVector<std::uint64_t> { using type = Lanes64; };
// Longer candidates run alone; a score of the narrowest lanes stays below 256.
inline constexpr std::size_t kLaneMaxText = 255;

template <class Lane, EditMetric Metric>
void distance_lanes(const std::uint64_t* masks, std::size_t m, const char* const* texts,
                    std::size_t n, std::size_t* out) noexcept {
  using Vec = typename LaneVector<Lane>::type;
  constexpr std::size_t kLanes = kVectorBytes / sizeof(Lane);
  const Vec zero = Vec{} ^ Vec{};
  // A named Lane: g++ with -fsanitize=shift sees the cast expression as an
  // int and refuses to broadcast it into narrow lanes.
  const Lane last_lane = static_cast<Lane>(Lane{1} << (m - 1));
  const Vec last = zero + last_lane;
  ColumnWord<Metric, Vec> column(zero);
  Vec score = zero + static_cast<Lane>(m);
  alignas(kVectorBytes) Lane column_masks[kLanes];
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      column_masks[lane] = static_cast<Lane>(masks[static_cast<unsigned char>(texts[lane][j])]);
    }
    Vec pm;
    std::memcpy(&pm, column_masks, sizeof pm);
    Vec hp, hn;
    column.step(pm, hp, hn);
    // A true comparison is all ones: subtracting it adds one.
    score -= (Vec)((hp & last) != zero);
    score += (Vec)((hn & last) != zero);
  }
  for (std::size_t lane = 0; lane < kLanes; ++lane) out[lane] = score[lane];
}

// Candidates of the table path, grouped by length into full vectors; a group
// left incomplete at the end runs with its unused lanes repeating a member.
template <class Lane, EditMetric Metric>
void table_path_lanes(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                      const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  constexpr std::size_t kLanes = kVectorBytes / sizeof(Lane);
  struct Group {
    const char* text[kLanes];
    std::size_t index[kLanes];
    std::size_t size = 0;
  };
  std::vector<Group> groups(kLaneMaxText + 1);
  std::size_t scores[kLanes];
  const auto run = [&](Group& group, std::size_t n) {
    for (std::size_t lane = group.size; lane < kLanes; ++lane) group.text[lane] = group.text[0];
    distance_lanes<Lane, Metric>(masks, m, group.text, n, scores);
    for (std::size_t lane = 0; lane < group.size; ++lane) out[group.index[lane]] = scores[lane];
    group.size = 0;
  };
  for (std::size_t k = 0; k < count; ++k) {
    const TextView text = candidates[which[k]];
    Group& group = groups[text.size()];
    group.text[group.size] = text.data();
    group.index[group.size] = which[k];
    if (++group.size == kLanes) run(group, text.size());
  }
  for (std::size_t n = 1; n <= kLaneMaxText; ++n) {
    if (groups[n].size > 0) run(groups[n], n);
  }
}

// The table-path candidates `which` of a batch whose query has 1 to 64
// characters, in lanes as narrow as the query allows.
template <EditMetric Metric>
void table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  if (m <= 8) return table_path_lanes<std::uint8_t, Metric>(masks, m, candidates, which, count, out);
  if (m <= 16) return table_path_lanes<std::uint16_t, Metric>(masks, m, candidates, which, count, out);
  if (m <= 32) return table_path_lanes<std::uint32_t, Metric>(masks, m, candidates, which, count, out);
  table_path_lanes<std::uint64_t, Metric>(masks, m, candidates, which, count, out);
}

// table_path for each metric, compiled for AVX2 as well and chosen by what the
// processor has (edit_distance_lanes.cpp).
void levenshtein_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void damerau_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept;

template <EditMetric Metric>
inline constexpr auto kTablePath =
    Metric == EditMetric::Levenshtein ? levenshtein_table_path : damerau_table_path;


// ---------------------------------------------------------------- candidate lanes
//
// The other way round: each lane holds one candidate of 1 to 64 characters as
// its pattern, and the query is the text that all lanes read. The query's
// characters are numbered once per batch; a candidate's characters become
// bits in a table row per number, and a character the query lacks is never
// looked up. Every lane runs the query's m steps, whatever its length, so a
// group needs no common length; lanes are as narrow as the candidates and
// the score (at most max(m, 64)) allow.

inline constexpr std::size_t kCandidateLaneMax = 64;

// Candidates in the number form: `ids` holds each one's characters as the
// query's numbers (0 for characters it lacks), `start` where each begins.
struct NumberedCandidates {
  std::vector<std::uint32_t> ids;
  std::vector<std::uint32_t> start{0};
  std::vector<std::size_t> index;  // the candidate's place in the result

  std::size_t size() const noexcept { return index.size(); }
  std::size_t length(std::size_t i) const noexcept { return start[i + 1] - start[i]; }
  void clear() noexcept {
    ids.clear();
    start.assign(1, 0);
    index.clear();
  }
};

template <class Lane, EditMetric Metric>
void candidate_lanes_of(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                        const NumberedCandidates& group_of, const std::size_t* which, std::size_t count,
                        std::size_t* out) noexcept {
  using Vec = typename LaneVector<Lane>::type;
  constexpr std::size_t kLanes = kVectorBytes / sizeof(Lane);
  std::vector<Lane> table(numbers * kLanes);
  Lane* cells = table.data();
  const Vec zero = Vec{} ^ Vec{};
  for (std::size_t first = 0; first < count; first += kLanes) {
    const std::size_t size = std::min(kLanes, count - first);
    alignas(kVectorBytes) Lane last_lanes[kLanes], lengths[kLanes];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      // Unused lanes repeat the first candidate.
      const std::size_t c = which[first + (lane < size ? lane : 0)];
      const std::size_t len = group_of.length(c);
      const std::uint32_t* ids = group_of.ids.data() + group_of.start[c];
      for (std::size_t i = 0; i < len; ++i) cells[ids[i] * kLanes + lane] |= static_cast<Lane>(Lane{1} << i);
      last_lanes[lane] = static_cast<Lane>(Lane{1} << (len - 1));
      lengths[lane] = static_cast<Lane>(len);
    }
    Vec last, score;
    std::memcpy(&last, last_lanes, sizeof last);
    std::memcpy(&score, lengths, sizeof score);
    ColumnWord<Metric, Vec> column(zero);
    for (std::size_t j = 0; j < m; ++j) {
      Vec hp, hn;
      Vec pm;
      std::memcpy(&pm, cells + query[j] * kLanes, sizeof pm);
      column.step(pm, hp, hn);
      score -= (Vec)((hp & last) != zero);
      score += (Vec)((hn & last) != zero);
    }
    for (std::size_t lane = 0; lane < size; ++lane) out[group_of.index[which[first + lane]]] = score[lane];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      const std::size_t c = which[first + (lane < size ? lane : 0)];
      const std::uint32_t* ids = group_of.ids.data() + group_of.start[c];
      for (std::size_t i = 0; i < group_of.length(c); ++i) cells[ids[i] * kLanes + lane] = 0;
    }
  }
}

// All of `candidates`, each in the narrowest lanes its length and the score
// allow.
template <EditMetric Metric>
void candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                     const NumberedCandidates& candidates, std::size_t* out) noexcept {
  std::vector<std::size_t> by_width[4];
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    const std::size_t len = candidates.length(c);
    const std::size_t width = len <= 8 && m <= 255 ? 0 : len <= 16 && m <= 65535 ? 1 : len <= 32 ? 2 : 3;
    by_width[width].push_back(c);
  }
  const auto run = [&](auto lane, const std::vector<std::size_t>& which) {
    if (!which.empty()) {
      candidate_lanes_of<decltype(lane), Metric>(query, m, numbers, candidates, which.data(), which.size(), out);
    }
  };
  run(std::uint8_t{}, by_width[0]);
  run(std::uint16_t{}, by_width[1]);
  run(std::uint32_t{}, by_width[2]);
  run(std::uint64_t{}, by_width[3]);
}

// candidate_lanes for each metric, compiled for AVX2 as well (edit_distance_lanes.cpp).
void levenshtein_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                                 const NumberedCandidates& candidates, std::size_t* out) noexcept;
void damerau_candidate_lanes(const std::uint32_t* query, std::size_t m, std::size_t numbers,
                             const NumberedCandidates& candidates, std::size_t* out) noexcept;

template <EditMetric Metric>
inline constexpr auto kCandidateLanes =
    Metric == EditMetric::Levenshtein ? levenshtein_candidate_lanes : damerau_candidate_lanes;

// The query's characters numbered from 1 in order of first occurrence.
class QueryNumbers {
 public:
  QueryNumbers(TextView query, bool ascii) noexcept {
    const char* p = query.data();
    const char* end = p + query.size();
    std::uint32_t next = 1;
    while (p < end) {
      const char32_t c = ascii ? static_cast<unsigned char>(*p++) : decode_next(p);
      std::uint32_t id;
      if (c < 256) {
        if (narrow_[c] == 0) narrow_[c] = next++;
        id = narrow_[c];
      } else {
        id = wide_.insert(c, next);
        if (id == next) {
          ++next;
          Slot& slot = slots_[c % kSlots];
          if (slot.key == 0) {
            slot = {c, id, false};
          } else {
            slot.shared = true;
          }
        }
      }
      sequence_.push_back(id);
    }
    numbers_ = next;
  }

  const std::vector<std::uint32_t>& sequence() const noexcept { return sequence_; }
  std::size_t numbers() const noexcept { return numbers_; }
  std::uint32_t operator()(char32_t c) const noexcept {
    if (c < 256) return narrow_[c];
    // Most characters of a candidate are not the query's: a slot by the low
    // bits answers for them, and for the query's own, without a probe.
    const Slot& slot = slots_[c % kSlots];
    if (slot.key == c) return slot.id;
    return slot.shared ? wide_.find(c) : 0;
  }

 private:
  struct Slot {
    char32_t key = 0;  // 0: no wide character of the query falls here
    std::uint32_t id = 0;
    bool shared = false;  // several do: the index decides
  };
  static constexpr std::size_t kSlots = 256;

  std::uint32_t narrow_[256] = {};
  Slot slots_[kSlots];
  CharIndex wide_;
  std::vector<std::uint32_t> sequence_;
  std::size_t numbers_ = 1;
};

// ---------------------------------------------------------------- batches

// The query of a batch, prepared once: folded as the scalar operation folds
// it, its pattern built once. Candidates are folded one by one the same way.
template <EditMetric Metric>
class EditBatch {
 public:
  EditBatch(TextView query, std::optional<bool> case_insensitive) noexcept
      : fold_(case_insensitive.value_or(false)),
        folded_(fold_ ? to_lower_full(query) : std::string(query)),
        ascii_(is_ascii(folded_)),
        pattern_(folded_, ascii_ ? folded_.size() : count_chars(folded_), ascii_),
        numbers_(folded_, ascii_) {
    static_assert(sizeof(lane_masks_) == sizeof(ByteMasks{}.entry));
    // The lanes read candidate bytes unfolded: a folding query's letters
    // mark both their cases.
    if (const CharacterMasks* masks = pattern_.word_masks(); masks != nullptr && ascii_ && !folded_.empty()) {
      std::memcpy(lane_masks_.data(), masks->narrow.entry, sizeof(lane_masks_));
      if (fold_) {
        for (unsigned char c = 'A'; c <= 'Z'; ++c) lane_masks_[c] = lane_masks_[c + 0x20];
      }
      lanes_ = true;
    }
  }

  EditBatch(const EditBatch&) = delete;
  EditBatch& operator=(const EditBatch&) = delete;

  std::size_t distance(TextView candidate) const noexcept {
    // An empty query (folding empties no text) scores a candidate by its own
    // count, unfolded.
    if (pattern_.size() == 0) return count_chars(candidate);
    std::string folded;
    if (fold_) {
      folded = to_lower_full(candidate);
      candidate = folded;
    }
    const bool ascii = is_ascii(candidate);
    const std::size_t n = ascii ? candidate.size() : count_chars(candidate);
    if (n == 0) return pattern_.size();
    return pattern_.distance(candidate, n, ascii, kUnbounded);
  }

  // candidates[i]'s distance into out[i]: an ASCII candidate of up to 255
  // bytes against a short ASCII query in the query's lanes, a candidate of
  // at most 64 characters otherwise in candidate lanes, every other one by
  // distance(). Candidate lanes are filled in chunks, so that their buffers
  // stay small. Each result equals the scalar operation's on its candidate.
  void distances(std::span<const TextView> candidates, std::size_t* out) const noexcept {
    constexpr std::size_t kChunk = 4096;
    std::vector<std::size_t> lanes;
    if (lanes_) lanes.reserve(candidates.size());
    NumberedCandidates numbered;
    const auto flush = [&] {
      if (numbered.size() == 0) return;
      kCandidateLanes<Metric>(numbers_.sequence().data(), pattern_.size(), numbers_.numbers(), numbered, out);
      numbered.clear();
    };
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const TextView candidate = candidates[i];
      if (lanes_ && !candidate.empty() && candidate.size() <= kLaneMaxText && is_ascii(candidate)) {
        lanes.push_back(i);
      } else if (number(candidate, i, numbered)) {
        if (numbered.size() == kChunk) flush();
      } else {
        out[i] = distance(candidate);
      }
    }
    flush();
    if (!lanes.empty()) {
      kTablePath<Metric>(lane_masks_.data(), pattern_.size(), candidates, lanes.data(), lanes.size(), out);
    }
  }

 private:
  // Appends `candidate` to `out` in the query's numbers when it has 1 to 64
  // characters once folded; false otherwise.
  bool number(TextView candidate, std::size_t index, NumberedCandidates& out) const noexcept {
    // Four bytes a character at most: a longer text may still qualify.
    if (pattern_.size() == 0 || candidate.empty() || candidate.size() > 4 * kCandidateLaneMax) return false;
    std::string folded;
    const bool ascii = is_ascii(candidate);
    if (ascii && candidate.size() > kCandidateLaneMax) return false;
    if (fold_ && !ascii) {
      folded = to_lower_full(candidate);
      candidate = folded;
    }
    const std::size_t first = out.ids.size();
    const char* p = candidate.data();
    const char* end = p + candidate.size();
    while (p < end) {
      char32_t c = ascii ? static_cast<unsigned char>(*p++) : decode_next(p);
      if (fold_ && ascii && c >= 'A' && c <= 'Z') c += 0x20;
      if (out.ids.size() - first == kCandidateLaneMax) {
        out.ids.resize(first);
        return false;
      }
      out.ids.push_back(numbers_(c));
    }
    out.start.push_back(static_cast<std::uint32_t>(out.ids.size()));
    out.index.push_back(index);
    return true;
  }

  bool fold_;
  std::string folded_;
  bool ascii_;
  EditPattern<Metric> pattern_;
  QueryNumbers numbers_;
  bool lanes_ = false;
  std::array<std::uint64_t, 256> lane_masks_{};
};

}  // namespace quillstone::detail

namespace quillstone {

template <EditMetric Metric>
EditDistanceBatch<Metric>::EditDistanceBatch(TextView query, std::optional<bool> case_insensitive) noexcept
    : impl_(std::make_unique<const detail::EditBatch<Metric>>(query, case_insensitive)) {}

template <EditMetric Metric>
EditDistanceBatch<Metric>::EditDistanceBatch(EditDistanceBatch&&) noexcept = default;

template <EditMetric Metric>
EditDistanceBatch<Metric>& EditDistanceBatch<Metric>::operator=(EditDistanceBatch&&) noexcept = default;

template <EditMetric Metric>
EditDistanceBatch<Metric>::~EditDistanceBatch() = default;

template <EditMetric Metric>
std::size_t EditDistanceBatch<Metric>::distance(TextView candidate) const noexcept {
  return impl_->distance(candidate);
}

template <EditMetric Metric>
void EditDistanceBatch<Metric>::distances(std::span<const TextView> candidates,
                                          std::span<std::size_t> out) const noexcept {
  impl_->distances(candidates, out.data());
}

}  // namespace quillstone
