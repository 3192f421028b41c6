// Jaro-Winkler throughput per execution path, and the batch against a word list.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "jaro/multi_word_scan.hpp"
#include "jaro/plain_scan.hpp"
#include "jaro/scans.hpp"
#include "quillstone/quillstone.hpp"
#include "text/utf8.hpp"

namespace {

// Deterministic words over `alphabet` (UTF-8 units of equal size) with
// lengths in [lo, hi]; pairs are near-copies so that matching has work to do.
std::vector<std::string> words(const std::vector<std::string>& alphabet, std::size_t lo,
                               std::size_t hi, std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::size_t> len(lo, hi), pick(0, alphabet.size() - 1);
  std::vector<std::string> out;
  for (std::size_t k = 0; k < count; ++k) {
    std::string w;
    for (std::size_t n = len(rng); n > 0; --n) w += alphabet[pick(rng)];
    out.push_back(std::move(w));
  }
  return out;
}

std::vector<std::string> letters(const char* chars) {
  std::vector<std::string> out;
  for (const char* c = chars; *c; ++c) out.emplace_back(1, *c);
  return out;
}

void scalar(benchmark::State& state, const std::vector<std::string>& texts, bool fold) {
  std::size_t pairs = 0;
  for (auto _ : state) {
    for (std::size_t k = 0; k + 1 < texts.size(); ++k) {
      benchmark::DoNotOptimize(
          quillstone::jaro_winkler(texts[k], texts[k + 1], {}, {}, fold, {}).unchecked_value());
    }
    pairs += texts.size() - 1;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(pairs));
}

const std::vector<std::string> kLower = letters("etaoinshrdlucmfw");

void BM_JaroWinkler_ShortAscii(benchmark::State& state) {
  static const auto texts = words(kLower, 4, 16, 1000, 1);
  scalar(state, texts, false);
}
BENCHMARK(BM_JaroWinkler_ShortAscii);

void BM_JaroWinkler_ShortAsciiFolded(benchmark::State& state) {
  static const auto texts = words(letters("etaoinshETAOINSH"), 4, 16, 1000, 2);
  scalar(state, texts, true);
}
BENCHMARK(BM_JaroWinkler_ShortAsciiFolded);

void BM_JaroWinkler_Ascii17to64(benchmark::State& state) {
  static const auto texts = words(kLower, 17, 64, 1000, 3);
  scalar(state, texts, false);
}
BENCHMARK(BM_JaroWinkler_Ascii17to64);

void BM_JaroWinkler_NonAscii(benchmark::State& state) {
  static const auto texts = words({"é", "à", "ü", "ß", "ø", "æ", "ç", "ñ"}, 4, 16, 1000, 4);
  scalar(state, texts, false);
}
BENCHMARK(BM_JaroWinkler_NonAscii);

void BM_JaroWinkler_LongAscii(benchmark::State& state) {
  static const auto texts = words(kLower, 200, 300, 200, 5);
  scalar(state, texts, false);
}
BENCHMARK(BM_JaroWinkler_LongAscii);

// A text of `length` characters drawn from `alphabet`, and a copy of it
// mutated at about 10% (substitutions, insertions, deletions, adjacent
// swaps), so that most characters match and some transpose.
std::pair<std::string, std::string> related_pair(const std::vector<std::string>& alphabet,
                                                 std::size_t length, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_real_distribution<double> roll(0.0, 1.0);
  std::vector<std::size_t> first(length), second;
  for (auto& c : first) c = pick(rng);
  for (std::size_t i = 0; i < length; ++i) {
    const double r = roll(rng);
    if (r < 0.025) {
      second.push_back(pick(rng));
    } else if (r < 0.05) {
      second.push_back(pick(rng));
      second.push_back(first[i]);
    } else if (r < 0.075) {
    } else if (r < 0.1 && i + 1 < length) {
      second.push_back(first[i + 1]);
      second.push_back(first[i]);
      ++i;
    } else {
      second.push_back(first[i]);
    }
  }
  std::pair<std::string, std::string> out;
  for (std::size_t c : first) out.first += alphabet[c];
  for (std::size_t c : second) out.second += alphabet[c];
  return out;
}

const std::vector<std::string> kLongAscii = letters("abcdefghijklmnopqrstuvwxyz ");
// Latin-1 letters and letters above U+00FF (Greek, Cyrillic): both halves of
// the character-indexed masks.
const std::vector<std::string> kLongNonAscii = {
    "a", "e", "i", "o", "u", "é", "è", "ü", "ö", "ß", "ç", "ñ", " ", "α", "β", "γ", "δ", "ε", "ζ",
    "η", "θ", "λ", "μ", "π", "σ", "а", "б", "в", "г", "д", "е", "ж", "з", "и", "к", "л", "м", "н"};

// Arguments: length in characters, 1 for non-ASCII text.
void BM_JaroWinkler_Long(benchmark::State& state) {
  const auto length = static_cast<std::size_t>(state.range(0));
  const auto [a, b] = related_pair(state.range(1) ? kLongNonAscii : kLongAscii, length,
                                   static_cast<unsigned>(length + state.range(1)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillstone::jaro_winkler(a, b, {}, {}, {}, {}).unchecked_value());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JaroWinkler_Long)
    ->ArgNames({"chars", "non_ascii"})
    ->Args({40, 1})  // one word of positions, non-ASCII
    ->Args({100, 0})->Args({100, 1})
    ->Args({1000, 0})->Args({1000, 1})
    ->Args({10000, 0})->Args({10000, 1});

// The plain loops on decoded characters, one flag byte per position: the
// form every other scan is measured against. The library no longer takes it.
double general(quillstone::TextView s1, std::size_t n1, quillstone::TextView s2, std::size_t n2,
               double p) noexcept {
  const auto chars = std::make_unique_for_overwrite<char32_t[]>(n1 + n2);
  quillstone::detail::widen_chars(s1, chars.get());
  quillstone::detail::widen_chars(s2, chars.get() + n1);
  return quillstone::detail::jw::plain_scan_any(chars.get(), n1, chars.get() + n1, n2, p);
}

double multiword(quillstone::TextView s1, std::size_t n1, quillstone::TextView s2,
                 std::size_t n2, double p) noexcept {
  return quillstone::detail::jw::multiword_scan(s1, n1, s2, n2, p);
}

// The scans for non-ASCII or long texts on the same pair, called directly:
// where one overtakes another sets the path thresholds. The plain scans
// stop at the first match, so their cost depends on how related the texts
// are. Arguments: length in characters, 1 for non-ASCII text, 1 for a
// near-copy (0: two unrelated texts).
template <double (*Scan)(quillstone::TextView, std::size_t, quillstone::TextView, std::size_t,
                         double) noexcept>
void BM_JaroWinklerScan(benchmark::State& state) {
  namespace jw = quillstone::detail::jw;
  const auto length = static_cast<std::size_t>(state.range(0));
  const auto& alphabet = state.range(1) ? kLongNonAscii : kLongAscii;
  auto [a, b] = related_pair(alphabet, length, static_cast<unsigned>(length));
  if (!state.range(2)) b = related_pair(alphabet, length, static_cast<unsigned>(length + 1)).first;
  const quillstone::Utf8Text ta(a), tb(b);
  const std::size_t n1 = ta.view().size();
  const std::size_t n2 = tb.view().size();
  if ((Scan == jw::small_scan && std::max(n1, n2) > jw::kSmallChars) ||
      (Scan == jw::character_scan && std::max(n1, n2) > jw::kWordChars)) {
    return state.SkipWithError("the pair is too long for this scan");
  }
  for (auto _ : state) benchmark::DoNotOptimize(Scan(ta, n1, tb, n2, 0.1));
  state.SetItemsProcessed(state.iterations());
}

void short_scan_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"chars", "non_ascii", "related"});
  for (std::int64_t related : {1, 0}) {
    for (std::int64_t n : {4, 8, 12, 16, 20, 24, 32, 36, 40, 44, 48, 56}) b->Args({n, 1, related});
  }
}
void long_scan_args(benchmark::internal::Benchmark* b) {
  for (std::int64_t related : {1, 0}) {
    for (std::int64_t n : {70, 100, 200, 1000}) b->Args({n, 0, related})->Args({n, 1, related});
  }
}

BENCHMARK(BM_JaroWinklerScan<general>)
    ->Name("BM_JaroWinklerScan_General")->Apply(short_scan_args)->Apply(long_scan_args);
BENCHMARK(BM_JaroWinklerScan<quillstone::detail::jw::small_scan>)
    ->Name("BM_JaroWinklerScan_Small")->Apply(short_scan_args);
BENCHMARK(BM_JaroWinklerScan<quillstone::detail::jw::character_scan>)
    ->Name("BM_JaroWinklerScan_Character")->Apply(short_scan_args);
BENCHMARK(BM_JaroWinklerScan<multiword>)
    ->Name("BM_JaroWinklerScan_MultiWord")->Apply(short_scan_args)->Apply(long_scan_args);

void batch(benchmark::State& state, const std::string& query, const std::vector<std::string>& owned,
           bool fold) {
  const std::vector<quillstone::Utf8Text> texts(owned.begin(), owned.end());
  const std::vector<quillstone::TextView> candidates(texts.begin(), texts.end());
  const quillstone::Utf8Text q(query);
  for (auto _ : state) {
    benchmark::DoNotOptimize(quillstone::jaro_winkler_batch(q.view(), candidates, {}, fold).unchecked_value());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * candidates.size()));
}

void BM_JaroWinklerBatch_ShortAscii(benchmark::State& state) {
  static const auto texts = words(kLower, 4, 16, 10000, 6);
  batch(state, "ostrich", texts, false);
}
BENCHMARK(BM_JaroWinklerBatch_ShortAscii);

void BM_JaroWinklerBatch_ShortAsciiFolded(benchmark::State& state) {
  static const auto texts = words(letters("etaoinshETAOINSH"), 4, 16, 10000, 7);
  batch(state, "Stain", texts, true);
}
BENCHMARK(BM_JaroWinklerBatch_ShortAsciiFolded);

void BM_JaroWinklerBatch_NonAscii(benchmark::State& state) {
  static const auto texts = words({"é", "à", "ü", "ß", "ø", "æ", "ç", "ñ"}, 4, 16, 10000, 8);
  batch(state, "éàüß", texts, false);
}
BENCHMARK(BM_JaroWinklerBatch_NonAscii);

}  // namespace
