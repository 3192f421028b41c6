// The module definition, its execution step and the function table.
#include "binding.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "process_objects.hpp"

namespace quillstone::python {

namespace {

// Not METH_STATIC: a static function is called with a null self and reports
// no __self__, while each function here belongs to its module (__self__ is
// the module, which also makes the functions pickle by their names).
constexpr int kFlags = METH_FASTCALL | METH_KEYWORDS;

// A function: its method definition, and the step that interns its
// parameters' names for the binder.
struct Function {
  PyMethodDef def;
  bool (*intern_names)();
};

// A function table row from the function's description and body; the doc
// string carries only the text signature, so __doc__ is None.
template <const FunctionDescription& Description, FastcallBody Body>
Function method() {
  // The interpreter calls it back with the fast-call-with-keywords signature
  // that the flags announce.
  return {{Description.name.data(),
           reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry_point<Body>)), kFlags,
           kTextSignature<Description>.data()},
          &intern_parameter_names<Description>};
}

Function g_functions[] = {
    method<kLevenshteinBp, levenshtein_bp>(),
    method<kDamerauBp, damerau_bp>(),
    method<kJaroWinklerSimilarity, jaro_winkler_similarity>(),
    method<kLevenshteinBatch, levenshtein_batch>(),
    method<kDamerauBatch, damerau_batch>(),
    method<kJaroWinklerBatch, jaro_winkler_batch>(),
    method<kIngestOwned, ingest_owned>(),
    method<kIngestBorrow, ingest_borrow>(),
    method<kIngestBorrowAndDeref, ingest_borrow_and_deref>(),
};

// The module's __all__ list, created empty when the module has none.
OwnedRef module_all(PyObject* module) {
  PyObject* name = name_dunder_all();
  if (name == nullptr) return OwnedRef();
  PyObject* found = nullptr;
  const int present = PyObject_GetOptionalAttr(module, name, &found);
  if (present < 0) return OwnedRef();
  OwnedRef all(found);
  if (present == 0) {
    all = OwnedRef(PyList_New(0));
    if (!all || PyObject_SetAttr(module, name, all.get()) < 0) return OwnedRef();
    return all;
  }
  if (!PyList_Check(all.get())) {
    raise_type_mismatch(all.get(), &PyList_Type);
    return OwnedRef();
  }
  return all;
}

bool add_function(PyObject* module, PyMethodDef& def) {
  OwnedRef function;
  {
    OwnedRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    function = OwnedRef(PyCMethod_New(&def, module, module_name.get(), nullptr));
    if (!function) return false;
  }
  PyObject* name_attr = name_dunder_name();
  if (name_attr == nullptr) return false;
  OwnedRef name(PyObject_GetAttr(function.get(), name_attr));
  if (!name) return false;
  if (!PyUnicode_Check(name.get())) {
    raise_type_mismatch(name.get(), &PyUnicode_Type);
    return false;
  }
  OwnedRef all = module_all(module);
  if (!all) return false;
  if (PyList_Append(all.get(), name.get()) < 0) {
    OwnedRef error = take_error();
    if (!error) return false;  // a resumed panic
    std::string message = "could not append __name__ to __all__";
    OwnedRef text(PyObject_Str(error.get()));
    if (text) {
      message += ": ";
      append_lossy(message, text.get());
    } else if (!discard_error()) {
      return false;
    }
    raise_fault(message);
    return false;
  }
  return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

int exec_module(PyObject* module) noexcept {
  try {
    if (!PyModule_Check(module)) {
      raise_type_mismatch(module, &PyModule_Type);
      return -1;
    }
    for (Function& function : g_functions) {
      if (!function.intern_names() || !add_function(module, function.def)) return -1;
    }
    return 0;
  } catch (...) {
    end_on_exception();
  }
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "quillstone",  // m_name
    "",            // m_doc
    0,             // m_size: no per-module state
    nullptr,       // m_methods: the execution step adds the functions
    g_slots,
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace

}  // namespace quillstone::python

PyMODINIT_FUNC PyInit_quillstone() { return PyModuleDef_Init(&quillstone::python::g_module); }
