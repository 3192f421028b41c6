// The checks of both edit-distance fuzzers. Text 0 is the pattern of the
// scalar calls and the query of the batch; every text, text 0 included, is a
// candidate. Each result is held to the dynamic-programming table on the
// prepared (folded) characters, on every computation path.
#pragma once

#include <cstring>
#include <limits>
#include <map>
#include <utility>
#include <span>
#include <variant>

#include "edit/plan.hpp"
#include "fuzz_input.hpp"
#include "reference.hpp"

namespace quillstone::fuzz {

using testing::reference_distance;
using testing::reference_jaro_winkler;

template <bool Osa>
class EditDistanceHarness {
 public:
  explicit EditDistanceHarness(const Case& c) : c_(c), fold_(c.folding()) {
    for (const std::string& text : c.texts) {
      prepared_.push_back(prepared_text(text, fold_));
      chars_.push_back(decode_utf8(prepared_.back()));
    }
  }

  void run() {
    const std::size_t count = c_.texts.size();
    check_call(0, 1, c_.max_len, c_.distance_cutoff);
    for (std::size_t k = 0; k < count; ++k) {
      check_pair(0, k);
      check_pair(k, 0);
    }
    if (count >= 3) {
      check_pair(1, 2);
      // Levenshtein is a metric; the alignment distance is not (ca, ac, abc).
      if constexpr (!Osa) FUZZ_CHECK(distance(1, 2) <= distance(1, 0) + distance(0, 2));
    }
    check_batch();
  }

 private:
  static Result<std::size_t> scalar(TextView a, TextView b, std::optional<std::size_t> max_len,
                                    std::optional<bool> fold,
                                    std::optional<std::size_t> cutoff) noexcept {
    return Osa ? damerau_bp(a, b, max_len, fold, cutoff)
               : levenshtein_bp(a, b, max_len, fold, cutoff);
  }

  // The definition's distance between prepared texts i and j.
  std::size_t distance(std::size_t i, std::size_t j) {
    const auto [it, fresh] = memo_.try_emplace({i, j}, 0);
    if (fresh) it->second = reference_distance(chars_[i], chars_[j], Osa);
    return it->second;
  }

  // One scalar call with the given limit and bound, against the definition.
  void check_call(std::size_t i, std::size_t j, std::optional<std::size_t> max_len,
                  std::optional<std::size_t> cutoff) {
    const Result<std::size_t> r = scalar(c_.texts[i], c_.texts[j], max_len, c_.case_insensitive, cutoff);
    const std::size_t m = chars_[i].size(), n = chars_[j].size();
    if (max_len && (m > *max_len || n > *max_len)) {
      FUZZ_CHECK(!r.has_value());
      const auto* e = std::get_if<InputTooLong>(&r.error());
      FUZZ_CHECK(e != nullptr);
      const bool first = m > *max_len;  // str_1 is reported when both are too long
      FUZZ_CHECK(std::strcmp(e->which, first ? "str_1" : "str_2") == 0);
      FUZZ_CHECK(e->len == (first ? m : n));
      FUZZ_CHECK(e->limit == *max_len);
      return;
    }
    FUZZ_CHECK(r.has_value());
    const std::size_t d = distance(i, j);
    FUZZ_CHECK(r.unchecked_value() == (cutoff && d > *cutoff ? *cutoff + 1 : d));
  }

  void check_pair(std::size_t i, std::size_t j) {
    const std::size_t d = distance(i, j);
    const std::size_t m = chars_[i].size(), n = chars_[j].size();
    const Result<std::size_t> r = scalar(c_.texts[i], c_.texts[j], std::nullopt, c_.case_insensitive, std::nullopt);
    FUZZ_CHECK(r.has_value());
    FUZZ_CHECK(r.unchecked_value() == d);

    // Bounds by the lengths, zero exactly for equal texts.
    FUZZ_CHECK((m > n ? m - n : n - m) <= d);
    FUZZ_CHECK(d <= std::max(m, n));
    FUZZ_CHECK((d == 0) == (chars_[i] == chars_[j]));

    // Symmetry, on the core's own results.
    const Result<std::size_t> swapped =
        scalar(c_.texts[j], c_.texts[i], std::nullopt, c_.case_insensitive, std::nullopt);
    FUZZ_CHECK(swapped.has_value() && swapped.unchecked_value() == d);

    // A transposition saves at most one of the two Levenshtein edits it replaces.
    const Result<std::size_t> other =
        Osa ? levenshtein_bp(c_.texts[i], c_.texts[j], std::nullopt, c_.case_insensitive, std::nullopt)
            : damerau_bp(c_.texts[i], c_.texts[j], std::nullopt, c_.case_insensitive, std::nullopt);
    FUZZ_CHECK(other.has_value());
    const std::size_t lev = Osa ? other.unchecked_value() : d;
    const std::size_t osa = Osa ? d : other.unchecked_value();
    FUZZ_CHECK(osa <= lev && lev <= 2 * osa);

    // The bound around the distance and at the edges of the type.
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    for (std::size_t k : {std::size_t{0}, d, d + 1, d == 0 ? 0 : d - 1,
                          std::size_t{std::numeric_limits<std::uint32_t>::max()}, kMax - 1, kMax}) {
      check_call(i, j, std::nullopt, k);
    }
    // The limit at, and one below, each count.
    check_call(i, j, std::max(m, n), std::nullopt);
    if (m > 0) check_call(i, j, m - 1, std::nullopt);
    if (n > 0) check_call(i, j, n - 1, std::nullopt);

    check_paths(i, j, d);
  }

  // The same pair inside a common prefix and suffix taken from the other
  // texts, unfolded: the affixes change nothing, also where a transposition
  // straddles their boundary, and they move the pair onto the long-pattern
  // kernels.
  void check_paths(std::size_t i, std::size_t j, std::size_t d) {
    const std::string& outer = prepared_[c_.texts.size() > 2 ? 2 : 0];
    for (const std::string& prefix : {outer, std::string(65, 'q') + outer}) {
      const std::string a = prefix + prepared_[i] + outer, b = prefix + prepared_[j] + outer;
      const Result<std::size_t> r = scalar(a, b, std::nullopt, false, std::nullopt);
      FUZZ_CHECK(r.has_value() && r.unchecked_value() == d);
      const Result<std::size_t> bounded = scalar(a, b, std::nullopt, false, d);
      FUZZ_CHECK(bounded.has_value() && bounded.unchecked_value() == d);
      if (d > 0) {
        const Result<std::size_t> below = scalar(a, b, std::nullopt, false, d - 1);
        FUZZ_CHECK(below.has_value() && below.unchecked_value() == d);
      }
    }
  }

  // The batch equals the scalar operation candidate by candidate, except that
  // an empty query gives each candidate's own count, unfolded.
  void check_batch() {
    const std::vector<std::size_t> order = c_.batch_order();
    std::vector<TextView> candidates;
    for (std::size_t k : order) candidates.push_back(c_.texts[k]);
    const TextView query = c_.texts[0];
    const std::vector<std::size_t> out = Osa ? damerau_batch(query, candidates, c_.case_insensitive)
                                             : levenshtein_batch(query, candidates, c_.case_insensitive);
    FUZZ_CHECK(out.size() == candidates.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::size_t k = order[i];
      const std::size_t expected = query.empty() ? c_.chars[k].size() : distance(0, k);
      FUZZ_CHECK(out[i] == expected);
    }
    const std::vector<std::size_t> none =
        Osa ? damerau_batch(query, std::span<const TextView>(), c_.case_insensitive)
            : levenshtein_batch(query, std::span<const TextView>(), c_.case_insensitive);
    FUZZ_CHECK(none.empty());
  }

  const Case& c_;
  const bool fold_;
  std::vector<std::string> prepared_;
  std::vector<Chars> chars_;
  std::map<std::pair<std::size_t, std::size_t>, std::size_t> memo_;
};

}  // namespace quillstone::fuzz
