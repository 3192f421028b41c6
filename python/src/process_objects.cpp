#include "process_objects.hpp"

#include "pyref.hpp"

namespace quillstone::python {

PyObject* ProcessObject::create_once(Create create) {
  PyMutex_Lock(&mutex_);
  PyObject* obj = obj_.load(std::memory_order_relaxed);
  if (obj == nullptr) {
    obj = create();
    if (obj != nullptr) obj_.store(obj, std::memory_order_release);
  }
  PyMutex_Unlock(&mutex_);
  return obj;
}

namespace {

constinit ProcessObject g_dunder_name;
constinit ProcessObject g_dunder_all;
constinit ProcessObject g_add_note;
constinit ProcessObject g_sequence;
constinit ProcessObject g_panic;

PyObject* create_sequence_type() {
  OwnedRef abc(PyImport_ImportModule("collections.abc"));
  if (!abc) return nullptr;
  return PyObject_GetAttrString(abc.get(), "Sequence");
}

PyObject* create_panic_type() {
  return PyErr_NewExceptionWithDoc(
      "quillstone.PanicException",
      "An internal fault of quillstone (a broken invariant, or a result object the\n"
      "interpreter could not create).\n\n"
      "It derives from BaseException, not Exception, so that like SystemExit it\n"
      "propagates through ordinary `except Exception` handlers.",
      PyExc_BaseException, nullptr);
}

}  // namespace

PyObject* name_dunder_name() {
  return g_dunder_name.get([] { return PyUnicode_InternFromString("__name__"); });
}
PyObject* name_dunder_all() {
  return g_dunder_all.get([] { return PyUnicode_InternFromString("__all__"); });
}
PyObject* name_add_note() {
  return g_add_note.get([] { return PyUnicode_InternFromString("add_note"); });
}
PyObject* sequence_type() { return g_sequence.get(create_sequence_type); }
PyObject* panic_exception_type() { return g_panic.get(create_panic_type); }
PyObject* panic_exception_type_if_created() noexcept { return g_panic.peek(); }

}  // namespace quillstone::python
