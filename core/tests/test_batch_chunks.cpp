// The prepared batches scored chunk by chunk: whatever the split, every
// result equals the one-shot batch's and the plain reference's, bit for bit.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "quillstone/quillstone.hpp"
#include "reference.hpp"
#include "texts.hpp"
#include "text/case_folding.hpp"

namespace {

using TextView = std::string_view;
using quillstone::testing::Chars;
using quillstone::testing::utf8;

// The text as the batch compares it: folded or not, then decoded.
Chars compared(TextView text, bool fold) {
  return quillstone::testing::decode(fold ? quillstone::detail::to_lower_full(text) : std::string(text));
}

// Candidates of every path: empty, short and long, ASCII and not, in both
// cases, some near the query.
std::vector<std::string> candidates_for(const Chars& query, std::mt19937_64& rng) {
  static const Chars kAlphabet = U"abcABC\u00e9\u00c9\u0436\u0416\u0130\u65e5";
  std::vector<std::string> out;
  for (int i = 0; i < 700; ++i) {
    Chars text;
    if (rng() % 3 == 0) {
      text = query;
      for (std::size_t e = rng() % 3; e > 0 && !text.empty(); --e) text[rng() % text.size()] = kAlphabet[rng() % 6];
    } else {
      const std::size_t len = rng() % 8 == 0 ? 60 + rng() % 240 : rng() % 12;
      const std::size_t from = rng() % 2 ? 6 : kAlphabet.size();
      for (std::size_t k = 0; k < len; ++k) text.push_back(kAlphabet[rng() % from]);
    }
    out.push_back(utf8(text));
  }
  return out;
}

// Ends of chunks: one at a time, a few sizes that cut lane groups apart, and
// random cuts.
std::vector<std::vector<std::size_t>> splits(std::size_t count, std::mt19937_64& rng) {
  std::vector<std::vector<std::size_t>> out;
  for (const std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{33}, std::size_t{256}}) {
    std::vector<std::size_t> ends;
    for (std::size_t end = size; end < count; end += size) ends.push_back(end);
    ends.push_back(count);
    out.push_back(ends);
  }
  std::vector<std::size_t> ends;
  for (std::size_t end = rng() % 50; end < count; end += rng() % 120) ends.push_back(end);
  ends.push_back(count);
  out.push_back(ends);
  return out;
}

// Scores `candidates` chunk by chunk into one result, each chunk's slots
// first filled with a marker that no score takes.
template <class T, class Score>
std::vector<T> in_chunks(const std::vector<TextView>& candidates, const std::vector<std::size_t>& ends,
                         T marker, Score score) {
  std::vector<T> out(candidates.size(), marker);
  std::size_t begin = 0;
  for (const std::size_t end : ends) {
    score(std::span<const TextView>(candidates).subspan(begin, end - begin),
          std::span<T>(out).subspan(begin, end - begin));
    begin = end;
  }
  return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

const std::vector<std::string> kQueries = {
    "",
    "abc",
    "AbCaBc",
    std::string(64, 'a'),
    std::string(70, 'b') + "Ca",
    utf8(U"\u0436\u0416abc"),
    utf8(U"\u0130\u00e9" + Chars(40, U'a')),
    utf8(Chars(90, U'\u65e5') + U"ab"),
};

TEST(BatchChunks, EditDistancesInAnySplit) {
  std::mt19937_64 rng(21);
  for (const std::string& query : kQueries) {
    const auto owned = candidates_for(compared(query, false), rng);
    const std::vector<TextView> candidates(owned.begin(), owned.end());
    for (const bool fold : {false, true}) {
      const quillstone::LevenshteinBatch lev(query, fold);
      const quillstone::DamerauBatch osa(query, fold);
      const auto lev_once = quillstone::levenshtein_batch(query, candidates, fold);
      const auto osa_once = quillstone::damerau_batch(query, candidates, fold);
      const Chars q = compared(query, fold);
      for (std::size_t i = 0; i < candidates.size(); ++i) {
        SCOPED_TRACE(query + " | " + owned[i]);
        // An empty query counts a candidate's characters unfolded.
        const Chars c = compared(candidates[i], fold && !query.empty());
        ASSERT_EQ(lev_once[i], quillstone::testing::reference_distance(q, c, false));
        ASSERT_EQ(osa_once[i], quillstone::testing::reference_distance(q, c, true));
      }
      for (const auto& ends : splits(candidates.size(), rng)) {
        const std::size_t marker = ~std::size_t{0};
        EXPECT_EQ(in_chunks(candidates, ends, marker, [&](auto in, auto out) { lev.distances(in, out); }),
                  lev_once);
        EXPECT_EQ(in_chunks(candidates, ends, marker, [&](auto in, auto out) { osa.distances(in, out); }),
                  osa_once);
      }
    }
  }
}

TEST(BatchChunks, JaroWinklerInAnySplit) {
  std::mt19937_64 rng(22);
  for (const std::string& query : kQueries) {
    const auto owned = candidates_for(compared(query, false), rng);
    const std::vector<TextView> candidates(owned.begin(), owned.end());
    for (const bool fold : {false, true}) {
      for (const std::optional<double> p : {std::optional<double>{}, std::optional<double>{0.25}}) {
        const auto batch = quillstone::JaroWinklerBatch::create(query, p, fold);
        ASSERT_TRUE(batch.has_value());
        const auto once = quillstone::jaro_winkler_batch(query, candidates, p, fold);
        ASSERT_TRUE(once.has_value());
        const std::vector<double>& want = once.unchecked_value();
        const Chars q = compared(query, fold);
        for (std::size_t i = 0; i < candidates.size(); ++i) {
          SCOPED_TRACE(query + " | " + owned[i]);
          const double plain =
              quillstone::testing::reference_jaro_winkler(q, compared(candidates[i], fold), p.value_or(0.1));
          ASSERT_TRUE(same_bits(want[i], plain)) << want[i] << " != " << plain;
          ASSERT_TRUE(same_bits(batch.unchecked_value().similarity(candidates[i]), plain));
        }
        for (const auto& ends : splits(candidates.size(), rng)) {
          const auto got = in_chunks(candidates, ends, -1.0, [&](auto in, auto out) {
            batch.unchecked_value().similarities(in, out);
          });
          for (std::size_t i = 0; i < candidates.size(); ++i) ASSERT_TRUE(same_bits(got[i], want[i])) << i;
        }
      }
    }
  }
}

}  // namespace
