// quillstone_core: string similarity and edit distances over borrowed UTF-8.
//
// Every operation is a pure function of its arguments. Texts are borrowed,
// well-formed UTF-8 (the caller guarantees it; nothing is validated). Lengths,
// counts and positions count Unicode scalar values. Operations return a value
// or a MatchError; none throws. A failed allocation ends the process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillstone {

// Borrowed well-formed UTF-8: start and byte length.
using TextView = std::string_view;

// ---------------------------------------------------------------- errors

// An input has more characters (after case folding) than max_len allows.
struct InputTooLong {
  const char* which;  // "str_1" or "str_2"
  std::size_t len;
  std::size_t limit;
};

// The Jaro-Winkler prefix scale is negative, above 0.25 or NaN.
struct InvalidPrefixScale {
  double value;
};

using MatchError = std::variant<InputTooLong, InvalidPrefixScale>;

// The text form, e.g. `InputTooLong { which: "str_1", len: 300, limit: 255 }`
// or `InvalidPrefixScale { value: 1e-5 }`.
std::string to_string(const MatchError& error) noexcept;

// The shortest decimal text that reads back as `value`, written as in the
// error text: 0.3, 1.0, -1.0, 1e-5, 1.5e-5, 1e20, NaN, inf, -inf.
std::string format_float(double value) noexcept;

// A value or a MatchError. Test has_value() before taking the value: the
// unchecked access does not.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) noexcept : value_(std::move(value)) {}                  // NOLINT
  Result(MatchError error) noexcept : error_(error), failed_(true) {}  // NOLINT
  Result(InputTooLong error) noexcept : Result(MatchError(error)) {}     // NOLINT
  Result(InvalidPrefixScale error) noexcept : Result(MatchError(error)) {}  // NOLINT

  bool has_value() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return !failed_; }
  // The value, read without looking at has_value().
  const T& unchecked_value() const& noexcept { return value_; }
  T&& unchecked_value() && noexcept { return std::move(value_); }
  const MatchError& error() const noexcept { return error_; }

 private:
  T value_{};
  MatchError error_{InvalidPrefixScale{0.0}};
  bool failed_ = false;
};

// ---------------------------------------------------------------- scalar

// Levenshtein distance (insertions, deletions, substitutions). str_1 is the
// pattern (the bit dimension), str_2 the text. Absent options: no limit, no
// folding, no cutoff. A distance above score_cutoff k is reported as k + 1.
Result<std::size_t> levenshtein_bp(TextView str_1, TextView str_2,
                                   std::optional<std::size_t> max_len = {},
                                   std::optional<bool> case_insensitive = {},
                                   std::optional<std::size_t> score_cutoff = {}) noexcept;

// Optimal string alignment distance: Levenshtein plus transposition of two
// adjacent characters, no substring edited twice. Options as levenshtein_bp.
Result<std::size_t> damerau_bp(TextView str_1, TextView str_2,
                               std::optional<std::size_t> max_len = {},
                               std::optional<bool> case_insensitive = {},
                               std::optional<std::size_t> score_cutoff = {}) noexcept;

// Jaro-Winkler similarity in [0, 1]. p (default 0.1) must lie in [0, 0.25];
// a score strictly below score_cutoff is reported as 0.0.
Result<double> jaro_winkler(TextView str_1, TextView str_2,
                            std::optional<double> p = {},
                            std::optional<std::size_t> max_len = {},
                            std::optional<bool> case_insensitive = {},
                            std::optional<double> score_cutoff = {}) noexcept;

// ---------------------------------------------------------------- batch
//
// One query against many candidates, the query prepared once per call.

// The two edit distances, as the batch records and the core's kernels know
// them.
enum class EditMetric { Levenshtein, OptimalAlignment };

namespace detail {
template <EditMetric Metric>
class EditBatch;
}

// The query of an edit-distance batch, prepared once (folded, decoded, its
// match masks built) and scored against any number of candidates; each
// distance equals the scalar operation's with the same folding and no limit
// or cutoff, except that an empty query gives a candidate's own character
// count, unfolded. Immutable once built: several threads may score at once.
template <EditMetric Metric>
class EditDistanceBatch {
 public:
  EditDistanceBatch(TextView query, std::optional<bool> case_insensitive) noexcept;
  EditDistanceBatch(EditDistanceBatch&&) noexcept;
  EditDistanceBatch& operator=(EditDistanceBatch&&) noexcept;
  ~EditDistanceBatch();

  std::size_t distance(TextView candidate) const noexcept;

 private:
  std::unique_ptr<const detail::EditBatch<Metric>> impl_;
};

using LevenshteinBatch = EditDistanceBatch<EditMetric::Levenshtein>;
using DamerauBatch = EditDistanceBatch<EditMetric::OptimalAlignment>;

class JaroWinklerBatch {
 public:
  // Fails only with InvalidPrefixScale, before allocating anything.
  static Result<JaroWinklerBatch> create(TextView query, std::optional<double> p,
                                         std::optional<bool> case_insensitive) noexcept;
  double similarity(TextView candidate) const noexcept;

  JaroWinklerBatch() noexcept = default;

 private:
  std::string prepared_;  // folded query bytes, only with ascii_table_
  std::string query_;     // unchanged copy, for the scalar fallback
  std::array<std::uint64_t, 128> masks_{};
  std::size_t query_len_ = 0;
  double p_ = 0.1;
  bool ascii_table_ = false;
  std::optional<bool> case_insensitive_;
};

std::vector<std::size_t> levenshtein_batch(TextView query, std::span<const TextView> candidates,
                                           std::optional<bool> case_insensitive = {}) noexcept;

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive = {}) noexcept;

Result<std::vector<double>> jaro_winkler_batch(TextView query, std::span<const TextView> candidates,
                                               std::optional<double> p = {},
                                               std::optional<bool> case_insensitive = {}) noexcept;

}  // namespace quillstone
