// The candidates of an exact list, their short texts copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "binding.hpp"
#include "pyref.hpp"
#include "result_list.hpp"

namespace quillstone::python {

// The texts of an exact list's items, copied at one moment under the list's
// lock, which runs no Python code, so that what another thread does to the
// list afterwards changes nothing here:
// - the code units of a short text are copied, and its item is not touched
//   again;
// - a longer text's item is held by a reference, in its own slot of the
//   result list, and read in place when its chunk is.
// Each item is checked as it is taken: the first that cannot be (not a str,
// or one that holds a lone surrogate) raises.
class CopiedTexts {
 public:
  // Texts of at most this many bytes of units are copied. Past it the copy
  // would cost more than the reference, and the memory added would grow
  // with the texts rather than with their number.
  static constexpr std::size_t kCopiedBytes = 64;

  // Takes the items of `list` in, with `results` made one slot per item.
  // False with the exception set.
  template <class TooLarge>
  bool take(PyObject* list, Py_ssize_t most, ResultList& results, TooLarge too_large) {
    for (;;) {
      const Py_ssize_t size = PyList_GET_SIZE(list);
      if (size > most) return too_large();
      // Making the list may run a collection, and with it any Python code:
      // the size is looked at again under the lock.
      if (!results.create(static_cast<std::size_t>(size))) return false;
      heads_.resize((static_cast<std::size_t>(size) + kBlockHeads - 1) / kBlockHeads);
      for (auto& block : heads_) block = new_block<Head>();
      Py_ssize_t failed = -1;
      bool same = false;
      OwnedRef refused;
      Py_BEGIN_CRITICAL_SECTION(list);
      if (PyList_GET_SIZE(list) == size) {
        same = true;
        failed = copy_items(PySequence_Fast_ITEMS(list), static_cast<std::size_t>(size), results.slots().data());
        if (failed >= 0) refused = OwnedRef::borrowed(PySequence_Fast_ITEMS(list)[failed]);
      }
      Py_END_CRITICAL_SECTION();
      if (same && !refused) return true;
      release();
      results.release();
      if (!same) continue;
      // The item's own error, raised as reading it alone raises it.
      TextView text;
      if (!to_text(refused.get(), text)) return false;
    }
  }

  // The views of the items from `from` up to `end`; `slots` are the result
  // list's.
  void views(std::size_t from, std::size_t end, PyObject* const* slots, TextView* out) const noexcept {
    for (std::size_t i = from; i < end; ++i) {
      const Head head = heads_[i / kBlockHeads][i % kBlockHeads];
      if (head.units == kHeld) [[unlikely]] {
        str_units(slots[i], out[i - from]);  // checked when taken
        continue;
      }
      const std::uint32_t* units = words_[head.at / kBlockWords].get() + head.at % kBlockWords;
      out[i - from] = TextView(units, head.units >> 2, 1u << (head.units & 3));
    }
  }

  void release() noexcept {
    heads_.clear();
    words_.clear();
  }

 private:
  // Where an item's units are (their first word's number, counting through
  // the blocks) and their count and the logarithm of their width, or that
  // the item is held.
  struct Head {
    std::uint32_t at, units;
  };
  // Blocks come from the interpreter's allocator, taken and given back
  // attached. It keeps freed blocks for the next call, where the C
  // library's gave them back to the system and every page of them was
  // faulted in again on each call.
  struct MemFree {
    void operator()(void* block) const noexcept { PyMem_Free(block); }
  };
  template <class T>
  using Block = std::unique_ptr<T[], MemFree>;
  // Heads and units are kept in blocks of one size, each allocated when
  // the last one fills: no buffer the size of the list is grown and copied.
  static constexpr std::size_t kBlockBytes = 65536;
  static constexpr std::size_t kBlockWords = kBlockBytes / sizeof(std::uint32_t);
  static constexpr std::size_t kBlockHeads = kBlockBytes / sizeof(Head);
  static constexpr std::uint32_t kHeld = ~std::uint32_t{0};
  static constexpr std::size_t kPrefetchAhead = 8;

  template <class T>
  static Block<T> new_block() {
    void* block = PyMem_Malloc(kBlockBytes);
    if (block == nullptr) throw std::bad_alloc();
    return Block<T>(static_cast<T*>(block));
  }
  static constexpr std::size_t words_for(std::size_t bytes) noexcept { return (bytes + 3) / 4; }

  // Where the next text's units go: a text never spans two blocks. Its
  // number fits a head: the most candidates, at most 16 words each.
  static_assert(std::uint64_t{QUILLSTONE_MAX_CANDIDATES} * (kCopiedBytes / 4 + 1) < (std::uint64_t{1} << 32));
  struct Cursor {
    std::size_t block = 0, word = 0;
    std::uint32_t number() const noexcept { return static_cast<std::uint32_t>(block * kBlockWords + word); }
  };

  // Copies or holds items[0] to items[size - 1]; the index of the first that
  // cannot be taken, or -1. No Python code runs here.
  Py_ssize_t copy_items(PyObject* const* items, std::size_t size, PyObject** slots) {
    words_.push_back(new_block<std::uint32_t>());
    Cursor at;
    for (std::size_t i = 0; i < size; ++i) {
      // Items lie anywhere in memory: asking for those a few places ahead
      // keeps several misses in flight while this one is read.
      if (i + kPrefetchAhead < size) {
        const char* ahead = reinterpret_cast<const char*>(items[i + kPrefetchAhead]);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 64);
      }
      PyObject* item = items[i];
      TextView text;
      if (!str_units(item, text)) [[unlikely]] return static_cast<Py_ssize_t>(i);
      Head& head = heads_[i / kBlockHeads][i % kBlockHeads];
      const std::size_t bytes = text.size() * text.width();
      if (bytes > kCopiedBytes) {
        Py_IncRef(item);
        slots[i] = item;
        head.units = kHeld;
        continue;
      }
      const std::size_t words = words_for(bytes);
      if (at.word + words > kBlockWords) [[unlikely]] {
        words_.push_back(new_block<std::uint32_t>());
        at = {words_.size() - 1, 0};
      }
      const unsigned log_width = text.width() == 1 ? 0 : text.width() == 2 ? 1 : 2;
      // An empty text points at the first block: its place may be past the
      // last one.
      head = {bytes == 0 ? 0 : at.number(), static_cast<std::uint32_t>(text.size() << 2 | log_width)};
      std::memcpy(words_[at.block].get() + at.word, text.data(), bytes);
      at.word += words;
    }
    return -1;
  }

  std::vector<Block<Head>> heads_;
  std::vector<Block<std::uint32_t>> words_;
};

}  // namespace quillstone::python
