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

// More candidates than the target's 32-bit address space can hold as 12-byte
// (start, length, owner) records in one allocation of at most 2^31 - 1 bytes.
inline constexpr Py_ssize_t kMaxCandidates = 178956970;

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

// The candidates of a batch call, read chunk by chunk as text views that stay
// valid while the thread is detached, so that the extra memory per candidate
// does not grow with the candidates' length:
// - an exact list is read under its lock, a chunk at a time: the chunk's
//   texts are copied, as UTF-8, into one buffer of bounded size owned by the
//   call, so the items' reference counts are not touched (on a free-threaded
//   interpreter those are shared with every other thread that reads the same
//   list). Each chunk is the list as it was at one moment; positions that
//   the list no longer has when their chunk is read end the candidates;
// - an exact tuple is immutable: one reference to it keeps every item alive.
//   Its ASCII texts are viewed in place; the others are copied as for a
//   list, so that no str gains a cached UTF-8 form as long as its text;
// - any other sequence is read by iteration into backed texts first, whole,
//   since reading it runs Python code.
// A candidate that cannot be taken (not a str, or not encodable) raises when
// its chunk is read.
class CandidateTexts {
 public:
  // Candidates per chunk; a list's chunk also ends before its texts pass
  // kChunkBytes, unless it is a single text.
  static constexpr std::size_t kChunkItems = 16384;
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  static constexpr std::size_t kPrefetchAhead = 8;

  enum class Next { kChunk, kEnd, kError };

  // Checks the object and, for a sequence other than an exact list or tuple,
  // takes every item in. False with the exception set (the caller adds the
  // parameter note).
  bool open(PyObject* candidates) {
    if (PyTuple_CheckExact(candidates) || PyList_CheckExact(candidates)) {
      const Py_ssize_t size = PyTuple_CheckExact(candidates) ? PyTuple_GET_SIZE(candidates)
                                                            : PyList_GET_SIZE(candidates);
      if (size > kMaxCandidates) return raise_capacity_overflow();
      source_ = OwnedRef::borrowed(candidates);
      size_ = static_cast<std::size_t>(size);
      return opened_ = true;
    }
    if (!extract_candidates(candidates, held_, append_backed_text)) return false;
    size_ = held_.size();
    return opened_ = true;
  }

  // Whether open() succeeded.
  bool opened() const noexcept { return opened_; }

  // The number of candidates when they were opened.
  std::size_t size() const noexcept { return size_; }

  // Reads the next chunk into chunk(); kError with the exception set.
  Next next() {
    big_.reset();
    views_.clear();
    if (position_ >= size_) return Next::kEnd;
    const std::size_t end = std::min(size_, position_ + kChunkItems);
    if (!source_) {
      for (; position_ < end; ++position_) views_.push_back(held_[position_].view());
    } else if (!copy_items(end)) {
      return Next::kError;
    }
    return views_.empty() ? Next::kEnd : Next::kChunk;
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
    held_.clear();
    big_.reset();
    source_.reset();
  }

 private:
  // Takes the items from position_ on, up to `end`: the texts of a list are
  // copied, as UTF-8, under the list's lock; those of a tuple only when they
  // are not ASCII, since the UTF-8 form of an ASCII str is its own data.
  // Nothing in the loop under the lock can block: blocking (on another lock,
  // or for a collection that stops the world) would suspend the list's lock
  // and let another thread change the list under the loop. An item that
  // needs the interpreter (one that is not a str, or has no UTF-8 form) is
  // held and dealt with afterwards, and so is a text that does not fit the
  // buffer on its own, which becomes a chunk of its own.
  bool copy_items(std::size_t end) {
    PyObject* source = source_.get();
    const bool list = PyList_CheckExact(source);
    texts_.clear();
    Py_BEGIN_CRITICAL_SECTION(source);
    end = std::min(end, static_cast<std::size_t>(Py_SIZE(source)));
    PyObject* const* items = PySequence_Fast_ITEMS(source);
    std::size_t used = 0;
    for (; position_ < end; ++position_) {
      // Items lie anywhere in memory: asking for those a few places ahead
      // keeps several misses in flight while this one is encoded.
      if (position_ + kPrefetchAhead < end) {
        const char* ahead = reinterpret_cast<const char*>(items[position_ + kPrefetchAhead]);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 64);
      }
      PyObject* item = items[position_];
      if (!PyUnicode_Check(item)) {
        big_ = OwnedRef::borrowed(item);
        break;
      }
      const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(item));
      const bool ascii = PyUnicode_IS_ASCII(item);
      if (ascii && !list) {
        texts_.push_back({static_cast<const char*>(PyUnicode_DATA(item)), 0, length});
        continue;
      }
      const std::size_t size = ascii ? length : with_units(item, [&](const auto* units) {
        return utf8_size(units, length);
      });
      if (size == kNoUtf8) {
        big_ = OwnedRef::borrowed(item);
        break;
      }
      if (used + size > kChunkBytes) {
        if (texts_.empty()) {
          big_ = OwnedRef::borrowed(item);
          ++position_;
        }
        break;
      }
      if (bytes_.size() < used + size) {
        bytes_.resize(std::min(kChunkBytes, std::max(used + size, 2 * bytes_.size())));
      }
      char* at = bytes_.data() + used;  // null while the buffer is empty
      if (ascii) {
        if (size != 0) std::memcpy(at, PyUnicode_DATA(item), length);
      } else {
        with_units(item, [&](const auto* units) { write_utf8(units, length, at); });
      }
      texts_.push_back({nullptr, used, size});
      used += size;
    }
    Py_END_CRITICAL_SECTION();
    for (const Text& text : texts_) {
      views_.emplace_back(text.direct != nullptr ? text.direct : bytes_.data() + text.at, text.size);
    }
    if (!big_) return true;
    // The interpreter's own view of the item, or its error (for an item that
    // is not a str, or has no UTF-8 form).
    std::string_view view;
    if (!to_text(big_.get(), view)) return false;
    views_.push_back(view);
    return true;
  }

  // A text of the chunk: a tuple's ASCII item in place, or a place in the
  // buffer, which may move while the chunk is read.
  struct Text {
    const char* direct;
    std::size_t at, size;
  };

  OwnedRef source_;  // an exact tuple or list
  std::vector<PyBackedStr> held_;  // the items of any other sequence
  OwnedRef big_;     // an item dealt with outside the list's lock
  std::size_t size_ = 0, position_ = 0;
  bool opened_ = false;
  std::vector<char> bytes_;  // the texts of a list's chunk
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
