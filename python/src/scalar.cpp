// levenshtein_bp, damerau_bp and jaro_winkler_similarity: two borrowed text
// views and the options, one core call on the calling thread, an int or a
// float back.
#include <string>
#include <tuple>

#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

void raise_match_error(const MatchError& error) {
  const std::string text = to_string(error);
  raise_message(PyExc_ValueError, text);
}

namespace {

PyObject* to_python(std::size_t distance) { return PyLong_FromUnsignedLongLong(distance); }
PyObject* to_python(double similarity) { return PyFloat_FromDouble(similarity); }

// The converted arguments are the core operation's, in the same order; `Core`
// names its code-unit entry.
template <const FunctionDescription& Function, auto Core>
PyObject* scalar(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<Function> arguments;
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  const auto result = std::apply(Core, arguments.values());
  if (!result) [[unlikely]] {
    raise_match_error(result.error());
    return nullptr;
  }
  return checked_result(to_python(result.unchecked_value()));
}

}  // namespace

PyObject* levenshtein_bp(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return scalar<kLevenshteinBp, [](auto&&... a) { return quillstone::levenshtein_bp(a...); }>(args, nargs, kwnames);
}

PyObject* damerau_bp(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return scalar<kDamerauBp, [](auto&&... a) { return quillstone::damerau_bp(a...); }>(args, nargs, kwnames);
}

PyObject* jaro_winkler_similarity(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return scalar<kJaroWinklerSimilarity, [](auto&&... a) { return quillstone::jaro_winkler(a...); }>(args, nargs, kwnames);
}

}  // namespace quillstone::python
