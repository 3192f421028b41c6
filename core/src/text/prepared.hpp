// The two inputs of a scalar operation, folded, counted and checked.
#pragma once

#include <cstddef>
#include <optional>

#include "quillstone/quillstone.hpp"
#include "text/case_folding.hpp"

namespace quillstone::detail {

// The two inputs of a scalar operation as its metric sees them: folded when
// asked, checked against max_len. Views point into the caller's texts or
// into the folded copies owned here, so a Prepared stays in place.
struct Prepared {
  TextView s1, s2;
  std::size_t n1 = 0, n2 = 0;

  // Both a byte a character: the byte-indexed paths read them.
  bool both_narrow() const noexcept { return s1.narrow() && s2.narrow(); }

  // Provided, not defaulted: a defaulted one would have every call clear
  // both folded texts' frames first.
  Prepared() noexcept {}  // NOLINT(modernize-use-equals-default)
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // Folds (only when case_insensitive is true) and checks max_len (str_1
  // first). Returns the error of a rejected input.
  std::optional<MatchError> prepare(TextView str_1, TextView str_2,
                                    std::optional<std::size_t> max_len,
                                    std::optional<bool> case_insensitive) noexcept;

 private:
  // Made only when folding.
  std::optional<FoldedText> folded1_, folded2_;
};

}  // namespace quillstone::detail
