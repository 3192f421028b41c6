// Jaro-Winkler of one query against many candidates. The query is folded and
// turned into position masks once per batch. Candidates of up to 64
// characters against a query of up to 64 are scored many at once in vector
// lanes; every other candidate is scanned against the query's multi-word
// masks. Every score is the scalar operation's, bit for bit.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jaro/lanes.hpp"
#include "jaro/multi_word_scan.hpp"
#include "jaro/score.hpp"
#include "jaro/word_scan.hpp"
#include "masks/character_masks.hpp"
#include "masks/multi_word_masks.hpp"
#include "masks/paged_masks.hpp"
#include "simd/lane_vectors.hpp"
#include "simd/length_groups.hpp"
#include "text/case_folding.hpp"
#include "text/units.hpp"

namespace quillstone {

namespace detail {
namespace jw {

// Candidates of 1 to 64 characters against a query of 1 to 64, in lanes of
// `Lane`. Each candidate's column of masks is written into the rows of its
// length's group; a full group is scored at once, and finish() scores the
// groups left incomplete, whose unused lanes hold whatever an earlier group
// left there.
template <class Lane>
class LaneBatch {
 public:
  static constexpr std::size_t kLanes = kLanesOf<Lane>;

  LaneBatch(const CharacterMasks& masks, const PagedMasks* paged, bool fold, double p, double* out) noexcept
      : masks_(masks), paged_(paged), p_(p), out_(out), rows_(kLaneMaxChars + 1) {
    // A byte folds to one byte.
    for (unsigned b = 0; b < 256; ++b) {
      const auto c = static_cast<unsigned char>(b);
      bytes_[b] = static_cast<Lane>(masks.narrow.entry[fold ? lower_byte(c) : c]);
    }
  }

  // A candidate of 1 to 64 characters, a byte each, folded by the byte table.
  void add_bytes(std::size_t index, TextView text) noexcept {
    Lane* column = slot(text.size());
    const auto* units = units_of<unsigned char>(text);
    for (std::size_t i = 0; i < text.size(); ++i) column[i * kLanes] = bytes_[units[i]];
    groups_.add(text.size(), index, scorer());
  }

  // Whether two-byte candidates are read in place, by the pages.
  bool reads_units() const noexcept { return paged_ != nullptr; }

  // A candidate of 1 to 64 two-byte units, read as they come: the pages
  // fold them when the batch folds.
  void add_units(std::size_t index, const char16_t* units, std::size_t n) noexcept {
    Lane* column = slot(n);
    for (std::size_t i = 0; i < n; ++i) column[i * kLanes] = static_cast<Lane>((*paged_)(units[i]));
    groups_.add(n, index, scorer());
  }

  // A folded candidate of 1 to 64 characters.
  template <class Char>
  void add_chars(std::size_t index, const Char* chars, std::size_t n) noexcept {
    Lane* column = slot(n);
    for (std::size_t i = 0; i < n; ++i) column[i * kLanes] = static_cast<Lane>(masks_.lookup(chars[i]));
    groups_.add(n, index, scorer());
  }

  void finish() noexcept { groups_.finish(scorer()); }

 private:
  // The next lane's column in the rows of length n: n rows of kLanes masks,
  // made at the length's first candidate and zeroed, so that unused lanes
  // read defined values.
  Lane* slot(std::size_t n) noexcept {
    std::vector<Lane>& rows = rows_[n];
    if (rows.empty()) rows.resize(n * kLanes);
    return rows.data() + groups_.next_lane(n);
  }

  auto scorer() noexcept {
    return [this](std::size_t n, const std::size_t* index, std::size_t size) { run(n, index, size); };
  }

  void run(std::size_t n, const std::size_t* index, std::size_t size) noexcept {
    const Lane* rows = rows_[n].data();
    const std::size_t nq = masks_.size;
    const std::size_t w = match_window(n, nq);
    LaneCounts counts;
    if constexpr (sizeof(Lane) == 1) jaro_lanes_8(rows, n, w, counts);
    if constexpr (sizeof(Lane) == 2) jaro_lanes_16(rows, n, w, counts);
    if constexpr (sizeof(Lane) == 4) jaro_lanes_32(rows, n, w, counts);
    if constexpr (sizeof(Lane) == 8) jaro_lanes_64(rows, n, w, counts);
    // The candidate is the scanned text, as on the batch's own table path.
    if constexpr (kLanes >= kVectorScoresLanes) {
      if (vector_scores_pay<kLanes>(counts, size)) {
        double scores[kLanes];
        jaro_lane_scores<Lane>(counts, size, n, nq, p_, scores);
        for (std::size_t lane = 0; lane < size; ++lane) out_[index[lane]] = scores[lane];
        return;
      }
    }
    for (std::size_t lane = 0; lane < size; ++lane) {
      out_[index[lane]] = score(counts.m[lane], counts.t[lane], n, nq, counts.prefix[lane], p_);
    }
  }

  const CharacterMasks& masks_;
  const PagedMasks* paged_;
  double p_;
  double* out_;
  Lane bytes_[256];
  LengthGroups<kLanes> groups_;
  std::vector<std::vector<Lane>> rows_;
};

// Candidates the lanes do not take, against a query of any length, scanned
// against the query's multi-word masks. A query whose table would be too
// large has none, and leaves each such candidate to the scalar operation.
// One per call: the row finder and the scratch are the call's own.
class LongScan {
 public:
  LongScan(TextView query, const std::vector<char32_t>& chars, const MultiWordMasks* masks, double p,
           std::optional<bool> case_insensitive) noexcept
      : query_(query), chars_(chars), masks_(masks), p_(p), case_insensitive_(case_insensitive) {}

  // `text` holds the n characters of `candidate` folded
  // as the scalar operation folds it; the scalar fallback takes `candidate`.
  template <class Char>
  double score(TextView candidate, const Char* text, std::size_t n) noexcept {
    if (masks_ == nullptr) {
      const Result<double> scalar =
          jaro_winkler(query_, candidate, p_, std::nullopt, case_insensitive_, std::nullopt);
      return scalar ? scalar.unchecked_value() : 0.0;
    }
    if (!find_) find_.emplace(*masks_);
    return multiword_match(*masks_, *find_, text, n, chars_.data(), chars_.size(), scratch_, p_);
  }

 private:
  TextView query_;
  const std::vector<char32_t>& chars_;
  const MultiWordMasks* masks_;
  double p_;
  std::optional<bool> case_insensitive_;
  std::optional<RowFinder> find_;
  MultiWordScratch scratch_;
};

// Every candidate against a non-empty query, each folded the way the scalar
// operation folds it, read in place when its units fold one by one. Lanes
// take what fits them when there are lanes.
template <class Lanes>
void score_candidates(std::span<const TextView> candidates, bool fold, Lanes* lanes,
                      LongScan& long_scan, double* out) noexcept {
  FoldedText folded;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const TextView candidate = candidates[i];
    if (candidate.empty()) {
      out[i] = 0.0;
      continue;
    }
    if (lanes != nullptr && candidate.size() <= kLaneMaxChars) {
      if (candidate.narrow()) {
        lanes->add_bytes(i, candidate);
        continue;
      }
      const auto* units = units_of<char16_t>(candidate);
      if (candidate.width() == 2 && lanes->reads_units() && (!fold || lower_alone_each(units, candidate.size()))) {
        lanes->add_units(i, units, candidate.size());
        continue;
      }
    }
    const TextView text = fold ? to_lower_full(candidate, folded) : candidate;
    with_units(text, [&](const auto* units) {
      if (lanes != nullptr && text.size() <= kLaneMaxChars) {
        lanes->add_chars(i, units, text.size());
      } else {
        out[i] = long_scan.score(candidate, units, text.size());
      }
    });
  }
  if (lanes != nullptr) lanes->finish();
}

template <class Lane>
void score_in_lanes(std::span<const TextView> candidates, const CharacterMasks& masks,
                    const PagedMasks* paged, bool fold, double p, LongScan& long_scan, double* out) noexcept {
  LaneBatch<Lane> lanes(masks, paged, fold, p, out);
  score_candidates(candidates, fold, &lanes, long_scan, out);
}

// The multi-word masks of a query, or none when their table would be too
// large.
std::optional<MultiWordMasks> long_masks(const std::vector<char32_t>& chars) noexcept {
  const std::size_t n = chars.size();
  std::vector<char32_t> keys = MultiWordMasks::wide_keys(chars.data(), n);
  if (!mask_table_fits(MultiWordMasks::rows_for(keys.size()), (n + kWordBits - 1) / kWordBits, n)) {
    return std::nullopt;
  }
  return std::optional<MultiWordMasks>(std::in_place, chars.data(), n, std::move(keys));
}

}  // namespace jw

// The query of a Jaro-Winkler batch, prepared once: folded as the scalar
// operation folds it, widened, its lane masks (1 to 64 characters) and its
// multi-word masks built. Candidates are folded one by one the same way.
class JaroWinklerQuery {
 public:
  JaroWinklerQuery(TextView query, double p, std::optional<bool> case_insensitive) noexcept
      : query_(query), p_(p), case_insensitive_(case_insensitive), fold_(case_insensitive.value_or(false)) {
    if (query.empty()) return;
    FoldedText folded;
    const TextView text = fold_ ? to_lower_full(query, folded) : query;
    chars_.resize(text.size());
    widen_chars(text, chars_.data());
    if (chars_.size() <= jw::kWordChars) {
      lane_masks_.emplace(TextView(chars_.data(), chars_.size()));
      const TextView chars(chars_.data(), chars_.size());
      if (fold_) {
        std::uint64_t bytes[256];
        for (unsigned b = 0; b < 256; ++b) bytes[b] = lane_masks_->narrow.entry[lower_byte(static_cast<unsigned char>(b))];
        paged_.emplace(PagedMasks::folding(chars, *lane_masks_, bytes));
      } else {
        paged_.emplace(chars, *lane_masks_);
      }
    }
    long_masks_ = jw::long_masks(chars_);
  }

  JaroWinklerQuery(const JaroWinklerQuery&) = delete;
  JaroWinklerQuery& operator=(const JaroWinklerQuery&) = delete;

  // candidates[i]'s similarity into out[i]: candidates of 1 to 64 characters
  // against a query of 1 to 64 in lanes as narrow as the query allows, every
  // other one against the multi-word masks.
  void similarities(std::span<const TextView> candidates, double* out) const noexcept {
    if (candidates.empty()) return;
    if (chars_.empty()) {
      for (std::size_t i = 0; i < candidates.size(); ++i) out[i] = candidates[i].empty() ? 1.0 : 0.0;
      return;
    }
    jw::LongScan long_scan = this->long_scan();
    if (!lane_masks_) {
      jw::score_candidates<jw::LaneBatch<std::uint64_t>>(candidates, fold_, nullptr, long_scan, out);
      return;
    }
    const CharacterMasks& masks = *lane_masks_;
    const PagedMasks* paged = paged_ ? &*paged_ : nullptr;
    const std::size_t nq = chars_.size();
    if (nq <= 8) {
      jw::score_in_lanes<std::uint8_t>(candidates, masks, paged, fold_, p_, long_scan, out);
    } else if (nq <= 16) {
      jw::score_in_lanes<std::uint16_t>(candidates, masks, paged, fold_, p_, long_scan, out);
    } else if (nq <= 32) {
      jw::score_in_lanes<std::uint32_t>(candidates, masks, paged, fold_, p_, long_scan, out);
    } else {
      jw::score_in_lanes<std::uint64_t>(candidates, masks, paged, fold_, p_, long_scan, out);
    }
  }

  // One candidate, against the multi-word masks.
  double similarity(TextView candidate) const noexcept {
    if (chars_.empty()) return candidate.empty() ? 1.0 : 0.0;
    double out = 0.0;
    jw::LongScan long_scan = this->long_scan();
    jw::score_candidates<jw::LaneBatch<std::uint64_t>>({&candidate, 1}, fold_, nullptr, long_scan, &out);
    return out;
  }

 private:
  jw::LongScan long_scan() const noexcept {
    return jw::LongScan(query_.view(), chars_, long_masks_ ? &*long_masks_ : nullptr, p_, case_insensitive_);
  }

  OwnedText query_;  // as given: the scalar fallback folds it itself
  double p_;
  std::optional<bool> case_insensitive_;
  bool fold_;
  std::vector<char32_t> chars_;  // the query folded and widened
  std::optional<CharacterMasks> lane_masks_;
  std::optional<PagedMasks> paged_;  // for candidates of 2-byte units, read as they come
  std::optional<MultiWordMasks> long_masks_;
};

}  // namespace detail

Result<JaroWinklerBatch> JaroWinklerBatch::create(TextView query, std::optional<double> p,
                                                  std::optional<bool> case_insensitive) noexcept {
  const Result<double> scale = detail::jw::checked_prefix_scale(p);
  if (!scale) return scale.error();
  return JaroWinklerBatch(
      std::make_unique<const detail::JaroWinklerQuery>(query, scale.unchecked_value(), case_insensitive));
}

Result<JaroWinklerBatch> JaroWinklerBatch::create(std::string_view utf8_query, std::optional<double> p,
                                                  std::optional<bool> case_insensitive) noexcept {
  return create(Utf8Text(utf8_query).view(), p, case_insensitive);
}

JaroWinklerBatch::JaroWinklerBatch() noexcept = default;
JaroWinklerBatch::JaroWinklerBatch(std::unique_ptr<const detail::JaroWinklerQuery> impl) noexcept
    : impl_(std::move(impl)) {}
JaroWinklerBatch::JaroWinklerBatch(JaroWinklerBatch&&) noexcept = default;
JaroWinklerBatch& JaroWinklerBatch::operator=(JaroWinklerBatch&&) noexcept = default;
JaroWinklerBatch::~JaroWinklerBatch() = default;

double JaroWinklerBatch::similarity(TextView candidate) const noexcept { return impl_->similarity(candidate); }

double JaroWinklerBatch::similarity(std::string_view utf8_candidate) const noexcept {
  return impl_->similarity(Utf8Text(utf8_candidate));
}

void JaroWinklerBatch::similarities(std::span<const TextView> candidates, std::span<double> out) const noexcept {
  impl_->similarities(candidates, out.data());
}

void JaroWinklerBatch::similarities(std::span<const std::string_view> utf8_candidates,
                                    std::span<double> out) const noexcept {
  const std::vector<Utf8Text> texts(utf8_candidates.begin(), utf8_candidates.end());
  const std::vector<TextView> views(texts.begin(), texts.end());
  impl_->similarities(views, out.data());
}

Result<std::vector<double>> jaro_winkler_batch(TextView query, std::span<const TextView> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) noexcept {
  Result<JaroWinklerBatch> batch = JaroWinklerBatch::create(query, p, case_insensitive);
  if (!batch) return batch.error();
  std::vector<double> scores(candidates.size());
  batch.unchecked_value().similarities(candidates, scores);
  return scores;
}

Result<std::vector<double>> jaro_winkler_batch(std::string_view query, std::span<const std::string_view> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) noexcept {
  const std::vector<Utf8Text> texts(candidates.begin(), candidates.end());
  const std::vector<TextView> views(texts.begin(), texts.end());
  return jaro_winkler_batch(Utf8Text(query).view(), views, p, case_insensitive);
}

}  // namespace quillstone
