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

// The candidates of a batch call as text views, kept valid while the thread
// is detached. Three intakes give the same views and the same errors in the
// same order:
// - an exact tuple is immutable: one reference to it keeps every item alive;
// - an exact list of ASCII strs is read under its lock, and the items' bytes
//   are copied into one buffer owned by the call, so the items' reference
//   counts are not touched (on a free-threaded interpreter those are shared
//   with every other thread that reads the same list); any other exact list
//   through a private copy. Either way the views are of the list as it was at
//   one moment;
// - any other sequence is read by iteration into backed texts.
class CandidateTexts {
 public:
  // False with the exception set (the caller adds the parameter note).
  bool extract(PyObject* candidates) {
    if (PyTuple_CheckExact(candidates)) {
      if (PyTuple_GET_SIZE(candidates) > kMaxCandidates) return raise_capacity_overflow();
      snapshot_ = OwnedRef::borrowed(candidates);
      return view_items(PySequence_Fast_ITEMS(candidates), PyTuple_GET_SIZE(candidates));
    }
    if (PyList_CheckExact(candidates)) return copy_list(candidates);
    if (!extract_candidates(candidates, held_, append_backed_text)) return false;
    views_.reserve(held_.size());
    for (const PyBackedStr& text : held_) views_.push_back(text.view());
    return true;
  }

  std::span<const std::string_view> views() const noexcept { return views_; }

  // Gives the references back; only ever called attached.
  void release() noexcept {
    views_.clear();
    held_.clear();
    snapshot_.reset();
    bytes_.clear();
  }

 private:
  bool view_items(PyObject* const* items, Py_ssize_t size) {
    views_.resize(static_cast<std::size_t>(size));  // items is null when size is 0
    for (Py_ssize_t i = 0; i < size; ++i) {
      if (!to_text(items[i], views_[static_cast<std::size_t>(i)])) return false;
    }
    return true;
  }

  // A list of ASCII strs, the common case, is copied under the list's lock by
  // code that cannot block: blocking (on another lock, or for a collection
  // that stops the world) would suspend the list's lock and let another thread
  // change the list under this loop. Any other list is read from a private
  // copy instead, which holds a reference to every item.
  bool copy_list(PyObject* list) {
    bool too_many = false, ascii = true;
    Py_BEGIN_CRITICAL_SECTION(list);
    const Py_ssize_t size = PyList_GET_SIZE(list);
    PyObject* const* items = PySequence_Fast_ITEMS(list);
    std::size_t total = 0;
    too_many = size > kMaxCandidates;
    for (Py_ssize_t i = 0; i < size && !too_many; ++i) {
      if (!PyUnicode_Check(items[i]) || !PyUnicode_IS_COMPACT_ASCII(items[i])) {
        ascii = false;
        break;
      }
      total += static_cast<std::size_t>(PyUnicode_GET_LENGTH(items[i]));
    }
    if (ascii && !too_many) {
      bytes_.resize(total);
      views_.resize(static_cast<std::size_t>(size));
      char* at = bytes_.data();
      for (Py_ssize_t i = 0; i < size; ++i) {
        const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(items[i]));
        std::memcpy(at, PyUnicode_DATA(items[i]), length);
        views_[static_cast<std::size_t>(i)] = std::string_view(at, length);
        at += length;
      }
    }
    Py_END_CRITICAL_SECTION();
    if (too_many) return raise_capacity_overflow();
    if (ascii) return true;
    snapshot_ = OwnedRef(PyList_GetSlice(list, 0, PY_SSIZE_T_MAX));
    if (!snapshot_) return false;
    return view_items(PySequence_Fast_ITEMS(snapshot_.get()), PyList_GET_SIZE(snapshot_.get()));
  }

  OwnedRef snapshot_;  // an exact tuple, or a private copy of a list
  std::vector<PyBackedStr> held_;
  std::string bytes_;
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
  static bool convert(PyObject* obj, CandidateTexts& out) { return out.extract(obj); }
};

}  // namespace quillstone::python
