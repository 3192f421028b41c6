// Every threshold that chooses how a Jaro-Winkler score is computed, each
// beside the reason for it. None changes a result: every scan returns the
// same score, bit for bit, so these only weigh cost. The scalar operation's
// dispatch (jaro_winkler.cpp) and the multi-word scan read them.
#pragma once

#include <cstddef>

namespace quillstone::detail::jw {

// Texts of a byte a character up to this length take the plain loops with
// their flags in words. Their inner loop ends at a match, a branch that
// mispredicts about once a character: below six characters they still beat
// the scan of a text held in vectors by a few nanoseconds, from six on they
// lose (twice its time at 8 to 16 characters).
inline constexpr std::size_t kDirectScanMax = 5;
// Wider texts up to this length take the plain loops on characters widened
// into the frame: up to seven characters they beat holding the longer text
// in vectors by a few nanoseconds, from eight on they lose.
inline constexpr std::size_t kPlainScanMax = 7;
// Where AVX2 runs, texts whose longer has up to this many characters hold
// it in vectors, its words found by compares as the scan's windows reach
// them: building the multi-word table and its map of characters costs more
// (Greek texts of 65 to 120 characters 3.5 µs against 0.6, of 300 to 500
// 8.9 against 3.6; English ones of 300 to 500 4.4 against 3.1). Four-byte
// texts of 512 take 2 KiB of the frame.
inline constexpr std::size_t kHeldWordsMax = 512;
// Match windows of up to this many words are searched without per-character
// cursors: a few words cost less to search than the cursors to keep.
inline constexpr std::size_t kCursorlessWords = 4;

}  // namespace quillstone::detail::jw
