// The edit distances on each computation path, and the batch table path.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "quillstone/quillstone.hpp"

namespace {

std::string random_ascii(std::mt19937_64& rng, std::size_t len) {
  std::string s(len, 'a');
  for (auto& c : s) c = static_cast<char>('a' + rng() % 26);
  return s;
}

// Same length in characters as random_ascii, with one Cyrillic letter so the
// pair takes the character (or multi-word) path.
std::string with_cyrillic(std::string s) {
  s.replace(s.size() / 2, 1, "\u0436");
  return s;
}

using Metric = quillstone::Result<std::size_t> (*)(quillstone::TextView, quillstone::TextView,
                                                   std::optional<std::size_t>, std::optional<bool>,
                                                   std::optional<std::size_t>) noexcept;

// Arguments: pattern length, text length, 1 for a non-ASCII pair.
template <Metric metric>
void BM_Scalar(benchmark::State& state) {
  std::mt19937_64 rng(1);
  const auto m = static_cast<std::size_t>(state.range(0));
  const auto n = static_cast<std::size_t>(state.range(1));
  std::string a = random_ascii(rng, m), b = random_ascii(rng, n);
  if (state.range(2)) {
    a = with_cyrillic(a);
    b = with_cyrillic(b);
  }
  const quillstone::Utf8Text ta(a), tb(b);
  for (auto _ : state) {
    auto d = metric(ta, tb, {}, {}, {});
    benchmark::DoNotOptimize(d);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["cells/ns"] = benchmark::Counter(
      static_cast<double>(m * n) * static_cast<double>(state.iterations()) / 1e9,
      benchmark::Counter::kIsRate);
}

void scalar_args(benchmark::internal::Benchmark* b) {
  b->Args({8, 8, 0})->Args({64, 64, 0})          // byte path
      ->Args({8, 8, 1})->Args({64, 64, 1})       // character path
      ->Args({65, 1000, 0})->Args({128, 1000, 0})->Args({256, 1000, 0})  // multi-word, W = 2, 2, 4
      ->Args({1000, 1000, 0})->Args({1000, 1000, 1})->Args({10000, 10000, 0});
}

BENCHMARK(BM_Scalar<quillstone::levenshtein_bp>)->Name("levenshtein_bp")->Apply(scalar_args);
BENCHMARK(BM_Scalar<quillstone::damerau_bp>)->Name("damerau_bp")->Apply(scalar_args);

// One query against many short words: the table path of the batch.
template <class Op>
void batch_case(benchmark::State& state, Op op) {
  std::mt19937_64 rng(2);
  std::vector<std::string> words;
  for (int i = 0; i < 10000; ++i) words.push_back(random_ascii(rng, 3 + rng() % 10));
  const std::vector<quillstone::Utf8Text> texts(words.begin(), words.end());
  const std::vector<quillstone::TextView> views(texts.begin(), texts.end());
  const quillstone::Utf8Text query(random_ascii(rng, static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    auto out = op(query, views);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(views.size()));
}

void BM_LevenshteinBatch(benchmark::State& state) {
  batch_case(state, [](auto q, auto v) { return quillstone::levenshtein_batch(q.view(), v); });
}
void BM_DamerauBatch(benchmark::State& state) {
  batch_case(state, [](auto q, auto v) { return quillstone::damerau_batch(q.view(), v); });
}
BENCHMARK(BM_LevenshteinBatch)->Name("levenshtein_batch")->Arg(8)->Arg(64)->Arg(100);
BENCHMARK(BM_DamerauBatch)->Name("damerau_batch")->Arg(8)->Arg(64)->Arg(100);

}  // namespace
