// Every threshold that chooses how an edit distance is computed, each beside
// the reason for it. None changes a result: every path returns the same
// distance, so these only weigh cost. The decision tree that reads them is
// plan.hpp for a pair, batch.hpp for a batch.
#pragma once

#include <cstddef>

namespace quillstone::detail {

// ---------------------------------------------------------------- bounded texts

// A bound of at most this on two texts: the few edit sequences of at most k
// edits (4^k models) are tried at the mismatches, skipping equal runs 16
// bytes at a time; beyond it the sequences multiply.
inline constexpr std::size_t kSmallBound = 3;
// ... on texts longer than this: shorter ones go through the bit-parallel
// column, as fast for them.
inline constexpr std::size_t kSmallBoundFrom = 32;

// Levenshtein bounds up to this on long texts follow the furthest-
// reaching diagonals, whose cost grows with k², not with the texts (and
// whose rows the frame holds).
inline constexpr std::size_t kDiagonalBound = 32;
// Beyond kDiagonalBound, bounds of up to one in this many characters: the
// band would read every column, the diagonals about k² cells at most.
inline constexpr std::size_t kDiagonalSpan = 32;
// Before those wider diagonals, a prefix of one in kProbeShare characters (at
// least kProbeChars) must come within its share of the bound: on texts that
// differ far more, the diagonals would cost k² where the band stops early.
inline constexpr std::size_t kProbeShare = 16;
inline constexpr std::size_t kProbeChars = 256;

// Before the band of a cutoff, the counts of both texts whole may show that
// their distance exceeds it (prefilters.hpp). They are not counted when the
// single-word band before it failed within kCountSlowGrowth columns a row,
// as unrelated texts fail it (their distance grows by half a row a column or
// more), unless their first kCountSample characters differ in at least
// kCountsApart of 4 counts, as texts of two scripts differ in nearly all.
// Random texts of one alphabet differ in about 1 of 8 (DNA) to 2 of 5 (26 or
// 33 letters and a space) at this sample, at most 3 of 5: their whole counts
// seldom settle a cutoff, and counting them would add some 40% to the
// band's time on 1,000 characters. A near-duplicate with many edits fails
// the band slowly and its counts change with its edits.
inline constexpr std::size_t kCountSlowGrowth = 3;
inline constexpr std::size_t kCountSample = 64;
inline constexpr std::size_t kCountsApart = 3;

// ---------------------------------------------------------------- short patterns

// Where AVX2 runs, a pattern of one word is held in vectors in its own units
// when it fits them (held_fits). Elsewhere, or when it does not fit,
// patterns of up to this many characters (bytes, or widened to 32 bits)
// compare their characters with each text character instead of building a
// table: a table costs more than the comparisons of one short pair. Wider
// characters go further: their table hashes or pages each lookup, and on
// CJK and Cyrillic sentences three chunks of comparisons still beat it;
// four lose to a page on unrelated texts.
inline constexpr std::size_t kComparedByteChars = 32;
inline constexpr std::size_t kComparedChars = 48;

// ---------------------------------------------------------------- long patterns

// The widest band one word holds: 62 rows, with the two below it.
inline constexpr std::size_t kWordBand = 61;
// A single-word band on a widened pattern compares its characters only up to
// this many 16-position chunks; a wider band reads the masks, which widened
// comparisons of four chunks cost more than.
inline constexpr std::size_t kComparedBandChunks = 2;
// Bands of at least this many words run four words to a vector where the
// processor has AVX2: fewer stay in registers as a scalar chain.
inline constexpr std::size_t kBandVectorWords = 4;
// Patterns of up to this many words skip the doubling bands without a bound,
// after one band of this excess over their length difference: a failed
// narrow band would cost about as much as the whole column.
inline constexpr std::size_t kFewWords = 4;
inline constexpr std::size_t kFewWordsBand = 14;

// Without a bound, once a band fails, how soon it failed estimates the
// distance, and the whole column runs at once when the band of the estimate
// would hold at least one in kBandWordCost of the column's words: a band word
// costs about as much as a column word in vector strips, and texts that far
// apart would fail narrower bands first. Texts with many insertions and
// deletions also make bands fail early, so for patterns of at least
// kEstimateFrom characters the distance of the first kEstimateChars
// characters (a few vector steps) must give the same verdict.
inline constexpr std::size_t kBandWordCost = 2;
inline constexpr std::size_t kEstimateChars = 256;
inline constexpr std::size_t kEstimateFrom = 2 * kEstimateChars;

// Texts look alike (so that a narrow band is worth trying on a few words)
// when this many of 16 bytes from either end of one are found in the other
// at the same place or up to two bytes off: a few edits leave most of them,
// unrelated texts of any language match a few. Both texts need at least
// kLikenessBytes bytes.
inline constexpr int kLikeBytes = 11;
inline constexpr std::size_t kLikenessBytes = 20;

// ---------------------------------------------------------------- batches

// Four-byte candidates are read in place in the query's lanes once a chunk
// holds this many: their masks take a table of slots, cleared for each
// chunk, which costs about what renumbering this many of them would.
inline constexpr std::size_t kFourByteLanesFrom = 32;

}  // namespace quillstone::detail
