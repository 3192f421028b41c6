// The candidate-sequence conversion shared by the batch functions and the
// ingest probes: a non-str sequence whose items, read by iteration, each
// become one holder.
#pragma once

#include <algorithm>
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
    discard_error();  // no length: start empty and grow
  } else {
    if (hint > kMaxCandidates) fault("capacity overflow");
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

}  // namespace quillstone::python
