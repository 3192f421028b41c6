// How errors cross into the interpreter.
//
// A Python error is a value: a function that fails sets the interpreter's
// current exception and returns false or null, and its caller passes that on.
// An internal fault (a broken invariant, a result object the interpreter could
// not create) is a C++ exception, InternalFault, thrown where it is found and
// caught at the entry point, which raises PanicException instead. Nothing is
// thrown on a successful call, and nothing is thrown while detached.
#pragma once

#include <string>
#include <string_view>

#include "compat.hpp"
#include "pyref.hpp"

namespace quillstone::python {

struct InternalFault {
  std::string message;
};

[[noreturn]] void fault(std::string message);

// Takes the current exception out of the interpreter. A PanicException that
// came back from Python code (raised by __index__, a truth slot, a sequence's
// __len__ ...) is not an ordinary error: it is printed with its traceback and
// resumed as an internal fault with the same message.
OwnedRef take_error();
// Takes the current exception and drops it (a PanicException still resumes).
void discard_error();

// Raises `type` with the one message string (the exception's args is that
// string).
void raise_message(PyObject* type, std::string_view message);

// Appends str's text as UTF-8; characters without a UTF-8 form (lone
// surrogates) become U+FFFD. False, with nothing appended and no exception
// set, when even that fails.
bool append_lossy(std::string& out, PyObject* str);

// A result object the interpreter was asked to create: null is reported as
// unraisable and becomes the fault "PyObject pointer is null".
inline PyObject* checked_result(PyObject* obj) {
  if (obj == nullptr) [[unlikely]] {
    PyErr_WriteUnraisable(nullptr);
    fault("PyObject pointer is null");
  }
  return obj;
}

// Called inside a catch block at an entry point: raises PanicException for the
// C++ exception in flight.
void raise_current_fault() noexcept;

// The fast-call-with-keywords signature of every entry point.
using FastcallBody = PyObject* (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Wraps a body into an entry point: Python errors pass through as they are,
// internal faults become PanicException, and no C++ exception escapes.
template <FastcallBody Body>
PyObject* entry_point(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
  try {
    return Body(args, nargs, kwnames);
  } catch (...) {
    raise_current_fault();
    return nullptr;
  }
}

}  // namespace quillstone::python
