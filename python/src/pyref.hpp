// Owned references and backed text: every new reference the module takes is
// held by one of these, so each path, errors included, gives it back.
#pragma once

#include <string_view>
#include <utility>

#include "compat.hpp"

namespace quillstone::python {

// Reference counts change through the headers' inline forms: a batch changes
// one per candidate, and a call to the interpreter for each costs more than
// the change. The module is built for one interpreter build at a time.
inline void add_ref(PyObject* obj) noexcept { Py_INCREF(obj); }

// Gives a reference back; null is ignored.
inline void drop_ref(PyObject* obj) noexcept { Py_XDECREF(obj); }

// A strong reference, released when the holder goes away.
class OwnedRef {
 public:
  OwnedRef() noexcept = default;
  // Takes over a new reference (or null, after a failed call).
  explicit OwnedRef(PyObject* steal) noexcept : obj_(steal) {}
  // Takes a new reference to a borrowed object.
  static OwnedRef borrowed(PyObject* obj) noexcept {
    add_ref(obj);
    return OwnedRef(obj);
  }

  OwnedRef(OwnedRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    OwnedRef(std::move(other)).swap(*this);
    return *this;
  }
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  ~OwnedRef() { drop_ref(obj_); }

  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  // Hands the reference to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  void reset() noexcept { OwnedRef().swap(*this); }
  void swap(OwnedRef& other) noexcept { std::swap(obj_, other.obj_); }

 private:
  PyObject* obj_ = nullptr;
};

// A borrowed view of a str's cached UTF-8 form together with a strong
// reference to that str. A str is immutable and its UTF-8 cache lives as long
// as the str, so the view stays valid while the thread is detached.
class PyBackedStr {
 public:
  PyBackedStr() noexcept = default;
  PyBackedStr(OwnedRef owner, std::string_view view) noexcept
      : owner_(std::move(owner)), view_(view) {}

  std::string_view view() const noexcept { return view_; }
  void reset() noexcept {
    owner_.reset();
    view_ = {};
  }

 private:
  OwnedRef owner_;
  std::string_view view_;
};

}  // namespace quillstone::python
