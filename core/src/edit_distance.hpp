// The bit-parallel edit distances: Myers' recurrence in Hyyrö's formulation
// for Levenshtein, and Hyyrö's transposition term on top of it for the
// optimal string alignment distance. One template over the recurrence serves
// both metrics, their three computation paths and the batch table path.
//
// The pattern (str_1) is the bit dimension: bit i of every vector stands for
// pattern character i. The text (str_2) is read once, one column per
// character.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common.hpp"
#include "match_masks.hpp"

namespace quillstone::detail {

// ---------------------------------------------------------------- recurrence

// One 64-bit column of the recurrence. Bits above the last pattern position
// take part in the arithmetic but never reach the bits below it: carries and
// shifts only move information upwards.
template <bool Transpositions>
struct SingleWord {
  std::uint64_t vp = ~std::uint64_t{0};
  std::uint64_t vn = 0;
  std::uint64_t d0_prev = 0;
  std::uint64_t pm_prev = 0;
  std::uint64_t last;
  std::size_t score;

  SingleWord(std::size_t m, std::uint64_t last_bit) noexcept : last(last_bit), score(m) {}

  void step(std::uint64_t pm) noexcept {
    std::uint64_t tr = 0;
    if constexpr (Transpositions) tr = ((~d0_prev & pm) << 1) & pm_prev;
    const std::uint64_t d0 = (((pm & vp) + vp) ^ vp) | pm | vn | tr;
    std::uint64_t hp = vn | ~(d0 | vp);
    std::uint64_t hn = vp & d0;
    score += (hp & last) != 0;
    score -= (hn & last) != 0;
    hp = (hp << 1) | 1;  // row 0 grows by one per text character
    hn <<= 1;
    vp = hn | ~(d0 | hp);
    vn = hp & d0;
    if constexpr (Transpositions) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
};

inline std::uint64_t last_bit_of(std::size_t m) noexcept {
  return std::uint64_t{1} << ((m - 1) % kWordBits);
}

// Byte path and batch table path: pattern of 1 to 64 characters, text of
// ASCII bytes, masks indexed by byte value.
template <bool Transpositions>
std::size_t distance_bytes(const std::uint64_t* masks, std::size_t m, std::uint64_t last,
                           TextView text) noexcept {
  SingleWord<Transpositions> column(m, last);
  for (unsigned char b : text) column.step(masks[b]);
  return column.score;
}


// Character path: the text is decoded while it is scanned against the
// pattern's character masks, which may serve any number of texts.
template <bool Transpositions>
std::size_t distance_chars(const CharacterMasks& masks, TextView text) noexcept {
  SingleWord<Transpositions> column(masks.size, last_bit_of(masks.size));
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) column.step(masks.lookup(decode_next(p)));
  return column.score;
}

template <bool Transpositions>
std::size_t distance_chars(TextView pattern, std::size_t m, TextView text) noexcept {
  return distance_chars<Transpositions>(CharacterMasks(pattern, m), text);
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

// Multi-word path: any pattern length, any text. All vectors are W words
// long and act as one W·64-bit number; the passes of one column run fused in
// a single loop over the words, carrying the sum's carry, the two shift
// carries of HP and HN, and the transposition term's shift carry.
template <bool Transpositions>
std::size_t distance_multiword(TextView pattern, std::size_t m, TextView text) noexcept {
  std::vector<char32_t> decoded(m);
  {
    const char* p = pattern.data();
    for (std::size_t i = 0; i < m; ++i) decoded[i] = decode_next(p);
  }
  const MultiWordMasks masks(decoded.data(), m);
  const std::size_t w = masks.words();
  std::vector<std::uint64_t> state(4 * w, 0);
  std::uint64_t* vp = state.data();
  std::uint64_t* vn = vp + w;
  std::uint64_t* d0_prev = vn + w;
  std::uint64_t* pm_prev = d0_prev + w;
  std::fill(vp, vp + w, ~std::uint64_t{0});
  const std::uint64_t last = last_bit_of(m);
  std::size_t score = m;

  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const std::uint64_t* pm = masks.lookup(decode_next(p));
    std::uint64_t sum_carry = 0, hp_carry = 1, hn_carry = 0, tr_carry = 0;
    std::uint64_t hp = 0, hn = 0;  // of the last word, once the loop is done
    for (std::size_t k = 0; k < w; ++k) {
      const std::uint64_t pmk = pm[k], vpk = vp[k], vnk = vn[k];
      std::uint64_t tr = 0;
      if constexpr (Transpositions) {
        const std::uint64_t t = ~d0_prev[k] & pmk;
        tr = ((t << 1) | tr_carry) & pm_prev[k];
        tr_carry = t >> 63;
        pm_prev[k] = pmk;
      }
      const std::uint64_t sum = add_with_carry(pmk & vpk, vpk, sum_carry);
      const std::uint64_t d0 = (sum ^ vpk) | pmk | vnk | tr;
      hp = vnk | ~(d0 | vpk);
      hn = d0 & vpk;
      const std::uint64_t hp_shifted = (hp << 1) | hp_carry;
      const std::uint64_t hn_shifted = (hn << 1) | hn_carry;
      hp_carry = hp >> 63;
      hn_carry = hn >> 63;
      vp[k] = hn_shifted | ~(d0 | hp_shifted);
      vn[k] = hp_shifted & d0;
      if constexpr (Transpositions) d0_prev[k] = d0;
    }
    score += (hp & last) != 0;
    score -= (hn & last) != 0;
  }
  return score;
}

// The whole scalar operation: preparation, length cutoff, empty inputs, path
// choice, bound.
template <bool Transpositions>
Result<std::size_t> edit_distance(TextView str_1, TextView str_2,
                                  std::optional<std::size_t> max_len,
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
  if (m <= kWordBits && in.both_ascii) {
    AsciiMasks masks;
    for (std::size_t i = 0; i < m; ++i) {
      masks.entry[static_cast<unsigned char>(in.s1[i])] |= std::uint64_t{1} << i;
    }
    return bound(distance_bytes<Transpositions>(masks.entry, m, last_bit_of(m), in.s2));
  }
  if (m <= kWordBits) return bound(distance_chars<Transpositions>(in.s1, m, in.s2));
  return bound(distance_multiword<Transpositions>(in.s1, m, in.s2));
}

// A candidate of an edit-distance batch: the query's table when both are
// ASCII, otherwise the scalar operation.
template <bool Transpositions, class Scalar>
std::size_t batch_distance(const EditDistanceBatch& batch, TextView candidate,
                           Scalar scalar) noexcept {
  if (batch.query_len() == 0) return count_chars(candidate);
  if (batch.ascii_table() && is_ascii(candidate)) {
    if (candidate.empty()) return batch.query_len();
    return distance_bytes<Transpositions>(batch.masks().data(), batch.query_len(),
                                          batch.last_bit(), candidate);
  }
  auto result = scalar(batch.query(), candidate, std::nullopt, batch.case_insensitive(), std::nullopt);
  return result ? result.value() : 0;  // cannot fail: there is no limit
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
inline constexpr std::size_t kLaneMaxText = 64;  // longer candidates run alone

template <class Lane, bool Transpositions>
void distance_lanes(const std::uint64_t* masks, std::size_t m, const char* const* texts,
                    std::size_t n, std::size_t* out) noexcept {
  typedef Lane Vec __attribute__((vector_size(kVectorBytes)));
  constexpr std::size_t kLanes = kVectorBytes / sizeof(Lane);
  const Vec zero = Vec{} ^ Vec{};
  const Vec one = zero + 1;
  // A named Lane: g++ with -fsanitize=shift sees the cast expression as an
  // int and refuses to broadcast it into narrow lanes.
  const Lane last_lane = static_cast<Lane>(Lane{1} << (m - 1));
  const Vec last = zero + last_lane;
  Vec vp = ~zero, vn = zero, d0_prev = zero, pm_prev = zero;
  Vec score = zero + static_cast<Lane>(m);
  alignas(kVectorBytes) Lane column_masks[kLanes];
  for (std::size_t j = 0; j < n; ++j) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      column_masks[lane] = static_cast<Lane>(masks[static_cast<unsigned char>(texts[lane][j])]);
    }
    Vec pm;
    std::memcpy(&pm, column_masks, sizeof pm);
    Vec tr = zero;
    if constexpr (Transpositions) tr = ((~d0_prev & pm) << 1) & pm_prev;
    const Vec d0 = (((pm & vp) + vp) ^ vp) | pm | vn | tr;
    Vec hp = vn | ~(d0 | vp);
    Vec hn = vp & d0;
    score += (Vec)((hp & last) != zero) & one;
    score -= (Vec)((hn & last) != zero) & one;
    hp = (hp << 1) | one;
    hn = hn << 1;
    vp = hn | ~(d0 | hp);
    vn = hp & d0;
    if constexpr (Transpositions) {
      d0_prev = d0;
      pm_prev = pm;
    }
  }
  for (std::size_t lane = 0; lane < kLanes; ++lane) out[lane] = score[lane];
}

// Candidates of the table path, grouped by length into full vectors; a group
// left incomplete at the end runs with its unused lanes repeating a member.
template <class Lane, bool Transpositions>
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
    distance_lanes<Lane, Transpositions>(masks, m, group.text, n,
                                         scores);
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
template <bool Transpositions>
void table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                const std::size_t* which, std::size_t count, std::size_t* out) noexcept {
  if (m <= 8) return table_path_lanes<std::uint8_t, Transpositions>(masks, m, candidates, which, count, out);
  if (m <= 16) return table_path_lanes<std::uint16_t, Transpositions>(masks, m, candidates, which, count, out);
  if (m <= 32) return table_path_lanes<std::uint32_t, Transpositions>(masks, m, candidates, which, count, out);
  table_path_lanes<std::uint64_t, Transpositions>(masks, m, candidates, which, count, out);
}

// table_path for each metric, compiled for AVX2 as well and chosen by what the
// processor has (edit_distance_lanes.cpp).
void levenshtein_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                            const std::size_t* which, std::size_t count, std::size_t* out) noexcept;
void damerau_table_path(const std::uint64_t* masks, std::size_t m, std::span<const TextView> candidates,
                        const std::size_t* which, std::size_t count, std::size_t* out) noexcept;

// A query that is not pure ASCII but has at most 64 characters once folded:
// its character-path masks are built once for all candidates, instead of once
// per candidate by the scalar operation, and each candidate is folded the way
// the scalar operation folds it; ASCII candidates go through the lanes with
// the masks' byte entries (ASCII letters doubled when folding, as in the
// batch's own table). The distances are the scalar operation's. False, with
// nothing written, for a longer query.
template <bool Transpositions, class Lanes>
bool character_path_batch(const EditDistanceBatch& batch, std::span<const TextView> candidates,
                          std::size_t* out, Lanes lanes) noexcept {
  const bool fold = batch.case_insensitive().value_or(false);
  const std::string folded_query = fold ? to_lower_full(batch.query()) : std::string();
  const TextView query = fold ? TextView(folded_query) : batch.query();
  const std::size_t m = count_chars(query);
  if (m == 0 || m > kWordBits) return false;
  const CharacterMasks masks(query, m);
  ByteMasks bytes = masks.narrow;
  if (fold) {
    for (unsigned char c = 'A'; c <= 'Z'; ++c) bytes.entry[c] = bytes.entry[c + 0x20];
  }
  std::vector<std::size_t> table;
  table.reserve(candidates.size());
  std::string folded;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    TextView text = candidates[i];
    if (text.empty()) {
      out[i] = m;
    } else if (text.size() <= kLaneMaxText && is_ascii(text)) {
      table.push_back(i);
    } else {
      if (fold) {
        folded = to_lower_full(text);
        text = folded;
      }
      out[i] = distance_chars<Transpositions>(masks, text);
    }
  }
  if (!table.empty()) lanes(bytes.entry, m, candidates, table.data(), table.size(), out);
  return true;
}

// All candidates of a batch, in order of the result. The candidates that the
// query's table can take (pure ASCII, 1 to 64 bytes) are collected and scored
// in lanes by `lanes`; every other one by the batch's distance(). Each result
// equals distance() of its candidate.
template <bool Transpositions, class Batch, class Lanes>
std::vector<std::size_t> batch_distances(TextView query, std::span<const TextView> candidates,
                                         std::optional<bool> case_insensitive,
                                         Lanes lanes) noexcept {
  const Batch batch(query, case_insensitive);
  std::vector<std::size_t> out(candidates.size());
  if (!batch.ascii_table() && batch.query_len() > 0 &&
      character_path_batch<Transpositions>(batch, candidates, out.data(), lanes)) {
    return out;
  }
  std::vector<std::size_t> table;
  if (batch.ascii_table()) table.reserve(candidates.size());
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const TextView candidate = candidates[i];
    if (batch.ascii_table() && !candidate.empty() && candidate.size() <= kLaneMaxText &&
        is_ascii(candidate)) {
      table.push_back(i);
    } else {
      out[i] = batch.distance(candidate);
    }
  }
  if (!table.empty()) {
    lanes(batch.masks().data(), batch.query_len(), candidates, table.data(), table.size(), out.data());
  }
  return out;
}

}  // namespace quillstone::detail
