#include "errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "process_objects.hpp"

namespace quillstone::python {

namespace {

[[noreturn]] void abort_with(std::string_view why, std::string_view message) {
  std::fprintf(stderr, "quillstone: %.*s: %.*s\n", static_cast<int>(why.size()), why.data(),
               static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
  std::abort();
}

// Prints a PanicException that Python code raised, with its traceback, and
// raises a new one with the same message in its place.
void resume_panic(OwnedRef exc) {
  std::string message;
  {
    OwnedRef text(PyObject_Str(exc.get()));
    if (!text || !append_lossy(message, text.get())) {
      PyErr_Clear();
      message = "PanicException from Python code (its message could not be read)";
    }
  }
  PySys_WriteStderr(
      "--- quillstone: resuming an internal fault, a PanicException came back from Python code ---\n");
  PySys_WriteStderr("Python stack trace below:\n");
  PyErr_SetRaisedException(exc.release());
  PyErr_PrintEx(0);
  raise_fault(message);
}

}  // namespace

void raise_fault(std::string_view message) {
  PyObject* panic = panic_exception_type();
  if (panic == nullptr) abort_with("uncaught panic at ffi boundary", message);
  raise_message(panic, message);
}

OwnedRef take_error() {
  OwnedRef exc(PyErr_GetRaisedException());
  PyObject* panic = panic_exception_type_if_created();
  if (panic != nullptr && exc && Py_TYPE(exc.get()) == reinterpret_cast<PyTypeObject*>(panic)) {
    resume_panic(std::move(exc));
    return OwnedRef();
  }
  return exc;
}

bool discard_error() {
  if (take_error()) return true;
  return PyErr_Occurred() == nullptr;  // set only by a resumed panic
}

void pass_on_error() {
  if (OwnedRef exc = take_error()) PyErr_SetRaisedException(exc.release());
}

void raise_message(PyObject* type, std::string_view message) {
  OwnedRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return;  // its MemoryError stands instead
  PyErr_SetObject(type, text.get());
}

bool append_lossy(std::string& out, PyObject* str) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) {
    out.append(utf8, static_cast<std::size_t>(size));
    return true;
  }
  PyErr_Clear();
  // Lone surrogates: encode them as they stand, then decode the result with
  // every ill-formed byte sequence replaced by U+FFFD.
  OwnedRef raw(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (!raw) {
    PyErr_Clear();
    return false;
  }
  OwnedRef text(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(raw.get()), PyBytes_GET_SIZE(raw.get()),
                                     "replace"));
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return false;
  }
  out.append(utf8, static_cast<std::size_t>(size));
  return true;
}

void end_on_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    // The module's own working storage could not be allocated: as in the core,
    // that ends the process rather than becoming a Python exception.
    abort_with("memory allocation failed", "out of memory");
  } catch (const std::exception& e) {
    abort_with("uncaught panic at ffi boundary", e.what());
  } catch (...) {
    abort_with("uncaught panic at ffi boundary", "a C++ exception without a message");
  }
}

}  // namespace quillstone::python
