#include "binding.hpp"

#include <string>

#include "errors.hpp"
#include "process_objects.hpp"

namespace quillstone::python {

namespace {

std::string display_name(const FunctionDescription& function) {
  std::string name(function.name);
  name += "()";
  return name;
}

void raise_too_many_positional(const FunctionDescription& function, std::size_t given) {
  const std::size_t n = function.parameters.size();
  std::string message = display_name(function);
  if (function.required == n) {
    // "arguments" even for one parameter: the message form is fixed.
    message += " takes " + std::to_string(n) + " positional arguments but ";
  } else {
    message += " takes from " + std::to_string(function.required) + " to " + std::to_string(n) +
               " positional arguments but ";
  }
  message += std::to_string(given) + " were given";  // given > n >= 1
  raise_message(PyExc_TypeError, message);
}

// The keyword as str() shows it: a str subclass may show itself otherwise.
// An error of its __str__ is the call's error.
void raise_unexpected_keyword(const FunctionDescription& function, PyObject* keyword) {
  OwnedRef shown(PyObject_Str(keyword));
  if (!shown) {
    pass_on_error();
    return;
  }
  std::string message = display_name(function) + " got an unexpected keyword argument '";
  if (!append_lossy(message, shown.get())) message += "<unprintable keyword>";
  message += "'";
  raise_message(PyExc_TypeError, message);
}

void raise_multiple_values(const FunctionDescription& function, std::string_view parameter) {
  std::string message = display_name(function) + " got multiple values for argument '";
  message += parameter;
  message += "'";
  raise_message(PyExc_TypeError, message);
}

// 'a'; 'a' and 'b'; 'a', 'b' and 'c'.
void push_parameter_list(std::string& out, std::span<const std::string_view> names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += (i + 1 == names.size()) ? " and " : ", ";
    out += "'";
    out += names[i];
    out += "'";
  }
}

void raise_missing(const FunctionDescription& function, std::span<PyObject* const> slots) {
  std::string_view missing[8];
  std::size_t k = 0;
  for (std::size_t i = 0; i < function.required && k < std::size(missing); ++i) {
    if (slots[i] == nullptr) missing[k++] = function.parameters[i].name;
  }
  std::string message = display_name(function) + " missing " + std::to_string(k) +
                        (k == 1 ? " required positional argument: " : " required positional arguments: ");
  push_parameter_list(message, std::span<const std::string_view>(missing, k));
  raise_message(PyExc_TypeError, message);
}

// The parameter named by a keyword, compared as bytes; parameters.size() when
// there is none (a name without UTF-8 form, with lone surrogates, names none).
// No Python code runs here, so an error to clear is the interpreter's own.
std::size_t find_parameter(const FunctionDescription& function, PyObject* keyword) {
  Py_ssize_t size = 0;
  const char* utf8 = nullptr;
  // Keyword names are nearly always compact ASCII strs, whose bytes are their UTF-8.
  if (PyUnicode_Check(keyword) && PyUnicode_IS_COMPACT_ASCII(keyword)) {
    utf8 = static_cast<const char*>(PyUnicode_DATA(keyword));
    size = PyUnicode_GET_LENGTH(keyword);
  } else {
    utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
  }
  if (utf8 == nullptr) {
    PyErr_Clear();
    return function.parameters.size();
  }
  const std::string_view name(utf8, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < function.parameters.size(); ++i) {
    if (function.parameters[i].name == name) return i;
  }
  return function.parameters.size();
}

// The qualified name of a type as text, or the stand-in when it cannot be had.
// Reading a type's names runs no Python code.
std::string qualified_name(PyTypeObject* type) {
  std::string out;
  OwnedRef name(PyType_GetQualName(type));
  if (!name) {
    PyErr_Clear();
    return "<failed to extract type name>";
  }
  if (!append_lossy(out, name.get())) return "<failed to extract type name>";
  return out;
}

// The type's name (module and short name) marks it as numpy's boolean scalar.
bool is_numpy_bool_type(PyTypeObject* type) {
  auto equals = [](PyObject* str, std::string_view expected) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
    if (utf8 == nullptr) {
      PyErr_Clear();
      return false;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size)) == expected;
  };
  OwnedRef module(PyType_GetModuleName(type));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  if (!PyUnicode_Check(module.get()) || !equals(module.get(), "numpy")) return false;
  OwnedRef name(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return equals(name.get(), "bool_") || equals(name.get(), "bool");
}

}  // namespace

bool extract_arguments_fastcall(const FunctionDescription& function, const std::atomic<PyObject*>* interned,
                                PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                std::span<PyObject*> slots) {
  const std::size_t n = function.parameters.size();
  const auto given = static_cast<std::size_t>(nargs);
  if (given > n) [[unlikely]] {
    raise_too_many_positional(function, given);
    return false;
  }
  // One pointer at a time: the interpreter has just stored each one alone,
  // and a wider load across two such stores cannot take them from the store
  // buffer; it waits for both to reach the cache.
#if defined(__clang__)
#pragma clang loop vectorize(disable)
#elif defined(__GNUC__) && __GNUC__ >= 14
#pragma GCC novector
#endif
  for (std::size_t i = 0; i < given; ++i) slots[i] = args[i];

  if (kwnames != nullptr) {
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < count; ++k) {
      PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
      std::size_t index = 0;
      while (index < n && interned[index].load(std::memory_order_relaxed) != keyword) ++index;
      if (index == n) index = find_parameter(function, keyword);
      if (index == n) [[unlikely]] {
        raise_unexpected_keyword(function, keyword);
        return false;
      }
      if (slots[index] != nullptr) [[unlikely]] {
        raise_multiple_values(function, function.parameters[index].name);
        return false;
      }
      slots[index] = args[nargs + k];
    }
  }

  if (given < function.required) {
    for (std::size_t i = given; i < function.required; ++i) {
      if (slots[i] == nullptr) [[unlikely]] {
        raise_missing(function, slots);
        return false;
      }
    }
  }
  return true;
}

void raise_type_mismatch(PyObject* obj, PyTypeObject* expected) {
  std::string message;
  if (obj == Py_None) {
    message = "'None' is not an instance of '";
  } else {
    message = "'" + qualified_name(Py_TYPE(obj)) + "' object is not an instance of '";
  }
  message += qualified_name(expected) + "'";
  raise_message(PyExc_TypeError, message);
}

void argument_extraction_error(std::string_view parameter) {
  OwnedRef exc = take_error();
  if (!exc) return;  // a resumed panic carries no note
  std::string text = "while processing '";
  text += parameter;
  text += "'";
  OwnedRef note(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  PyObject* add_note = note ? name_add_note() : nullptr;
  if (add_note != nullptr) {
    PyObject* call_args[] = {exc.get(), note.get()};
    OwnedRef done(PyObject_VectorcallMethod(add_note, call_args, 2, nullptr));
    if (!done && !discard_error()) return;  // add_note panicked: that panic stands
  } else if (!discard_error()) {  // the note is simply missing
    return;
  }
  PyErr_SetRaisedException(exc.release());
}

bool to_backed_text(OwnedRef obj, PyBackedStr& out) {
  if (!PyUnicode_Check(obj.get())) [[unlikely]] {
    raise_type_mismatch(obj.get(), &PyUnicode_Type);
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj.get(), &size);
  if (utf8 == nullptr) [[unlikely]] return false;
  out = PyBackedStr(std::move(obj), std::string_view(utf8, static_cast<std::size_t>(size)));
  return true;
}


bool to_float(PyObject* obj, double& out) {
  if (quick_float(obj, out)) [[likely]] return true;
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred() != nullptr) return false;
  out = value;
  return true;
}

bool to_u32(PyObject* obj, std::size_t& out) {
  // Anything but a small exact int takes the general conversion, which
  // raises the errors.
  if (quick_u32(obj, out)) [[likely]] return true;
  unsigned long long value;
  if (PyLong_Check(obj)) [[likely]] {
    value = PyLong_AsUnsignedLongLong(obj);
  } else {
    OwnedRef index(PyNumber_Index(obj));
    if (!index) return false;
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) return false;
  if (value > UINT32_MAX) {
    raise_message(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = static_cast<std::size_t>(value);
  return true;
}

bool to_bool(PyObject* obj, bool& out) {
  if (quick_bool(obj, out)) [[likely]] return true;
  PyTypeObject* type = Py_TYPE(obj);
  if (!is_numpy_bool_type(type)) {
    raise_type_mismatch(obj, &PyBool_Type);
    return false;
  }
  auto truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
  if (truth == nullptr) {
    // For a static type without a number protocol PyType_GetSlot may raise.
    PyErr_Clear();
    std::string message = "object of type '";
    // str() of the type runs its metaclass's __str__, which may panic.
    OwnedRef type_text(PyObject_Str(reinterpret_cast<PyObject*>(type)));
    if (!type_text && !discard_error()) return false;
    if (!type_text || !append_lossy(message, type_text.get())) {
      message += "<failed to extract type name>";
    }
    message += "' does not define a '__bool__' conversion";
    raise_message(PyExc_TypeError, message);
    return false;
  }
  const int value = truth(obj);
  if (value == 0 || value == 1) {
    out = value == 1;
    return true;
  }
  if (PyErr_Occurred() == nullptr) {
    raise_message(PyExc_SystemError, "a truth slot failed without setting an exception");
  }
  return false;
}

}  // namespace quillstone::python
