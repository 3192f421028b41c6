// Texts laid end to end in memory whose last page cannot be read, for the
// suites that check that a scan reads nothing past a text's end.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "quillstone/quillstone.hpp"

namespace quillstone::testing {

// Texts of one unit width laid end to end in memory whose last page cannot
// be read, the last text ending right before it; elsewhere, in ordinary
// memory.
template <class Unit>
class GuardedTexts {
 public:
  explicit GuardedTexts(const std::vector<std::basic_string<Unit>>& texts) {
    std::size_t total = 0;
    for (const auto& t : texts) total += t.size() * sizeof(Unit);
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
    for (const auto& t : texts) {
      std::memcpy(at, t.data(), t.size() * sizeof(Unit));
      views_.emplace_back(at, t.size(), static_cast<unsigned>(sizeof(Unit)));
      at += t.size() * sizeof(Unit);
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

}  // namespace quillstone::testing
