// The two inputs of a scalar operation, folded, counted and checked.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "quillstone/quillstone.hpp"

namespace quillstone::detail {

// The two inputs of a scalar operation as its metric sees them: folded when
// asked, counted, checked against max_len. Views point into the caller's
// texts or into the folded copies owned here, so a Prepared stays in place.
struct Prepared {
  TextView s1, s2;
  std::size_t n1 = 0, n2 = 0;
  bool ascii1 = false, ascii2 = false;

  bool both_ascii() const noexcept { return ascii1 && ascii2; }

  Prepared() = default;
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // Folds (only when case_insensitive is true), tests for ASCII (str_1
  // first), counts and checks max_len (str_1 first). Returns the error of a
  // rejected input.
  std::optional<MatchError> prepare(TextView str_1, TextView str_2,
                                    std::optional<std::size_t> max_len,
                                    std::optional<bool> case_insensitive) noexcept;

 private:
  std::string folded1_, folded2_;
};

}  // namespace quillstone::detail
