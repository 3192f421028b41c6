// Objects created once per process on first use and kept until it ends: the
// interned attribute names, the PanicException class and the Sequence ABC.
#pragma once

#include <atomic>

#include "compat.hpp"

namespace quillstone::python {

// One process-wide object under blocking one-time initialisation. The first
// thread to need it creates it; a thread that needs it meanwhile waits on the
// mutex, which detaches it from the interpreter while it blocks (so the creator
// can run interpreter code, even stop-the-world work, without a deadlock), and
// then uses the same object. Once created, reading it is one atomic load.
class ProcessObject {
 public:
  using Create = PyObject* (*)();

  constexpr ProcessObject() noexcept = default;
  ProcessObject(const ProcessObject&) = delete;
  ProcessObject& operator=(const ProcessObject&) = delete;

  // A borrowed reference that lives as long as the process, or null with an
  // exception set when creating it failed (a later call tries again).
  PyObject* get(Create create) {
    PyObject* obj = obj_.load(std::memory_order_acquire);
    if (obj != nullptr) [[likely]] return obj;
    return create_once(create);
  }

  // The object if it exists already; never creates it.
  PyObject* peek() const noexcept { return obj_.load(std::memory_order_acquire); }

 private:
  PyObject* create_once(Create create);

  std::atomic<PyObject*> obj_{nullptr};
  PyMutex mutex_{};
};

// Interned attribute and method names.
PyObject* name_dunder_name();  // "__name__"
PyObject* name_dunder_all();   // "__all__"
PyObject* name_add_note();     // "add_note"

// collections.abc.Sequence, imported at first need.
PyObject* sequence_type();

// The PanicException class: derived from BaseException only, so handlers for
// Exception do not catch it.
PyObject* panic_exception_type();
// The class if some call has created it already; never creates it.
PyObject* panic_exception_type_if_created() noexcept;

}  // namespace quillstone::python
