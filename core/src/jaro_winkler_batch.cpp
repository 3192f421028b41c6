// Jaro-Winkler of one query against many candidates. A short ASCII query is
// turned into a position-mask table once; short ASCII candidates are scanned
// against it, folded byte by byte on the fly, and allocate nothing. A short
// non-ASCII query gets a character-indexed table once per call. Every other
// candidate goes through the scalar operation.
#include "common.hpp"
#include "jaro_winkler_scan.hpp"
#include "match_masks.hpp"

namespace quillstone {

Result<JaroWinklerBatch> JaroWinklerBatch::create(TextView query, std::optional<double> p,
                                                  std::optional<bool> case_insensitive) noexcept {
  namespace jw = detail::jw;
  const Result<double> scale = jw::checked_prefix_scale(p);
  if (!scale) return scale.error();

  JaroWinklerBatch batch;
  batch.p_ = scale.value();
  batch.case_insensitive_ = case_insensitive;
  if (detail::is_ascii(query)) {
    batch.query_len_ = query.size();
    if (!query.empty() && query.size() <= jw::kWordChars) {
      batch.prepared_.assign(query);
      if (case_insensitive.value_or(false)) {
        // On ASCII text the full lower-casing is exactly this.
        for (char& c : batch.prepared_) {
          c = static_cast<char>(jw::FoldAsciiByte{}(static_cast<unsigned char>(c)));
        }
      }
      jw::fill_position_masks(batch.masks_, batch.prepared_);
      batch.ascii_table_ = true;
    }
  } else {
    // Folded per candidate by the scalar fallback, not here.
    batch.query_len_ = detail::count_chars(query);
  }
  batch.query_.assign(query);
  return batch;
}

double JaroWinklerBatch::similarity(TextView candidate) const noexcept {
  namespace jw = detail::jw;
  if (query_len_ == 0) return candidate.empty() ? 1.0 : 0.0;
  if (candidate.empty()) return 0.0;

  if (ascii_table_ && candidate.size() <= jw::kWordChars && detail::is_ascii(candidate)) {
    return case_insensitive_.value_or(false)
               ? jw::bit_parallel_score(masks_, prepared_, candidate, p_, jw::FoldAsciiByte{})
               : jw::bit_parallel_score(masks_, prepared_, candidate, p_, jw::KeepByte{});
  }

  // The stored scale is valid and there is no limit: the scalar call cannot fail.
  const Result<double> scalar =
      jaro_winkler(query_, candidate, p_, std::nullopt, case_insensitive_, std::nullopt);
  return scalar ? scalar.value() : 0.0;
}

namespace {

// A query that is not pure ASCII but has 1 to 64 characters once folded: its
// position masks (a direct table below U+0100, a sorted map above) are built
// once per call instead of once per candidate by the scalar operation. Each
// candidate of at most 64 characters, folded the way the scalar operation
// folds it, is scanned against them; the others take the scalar operation.
// The scores are the scalar operation's, bit for bit. False, with nothing
// written, for a longer query.
bool character_table_batch(TextView query, std::span<const TextView> candidates, double p,
                           std::optional<bool> case_insensitive, std::vector<double>& scores) noexcept {
  namespace jw = detail::jw;
  const bool fold = case_insensitive.value_or(false);
  const std::string folded_query = fold ? detail::to_lower_full(query) : std::string();
  const TextView table_text = fold ? TextView(folded_query) : query;
  const std::size_t nq = detail::count_chars(table_text);
  if (nq == 0 || nq > jw::kWordChars) return false;
  char32_t table[jw::kWordChars];
  detail::decode_chars(table_text, table);
  const detail::CharacterMasks masks(table_text, nq);
  std::string folded;
  char32_t scanned[jw::kWordChars];
  for (const TextView candidate : candidates) {
    if (candidate.empty()) {
      scores.push_back(0.0);
      continue;
    }
    TextView text = candidate;
    if (fold) {
      if (detail::is_ascii(text)) {
        folded.assign(text);
        for (char& c : folded) c = static_cast<char>(jw::FoldAsciiByte{}(static_cast<unsigned char>(c)));
      } else {
        folded = detail::to_lower_full(text);
      }
      text = folded;
    }
    if (detail::count_chars(text) > jw::kWordChars) {
      const Result<double> scalar = jaro_winkler(query, candidate, p, std::nullopt, case_insensitive, std::nullopt);
      scores.push_back(scalar ? scalar.value() : 0.0);
      continue;
    }
    const std::size_t nc = detail::decode_chars(text, scanned);
    scores.push_back(jw::word_scan(
        nc, [&](std::size_t i) { return scanned[i]; }, nq, [&](std::size_t j) { return table[j]; },
        [&](char32_t c) { return masks.lookup(c); }, p));
  }
  return true;
}

}  // namespace

Result<std::vector<double>> jaro_winkler_batch(TextView query, std::span<const TextView> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) noexcept {
  const Result<JaroWinklerBatch> batch = JaroWinklerBatch::create(query, p, case_insensitive);
  if (!batch) return batch.error();

  std::vector<double> scores;
  scores.reserve(candidates.size());
  if (!detail::is_ascii(query) &&
      character_table_batch(query, candidates, detail::jw::checked_prefix_scale(p).value(),
                            case_insensitive, scores)) {
    return scores;
  }
  for (const TextView candidate : candidates) scores.push_back(batch.value().similarity(candidate));
  return scores;
}

}  // namespace quillstone
