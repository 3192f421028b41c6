// levenshtein_bp, damerau_bp and jaro_winkler_similarity: two borrowed text
// views and the options, one core call on the calling thread, an int or a
// float back.
#include <cstddef>
#include <optional>
#include <string>

#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

void raise_match_error(const MatchError& error) {
  const std::string text = to_string(error);
  raise_message(PyExc_ValueError, text);
}

namespace {

using EditDistanceCore = Result<std::size_t> (*)(TextView, TextView, std::optional<std::size_t>,
                                                 std::optional<bool>, std::optional<std::size_t>);

template <const FunctionDescription& Function, EditDistanceCore Core>
PyObject* edit_distance(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* slots[5] = {};
  if (!extract_arguments_fastcall(Function, args, nargs, kwnames, slots)) return nullptr;
  const auto& names = Function.parameters;
  TextView str_1, str_2;
  std::optional<std::size_t> max_len, score_cutoff;
  std::optional<bool> case_insensitive;
  if (!extract<TextView, to_text>(slots[0], names[0], str_1) ||
      !extract<TextView, to_text>(slots[1], names[1], str_2) ||
      !extract<std::size_t, to_u32>(slots[2], names[2], max_len) ||
      !extract<bool, to_bool>(slots[3], names[3], case_insensitive) ||
      !extract<std::size_t, to_u32>(slots[4], names[4], score_cutoff)) {
    return nullptr;
  }
  const Result<std::size_t> distance =
      Core(str_1, str_2, max_len, case_insensitive, score_cutoff);
  if (!distance) [[unlikely]] {
    raise_match_error(distance.error());
    return nullptr;
  }
  return checked_result(PyLong_FromUnsignedLongLong(distance.value()));
}

}  // namespace

PyObject* levenshtein_bp(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance<kLevenshteinBp, quillstone::levenshtein_bp>(args, nargs, kwnames);
}

PyObject* damerau_bp(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance<kDamerauBp, quillstone::damerau_bp>(args, nargs, kwnames);
}

PyObject* jaro_winkler_similarity(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* slots[6] = {};
  if (!extract_arguments_fastcall(kJaroWinklerSimilarity, args, nargs, kwnames, slots)) {
    return nullptr;
  }
  const auto& names = kJaroWinklerSimilarity.parameters;
  TextView str_1, str_2;
  std::optional<double> p, score_cutoff;
  std::optional<std::size_t> max_len;
  std::optional<bool> case_insensitive;
  if (!extract<TextView, to_text>(slots[0], names[0], str_1) ||
      !extract<TextView, to_text>(slots[1], names[1], str_2) ||
      !extract<double, to_float>(slots[2], names[2], p) ||
      !extract<std::size_t, to_u32>(slots[3], names[3], max_len) ||
      !extract<bool, to_bool>(slots[4], names[4], case_insensitive) ||
      !extract<double, to_float>(slots[5], names[5], score_cutoff)) {
    return nullptr;
  }
  const Result<double> similarity =
      jaro_winkler(str_1, str_2, p, max_len, case_insensitive, score_cutoff);
  if (!similarity) [[unlikely]] {
    raise_match_error(similarity.error());
    return nullptr;
  }
  return checked_result(PyFloat_FromDouble(similarity.value()));
}

}  // namespace quillstone::python
