// The batch's lane kernels run directly against the plain reference: every
// query length the kernel takes, candidate lengths across its 16-byte
// windows, and texts that end right before a page that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "edit/nibble_lanes.hpp"
#include "reference.hpp"
#include "texts.hpp"

namespace {

using namespace quillstone::detail;
using quillstone::EditMetric;
using quillstone::TextView;
using quillstone::testing::Chars;

Chars chars_of(const std::string& bytes) {
  Chars out;
  for (const unsigned char c : bytes) out.push_back(c);
  return out;
}

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

// Texts laid end to end in memory whose last page cannot be read, the last
// text ending right before it; elsewhere, in ordinary memory.
class GuardedTexts {
 public:
  explicit GuardedTexts(const std::vector<std::string>& texts) {
    std::size_t total = 0;
    for (const std::string& t : texts) total += t.size();
#if defined(__linux__)
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    bytes_ = (total + page - 1) / page * page + page;
    void* block = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(block, MAP_FAILED);
    base_ = static_cast<unsigned char*>(block);
    EXPECT_EQ(mprotect(base_ + bytes_ - page, page, PROT_NONE), 0);
    unsigned char* at = base_ + bytes_ - page - total;
#else
    owned_.resize(total);
    unsigned char* at = owned_.data();
#endif
    for (const std::string& t : texts) {
      std::memcpy(at, t.data(), t.size());
      views_.emplace_back(at, t.size());
      at += t.size();
    }
  }
  ~GuardedTexts() {
#if defined(__linux__)
    munmap(base_, bytes_);
#endif
  }
  std::span<const TextView> views() const { return views_; }

 private:
  unsigned char* base_ = nullptr;
  std::size_t bytes_ = 0;
  std::vector<unsigned char> owned_;
  std::vector<TextView> views_;
};

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

// Each width of vector the nibble lanes come in, on the target that runs it.
class NibbleLanes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(NibbleLanes, AgreeWithTheReference) {
#if defined(QUILLSTONE_WAVEFRONT)
  const std::size_t bytes = GetParam();
  if (!runs(bytes == kWideVectorBytes ? VectorTarget::kAvx512 : VectorTarget::kAvx2)) {
    GTEST_SKIP() << "this processor lacks the target of " << bytes << "-byte nibble lanes: they were not run";
  }
  std::mt19937_64 rng(41 + bytes);
  const std::string alphabets[] = {"ab", "acgt", "abcdefghijklmnopqrstuvwxyz", "aAbBcC",
                                   std::string("\x00\xff\x7f\x80\x01", 5)};
  std::size_t checked = 0;
  for (int round = 0; round < 120; ++round) {
    const std::string& alphabet = alphabets[round % std::size(alphabets)];
    const bool fold = alphabet == "aAbBcC" && round % 2 == 0;
    const auto draw = [&](std::size_t n) {
      std::string s;
      for (std::size_t i = 0; i < n; ++i) s.push_back(alphabet[rng() % alphabet.size()]);
      return s;
    };
    const std::size_t m = 1 + round % 16;
    const std::string query = draw(m);
    NibbleMasks masks;
    ASSERT_TRUE(masks.build(masks_of(query, fold).data()));
    // Lengths on both sides of each window, the longest the lanes take, and
    // groups left partly filled (a vector holds up to 64).
    std::vector<std::string> texts;
    for (const std::size_t n : {1, 2, 7, 15, 16, 17, 31, 32, 33, 100, 255}) {
      for (std::size_t copies = rng() % 140; copies > 0; --copies) texts.push_back(draw(n));
    }
    for (std::size_t extra = rng() % 60; extra > 0; --extra) texts.push_back(draw(1 + rng() % 40));
    std::shuffle(texts.begin(), texts.end(), rng);
    texts.push_back(draw(1 + rng() % 15));  // ends right before the unreadable page
    const GuardedTexts guarded(texts);
    std::vector<std::size_t> which(texts.size()), out(texts.size(), 999);
    for (std::size_t i = 0; i < which.size(); ++i) which[i] = i;
    for (const bool osa : {false, true}) {
      const auto run = [&]<EditMetric Metric>() {
        if (bytes == kWideVectorBytes) {
          nibble_path_of_width<Metric, kWideVectorBytes>(masks, m, guarded.views(), which.data(), which.size(),
                                                         out.data());
        } else {
          nibble_path_of_width<Metric, kVectorBytes>(masks, m, guarded.views(), which.data(), which.size(),
                                                     out.data());
        }
      };
      if (osa) {
        run.template operator()<EditMetric::OptimalAlignment>();
      } else {
        run.template operator()<EditMetric::Levenshtein>();
      }
      const auto folded = [&](std::string s) {
        if (fold) {
          for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return chars_of(s);
      };
      for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(out[i], quillstone::testing::reference_distance(folded(query), folded(texts[i]), osa))
            << (osa ? "OSA " : "Levenshtein ") << query << " | " << texts[i];
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 50000u);
#else
  GTEST_SKIP() << "no vector kernels on this target";
#endif
}

#if defined(QUILLSTONE_WAVEFRONT)
INSTANTIATE_TEST_SUITE_P(BatchLanes, NibbleLanes, ::testing::Values(kVectorBytes, kWideVectorBytes));
#else
INSTANTIATE_TEST_SUITE_P(BatchLanes, NibbleLanes, ::testing::Values(std::size_t{0}));
#endif

}  // namespace
