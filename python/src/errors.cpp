#include "errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "process_objects.hpp"

namespace quillstone::python {

void fault(std::string message) { throw InternalFault{std::move(message)}; }

namespace {

[[noreturn]] void abort_with(std::string_view why, std::string_view message) {
  std::fprintf(stderr, "quillstone: %.*s: %.*s\n", static_cast<int>(why.size()), why.data(),
               static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
  std::abort();
}

[[noreturn]] void resume_panic(OwnedRef exc) {
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
  fault(std::move(message));
}

}  // namespace

OwnedRef take_error() {
  OwnedRef exc(PyErr_GetRaisedException());
  PyObject* panic = panic_exception_type_if_created();
  if (panic != nullptr && exc && Py_TYPE(exc.get()) == reinterpret_cast<PyTypeObject*>(panic)) {
    resume_panic(std::move(exc));
  }
  return exc;
}

void discard_error() { take_error(); }

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

void raise_current_fault() noexcept {
  std::string message;
  try {
    throw;
  } catch (InternalFault& f) {
    message = std::move(f.message);
  } catch (const std::bad_alloc&) {
    // The module's own working storage could not be allocated: as in the core,
    // that ends the process rather than becoming a Python exception.
    abort_with("memory allocation failed", "out of memory");
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "internal fault without a message";
  }
  try {
    PyObject* panic = panic_exception_type();
    if (panic == nullptr) abort_with("uncaught panic at ffi boundary", message);
    raise_message(panic, message);
  } catch (...) {
    abort_with("uncaught panic at ffi boundary", message);
  }
}

}  // namespace quillstone::python
