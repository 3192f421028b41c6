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

// Conversions. The text view borrows the str's cached UTF-8 form.
bool to_text(PyObject* obj, std::string_view& out);
bool to_backed_text(PyObject* obj, PyBackedStr& out);
// The same, taking over a new reference (an item fresh from an iterator).
bool to_backed_text(OwnedRef obj, PyBackedStr& out);
bool to_float(PyObject* obj, double& out);
bool to_u32(PyObject* obj, std::uint32_t& out);
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

inline std::optional<std::size_t> widen(std::optional<std::uint32_t> value) noexcept {
  if (value) return *value;
  return std::nullopt;
}

}  // namespace quillstone::python
