// levenshtein_batch, damerau_batch and jaro_winkler_batch: one query against a
// sequence of candidates, one core call, a list back in candidate order.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "candidates.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

namespace {

// From this many candidates on the core runs detached from the interpreter;
// shorter batches do not pay for detaching and re-attaching.
constexpr std::size_t kDetachThreshold = 10000;

struct BatchInput {
  PyBackedStr query;
  std::vector<PyBackedStr> candidates;
  std::optional<double> p;
  std::optional<bool> case_insensitive;
};

// Binds and converts in signature order: query, candidates, (p),
// case_insensitive.
template <const FunctionDescription& Function, bool HasPrefixScale>
bool bind_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BatchInput& in) {
  constexpr std::size_t kSlots = HasPrefixScale ? 4 : 3;
  PyObject* slots[kSlots] = {};
  if (!extract_arguments_fastcall(Function, args, nargs, kwnames, slots)) return false;
  const auto& names = Function.parameters;
  if (!to_backed_text(slots[0], in.query)) {
    argument_extraction_error(names[0]);
    return false;
  }
  if (!extract_candidates(slots[1], in.candidates, append_backed_text)) {
    argument_extraction_error(names[1]);
    return false;
  }
  if constexpr (HasPrefixScale) {
    if (!extract<double, to_float>(slots[2], names[2], in.p)) return false;
  }
  return extract<bool, to_bool>(slots[kSlots - 1], names[kSlots - 1], in.case_insensitive);
}

// Runs `compute` on the candidates' views, detached from the interpreter for
// long batches. Nothing in here touches a Python object, and nothing throws:
// an allocation failure while detached ends the process.
template <class Compute>
auto run_core(const BatchInput& in, Compute compute) noexcept {
  auto run = [&]() noexcept {
    std::vector<TextView> views;
    views.reserve(in.candidates.size());
    for (const PyBackedStr& candidate : in.candidates) views.push_back(candidate.view());
    return compute(in.query.view(), std::span<const TextView>(views));
  };
  if (in.candidates.size() < kDetachThreshold) return run();
  PyThreadState* thread = PyEval_SaveThread();
  auto result = run();
  PyEval_RestoreThread(thread);
  return result;
}

// Gives the holders' references back; only ever called attached.
void release(BatchInput& in) noexcept {
  in.candidates.clear();
  in.query.reset();
}

// A list of exactly values.size() slots, filled in order.
template <class T, PyObject* (*Make)(T)>
PyObject* to_list(const std::vector<T>& values) {
  OwnedRef list(checked_result(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), checked_result(Make(values[i])));
  }
  return list.release();
}

PyObject* make_int(std::size_t value) { return PyLong_FromUnsignedLongLong(value); }
PyObject* make_float(double value) { return PyFloat_FromDouble(value); }

using EditDistanceBatchCore = std::vector<std::size_t> (*)(TextView, std::span<const TextView>,
                                                           std::optional<bool>);

template <const FunctionDescription& Function, EditDistanceBatchCore Core>
PyObject* edit_distance_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BatchInput in;
  if (!bind_batch<Function, false>(args, nargs, kwnames, in)) return nullptr;
  const std::vector<std::size_t> distances =
      run_core(in, [&](TextView query, std::span<const TextView> candidates) noexcept {
        return Core(query, candidates, in.case_insensitive);
      });
  release(in);
  return to_list<std::size_t, make_int>(distances);
}

}  // namespace

PyObject* levenshtein_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance_batch<kLevenshteinBatch, quillstone::levenshtein_batch>(args, nargs, kwnames);
}

PyObject* damerau_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance_batch<kDamerauBatch, quillstone::damerau_batch>(args, nargs, kwnames);
}

PyObject* jaro_winkler_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BatchInput in;
  if (!bind_batch<kJaroWinklerBatch, true>(args, nargs, kwnames, in)) return nullptr;
  const Result<std::vector<double>> similarities =
      run_core(in, [&](TextView query, std::span<const TextView> candidates) noexcept {
        return quillstone::jaro_winkler_batch(query, candidates, in.p, in.case_insensitive);
      });
  release(in);
  if (!similarities) {
    raise_match_error(similarities.error());
    return nullptr;
  }
  return to_list<double, make_float>(similarities.value());
}

}  // namespace quillstone::python
