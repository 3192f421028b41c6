// Argument binding and the conversion of single values.
//
// Each Python function is described once, by its name and a constexpr list of
// parameters (name, kind, optional). That description is the binder's input,
// sizes the slot array, gives the text signature, and selects the conversion
// of every slot, so nothing else restates a parameter.
//
// The binder places the positional and keyword arguments of a fast call into
// one slot per parameter; the conversions turn one slot into a C++ value. Each
// returns false with the interpreter's exception set on failure. The binder
// takes no references and allocates nothing unless it fails.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "compat.hpp"
#include "errors.hpp"
#include "pyref.hpp"
#include "quillstone/quillstone.hpp"

namespace quillstone::python {

// What a slot is converted to.
enum class Kind {
  text,             // the argument's code units, borrowed
  real,             // a 64-bit float
  u32,              // an unsigned 32-bit integer
  boolean,          // True or False (or numpy's boolean scalar)
  candidate_texts,  // the views of a batch call's candidates (candidates.hpp)
  owned_copies,     // candidates copied into owned strings (candidates.hpp)
  backed_texts,     // candidates as backed texts (candidates.hpp)
};

inline constexpr bool kOptional = true;

// Every parameter may be given by position or by keyword; an optional one
// defaults to None, which the binding passes on as absent.
struct Parameter {
  std::string_view name;
  Kind kind;
  bool optional = false;
};

// One Python function: its name and parameters in signature order, the
// required ones first.
struct FunctionDescription {
  consteval FunctionDescription(std::string_view function_name,
                                std::span<const Parameter> function_parameters)
      : name(function_name), parameters(function_parameters), required(0) {
    while (required < parameters.size() && !parameters[required].optional) ++required;
    for (std::size_t i = required; i < parameters.size(); ++i) {
      if (!parameters[i].optional) throw "a required parameter follows an optional one";
    }
  }

  std::string_view name;
  std::span<const Parameter> parameters;
  std::size_t required;
};

// The doc string that carries only the text signature,
// "name(a, b, c=None)\n--\n\n", handed to `put` piece by piece.
template <class Put>
constexpr void write_text_signature(const FunctionDescription& function, Put put) {
  put(function.name);
  put("(");
  for (std::size_t i = 0; i < function.parameters.size(); ++i) {
    if (i > 0) put(", ");
    put(function.parameters[i].name);
    if (function.parameters[i].optional) put("=None");
  }
  put(")\n--\n\n");
}

constexpr std::size_t text_signature_size(const FunctionDescription& function) {
  std::size_t size = 0;
  write_text_signature(function, [&](std::string_view piece) { size += piece.size(); });
  return size;
}

// That doc string as a zero-terminated array.
template <const FunctionDescription& Function>
inline constexpr auto kTextSignature = [] {
  std::array<char, text_signature_size(Function) + 1> doc{};
  std::size_t at = 0;
  write_text_signature(Function, [&](std::string_view piece) {
    for (const char c : piece) doc[at++] = c;
  });
  return doc;
}();

// Each function's parameter names as the main interpreter's interned strs,
// null until a module is executed there. Keyword names written in Python
// source arrive as those very objects, so the binder looks a keyword up by
// identity first, with no load of its type, form or bytes; any other
// keyword (another interpreter's, or a str made at run time) is compared by
// its bytes. The references are never given back, so no other object can
// take one's address; executing a module again in a new main interpreter
// (after the interpreter was finalized) replaces them before any of its
// functions can be called.
template <const FunctionDescription& Function>
inline std::atomic<PyObject*> g_interned_names[Function.parameters.size()] = {};

// Fills g_interned_names<Function> when called in the main interpreter.
template <const FunctionDescription& Function>
bool intern_parameter_names() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) return true;
  for (std::size_t i = 0; i < Function.parameters.size(); ++i) {
    const std::string_view name = Function.parameters[i].name;
    PyObject* interned = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (interned == nullptr) return false;
    PyUnicode_InternInPlace(&interned);
    // Executed twice in one interpreter, the module finds the same str.
    if (g_interned_names<Function>[i].exchange(interned, std::memory_order_relaxed) == interned) {
      drop_ref(interned);
    }
  }
  return true;
}

// Fills `slots` (all null on entry, one per parameter) with borrowed
// references, or raises the binding TypeError. `interned` holds the
// parameters' names as interned strs, or nulls.
bool extract_arguments_fastcall(const FunctionDescription& function, const std::atomic<PyObject*>* interned,
                                PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                std::span<PyObject*> slots);

// "'{type}' object is not an instance of '{expected}'" (or "'None' is not an
// instance of ...") as a TypeError.
void raise_type_mismatch(PyObject* obj, PyTypeObject* expected);

// Adds the note "while processing '{name}'" to the current exception; its
// type, message and args stay as they are.
void argument_extraction_error(std::string_view parameter);

// Whether code units hold a lone surrogate, which has no UTF-8 form: a unit
// from 0xD800 to 0xDFFF is one once its low 11 bits are cleared. Eight or four
// units at a time, the last ones in a load that may overlap the one before.
// Texts of one to four loads, as most names and words are, take four loads
// whatever their length, so that no branch depends on it.
template <class Unit>
[[gnu::always_inline]] inline bool holds_surrogate(const Unit* units, std::size_t length) noexcept {
  constexpr std::uint32_t kHigh = ~std::uint32_t{0x7FF}, kSurrogate = 0xD800;
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16 / sizeof(Unit);
  if (length >= kStep) {
    const auto surrogates = [&](std::size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
      if constexpr (sizeof(Unit) == 2) {
        return _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(kHigh))),
                               _mm_set1_epi16(static_cast<short>(kSurrogate)));
      } else {
        return _mm_cmpeq_epi32(_mm_and_si128(v, _mm_set1_epi32(static_cast<int>(kHigh))),
                               _mm_set1_epi32(static_cast<int>(kSurrogate)));
      }
    };
    const std::size_t last = length - kStep;
    __m128i any = _mm_or_si128(_mm_or_si128(surrogates(0), surrogates(std::min(kStep, last))),
                               _mm_or_si128(surrogates(std::min(2 * kStep, last)), surrogates(last)));
    for (std::size_t i = 3 * kStep; i < last; i += kStep) any = _mm_or_si128(any, surrogates(i));
    return _mm_movemask_epi8(any) != 0;
  }
  // Shorter texts (CJK words, emoji) take a fixed number of units, the last
  // one repeated, so that no branch depends on their length either.
  if (length == 0) return false;
  bool any = false;
  for (std::size_t i = 0; i + 1 < kStep; ++i) {
    any |= (static_cast<std::uint32_t>(units[std::min(i, length - 1)]) & kHigh) == kSurrogate;
  }
  return any;
#else
  bool any = false;
  for (std::size_t i = 0; i < length; ++i) any |= (static_cast<std::uint32_t>(units[i]) & kHigh) == kSurrogate;
  return any;
#endif
}

// The bytes of a compact ASCII str, in place.
inline TextView ascii_units_of(PyObject* obj) noexcept {
  return TextView(static_cast<const unsigned char*>(PyUnicode_DATA(obj)),
                  static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj)));
}

// The code units of any str, in place, with no branch on their width (in
// lists of mixed widths one would be mispredicted about every other time)
// nor between ASCII and Latin-1, which differ only in where their bytes
// start and alternate at random on names whose variants drop their accents.
inline TextView str_units_of(PyObject* obj) noexcept {
  const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj));
  const auto kind = static_cast<unsigned>(PyUnicode_KIND(obj));
  // Made by the legacy API, its units lie elsewhere.
  if (!PyUnicode_IS_COMPACT(obj)) [[unlikely]] return TextView(PyUnicode_DATA(obj), length, kind);
  constexpr std::size_t kAsciiHeader = sizeof(PyASCIIObject), kHeader = sizeof(PyCompactUnicodeObject);
  const std::size_t header = kHeader - (kHeader - kAsciiHeader) * PyUnicode_IS_ASCII(obj);
  return TextView(reinterpret_cast<const char*>(obj) + header, length, kind);
}

// Whether the units of a str of two- or four-byte units hold a lone
// surrogate; if so, raises the interpreter's own UnicodeEncodeError, from
// its UTF-8 conversion, which names the position.
inline bool refuse_surrogate(PyObject* obj, TextView text) {
  const bool surrogate = text.width() == 2
                             ? holds_surrogate(static_cast<const Py_UCS2*>(text.data()), text.size())
                             : holds_surrogate(static_cast<const Py_UCS4*>(text.data()), text.size());
  if (!surrogate) [[likely]] return false;
  PyUnicode_AsUTF8AndSize(obj, nullptr);
  return true;
}

// Conversions. The text view borrows the str's own code units, in place; a
// str that holds a lone surrogate is refused.
inline bool to_text(PyObject* obj, TextView& out) {
  if (!PyUnicode_Check(obj)) [[unlikely]] {
    raise_type_mismatch(obj, &PyUnicode_Type);
    return false;
  }
  out = str_units_of(obj);
  return out.narrow() || !refuse_surrogate(obj, out);
}
// A str's UTF-8 form and a reference to it (the borrowing probes), taking
// over a new reference (an item fresh from an iterator).
bool to_backed_text(OwnedRef obj, PyBackedStr& out);
bool to_float(PyObject* obj, double& out);
// An unsigned integer of at most 32 bits, held in the core's word type.
bool to_u32(PyObject* obj, std::size_t& out);
bool to_bool(PyObject* obj, bool& out);

// The common cases of those conversions, which cannot fail and run no
// Python code: false, with `out` untouched, for a value that needs the full
// conversion.
inline bool quick_float(PyObject* obj, double& out) noexcept {
  if (!PyFloat_CheckExact(obj)) return false;
  out = PyFloat_AS_DOUBLE(obj);
  return true;
}
inline bool quick_u32(PyObject* obj, std::size_t& out) noexcept {
  if (!PyLong_CheckExact(obj) || !PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(obj))) return false;
  const Py_ssize_t small = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(obj));
  if (small < 0 || static_cast<std::uint64_t>(small) > UINT32_MAX) return false;
  out = static_cast<std::size_t>(small);
  return true;
}
inline bool quick_bool(PyObject* obj, bool& out) noexcept {
  if (obj != Py_True && obj != Py_False) return false;
  out = obj == Py_True;
  return true;
}

// The value a kind converts to, and the conversion.
template <Kind K>
struct Conversion;

template <class T, bool (*Convert)(PyObject*, T&)>
struct ConvertWith {
  using Value = T;
  static constexpr bool kQuick = false;
  static bool convert(PyObject* obj, T& out) { return Convert(obj, out); }
};

// A kind whose conversion has a common case, `Quick`.
template <class T, bool (*Convert)(PyObject*, T&), bool (*Quick)(PyObject*, T&) noexcept>
struct ConvertQuicklyWith : ConvertWith<T, Convert> {
  static constexpr bool kQuick = true;
  static bool quick(PyObject* obj, T& out) noexcept { return Quick(obj, out); }
};

template <>
struct Conversion<Kind::text> : ConvertWith<TextView, to_text> {};
template <>
struct Conversion<Kind::real> : ConvertQuicklyWith<double, to_float, quick_float> {};
template <>
struct Conversion<Kind::u32> : ConvertQuicklyWith<std::size_t, to_u32, quick_u32> {};
template <>
struct Conversion<Kind::boolean> : ConvertQuicklyWith<bool, to_bool, quick_bool> {};

// The converted arguments of one call, one value per parameter in signature
// order: an optional parameter's is a std::optional, empty for None or
// omission.
template <const FunctionDescription& Function>
class Arguments {
  static constexpr std::size_t kCount = Function.parameters.size();

  template <std::size_t I>
  using ConversionOf = Conversion<Function.parameters[I].kind>;
  template <std::size_t I>
  using ValueOf = std::conditional_t<Function.parameters[I].optional,
                                     std::optional<typename ConversionOf<I>::Value>,
                                     typename ConversionOf<I>::Value>;
  template <std::size_t... I>
  static std::tuple<ValueOf<I>...> tuple_of(std::index_sequence<I...>);

 public:
  using Values = decltype(tuple_of(std::make_index_sequence<kCount>{}));

  // Binds, then converts the slots in signature order; at the first error
  // (its note added) the later ones are not examined.
  //
  // Options that convert by their common case, which cannot fail, are taken
  // first. The core call copies each option whole, in one load wider than
  // the stores that set it; made just before the call, those stores would
  // still be on their way to the cache, and the load would wait for them.
  bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[kCount] = {};
    if (!extract_arguments_fastcall(Function, g_interned_names<Function>, args, nargs, kwnames, slots)) {
      return false;
    }
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      (take_quick_option<I>(slots[I]), ...);
      return (convert<I>(slots[I]) && ...);
    }(std::make_index_sequence<kCount>{});
  }

  Values& values() noexcept { return values_; }

 private:
  // An option taken here leaves its slot empty for convert().
  template <std::size_t I>
  void take_quick_option(PyObject*& slot) noexcept {
    if constexpr (Function.parameters[I].optional) {
      if constexpr (ConversionOf<I>::kQuick) {
        typename ConversionOf<I>::Value value;
        if (slot == nullptr || !ConversionOf<I>::quick(slot, value)) return;
        std::get<I>(values_).emplace(value);
        slot = nullptr;
      }
    }
  }

  template <std::size_t I>
  bool convert(PyObject* slot) {
    constexpr Parameter parameter = Function.parameters[I];
    auto& value = std::get<I>(values_);
    if constexpr (parameter.optional) {
      if (slot == nullptr || slot == Py_None) return true;
      if (ConversionOf<I>::convert(slot, value.emplace())) [[likely]] return true;
    } else {
      if (ConversionOf<I>::convert(slot, value)) [[likely]] return true;
    }
    argument_extraction_error(parameter.name);
    return false;
  }

  Values values_;
};

}  // namespace quillstone::python
