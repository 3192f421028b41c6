// quillstone_core: string similarity and edit distances over borrowed text.
//
// Every operation is a pure function of its arguments. Texts are borrowed
// code units of one width, each unit one Unicode scalar value: the forms a
// Python str holds (Latin-1, UCS-2, UCS-4), read in place. Lengths, counts and
// positions count characters. A UTF-8 entry for C++ callers decodes once at
// the boundary. Operations return a value or a MatchError; none throws. A
// failed allocation ends the process.
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

// Borrowed text: `size` code units of 1, 2 or 4 bytes, each one Unicode
// scalar value (no surrogates; the caller guarantees it, nothing is
// validated). Any width may hold any text its units can: results never
// depend on the width, only speed does.
class TextView {
 public:
  constexpr TextView() noexcept = default;
  constexpr TextView(const unsigned char* units, std::size_t size) noexcept : data_(units), packed_(pack(size, 0)) {}
  constexpr TextView(const char16_t* units, std::size_t size) noexcept : data_(units), packed_(pack(size, 1)) {}
  constexpr TextView(const char32_t* units, std::size_t size) noexcept : data_(units), packed_(pack(size, 2)) {}
  // `size` units of `width` bytes (1, 2 or 4) at `units`, as an interpreter
  // names them.
  TextView(const void* units, std::size_t size, unsigned width) noexcept
      : data_(units), packed_(pack(size, width < 4 ? width >> 1 : 2)) {}  // 1, 2, 4 -> 0, 1, 2, no branch

  const void* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return static_cast<std::size_t>(packed_ >> 2); }
  bool empty() const noexcept { return size() == 0; }
  unsigned width() const noexcept { return 1u << (packed_ & 3); }
  // One byte a character: the byte-indexed tables and lanes read it.
  bool narrow() const noexcept { return (packed_ & 3) == 0; }
  // The units from `pos` on, at most `count` of them.
  TextView substr(std::size_t pos, std::size_t count = static_cast<std::size_t>(-1)) const noexcept {
    const std::size_t rest = size() - pos;
    return TextView(static_cast<const unsigned char*>(data_) + pos * width(), count < rest ? count : rest,
                    width());
  }
  // The character at `i`.
  char32_t operator[](std::size_t i) const noexcept {
    if (narrow()) return static_cast<const unsigned char*>(data_)[i];
    if ((packed_ & 3) == 1) return static_cast<const char16_t*>(data_)[i];
    return static_cast<const char32_t*>(data_)[i];
  }

 private:
  // The size and the width's logarithm in one word, so that a view is two
  // words and passes in registers.
  static constexpr std::uint64_t pack(std::size_t size, unsigned log_width) noexcept {
    return std::uint64_t{size} << 2 | log_width;
  }

  const void* data_ = nullptr;
  std::uint64_t packed_ = 0;
};

// Well-formed UTF-8 decoded once into the narrowest units that hold it, as
// an interpreter stores a str: the entry for C++ callers, tests and fuzzers.
class Utf8Text {
 public:
  explicit Utf8Text(std::string_view utf8) noexcept;
  Utf8Text(const Utf8Text&) noexcept;
  Utf8Text& operator=(const Utf8Text&) noexcept;
  ~Utf8Text();
  TextView view() const noexcept { return view_; }
  operator TextView() const noexcept { return view_; }  // NOLINT

 private:
  std::string units_;
  TextView view_;
};

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
// One query against many candidates. A prepared batch holds the query folded,
// decoded and turned into match masks, once; it is immutable, so several
// threads may score with it at once, and any split of the candidates into
// chunks gives the same results. The one-shot functions below prepare a batch
// and score all their candidates with it.

// The two edit distances, as the batch records and the core's kernels know
// them.
enum class EditMetric { Levenshtein, OptimalAlignment };

namespace detail {
template <EditMetric Metric>
class EditBatch;
class JaroWinklerQuery;
}  // namespace detail

// An edit-distance query, prepared once. Each distance equals the scalar
// operation's with the same folding and no limit or cutoff, except that an
// empty query gives a candidate's own character count, unfolded.
template <EditMetric Metric>
class EditDistanceBatch {
 public:
  EditDistanceBatch(TextView query, std::optional<bool> case_insensitive) noexcept;
  EditDistanceBatch(std::string_view utf8_query, std::optional<bool> case_insensitive) noexcept;
  EditDistanceBatch(EditDistanceBatch&&) noexcept;
  EditDistanceBatch& operator=(EditDistanceBatch&&) noexcept;
  ~EditDistanceBatch();

  // One candidate, scanned on its own.
  std::size_t distance(TextView candidate) const noexcept;
  std::size_t distance(std::string_view utf8_candidate) const noexcept;
  // The distance of candidates[i] into out[i]; `out` has room for every
  // candidate. Short candidates share vector lanes.
  void distances(std::span<const TextView> candidates, std::span<std::size_t> out) const noexcept;
  void distances(std::span<const std::string_view> utf8_candidates, std::span<std::size_t> out) const noexcept;

 private:
  std::unique_ptr<const detail::EditBatch<Metric>> impl_;
};

using LevenshteinBatch = EditDistanceBatch<EditMetric::Levenshtein>;
using DamerauBatch = EditDistanceBatch<EditMetric::OptimalAlignment>;

// A Jaro-Winkler query, prepared once. Each similarity equals the scalar
// operation's with the same scale and folding, no limit and no cutoff.
class JaroWinklerBatch {
 public:
  // Fails only with InvalidPrefixScale, before allocating anything.
  static Result<JaroWinklerBatch> create(TextView query, std::optional<double> p,
                                         std::optional<bool> case_insensitive) noexcept;
  static Result<JaroWinklerBatch> create(std::string_view utf8_query, std::optional<double> p,
                                         std::optional<bool> case_insensitive) noexcept;
  // A batch that holds nothing: only for Result, never scored.
  JaroWinklerBatch() noexcept;
  JaroWinklerBatch(JaroWinklerBatch&&) noexcept;
  JaroWinklerBatch& operator=(JaroWinklerBatch&&) noexcept;
  ~JaroWinklerBatch();

  // One candidate, scanned on its own.
  double similarity(TextView candidate) const noexcept;
  double similarity(std::string_view utf8_candidate) const noexcept;
  // The similarity of candidates[i] into out[i]; `out` has room for every
  // candidate. Short candidates share vector lanes.
  void similarities(std::span<const TextView> candidates, std::span<double> out) const noexcept;
  void similarities(std::span<const std::string_view> utf8_candidates, std::span<double> out) const noexcept;

 private:
  explicit JaroWinklerBatch(std::unique_ptr<const detail::JaroWinklerQuery> impl) noexcept;
  std::unique_ptr<const detail::JaroWinklerQuery> impl_;
};

std::vector<std::size_t> levenshtein_batch(TextView query, std::span<const TextView> candidates,
                                           std::optional<bool> case_insensitive = {}) noexcept;

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive = {}) noexcept;

Result<std::vector<double>> jaro_winkler_batch(TextView query, std::span<const TextView> candidates,
                                               std::optional<double> p = {},
                                               std::optional<bool> case_insensitive = {}) noexcept;

// ---------------------------------------------------------------- UTF-8 entry
//
// The operations above on well-formed UTF-8, each text decoded once
// (Utf8Text): for C++ callers, tests and fuzzers.

Result<std::size_t> levenshtein_bp(std::string_view str_1, std::string_view str_2,
                                   std::optional<std::size_t> max_len = {},
                                   std::optional<bool> case_insensitive = {},
                                   std::optional<std::size_t> score_cutoff = {}) noexcept;
Result<std::size_t> damerau_bp(std::string_view str_1, std::string_view str_2,
                               std::optional<std::size_t> max_len = {},
                               std::optional<bool> case_insensitive = {},
                               std::optional<std::size_t> score_cutoff = {}) noexcept;
Result<double> jaro_winkler(std::string_view str_1, std::string_view str_2, std::optional<double> p = {},
                            std::optional<std::size_t> max_len = {},
                            std::optional<bool> case_insensitive = {},
                            std::optional<double> score_cutoff = {}) noexcept;
std::vector<std::size_t> levenshtein_batch(std::string_view query, std::span<const std::string_view> candidates,
                                           std::optional<bool> case_insensitive = {}) noexcept;
std::vector<std::size_t> damerau_batch(std::string_view query, std::span<const std::string_view> candidates,
                                       std::optional<bool> case_insensitive = {}) noexcept;
Result<std::vector<double>> jaro_winkler_batch(std::string_view query,
                                               std::span<const std::string_view> candidates,
                                               std::optional<double> p = {},
                                               std::optional<bool> case_insensitive = {}) noexcept;

}  // namespace quillstone
