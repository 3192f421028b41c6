// The one place where interpreter versions differ. The module is written
// against CPython 3.14; the shims below give a 3.13 interpreter (free-threaded
// or not) the few 3.14 calls the module uses, with the same behaviour.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030D0000
#error "quillstone needs CPython 3.13 or later (PyMutex, Py_mod_gil, PyType_GetModuleName)"
#endif

#if PY_VERSION_HEX < 0x030E0000
// 1 with a new reference in *item, 0 at the end, -1 with an exception set.
inline int PyIter_NextItem(PyObject* iter, PyObject** item) {
  *item = PyIter_Next(iter);
  if (*item != nullptr) return 1;
  return PyErr_Occurred() != nullptr ? -1 : 0;
}
#endif

// Whether the interpreter keeps an object forever, so that counting
// references to it changes nothing. A 3.13 interpreter does not say: every
// object is counted there.
inline bool is_immortal(PyObject* obj) {
#if PY_VERSION_HEX >= 0x030E0000
  return PyUnstable_IsImmortal(obj) != 0;
#else
  (void)obj;
  return false;
#endif
}
