// How errors cross into the interpreter.
//
// There is one channel: a function that fails sets the interpreter's current
// exception and returns false or null, and its caller passes that on. An
// internal fault (a broken invariant, a result object the interpreter could
// not create, a PanicException that came back from Python code) travels the
// same way, as a PanicException set where it is found. The only C++
// exceptions are the standard library's allocation failures, which the entry
// point turns into the end of the process. Nothing is thrown while detached.
#pragma once

#include <string>
#include <string_view>

#include "compat.hpp"
#include "pyref.hpp"

namespace quillstone::python {

// Sets a PanicException carrying `message` as the current exception.
void raise_fault(std::string_view message);

// Takes the current exception out of the interpreter. A PanicException that
// came back from Python code (raised by __index__, a truth slot, a sequence's
// __len__ ...) is not an ordinary error: it is printed with its traceback and
// resumed as a new PanicException with the same message, which is then the
// current exception, and null is returned.
OwnedRef take_error();
// Drops the current exception: true, or false when it was a PanicException,
// resumed and now current.
[[nodiscard]] bool discard_error();
// Leaves the current exception, which Python code raised, as the call's
// error; a PanicException is resumed as above.
void pass_on_error();

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
    raise_fault("PyObject pointer is null");
  }
  return obj;
}

// Called inside a catch block at an entry point: ends the process for the C++
// exception in flight (only an allocation failure can be one).
[[noreturn]] void end_on_exception() noexcept;

// The fast-call-with-keywords signature of every entry point.
using FastcallBody = PyObject* (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Wraps a body into an entry point: every error, internal faults included,
// arrives as the current exception with a null result.
template <FastcallBody Body>
PyObject* entry_point(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
  try {
    return Body(args, nargs, kwnames);
  } catch (...) {
    end_on_exception();
  }
}

}  // namespace quillstone::python
