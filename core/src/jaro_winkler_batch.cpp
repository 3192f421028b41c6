// Jaro-Winkler of one query against many candidates. A short ASCII query is
// turned into a position-mask table once; short ASCII candidates are scanned
// against it, folded byte by byte on the fly, and allocate nothing. Every
// other candidate goes through the scalar operation.
#include "common.hpp"
#include "jaro_winkler_scan.hpp"

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

Result<std::vector<double>> jaro_winkler_batch(TextView query, std::span<const TextView> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) noexcept {
  const Result<JaroWinklerBatch> batch = JaroWinklerBatch::create(query, p, case_insensitive);
  if (!batch) return batch.error();

  std::vector<double> scores;
  scores.reserve(candidates.size());
  for (const TextView candidate : candidates) scores.push_back(batch.value().similarity(candidate));
  return scores;
}

}  // namespace quillstone
