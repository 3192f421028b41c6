// levenshtein_batch, damerau_batch and jaro_winkler_batch: one query against a
// sequence of candidates, one core call, a list back in candidate order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "candidates.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

namespace {

// From this many candidates on the core runs detached from the interpreter;
// shorter batches do not pay for detaching and re-attaching.
constexpr std::size_t kDetachThreshold = 10000;

// Runs `compute` on the candidates' views, detached from the interpreter for
// long batches. Nothing in here touches a Python object, and nothing throws:
// an allocation failure while detached ends the process.
template <class Compute>
auto run_core(const PyBackedStr& query, const CandidateTexts& candidates, Compute compute) noexcept {
  const std::span<const TextView> views = candidates.views();
  if (views.size() < kDetachThreshold) return compute(query.view(), views);
  PyThreadState* thread = PyEval_SaveThread();
  auto result = compute(query.view(), views);
  PyEval_RestoreThread(thread);
  return result;
}

// Gives the holders' references back; only ever called attached.
void release(PyBackedStr& query, CandidateTexts& candidates) noexcept {
  candidates.release();
  query.reset();
}

// A list of exactly values.size() slots, filled in order.
template <class T, PyObject* (*Make)(T)>
PyObject* to_list(const std::vector<T>& values) {
  OwnedRef list(checked_result(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* item = checked_result(Make(values[i]));
    if (item == nullptr) return nullptr;  // the list's empty slots are null
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* make_int(std::size_t value) { return PyLong_FromUnsignedLongLong(value); }

// Similarities repeat a lot across candidates; equal scores (bit for bit) of
// one call share one float object instead of allocating one each.
class FloatCache {
 public:
  PyObject* make(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::size_t at = (bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits);
    if (obj_[at] != nullptr && bits_[at] == bits) {
      Py_IncRef(obj_[at]);
      return obj_[at];
    }
    PyObject* obj = checked_result(PyFloat_FromDouble(value));
    if (obj == nullptr) return nullptr;
    obj_[at] = obj;  // borrowed: the result list owns it
    bits_[at] = bits;
    return obj;
  }

 private:
  static constexpr unsigned kBits = 8;
  PyObject* obj_[1u << kBits] = {};
  std::uint64_t bits_[1u << kBits];
};

PyObject* to_float_list(const std::vector<double>& values) {
  OwnedRef list(checked_result(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  if (!list) return nullptr;
  FloatCache cache;
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* item = cache.make(values[i]);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

using EditDistanceBatchCore = std::vector<std::size_t> (*)(TextView, std::span<const TextView>,
                                                           std::optional<bool>);

template <const FunctionDescription& Function, EditDistanceBatchCore Core>
PyObject* edit_distance_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<Function> arguments;
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto& [query, candidates, case_insensitive] = arguments.values();
  const std::vector<std::size_t> distances =
      run_core(query, candidates, [&](TextView query_view, std::span<const TextView> views) noexcept {
        return Core(query_view, views, case_insensitive);
      });
  release(query, candidates);
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
  Arguments<kJaroWinklerBatch> arguments;
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto& [query, candidates, p, case_insensitive] = arguments.values();
  const Result<std::vector<double>> similarities =
      run_core(query, candidates, [&](TextView query_view, std::span<const TextView> views) noexcept {
        return quillstone::jaro_winkler_batch(query_view, views, p, case_insensitive);
      });
  release(query, candidates);
  if (!similarities) {
    raise_match_error(similarities.error());
    return nullptr;
  }
  return to_float_list(similarities.value());
}

}  // namespace quillstone::python
