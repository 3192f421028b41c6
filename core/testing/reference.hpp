// The definitions the tests and the fuzzers hold the core to, written as
// plainly as possible over decoded characters: the full dynamic-programming
// tables of both edit distances, and the Jaro-Winkler matching loops step by
// step with the float operations in their one fixed order. One copy serves
// every C++ suite.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace quillstone::testing {

// A decoded text: one Unicode scalar value per element.
using Chars = std::u32string;

// Levenshtein, or with `osa` also the transposition of two adjacent
// characters where neither is edited again.
inline std::size_t reference_distance(const Chars& a, const Chars& b, bool osa) {
  const std::size_t m = a.size(), n = b.size();
  std::vector<std::size_t> d((m + 1) * (n + 1));
  const auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * (n + 1) + j]; };
  for (std::size_t i = 0; i <= m; ++i) at(i, 0) = i;
  for (std::size_t j = 0; j <= n; ++j) at(0, j) = j;
  for (std::size_t i = 1; i <= m; ++i) {
    for (std::size_t j = 1; j <= n; ++j) {
      std::size_t best = std::min(at(i - 1, j), at(i, j - 1)) + 1;
      best = std::min(best, at(i - 1, j - 1) + (a[i - 1] != b[j - 1]));
      if (osa && i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        best = std::min(best, at(i - 2, j - 2) + 1);
      }
      at(i, j) = best;
    }
  }
  return at(m, n);
}

// Jaro-Winkler with prefix scale p (already validated).
inline double reference_jaro_winkler(const Chars& s1, const Chars& s2, double p) {
  const std::size_t n1 = s1.size(), n2 = s2.size();
  if (n1 == 0) return n2 == 0 ? 1.0 : 0.0;
  if (n2 == 0) return 0.0;

  const std::size_t half = std::max(n1, n2) / 2;
  const std::size_t w = half == 0 ? 0 : half - 1;
  std::vector<bool> matched1(n1), matched2(n2);
  std::size_t m = 0;
  for (std::size_t i = 0; i < n1; ++i) {
    const std::size_t lo = i >= w ? i - w : 0;
    const std::size_t hi = std::min(n2, i + w + 1);
    for (std::size_t j = lo; j < hi; ++j) {
      if (!matched2[j] && s2[j] == s1[i]) {
        matched1[i] = matched2[j] = true;
        ++m;
        break;
      }
    }
  }
  if (m == 0) return 0.0;

  std::vector<char32_t> order1, order2;
  for (std::size_t i = 0; i < n1; ++i) {
    if (matched1[i]) order1.push_back(s1[i]);
  }
  for (std::size_t j = 0; j < n2; ++j) {
    if (matched2[j]) order2.push_back(s2[j]);
  }
  std::size_t t = 0;
  for (std::size_t k = 0; k < m; ++k) t += order1[k] != order2[k];

  const double a = static_cast<double>(m) / static_cast<double>(n2);
  const double b = a + static_cast<double>(m) / static_cast<double>(n1);
  const double c = static_cast<double>(m - t / 2) / static_cast<double>(m);
  const double jaro = (b + c) / 3.0;

  std::size_t prefix = 0;
  const std::size_t limit = std::min<std::size_t>({4, n1, n2});
  while (prefix < limit && s1[prefix] == s2[prefix]) ++prefix;

  if (!(jaro > 0.7)) return jaro;
  const double scaled = p * static_cast<double>(prefix);
  const double bonus = (1.0 - jaro) * scaled;
  return jaro + bonus;
}

}  // namespace quillstone::testing
