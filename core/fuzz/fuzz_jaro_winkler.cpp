// jaro_winkler and jaro_winkler_batch against the matching loops written out
// step by step. Scores must agree bit for bit, on every scan.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <variant>

#include "fuzz_input.hpp"
#include "jaro/lanes.hpp"
#include "jaro/scans.hpp"
#include "reference.hpp"

namespace quillstone::fuzz {

using testing::reference_distance;
using testing::reference_jaro_winkler;
namespace {

class JaroWinklerHarness {
 public:
  explicit JaroWinklerHarness(const Case& c) : c_(c) {
    for (const std::string& text : c.texts) {
      prepared_.push_back(prepared_text(text, c.folding()));
      chars_.push_back(decode_utf8(prepared_.back()));
    }
  }

  void run() {
    // The prefix scale is checked before anything else.
    if (c_.p && !(*c_.p >= 0.0 && *c_.p <= 0.25)) {
      check_rejected_scale();
      return;
    }
    p_ = c_.p.value_or(0.1);
    check_call(0, 1, c_.max_len, c_.similarity_cutoff.resolve(score(0, 1)));
    for (std::size_t k = 0; k < c_.texts.size(); ++k) {
      check_pair(0, k);
      check_pair(k, 0);
    }
    check_batch();
  }

 private:
  double score(std::size_t i, std::size_t j) const {
    return reference_jaro_winkler(chars_[i], chars_[j], p_);
  }

  void check_rejected_scale() {
    const auto rejected = [&](const MatchError& error) {
      const auto* e = std::get_if<InvalidPrefixScale>(&error);
      FUZZ_CHECK(e != nullptr);
      FUZZ_CHECK(same_double(e->value, *c_.p));
    };
    // Even texts that break the limit report the scale.
    const Result<double> r = jaro_winkler(c_.texts[0], c_.texts[1], c_.p, std::size_t{0},
                                          c_.case_insensitive, std::nullopt);
    FUZZ_CHECK(!r.has_value());
    rejected(r.error());
    const std::vector<TextView> candidates(c_.texts.begin(), c_.texts.end());
    const Result<std::vector<double>> batch =
        jaro_winkler_batch(c_.texts[0], candidates, c_.p, c_.case_insensitive);
    FUZZ_CHECK(!batch.has_value());
    rejected(batch.error());
    FUZZ_CHECK(!JaroWinklerBatch::create(c_.texts[0], c_.p, c_.case_insensitive).has_value());
  }

  // One scalar call with the given limit and cut-off, against the reference.
  void check_call(std::size_t i, std::size_t j, std::optional<std::size_t> max_len,
                  std::optional<double> cutoff) {
    const Result<double> r =
        jaro_winkler(c_.texts[i], c_.texts[j], c_.p, max_len, c_.case_insensitive, cutoff);
    const std::size_t n1 = chars_[i].size(), n2 = chars_[j].size();
    if (max_len && (n1 > *max_len || n2 > *max_len)) {
      FUZZ_CHECK(!r.has_value());
      const auto* e = std::get_if<InputTooLong>(&r.error());
      FUZZ_CHECK(e != nullptr);
      const bool first = n1 > *max_len;
      FUZZ_CHECK(std::strcmp(e->which, first ? "str_1" : "str_2") == 0);
      FUZZ_CHECK(e->len == (first ? n1 : n2));
      FUZZ_CHECK(e->limit == *max_len);
      return;
    }
    FUZZ_CHECK(r.has_value());
    const double expected = score(i, j);
    // Empty inputs are settled before the cut-off; a NaN cut-off never applies.
    const bool cut = n1 > 0 && n2 > 0 && cutoff && *cutoff > expected;
    FUZZ_CHECK(same_double(r.unchecked_value(), cut ? 0.0 : expected));
  }

  void check_pair(std::size_t i, std::size_t j) {
    const double expected = score(i, j);
    const Result<double> r =
        jaro_winkler(c_.texts[i], c_.texts[j], c_.p, std::nullopt, c_.case_insensitive, std::nullopt);
    FUZZ_CHECK(r.has_value());
    FUZZ_CHECK(same_double(r.unchecked_value(), expected));
    FUZZ_CHECK(r.unchecked_value() >= 0.0 && r.unchecked_value() <= 1.0);
    if (chars_[i] == chars_[j]) FUZZ_CHECK(r.unchecked_value() == 1.0);

    // Matching is symmetric and so are the prefix and the sum m/n2 + m/n1.
    const Result<double> swapped =
        jaro_winkler(c_.texts[j], c_.texts[i], c_.p, std::nullopt, c_.case_insensitive, std::nullopt);
    FUZZ_CHECK(swapped.has_value() && same_double(swapped.unchecked_value(), expected));

    // The Winkler bonus only ever adds.
    FUZZ_CHECK(reference_jaro_winkler(chars_[i], chars_[j], 0.0) <= expected);

    // Cut-offs at, just above and just below the score; NaN and infinities.
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double cutoff : {expected, std::nextafter(expected, 2.0), std::nextafter(expected, -1.0),
                          std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1.0, 0.0}) {
      check_call(i, j, std::nullopt, cutoff);
    }
    const std::size_t n1 = chars_[i].size(), n2 = chars_[j].size();
    check_call(i, j, std::max(n1, n2), std::nullopt);
    if (n1 > 0) check_call(i, j, n1 - 1, std::nullopt);
    if (n2 > 0) check_call(i, j, n2 - 1, std::nullopt);

    check_scans(i, j, expected);
  }

  // The prepared texts again, unfolded, both ways round and as a batch of
  // one: the same bits on whichever scan their lengths and characters take.
  void check_scans(std::size_t i, std::size_t j, double expected) {
    const TextView s1 = prepared_[i], s2 = prepared_[j];
    const Result<double> plain = jaro_winkler(s1, s2, p_, std::nullopt, false, std::nullopt);
    FUZZ_CHECK(plain.has_value() && same_double(plain.unchecked_value(), expected));
    const Result<double> swapped = jaro_winkler(s2, s1, p_, std::nullopt, false, std::nullopt);
    FUZZ_CHECK(swapped.has_value() &&
               same_double(swapped.unchecked_value(), reference_jaro_winkler(chars_[j], chars_[i], p_)));
    const TextView one[] = {s2};
    const Result<std::vector<double>> batch = jaro_winkler_batch(s1, one, p_, false);
    FUZZ_CHECK(batch.has_value() && same_double(batch.unchecked_value()[0], expected));
  }

  // The batch equals the scalar call with the query as str_1, no limit and
  // no cut-off, candidate by candidate.
  void check_batch() {
    std::vector<double> expected;
    for (std::size_t k = 0; k < c_.texts.size(); ++k) expected.push_back(score(0, k));
    const std::vector<std::size_t> order = c_.batch_order();
    std::vector<TextView> candidates;
    for (std::size_t k : order) candidates.push_back(c_.texts[k]);
    const Result<std::vector<double>> out =
        jaro_winkler_batch(c_.texts[0], candidates, c_.p, c_.case_insensitive);
    FUZZ_CHECK(out.has_value());
    FUZZ_CHECK(out.unchecked_value().size() == candidates.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      FUZZ_CHECK(same_double(out.unchecked_value()[i], expected[order[i]]));
    }
    // Enough copies of every text to fill groups of the widest lanes and leave
    // one lane over, interleaved so that the groups fill up side by side.
    std::vector<TextView> copies;
    for (std::size_t r = 0; r <= detail::kMaxLanes; ++r) {
      copies.insert(copies.end(), candidates.begin(), candidates.end());
    }
    const Result<std::vector<double>> repeated =
        jaro_winkler_batch(c_.texts[0], copies, c_.p, c_.case_insensitive);
    FUZZ_CHECK(repeated.has_value() && repeated.unchecked_value().size() == copies.size());
    for (std::size_t i = 0; i < copies.size(); ++i) {
      FUZZ_CHECK(same_double(repeated.unchecked_value()[i], expected[order[i % order.size()]]));
    }
    const Result<std::vector<double>> none =
        jaro_winkler_batch(c_.texts[0], std::span<const TextView>(), c_.p, c_.case_insensitive);
    FUZZ_CHECK(none.has_value() && none.unchecked_value().empty());
  }

  const Case& c_;
  double p_ = 0.1;
  std::vector<std::string> prepared_;
  std::vector<Chars> chars_;
};

}  // namespace
}  // namespace quillstone::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quillstone::fuzz::Case input = quillstone::fuzz::decode(data, size);
  quillstone::fuzz::JaroWinklerHarness(input).run();
  return 0;
}
