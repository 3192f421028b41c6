// The candidate-sequence conversion shared by the batch functions and the
// ingest probes: a non-str sequence whose items, read by iteration, each
// become one holder.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <span>
#include <string_view>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "binding.hpp"
#include "errors.hpp"
#include "process_objects.hpp"
#include "pyref.hpp"
#include "result_list.hpp"

namespace quillstone::python {

// More candidates than the target's 32-bit address space can hold (the
// reason beside the value in python/CMakeLists.txt).
inline constexpr Py_ssize_t kMaxCandidates = QUILLSTONE_MAX_CANDIDATES;

// More candidates than that are an internal fault of the target.
inline bool raise_capacity_overflow() {
  raise_fault("capacity overflow");
  return false;
}

// len() of an arbitrary sequence is only a hint: it may claim far more items
// than it yields, so the holders are pre-sized from it only up to this many.
// Lists and tuples report their true size and are sized exactly.
inline constexpr std::size_t kMaxPresizeFromHint = std::size_t{1} << 18;

// Fills `out` with one holder per item of `candidates`, made by
// `convert(OwnedRef item, out)`, which appends or raises. Returns false with
// the exception set (the caller adds the parameter note).
template <class Holder, class Convert>
bool extract_candidates(PyObject* candidates, std::vector<Holder>& out, Convert convert) {
  if (PyUnicode_Check(candidates)) [[unlikely]] {
    raise_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(candidates)) [[unlikely]] {
    if (PyObject* sequence = sequence_type()) {
      raise_type_mismatch(candidates, reinterpret_cast<PyTypeObject*>(sequence));
    }
    return false;
  }

  const Py_ssize_t hint = PyObject_Size(candidates);
  if (hint < 0) {
    if (!discard_error()) return false;  // no length: start empty and grow
  } else {
    if (hint > kMaxCandidates) return raise_capacity_overflow();
    const auto size = static_cast<std::size_t>(hint);
    const bool exact = PyList_CheckExact(candidates) || PyTuple_CheckExact(candidates);
    out.reserve(exact ? size : std::min(size, kMaxPresizeFromHint));
  }

  OwnedRef iterator(PyObject_GetIter(candidates));
  if (!iterator) return false;
  for (;;) {
    PyObject* item = nullptr;
    const int status = PyIter_NextItem(iterator.get(), &item);
    if (status == 0) return true;
    if (status < 0) return false;
    if (!convert(OwnedRef(item), out)) return false;
  }
}

// The holder of the batch functions and the borrowing probes.
inline bool append_backed_text(OwnedRef item, std::vector<PyBackedStr>& out) {
  PyBackedStr text;
  if (!to_backed_text(std::move(item), text)) return false;
  out.push_back(std::move(text));
  return true;
}

// The holder of the owning probe: a copy of the item's UTF-8 form.
inline bool append_owned_copy(OwnedRef item, std::vector<std::string>& out) {
  if (!PyUnicode_Check(item.get())) {
    raise_type_mismatch(item.get(), &PyUnicode_Type);
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);
  if (utf8 == nullptr) return false;
  out.emplace_back(utf8, static_cast<std::size_t>(size));
  return true;  // the item's reference goes with `item`, right after the copy
}

// A candidate of a sequence that is neither a list nor a tuple: the item,
// whose reference keeps its code units in place, and their view.
struct HeldText {
  OwnedRef item;
  TextView text;
};

inline bool append_held_text(OwnedRef item, std::vector<HeldText>& out) {
  TextView text;
  if (!to_text(item.get(), text)) return false;
  out.push_back({std::move(item), text});
  return true;
}

// The candidates of a batch call, taken at one moment and read chunk by chunk
// as views of their code units, which stay valid while the thread is
// detached:
// - an exact list's items are copied at one moment into the slots of the
//   result list (result_list.hpp), which each score then takes over: what
//   another thread does to the list afterwards changes nothing here. The
//   copy costs a reference per candidate;
// - an exact tuple is immutable: one reference to it keeps every item alive;
// - any other sequence is read by iteration first, whole, since reading it
//   runs Python code, each item held by a reference.
// Every text is read in place: nothing is copied or encoded, and no str
// gains a cached form. A candidate that cannot be taken (not a str, or one
// holding a lone surrogate) raises when its chunk is read.
class CandidateTexts {
 public:
  // Candidates per chunk.
  static constexpr std::size_t kChunkItems = QUILLSTONE_CHUNK_ITEMS;
  static constexpr std::size_t kPrefetchAhead = 8;
  // Items read before their texts of wider units are checked: about 5 KiB
  // of names' objects, which the nearest cache still holds.
  static constexpr std::size_t kCheckBlock = 64;

  enum class Next { kChunk, kEnd, kError };

  // Checks the object and takes its items in. False with the exception set
  // (the caller adds the parameter note).
  bool open(PyObject* candidates) {
    if (PyList_CheckExact(candidates)) {
      if (!results_.take_items(candidates, kMaxCandidates, raise_capacity_overflow)) return false;
      items_ = results_.slots();
    } else if (PyTuple_CheckExact(candidates)) {
      if (PyTuple_GET_SIZE(candidates) > kMaxCandidates) return raise_capacity_overflow();
      tuple_ = OwnedRef::borrowed(candidates);
      items_ = {PySequence_Fast_ITEMS(candidates), static_cast<std::size_t>(PyTuple_GET_SIZE(candidates))};
      if (!results_.create(items_.size())) return false;
    } else {
      if (!extract_candidates(candidates, held_, append_held_text)) return false;
      if (!results_.create(held_.size())) return false;
    }
    size_ = items_.empty() ? held_.size() : items_.size();
    return opened_ = true;
  }

  // Whether open() succeeded.
  bool opened() const noexcept { return opened_; }

  // The number of candidates; the chunks hold exactly this many texts.
  std::size_t size() const noexcept { return size_; }

  // Reads the next chunk into chunk(); kError with the exception set.
  Next next() {
    chunk_size_ = 0;
    if (position_ >= size_) return Next::kEnd;
    // Made once, for the largest chunk: not cleared again chunk by chunk.
    if (views_.empty()) views_.resize(std::min(size_, kChunkItems));
    const std::size_t end = std::min(size_, position_ + kChunkItems);
    if (!items_.empty()) return read_items(end) ? Next::kChunk : Next::kError;
    for (; position_ < end; ++position_) views_[chunk_size_++] = held_[position_].text;
    return Next::kChunk;
  }

  std::span<const TextView> chunk() const noexcept { return {views_.data(), chunk_size_}; }

  // The result list, one slot per candidate.
  ResultList& results() noexcept { return results_; }

  // Reads every remaining candidate without keeping any; false with the
  // exception of the first that cannot be taken.
  bool check_rest() {
    for (;;) {
      const Next next = this->next();
      if (next != Next::kChunk) return next == Next::kEnd;
    }
  }

  // Gives the references back; only ever called attached.
  void release() noexcept {
    chunk_size_ = 0;
    items_ = {};
    held_.clear();
    tuple_.reset();
    results_.release();
  }

 private:
  // Views the items from position_ up to `end`, in locals: the members
  // would be stored and read back around every call. A text of wider units
  // is checked for lone surrogates where a branch on each item's width is
  // well predicted: at once, in a block of items that follows a block of
  // one width; otherwise in a pass of its own over the block's wider texts,
  // while the block is still in the nearest cache, since in lists of mixed
  // widths that branch would be mispredicted about every other time. The
  // first item that cannot be taken, in order, raises.
  bool read_items(std::size_t end) {
    const std::size_t from = position_;
    TextView* views = views_.data();
    PyObject* const* items = items_.data();
    bool check_now = false;
    for (std::size_t block = from; block < end; block += kCheckBlock) {
      const std::size_t block_end = std::min(end, block + kCheckBlock);
      std::uint16_t later[kCheckBlock];
      std::size_t i = block, wider = 0, deferred = 0;
      for (; i < block_end; ++i) {
        // Items lie anywhere in memory: asking for those a few places ahead
        // keeps several misses in flight while this one is read.
        if (i + kPrefetchAhead < end) {
          const char* ahead = reinterpret_cast<const char*>(items[i + kPrefetchAhead]);
          __builtin_prefetch(ahead);
          __builtin_prefetch(ahead + 64);
        }
        PyObject* const item = items[i];
        if (!PyUnicode_Check(item)) [[unlikely]] break;
        if (PyUnicode_IS_COMPACT_ASCII(item)) [[likely]] {
          views[i - from] = ascii_units_of(item);
          continue;
        }
        const TextView text = str_units_of(item);
        views[i - from] = text;
        wider += !text.narrow();
        if (check_now) {
          if (!text.narrow() && refuse_surrogate(item, text)) return stop_at(i);
        } else {
          later[deferred] = static_cast<std::uint16_t>(i - block);
          deferred += !text.narrow();
        }
      }
      for (std::size_t k = 0; k < deferred; ++k) {
        const std::size_t at = block + later[k];
        if (refuse_surrogate(items[at], views[at - from])) return stop_at(at);
      }
      if (i < block_end) {
        raise_type_mismatch(items[i], &PyUnicode_Type);
        return stop_at(i);
      }
      check_now = wider == 0 || wider == block_end - block;
    }
    chunk_size_ = end - from;
    position_ = end;
    return true;
  }

  // The chunk ends before the item at `i`, which raised.
  bool stop_at(std::size_t i) noexcept {
    chunk_size_ = i - position_;
    position_ = i;
    return false;
  }

  OwnedRef tuple_;                  // an exact tuple: items_
  ResultList results_;              // or an exact list's items, until scored
  std::span<PyObject* const> items_;
  std::vector<HeldText> held_;      // the items of any other sequence
  std::size_t size_ = 0, position_ = 0;
  bool opened_ = false;
  std::vector<TextView> views_;     // the current chunk's, the first chunk_size_
  std::size_t chunk_size_ = 0;
};

// The candidate kinds of the function descriptions.
template <class Holder, bool (*Append)(OwnedRef, std::vector<Holder>&)>
struct CandidateConversion {
  using Value = std::vector<Holder>;
  static bool convert(PyObject* obj, Value& out) { return extract_candidates(obj, out, Append); }
};

template <>
struct Conversion<Kind::owned_copies> : CandidateConversion<std::string, append_owned_copy> {};
template <>
struct Conversion<Kind::backed_texts> : CandidateConversion<PyBackedStr, append_backed_text> {};
template <>
struct Conversion<Kind::candidate_texts> {
  using Value = CandidateTexts;
  static bool convert(PyObject* obj, CandidateTexts& out) { return out.open(obj); }
};

}  // namespace quillstone::python
