// The nine Python functions: their parameter descriptions and entry points.
#pragma once

#include <string_view>

#include "binding.hpp"
#include "compat.hpp"
#include "quillstone/quillstone.hpp"

namespace quillstone::python {

inline constexpr std::string_view kEditDistanceParameters[] = {
    "str_1", "str_2", "max_len", "case_insensitive", "score_cutoff"};
inline constexpr std::string_view kJaroWinklerParameters[] = {
    "str_1", "str_2", "p", "max_len", "case_insensitive", "score_cutoff"};
inline constexpr std::string_view kEditDistanceBatchParameters[] = {"query", "candidates",
                                                                    "case_insensitive"};
inline constexpr std::string_view kJaroWinklerBatchParameters[] = {"query", "candidates", "p",
                                                                   "case_insensitive"};
inline constexpr std::string_view kIngestParameters[] = {"candidates"};

inline constexpr FunctionDescription kLevenshteinBp{"levenshtein_bp", kEditDistanceParameters, 2};
inline constexpr FunctionDescription kDamerauBp{"damerau_bp", kEditDistanceParameters, 2};
inline constexpr FunctionDescription kJaroWinklerSimilarity{"jaro_winkler_similarity",
                                                            kJaroWinklerParameters, 2};
inline constexpr FunctionDescription kLevenshteinBatch{"levenshtein_batch",
                                                       kEditDistanceBatchParameters, 2};
inline constexpr FunctionDescription kDamerauBatch{"damerau_batch", kEditDistanceBatchParameters, 2};
inline constexpr FunctionDescription kJaroWinklerBatch{"jaro_winkler_batch",
                                                       kJaroWinklerBatchParameters, 2};
inline constexpr FunctionDescription kIngestOwned{"_ingest_owned", kIngestParameters, 1};
inline constexpr FunctionDescription kIngestBorrow{"_ingest_borrow", kIngestParameters, 1};
inline constexpr FunctionDescription kIngestBorrowAndDeref{"_ingest_borrow_and_deref",
                                                           kIngestParameters, 1};

// Bodies (binding, conversion, one core call, the result); the entry points
// wrap them in the call boundary (errors.hpp).
PyObject* levenshtein_bp(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* damerau_bp(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* jaro_winkler_similarity(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* levenshtein_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* damerau_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* jaro_winkler_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* ingest_owned(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* ingest_borrow(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* ingest_borrow_and_deref(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// A MatchError as ValueError with exactly its text form.
void raise_match_error(const MatchError& error);

}  // namespace quillstone::python
