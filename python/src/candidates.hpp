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

// The UTF-8 size of a str's code points, or kNoUtf8 when it holds a lone
// surrogate, which has no UTF-8 form.
inline constexpr std::size_t kNoUtf8 = ~std::size_t{0};

template <class Unit>
std::size_t utf8_size(const Unit* units, std::size_t length) noexcept {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xE000) return kNoUtf8;
    bytes += 1 + (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
  }
  return bytes;
}

// Writes the UTF-8 form of code points that have one.
template <class Unit>
void write_utf8(const Unit* units, std::size_t length, char* p) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint32_t c = units[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

// Calls `f` with the code units of a str that is not ASCII.
template <class F>
auto with_units(PyObject* str, F f) noexcept {
  const void* data = PyUnicode_DATA(str);
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return f(static_cast<const Py_UCS1*>(data));
    case PyUnicode_2BYTE_KIND: return f(static_cast<const Py_UCS2*>(data));
    default: return f(static_cast<const Py_UCS4*>(data));
  }
}

// The candidates of a batch call, taken at one moment and read chunk by chunk
// as text views that stay valid while the thread is detached:
// - an exact list is copied into a tuple by the interpreter, in one pass
//   under the list's lock that runs no Python code (so that with a GIL no
//   other thread runs during it either): what another thread does to the
//   list afterwards changes nothing here. The copy costs a pointer and a
//   reference per candidate;
// - an exact tuple is immutable: one reference to it keeps every item alive;
// - any other sequence is read by iteration into backed texts first, whole,
//   since reading it runs Python code.
// The items of a list or tuple that are ASCII are viewed in place; the others
// are copied, as UTF-8, a chunk at a time into one buffer of bounded size
// owned by the call, so that the extra memory per candidate does not grow
// with the texts and no str gains a cached UTF-8 form as long as its text.
// A candidate that cannot be taken (not a str, or not encodable) raises when
// its chunk is read.
class CandidateTexts {
 public:
  // Candidates per chunk; a chunk also ends before its copied texts pass
  // kChunkBytes.
  static constexpr std::size_t kChunkItems = QUILLSTONE_CHUNK_ITEMS;
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  static constexpr std::size_t kPrefetchAhead = 8;

  enum class Next { kChunk, kEnd, kError };

  // Checks the object and takes its items in. False with the exception set
  // (the caller adds the parameter note).
  bool open(PyObject* candidates) {
    if (PyTuple_CheckExact(candidates)) {
      tuple_ = OwnedRef::borrowed(candidates);
    } else if (PyList_CheckExact(candidates)) {
      if (PyList_GET_SIZE(candidates) > kMaxCandidates) return raise_capacity_overflow();
      tuple_ = OwnedRef(PyList_AsTuple(candidates));  // MemoryError, if it fails
      if (!tuple_) return false;
    } else {
      if (!extract_candidates(candidates, held_, append_backed_text)) return false;
      size_ = held_.size();
      return opened_ = true;
    }
    const Py_ssize_t size = PyTuple_GET_SIZE(tuple_.get());
    if (size > kMaxCandidates) return raise_capacity_overflow();
    items_ = {PySequence_Fast_ITEMS(tuple_.get()), static_cast<std::size_t>(size)};
    size_ = items_.size();
    return opened_ = true;
  }

  // Whether open() succeeded.
  bool opened() const noexcept { return opened_; }

  // The number of candidates; the chunks hold exactly this many texts.
  std::size_t size() const noexcept { return size_; }

  // Reads the next chunk into chunk(); kError with the exception set.
  Next next() {
    views_.clear();
    if (position_ >= size_) return Next::kEnd;
    const std::size_t end = std::min(size_, position_ + kChunkItems);
    if (!items_.empty()) return read_items(end) ? Next::kChunk : Next::kError;
    for (; position_ < end; ++position_) views_.push_back(held_[position_].view());
    return Next::kChunk;
  }

  std::span<const std::string_view> chunk() const noexcept { return views_; }

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
    views_.clear();
    items_ = {};
    held_.clear();
    tuple_.reset();
  }

 private:
  // Reads the items from position_ on, up to `end` or until the buffer is
  // full: an ASCII str is its own UTF-8 form; any other is encoded into the
  // buffer, and one that has no UTF-8 form, is not a str, or does not fit
  // the buffer on its own goes to the interpreter, which raises or gives the
  // str a UTF-8 form of its own.
  bool read_items(std::size_t end) {
    texts_.clear();
    std::size_t used = 0;
    for (; position_ < end; ++position_) {
      // Items lie anywhere in memory: asking for those a few places ahead
      // keeps several misses in flight while this one is read.
      if (position_ + kPrefetchAhead < end) {
        const char* ahead = reinterpret_cast<const char*>(items_[position_ + kPrefetchAhead]);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 64);
      }
      PyObject* item = items_[position_];
      const bool str = PyUnicode_Check(item);
      const auto length = str ? static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)) : 0;
      if (str && PyUnicode_IS_ASCII(item)) {
        texts_.push_back({static_cast<const char*>(PyUnicode_DATA(item)), 0, length});
        continue;
      }
      const std::size_t size = !str ? kNoUtf8 : with_units(item, [&](const auto* units) {
        return utf8_size(units, length);
      });
      if (size == kNoUtf8 || size > kChunkBytes) {
        std::string_view view;
        if (!to_text(item, view)) return false;
        texts_.push_back({view.data(), 0, view.size()});
        continue;
      }
      if (used + size > kChunkBytes) break;
      if (bytes_.size() < used + size) {
        bytes_.resize(std::min(kChunkBytes, std::max(used + size, 2 * bytes_.size())));
      }
      with_units(item, [&](const auto* units) { write_utf8(units, length, bytes_.data() + used); });
      texts_.push_back({nullptr, used, size});
      used += size;
    }
    for (const Text& text : texts_) {
      views_.emplace_back(text.direct != nullptr ? text.direct : bytes_.data() + text.at, text.size);
    }
    return true;
  }

  // A text of the chunk: in place, or a place in the buffer, which may move
  // while the chunk is read.
  struct Text {
    const char* direct;
    std::size_t at, size;
  };

  OwnedRef tuple_;                  // an exact tuple, or a list's copy: items_
  std::span<PyObject* const> items_;
  std::vector<PyBackedStr> held_;   // the items of any other sequence
  std::size_t size_ = 0, position_ = 0;
  bool opened_ = false;
  std::vector<char> bytes_;  // the encoded texts of a chunk
  std::vector<Text> texts_;
  std::vector<std::string_view> views_;
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
