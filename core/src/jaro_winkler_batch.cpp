// Jaro-Winkler of one query against many candidates. The query is folded and
// turned into position masks once per call. Candidates of up to 64
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
  batch.p_ = scale.unchecked_value();
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
  return scalar ? scalar.unchecked_value() : 0.0;
}

namespace {

namespace jw = detail::jw;

// The position masks of a query of 1 to 64 characters, for candidates met
// one character at a time: a direct table below U+0100; above it, a second
// direct table when all the query's wider characters share one block of 256
// code points (one script, as a word or a name mostly is), otherwise a small
// hash table, which an empty slot ends within a probe or two. No lookup
// bisects a map.
class LaneMasks {
 public:
  explicit LaneMasks(const std::vector<char32_t>& chars) noexcept : size(chars.size()) {
    std::memset(narrow, 0, sizeof narrow);
    std::memset(page_, 0, sizeof page_);
    std::memset(key_, 0, sizeof key_);
    for (const char32_t c : chars) {
      if (c < 256) continue;
      if (page_block_ == 0) page_block_ = c >> 8;
      if (c >> 8 != page_block_) page_block_ = kNoBlock;
    }
    for (std::size_t j = 0; j < size; ++j) {
      const std::uint64_t bit = std::uint64_t{1} << j;
      const char32_t c = chars[j];
      if (c < 256) {
        narrow[c] |= bit;
      } else if (c >> 8 == page_block_) {
        page_[c & 255] |= bit;
      } else {
        std::size_t h = slot_of(c);
        while (key_[h] != 0 && key_[h] != c) h = (h + 1) % kSlots;
        key_[h] = c;
        mask_[h] |= bit;
      }
    }
  }

  std::uint64_t lookup(char32_t c) const noexcept {
    if (c < 256) return narrow[c];
    if (c >> 8 == page_block_) return page_[c & 255];
    // Fewer keys than half the slots: an empty slot ends every search.
    for (std::size_t h = slot_of(c);; h = (h + 1) % kSlots) {
      if (key_[h] == c) return mask_[h];
      if (key_[h] == 0) return 0;
    }
  }

  std::uint64_t narrow[256];
  std::size_t size;

 private:
  static constexpr std::size_t kSlots = 2 * jw::kWordChars;
  static constexpr char32_t kNoBlock = 0x110000;  // the block of no character
  static std::size_t slot_of(char32_t c) noexcept {
    return static_cast<std::uint32_t>(c * 0x9E3779B1u) >> 25;  // 7 bits: kSlots
  }
  char32_t page_block_ = 0;  // 0 until a wider character is seen: block 0 is below U+0100
  std::uint64_t page_[256];
  char32_t key_[kSlots];  // 0 marks an empty slot: no wider character is 0
  std::uint64_t mask_[kSlots] = {};
};

// Candidates of 1 to 64 characters against a query of 1 to 64, in lanes of
// `Lane`. Each candidate's column of masks is written into the group of its
// length; a full group is scored at once, and finish() scores the groups left
// incomplete, whose unused lanes hold whatever an earlier group left there.
template <class Lane>
class LaneBatch {
 public:
  static constexpr std::size_t kLanes = jw::kVectorBytes / sizeof(Lane);

  LaneBatch(const LaneMasks& masks, bool fold, double p, double* out) noexcept
      : masks_(masks), p_(p), out_(out), groups_(jw::kLaneMaxText + 1) {
    for (unsigned b = 0; b < 256; ++b) {
      const unsigned char c = fold ? jw::FoldAsciiByte{}(static_cast<unsigned char>(b))
                                   : static_cast<unsigned char>(b);
      bytes_[b] = static_cast<Lane>(masks.narrow[c]);
    }
  }

  // An ASCII candidate of 1 to 64 bytes, folded by the byte table.
  void add_bytes(std::size_t index, TextView text) noexcept {
    Lane* column = slot(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      column[i * kLanes] = bytes_[static_cast<unsigned char>(text[i])];
    }
    commit(text.size(), index);
  }

  // A folded candidate of 1 to 64 characters.
  void add_chars(std::size_t index, const char32_t* chars, std::size_t n) noexcept {
    Lane* column = slot(n);
    for (std::size_t i = 0; i < n; ++i) column[i * kLanes] = static_cast<Lane>(masks_.lookup(chars[i]));
    commit(n, index);
  }

  void finish() noexcept {
    for (std::size_t n = 1; n <= jw::kLaneMaxText; ++n) {
      if (groups_[n].size > 0) run(n);
    }
  }

 private:
  struct Group {
    std::size_t size = 0;
    std::size_t index[kLanes];
    // n rows of kLanes masks, made at the group's first candidate and zeroed,
    // so that unused lanes read defined values
    std::vector<Lane> rows;
  };

  Lane* rows(std::size_t n) noexcept { return groups_[n].rows.data(); }
  Lane* slot(std::size_t n) noexcept {
    Group& group = groups_[n];
    if (group.rows.empty()) group.rows.resize(n * kLanes);
    return group.rows.data() + group.size;
  }

  void commit(std::size_t n, std::size_t index) noexcept {
    Group& group = groups_[n];
    group.index[group.size] = index;
    if (++group.size == kLanes) run(n);
  }

  void run(std::size_t n) noexcept {
    Group& group = groups_[n];
    const std::size_t nq = masks_.size;
    const std::size_t w = jw::match_window(n, nq);
    jw::LaneCounts counts;
    if constexpr (sizeof(Lane) == 1) jw::jaro_lanes_8(rows(n), n, w, counts);
    if constexpr (sizeof(Lane) == 2) jw::jaro_lanes_16(rows(n), n, w, counts);
    if constexpr (sizeof(Lane) == 4) jw::jaro_lanes_32(rows(n), n, w, counts);
    if constexpr (sizeof(Lane) == 8) jw::jaro_lanes_64(rows(n), n, w, counts);
    for (std::size_t lane = 0; lane < group.size; ++lane) {
      // The candidate is the scanned text, as on the batch's own table path.
      out_[group.index[lane]] =
          jw::score(counts.m[lane], counts.t[lane], n, nq, counts.prefix[lane], p_);
    }
    group.size = 0;
  }

  const LaneMasks& masks_;
  double p_;
  double* out_;
  Lane bytes_[256];
  std::vector<Group> groups_;
};

// Candidates the lanes do not take, against a query of any length: the
// query's multi-word masks are built once, at the first such candidate, and
// every candidate is scanned against them. A query whose table would be too
// large leaves each such candidate to the scalar operation.
class LongScan {
 public:
  LongScan(TextView query, const std::vector<char32_t>& chars, double p,
           std::optional<bool> case_insensitive) noexcept
      : query_(query), chars_(chars), p_(p), case_insensitive_(case_insensitive) {}

  // `text` holds the n characters (bytes when ASCII) of `candidate` folded
  // as the scalar operation folds it; the scalar fallback takes `candidate`.
  template <class Char>
  double score(TextView candidate, const Char* text, std::size_t n) noexcept {
    if (!built_) build();
    if (!find_) {
      const Result<double> scalar =
          jaro_winkler(query_, candidate, p_, std::nullopt, case_insensitive_, std::nullopt);
      return scalar ? scalar.unchecked_value() : 0.0;
    }
    return jw::multiword_match(*masks_, *find_, text, n, chars_.data(), chars_.size(), scratch_, p_);
  }

 private:
  void build() noexcept {
    built_ = true;
    const std::size_t n = chars_.size();
    std::vector<char32_t> keys = detail::MultiWordMasks::wide_keys(chars_.data(), n);
    if (!jw::mask_table_fits(detail::MultiWordMasks::rows_for(keys.size()),
                             (n + detail::kWordBits - 1) / detail::kWordBits, n)) {
      return;
    }
    masks_.emplace(chars_.data(), n, std::move(keys));
    find_.emplace(*masks_);
  }

  TextView query_;
  const std::vector<char32_t>& chars_;
  double p_;
  std::optional<bool> case_insensitive_;
  bool built_ = false;
  std::optional<detail::MultiWordMasks> masks_;
  std::optional<detail::RowFinder> find_;
  jw::MultiWordScratch scratch_;
};

// Every candidate against a non-empty query, each folded the way the scalar
// operation folds it: ASCII candidates byte by byte, others by the full
// lower-casing. Lanes take what fits them when there are lanes.
template <class Lanes>
void score_candidates(std::span<const TextView> candidates, bool fold, Lanes* lanes,
                      LongScan& long_scan, double* out) noexcept {
  std::string folded;
  std::vector<char32_t> chars;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const TextView candidate = candidates[i];
    if (candidate.empty()) {
      out[i] = 0.0;
      continue;
    }
    if (detail::is_ascii(candidate)) {
      if (lanes != nullptr && candidate.size() <= jw::kLaneMaxText) {
        lanes->add_bytes(i, candidate);
        continue;
      }
      TextView text = candidate;
      if (fold) {
        folded.assign(candidate);
        for (char& c : folded) c = static_cast<char>(jw::FoldAsciiByte{}(static_cast<unsigned char>(c)));
        text = folded;
      }
      out[i] = long_scan.score(candidate, reinterpret_cast<const unsigned char*>(text.data()), text.size());
      continue;
    }
    TextView text = candidate;
    if (fold) {
      folded = detail::to_lower_full(candidate);
      text = folded;
    }
    chars.resize(text.size());  // no more characters than bytes
    const std::size_t n = detail::decode_chars(text, chars.data());
    if (lanes != nullptr && n <= jw::kLaneMaxText) {
      lanes->add_chars(i, chars.data(), n);
    } else {
      out[i] = long_scan.score(candidate, chars.data(), n);
    }
  }
  if (lanes != nullptr) lanes->finish();
}

template <class Lane>
void score_in_lanes(std::span<const TextView> candidates, const LaneMasks& masks,
                    bool fold, double p, LongScan& long_scan, double* out) noexcept {
  LaneBatch<Lane> lanes(masks, fold, p, out);
  score_candidates(candidates, fold, &lanes, long_scan, out);
}

}  // namespace

Result<std::vector<double>> jaro_winkler_batch(TextView query, std::span<const TextView> candidates,
                                               std::optional<double> p,
                                               std::optional<bool> case_insensitive) noexcept {
  const Result<double> scale = jw::checked_prefix_scale(p);
  if (!scale) return scale.error();
  const double p_value = scale.unchecked_value();

  std::vector<double> scores(candidates.size());
  if (candidates.empty()) return scores;
  if (query.empty()) {
    for (std::size_t i = 0; i < candidates.size(); ++i) scores[i] = candidates[i].empty() ? 1.0 : 0.0;
    return scores;
  }

  // The query as every candidate meets it, folded once for all of them.
  const bool fold = case_insensitive.value_or(false);
  const std::string folded_query = fold ? detail::to_lower_full(query) : std::string();
  const TextView text = fold ? TextView(folded_query) : query;
  std::vector<char32_t> chars(text.size());
  chars.resize(detail::decode_chars(text, chars.data()));
  LongScan long_scan(query, chars, p_value, case_insensitive);

  const std::size_t nq = chars.size();
  if (nq > jw::kWordChars) {
    score_candidates<LaneBatch<std::uint64_t>>(candidates, fold, nullptr, long_scan, scores.data());
    return scores;
  }
  const LaneMasks masks(chars);
  if (nq <= 8) {
    score_in_lanes<std::uint8_t>(candidates, masks, fold, p_value, long_scan, scores.data());
  } else if (nq <= 16) {
    score_in_lanes<std::uint16_t>(candidates, masks, fold, p_value, long_scan, scores.data());
  } else if (nq <= 32) {
    score_in_lanes<std::uint32_t>(candidates, masks, fold, p_value, long_scan, scores.data());
  } else {
    score_in_lanes<std::uint64_t>(candidates, masks, fold, p_value, long_scan, scores.data());
  }
  return scores;
}

}  // namespace quillstone
