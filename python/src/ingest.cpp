// The ingest probes: each takes a candidate list in one way and returns a
// count, so the cost of each intake strategy can be measured on its own.
#include <cstdint>
#include <tuple>
#include <vector>

#include "candidates.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

namespace {

PyObject* make_count(std::uint64_t count) {
  return checked_result(PyLong_FromUnsignedLongLong(count));
}

}  // namespace

PyObject* ingest_owned(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<kIngestOwned> arguments;
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto& [owned] = arguments.values();
  const auto count = static_cast<std::uint32_t>(owned.size());
  owned.clear();
  return make_count(count);
}

PyObject* ingest_borrow(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<kIngestBorrow> arguments;
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto& [held] = arguments.values();
  const auto count = static_cast<std::uint32_t>(held.size());
  held.clear();
  return make_count(count);
}

PyObject* ingest_borrow_and_deref(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<kIngestBorrowAndDeref> arguments;
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto& [held] = arguments.values();
  // 64 bits: one str may stand in the list many times, so the total can pass
  // 2^32 bytes even where every distinct string fits the address space.
  std::uint64_t total = 0;
  if (!held.empty()) {
    // The plain view array the batch core takes, exactly one entry per item.
    std::vector<std::string_view> views;
    views.reserve(held.size());
    for (const PyBackedStr& text : held) views.push_back(text.view());
    for (const std::string_view view : views) total += view.size();
  }
  held.clear();
  return make_count(total);
}

}  // namespace quillstone::python
