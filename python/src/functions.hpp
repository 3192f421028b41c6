// The nine Python functions: each described once, and their bodies.
#pragma once

#include "binding.hpp"
#include "compat.hpp"
#include "quillstone/quillstone.hpp"

namespace quillstone::python {

inline constexpr Parameter kEditDistanceParameters[] = {
    {"str_1", Kind::text},
    {"str_2", Kind::text},
    {"max_len", Kind::u32, kOptional},
    {"case_insensitive", Kind::boolean, kOptional},
    {"score_cutoff", Kind::u32, kOptional},
};
inline constexpr Parameter kJaroWinklerParameters[] = {
    {"str_1", Kind::text},
    {"str_2", Kind::text},
    {"p", Kind::real, kOptional},
    {"max_len", Kind::u32, kOptional},
    {"case_insensitive", Kind::boolean, kOptional},
    {"score_cutoff", Kind::real, kOptional},
};
inline constexpr Parameter kEditDistanceBatchParameters[] = {
    {"query", Kind::text},
    {"candidates", Kind::candidate_texts},
    {"case_insensitive", Kind::boolean, kOptional},
};
inline constexpr Parameter kJaroWinklerBatchParameters[] = {
    {"query", Kind::text},
    {"candidates", Kind::candidate_texts},
    {"p", Kind::real, kOptional},
    {"case_insensitive", Kind::boolean, kOptional},
};
inline constexpr Parameter kIngestOwnedParameters[] = {{"candidates", Kind::owned_copies}};
inline constexpr Parameter kIngestBorrowParameters[] = {{"candidates", Kind::backed_texts}};

inline constexpr FunctionDescription kLevenshteinBp{"levenshtein_bp", kEditDistanceParameters};
inline constexpr FunctionDescription kDamerauBp{"damerau_bp", kEditDistanceParameters};
inline constexpr FunctionDescription kJaroWinklerSimilarity{"jaro_winkler_similarity",
                                                            kJaroWinklerParameters};
inline constexpr FunctionDescription kLevenshteinBatch{"levenshtein_batch",
                                                       kEditDistanceBatchParameters};
inline constexpr FunctionDescription kDamerauBatch{"damerau_batch", kEditDistanceBatchParameters};
inline constexpr FunctionDescription kJaroWinklerBatch{"jaro_winkler_batch",
                                                       kJaroWinklerBatchParameters};
inline constexpr FunctionDescription kIngestOwned{"_ingest_owned", kIngestOwnedParameters};
inline constexpr FunctionDescription kIngestBorrow{"_ingest_borrow", kIngestBorrowParameters};
inline constexpr FunctionDescription kIngestBorrowAndDeref{"_ingest_borrow_and_deref",
                                                           kIngestBorrowParameters};

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
