// Small bounds on long texts: the few edit sequences a bound of at most 3
// allows, and the furthest-reaching diagonals (Landau and Vishkin).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <limits>
#include <vector>

#include "edit/recurrence.hpp"
#include "edit/thresholds.hpp"
#include "text/affixes.hpp"
#include "text/units.hpp"

namespace quillstone::detail {

// ---------------------------------------------------------------- small bounds

// A bound of at most 3 on two texts without common affixes, `a` the longer: every optimal alignment can match equal characters greedily, so
// the distance is the cheapest of the few sequences of at most k edits that
// take one text to the other, each applied at a mismatch (delete from a,
// delete from b, substitute, transpose), the equal runs between them skipped
// 16 bytes at a time where the widths agree. Above k the result is k + 1; k is at most kSmallBound.

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

template <EditMetric Metric, class A, class B>
std::size_t small_bound_distance(const A* a, std::size_t la, const B* b, std::size_t lb, std::size_t k) noexcept {
  const std::size_t gap = la - lb;
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
      const std::size_t run = equal_run(a + i, b + j, std::min(la - i, lb - j));
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
      } else if (i + 1 < la && j + 1 < lb && char32_t{a[i]} == char32_t{b[j + 1]} &&
                 char32_t{a[i + 1]} == char32_t{b[j]}) {
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

template <EditMetric Metric>
std::size_t small_bound_distance(TextView a, TextView b, std::size_t k) noexcept {
  return with_units(a, [&](const auto* x) {
    return with_units(b, [&](const auto* y) { return small_bound_distance<Metric>(x, a.size(), y, b.size(), k); });
  });
}

// A bound k on the Levenshtein distance of two long texts without common
// affixes, small beside their length: Landau and Vishkin's furthest
// reaching diagonals. For e = 0, 1, ... each diagonal j - i within e of the
// main one keeps the last row it reaches with e edits, one edit beyond the
// rows its neighbours reached with e - 1, then as far as the texts stay
// equal (16 bytes at a time where the widths agree). The cost grows with
// e², not with the texts, so near-duplicates under a modest bound take a few
// runs along their equal stretches. Above k the result is k + 1.

template <class A, class B>
std::size_t diagonal_distance(const A* a, std::size_t a_size, const B* b, std::size_t b_size,
                              std::size_t k) noexcept {
  const auto la = static_cast<std::ptrdiff_t>(a_size), lb = static_cast<std::ptrdiff_t>(b_size);
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
    return room <= 0 ? i : i + static_cast<std::ptrdiff_t>(equal_run(a + i, b + i + d,
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

inline std::size_t diagonal_distance(TextView a, TextView b, std::size_t k) noexcept {
  return with_units(a, [&](const auto* x) {
    return with_units(b, [&](const auto* y) { return diagonal_distance(x, a.size(), y, b.size(), k); });
  });
}

// The diagonals under a bound beyond kDiagonalBound cost up to k² even on
// texts that differ far more, where the band stops early. A prefix of one
// in kProbeShare characters (at least kProbeChars), under its share of the
// bound with room to spare, shows first whether the whole may come within
// it; nullopt when it does not, and the band is left to decide.

inline std::optional<std::size_t> probed_diagonal_distance(TextView pattern, TextView text, std::size_t k) noexcept {
  const std::size_t m = pattern.size();
  const std::size_t probe = std::min(m, std::max(kProbeChars, m / kProbeShare));
  const auto share = static_cast<std::size_t>(std::uint64_t{3} * k * probe / (std::uint64_t{2} * m)) + 4;
  if (diagonal_distance(pattern.substr(0, probe), text.substr(0, probe), share) > share) return std::nullopt;
  return diagonal_distance(pattern, text, k);
}

}  // namespace quillstone::detail
