// The ingest probes: each takes a candidate list in one way and returns a
// count, so the cost of each intake strategy can be measured on its own.
#include <cstdint>
#include <string>
#include <vector>

#include "candidates.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

namespace {

bool append_owned_copy(OwnedRef item, std::vector<std::string>& out) {
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

template <const FunctionDescription& Function, class Holder, class Convert>
bool ingest(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::vector<Holder>& out,
            Convert convert) {
  PyObject* slots[1] = {};
  if (!extract_arguments_fastcall(Function, args, nargs, kwnames, slots)) return false;
  if (!extract_candidates(slots[0], out, convert)) {
    argument_extraction_error(Function.parameters[0]);
    return false;
  }
  return true;
}

PyObject* make_count(std::uint64_t count) {
  return checked_result(PyLong_FromUnsignedLongLong(count));
}

}  // namespace

PyObject* ingest_owned(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<std::string> owned;
  if (!ingest<kIngestOwned>(args, nargs, kwnames, owned, append_owned_copy)) return nullptr;
  const auto count = static_cast<std::uint32_t>(owned.size());
  owned.clear();
  return make_count(count);
}

PyObject* ingest_borrow(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<PyBackedStr> held;
  if (!ingest<kIngestBorrow>(args, nargs, kwnames, held, append_backed_text)) return nullptr;
  const auto count = static_cast<std::uint32_t>(held.size());
  held.clear();
  return make_count(count);
}

PyObject* ingest_borrow_and_deref(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<PyBackedStr> held;
  if (!ingest<kIngestBorrowAndDeref>(args, nargs, kwnames, held, append_backed_text)) {
    return nullptr;
  }
  // 64 bits: one str may stand in the list many times, so the total can pass
  // 2^32 bytes even where every distinct string fits the address space.
  std::uint64_t total = 0;
  if (!held.empty()) {
    // The plain view array the batch core takes, exactly one entry per item.
    std::vector<TextView> views;
    views.reserve(held.size());
    for (const PyBackedStr& text : held) views.push_back(text.view());
    for (const TextView view : views) total += view.size();
  }
  held.clear();
  return make_count(total);
}

}  // namespace quillstone::python
