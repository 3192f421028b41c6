// The batch's lane kernels run directly against the plain reference: every
// query length the kernel takes, candidate lengths across its 16-byte
// windows, and texts that end right before a page that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "edit/nibble_lanes.hpp"
#include "edit/width_lists.hpp"
#include "guarded_texts.hpp"
#include "reference.hpp"
#include "texts.hpp"

namespace {

using namespace quillstone::detail;
using quillstone::EditMetric;
using quillstone::TextView;
using quillstone::testing::GuardedTexts;
using quillstone::testing::Chars;

// The query's masks, a table of 256; with `fold` a letter also marks its
// other case, as a folding batch's table does.
std::vector<std::uint64_t> masks_of(const std::string& query, bool fold) {
  std::vector<std::uint64_t> masks(256);
  for (std::size_t i = 0; i < query.size(); ++i) {
    const auto c = static_cast<unsigned char>(query[i]);
    masks[c] |= std::uint64_t{1} << i;
    if (fold && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) masks[c ^ 0x20] |= std::uint64_t{1} << i;
  }
  return masks;
}

TEST(BatchLanes, NibbleTablesHoldOnlyProducts) {
  NibbleMasks letters;
  EXPECT_TRUE(letters.build(masks_of("kittenKITTEN0\xff\x80\x7f", false).data()));
  EXPECT_TRUE(letters.build(masks_of("Straße", true).data()));
  // 0x12 and 0x34 at one position: the nibbles would also let 0x14 and 0x32 match.
  std::vector<std::uint64_t> masks = masks_of("ab", false);
  masks[0x12] |= 1;
  masks[0x34] |= 1;
  NibbleMasks mixed;
  EXPECT_FALSE(mixed.build(masks.data()));
}

#if defined(QUILLSTONE_WAVEFRONT)
// The masks of a query's characters, as the batch's character map gives them.
struct QueryLookup {
  const Chars& query;
  std::uint64_t lookup(char32_t c) const {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < query.size(); ++i) mask |= std::uint64_t{query[i] == c} << i;
    return mask;
  }
};

// Runs the nibble lanes of `bytes`-byte vectors over candidates of `Unit`
// against random queries and checks each result against the reference;
// returns the number checked. Two-byte candidates take the units up to
// U+00FF (some of them the bytes lent to the query's wider characters),
// characters above, some with the sign bit of a 16-bit unit, and queries
// with U+00FF or too many wider characters, which the lanes must refuse.
template <class Unit>
std::size_t check_nibble_lanes(std::size_t bytes) {
  std::mt19937_64 rng(41 + bytes + sizeof(Unit));
  const std::vector<Chars> alphabets =
      sizeof(Unit) == 1 ? std::vector<Chars>{U"ab", U"acgt", U"abcdefghijklmnopqrstuvwxyz", U"aAbBcC",
                                             Chars(U"\0\xff\x7f\x80\x01", 5)}
                        : std::vector<Chars>{U"ab\u0159", U"\u0436\u0438\u0437a\u00e9",
                                             Chars(U"\0\x01\x02" U"a\u0159\uac00\uffff", 7),
                                             U"a\u0101\u0102\u0103\u0104\u0105", U"ab\u00ff\u0100",
                                             U"\u00e9\u00fe\u00ff\u0159"};
  std::size_t checked = 0;
  for (int round = 0; round < 120; ++round) {
    const Chars& alphabet = alphabets[round % alphabets.size()];
    const bool fold = sizeof(Unit) == 1 && alphabet == U"aAbBcC" && round % 2 == 0;
    const auto draw = [&](std::size_t n) {
      Chars s;
      for (std::size_t i = 0; i < n; ++i) s.push_back(alphabet[rng() % alphabet.size()]);
      return s;
    };
    const std::size_t m = 1 + round % 16;
    const Chars query = draw(m);
    std::string query_bytes;
    for (const char32_t c : query) query_bytes.push_back(static_cast<char>(c < 0x100 ? c : 0));
    std::vector<std::uint64_t> byte_masks = masks_of(query_bytes, fold);
    for (std::size_t i = 0; i < m; ++i) {
      if (query[i] >= 0x100) byte_masks[0] &= ~(std::uint64_t{1} << i);
    }
    NibbleMasks masks;
    UnitNarrowing narrowing;
    if constexpr (sizeof(Unit) == 1) {
      if (!masks.build(byte_masks.data())) ADD_FAILURE() << "tables refused a single-byte query";
    } else {
      const Chars lent(query.begin(), query.end());
      std::size_t wide = 0;
      for (std::size_t i = 0; i < m; ++i) wide += query[i] >= 0x100 && lent.find(query[i]) == i;
      const bool held = narrowed_nibble_masks(TextView(query.data(), m), byte_masks.data(), QueryLookup{query},
                                              narrowing, masks);
      EXPECT_EQ(held, byte_masks[0xff] == 0 && wide <= UnitNarrowing::kMaxLent);
      if (!held) continue;
    }
    // Lengths on both sides of each window, the longest the lanes take, and
    // groups left partly filled (a vector holds up to 64).
    std::vector<std::basic_string<Unit>> texts;
    std::vector<Chars> chars;
    const auto add = [&](std::size_t n) {
      chars.push_back(draw(n));
      texts.emplace_back(chars.back().begin(), chars.back().end());
    };
    for (const std::size_t n : {1, 2, 7, 15, 16, 17, 31, 32, 33, 100, 255}) {
      for (std::size_t copies = rng() % 140; copies > 0; --copies) add(n);
    }
    for (std::size_t extra = rng() % 60; extra > 0; --extra) add(1 + rng() % 40);
    std::vector<std::size_t> order(texts.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<std::basic_string<Unit>> shuffled;
    std::vector<Chars> shuffled_chars;
    for (const std::size_t i : order) {
      shuffled.push_back(texts[i]);
      shuffled_chars.push_back(chars[i]);
    }
    texts.swap(shuffled);
    chars.swap(shuffled_chars);
    add(1 + rng() % 15);  // ends right before the unreadable page
    const GuardedTexts<Unit> guarded(texts);
    std::vector<std::size_t> which(texts.size()), out(texts.size(), 999);
    for (std::size_t i = 0; i < which.size(); ++i) which[i] = i;
    for (const bool osa : {false, true}) {
      const auto run = [&]<EditMetric Metric>() {
        const auto go = [&](const auto& read) {
          if (bytes == kWideVectorBytes) {
            nibble_path_of_width<Metric, kWideVectorBytes>(masks, read, m, guarded.views(), which.data(),
                                                           which.size(), out.data());
          } else {
            nibble_path_of_width<Metric, kVectorBytes>(masks, read, m, guarded.views(), which.data(), which.size(),
                                                       out.data());
          }
        };
        if constexpr (sizeof(Unit) == 1) {
          go(ByteWindows{});
        } else {
          go(UnitWindows{&narrowing});
        }
      };
      if (osa) {
        run.template operator()<EditMetric::OptimalAlignment>();
      } else {
        run.template operator()<EditMetric::Levenshtein>();
      }
      const auto folded = [&](Chars s) {
        if (fold) {
          for (char32_t& c : s) c = static_cast<char32_t>(std::tolower(static_cast<int>(c)));
        }
        return s;
      };
      for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(out[i], quillstone::testing::reference_distance(folded(query), folded(chars[i]), osa))
            << (osa ? "OSA " : "Levenshtein ") << "round " << round << " text " << i;
        ++checked;
      }
    }
  }
  return checked;
}
#endif

// Each width of vector the nibble lanes come in, on the target that runs it,
// and each width of candidate unit they read.
class NibbleLanes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(NibbleLanes, AgreeWithTheReference) {
#if defined(QUILLSTONE_WAVEFRONT)
  const std::size_t bytes = GetParam();
  if (!runs(bytes == kWideVectorBytes ? VectorTarget::kAvx512 : VectorTarget::kAvx2)) {
    GTEST_SKIP() << "this processor lacks the target of " << bytes << "-byte nibble lanes: they were not run";
  }
  EXPECT_GT(check_nibble_lanes<unsigned char>(bytes), 50000u);
  EXPECT_GT(check_nibble_lanes<char16_t>(bytes), 30000u);
#else
  GTEST_SKIP() << "no vector kernels on this target";
#endif
}

#if defined(QUILLSTONE_WAVEFRONT)
INSTANTIATE_TEST_SUITE_P(BatchLanes, NibbleLanes, ::testing::Values(kVectorBytes, kWideVectorBytes));
#else
INSTANTIATE_TEST_SUITE_P(BatchLanes, NibbleLanes, ::testing::Values(std::size_t{0}));
#endif

// Candidates put in order of length: a stable order of `which` by length,
// and each length's end, whether `which` comes in order already (the lists of
// one length or sorted lists, up to lengths no lane takes) or not.
TEST(BatchLanes, CandidatesInOrderOfLength) {
  std::mt19937_64 rng(17);
  const unsigned char bytes[400] = {};
  for (int round = 0; round < 600; ++round) {
    const std::size_t count = rng() % 300;
    const std::size_t most = round % 3 == 0 ? 8 : 250 + rng() % 20;
    std::vector<TextView> views;
    for (std::size_t i = 0; i < count + 5; ++i) views.emplace_back(bytes, 1 + rng() % most);
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < views.size(); ++i) {
      if (rng() % 4 != 0) which.push_back(i);
    }
    const auto by_length = [&](std::size_t a, std::size_t b) { return views[a].size() < views[b].size(); };
    if (round % 2 == 0) std::stable_sort(which.begin(), which.end(), by_length);
    std::vector<std::size_t> expected = which;
    std::stable_sort(expected.begin(), expected.end(), by_length);

    std::vector<std::size_t> sorted, ends;
    const std::size_t* got = in_order_of_length(views, which.data(), which.size(), sorted, ends);
    ASSERT_EQ(std::vector<std::size_t>(got, got + which.size()), expected) << "round " << round;
    std::size_t longest = 0;
    for (const std::size_t i : which) longest = std::max(longest, views[i].size());
    ASSERT_EQ(ends.size(), longest + 2);
    for (std::size_t n = 0; n <= longest; ++n) {
      const auto past = std::upper_bound(expected.begin(), expected.end(), n,
                                         [&](std::size_t length, std::size_t i) { return length < views[i].size(); });
      ASSERT_EQ(ends[n], static_cast<std::size_t>(past - expected.begin())) << "round " << round << " length " << n;
    }
    ASSERT_EQ(ends[longest + 1], which.size());
  }
}

// Candidates sorted into lists by width, in order, against a plain reading
// of each view: every width, sizes at both ends of the lanes' reach, and
// counts on either side of the vector form's steps of eight.
TEST(BatchLanes, CandidatesSortedByWidth) {
  std::mt19937_64 rng(23);
  const char32_t units[300] = {};
  const std::size_t sizes[] = {0, 1, 2, kQueryLaneMaxChars - 1, kQueryLaneMaxChars, kQueryLaneMaxChars + 1, 299};
  for (int round = 0; round < 400; ++round) {
    std::vector<TextView> views;
    const std::size_t count = round < 40 ? static_cast<std::size_t>(round) : rng() % 200;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t size = rng() % 3 == 0 ? sizes[rng() % std::size(sizes)] : 1 + rng() % 40;
      views.emplace_back(units, size, 1u << (rng() % 3));
    }
    std::vector<std::size_t> expected[4];
    for (std::size_t i = 0; i < count; ++i) {
      const bool fits = views[i].size() >= 1 && views[i].size() <= kQueryLaneMaxChars;
      expected[fits ? std::countr_zero(views[i].width()) : 3].push_back(i);
    }
    const auto sorted = [&](auto sort) {
      std::vector<std::size_t> room(4 * count);
      WidthLists lists;
      for (std::size_t k = 0; k < 4; ++k) lists.lists[k] = room.data() + k * count;
      sort(lists);
      for (std::size_t k = 0; k < 4; ++k) {
        ASSERT_EQ(std::vector<std::size_t>(lists.lists[k], lists.lists[k] + lists.count[k]), expected[k])
            << "round " << round << " list " << k;
      }
    };
    sorted([&](WidthLists& lists) { sort_by_width(views, lists); });
    sorted([&](WidthLists& lists) { sort_by_width_portable(views, 0, lists); });
  }
}

}  // namespace
