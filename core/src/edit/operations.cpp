// The public edit-distance operations: for each measure, the scalar call
// through the plan and the batch through the prepared query.
#include "edit/batch.hpp"
#include "edit/plan.hpp"

namespace quillstone {

template class EditDistanceBatch<EditMetric::Levenshtein>;
template class EditDistanceBatch<EditMetric::OptimalAlignment>;

namespace {

template <EditMetric Metric>
std::vector<std::size_t> batch_distances(TextView query, std::span<const TextView> candidates,
                                         std::optional<bool> case_insensitive) noexcept {
  std::vector<std::size_t> out(candidates.size());
  EditDistanceBatch<Metric>(query, case_insensitive).distances(candidates, out);
  return out;
}

template <EditMetric Metric>
std::vector<std::size_t> batch_distances(std::string_view query, std::span<const std::string_view> candidates,
                                         std::optional<bool> case_insensitive) noexcept {
  const std::vector<Utf8Text> texts(candidates.begin(), candidates.end());
  const std::vector<TextView> views(texts.begin(), texts.end());
  return batch_distances<Metric>(Utf8Text(query), views, case_insensitive);
}

}  // namespace

Result<std::size_t> levenshtein_bp(TextView str_1, TextView str_2, std::optional<std::size_t> max_len,
                                   std::optional<bool> case_insensitive,
                                   std::optional<std::size_t> score_cutoff) noexcept {
  return detail::edit_distance<EditMetric::Levenshtein>(str_1, str_2, max_len, case_insensitive, score_cutoff);
}

Result<std::size_t> damerau_bp(TextView str_1, TextView str_2, std::optional<std::size_t> max_len,
                               std::optional<bool> case_insensitive,
                               std::optional<std::size_t> score_cutoff) noexcept {
  return detail::edit_distance<EditMetric::OptimalAlignment>(str_1, str_2, max_len, case_insensitive,
                                                             score_cutoff);
}

std::vector<std::size_t> levenshtein_batch(TextView query, std::span<const TextView> candidates,
                                           std::optional<bool> case_insensitive) noexcept {
  return batch_distances<EditMetric::Levenshtein>(query, candidates, case_insensitive);
}

std::vector<std::size_t> damerau_batch(TextView query, std::span<const TextView> candidates,
                                       std::optional<bool> case_insensitive) noexcept {
  return batch_distances<EditMetric::OptimalAlignment>(query, candidates, case_insensitive);
}

Result<std::size_t> levenshtein_bp(std::string_view str_1, std::string_view str_2,
                                   std::optional<std::size_t> max_len, std::optional<bool> case_insensitive,
                                   std::optional<std::size_t> score_cutoff) noexcept {
  return levenshtein_bp(Utf8Text(str_1).view(), Utf8Text(str_2).view(), max_len, case_insensitive, score_cutoff);
}

Result<std::size_t> damerau_bp(std::string_view str_1, std::string_view str_2, std::optional<std::size_t> max_len,
                               std::optional<bool> case_insensitive,
                               std::optional<std::size_t> score_cutoff) noexcept {
  return damerau_bp(Utf8Text(str_1).view(), Utf8Text(str_2).view(), max_len, case_insensitive, score_cutoff);
}

std::vector<std::size_t> levenshtein_batch(std::string_view query, std::span<const std::string_view> candidates,
                                           std::optional<bool> case_insensitive) noexcept {
  return batch_distances<EditMetric::Levenshtein>(query, candidates, case_insensitive);
}

std::vector<std::size_t> damerau_batch(std::string_view query, std::span<const std::string_view> candidates,
                                       std::optional<bool> case_insensitive) noexcept {
  return batch_distances<EditMetric::OptimalAlignment>(query, candidates, case_insensitive);
}

}  // namespace quillstone
