// Argument binding and the conversion of single values.
//
// The binder places the positional and keyword arguments of a fast call into
// one slot per parameter; the conversions turn one slot into a C++ value. Each
// returns false with the interpreter's exception set on failure. The binder
// takes no references and allocates nothing unless it fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "compat.hpp"
#include "pyref.hpp"

namespace quillstone::python {

// The parameters of one Python function. Every parameter may be given by
// position or by keyword; the first `required` are required, the rest default
// to None.
struct FunctionDescription {
  std::string_view name;
  std::span<const std::string_view> parameters;
  std::size_t required;
};

// Fills `slots` (all null on entry, one per parameter) with borrowed
// references, or raises the binding TypeError.
bool extract_arguments_fastcall(const FunctionDescription& function, PyObject* const* args,
                                Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots);

// "'{type}' object is not an instance of '{expected}'" (or "'None' is not an
// instance of ...") as a TypeError.
void raise_type_mismatch(PyObject* obj, PyTypeObject* expected);

// Adds the note "while processing '{name}'" to the current exception; its
// type, message and args stay as they are.
void argument_extraction_error(std::string_view parameter);

// Conversions. The text view borrows the str's cached UTF-8 form, obtained
// with one call.
inline bool to_text(PyObject* obj, std::string_view& out) {
  if (!PyUnicode_Check(obj)) [[unlikely]] {
    raise_type_mismatch(obj, &PyUnicode_Type);
    return false;
  }
  if (PyUnicode_IS_COMPACT_ASCII(obj)) [[likely]] {
    // The UTF-8 form of an ASCII str is its own data.
    out = std::string_view(static_cast<const char*>(PyUnicode_DATA(obj)),
                           static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj)));
    return true;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) [[unlikely]] return false;
  out = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}
bool to_backed_text(PyObject* obj, PyBackedStr& out);
// The same, taking over a new reference (an item fresh from an iterator).
bool to_backed_text(OwnedRef obj, PyBackedStr& out);
bool to_float(PyObject* obj, double& out);
// An unsigned integer of at most 32 bits, held in the core's word type.
bool to_u32(PyObject* obj, std::size_t& out);
bool to_bool(PyObject* obj, bool& out);

// A required parameter: converted, or the conversion error with its note.
template <class T, bool (*Convert)(PyObject*, T&)>
bool extract(PyObject* slot, std::string_view parameter, T& out) {
  if (Convert(slot, out)) [[likely]] return true;
  argument_extraction_error(parameter);
  return false;
}

// An optional parameter: empty or None stays absent, anything else converts.
template <class T, bool (*Convert)(PyObject*, T&)>
bool extract(PyObject* slot, std::string_view parameter, std::optional<T>& out) {
  if (slot == nullptr || slot == Py_None) return true;
  T value;
  if (!Convert(slot, value)) [[unlikely]] {
    argument_extraction_error(parameter);
    return false;
  }
  out = value;
  return true;
}

}  // namespace quillstone::python
