// A batch call's result list, made before the first score and filled slot by
// slot. Given an exact list of candidates, it first holds their items: the
// candidates taken at one moment and the list returned are one block of
// memory.
#pragma once

#include <cstddef>
#include <span>

#include "compat.hpp"
#include "pyref.hpp"

namespace quillstone::python {

// Until finish() hands it over, the list is hidden from the garbage collector
// (gc.get_objects() in another thread while this one is detached shows no
// list half candidates, half scores), and every slot is either empty or owns
// a reference.
class ResultList {
 public:
  // `size` empty slots; false with MemoryError set.
  bool create(std::size_t size) {
    list_ = OwnedRef(PyList_New(static_cast<Py_ssize_t>(size)));
    if (!list_) return false;
    PyObject_GC_UnTrack(list_.get());
    // Never resized: its slots stay where they are.
    slots_ = {PySequence_Fast_ITEMS(list_.get()), size};
    return true;
  }

  // The items of the exact list `list` at one moment, each with a reference
  // of its own: the interpreter's slice of the whole list, copied in one
  // pass under the list's lock that runs no Python code (with a global lock,
  // no other thread runs during it either), so that what another thread
  // does to `list` afterwards changes nothing here. False with the
  // exception set.
  //
  // A copy taken into a buffer of its own, given back at the end of the
  // call, would sit at the top of the heap beside this list: when the
  // caller drops the list too, the allocator returns both to the kernel, and
  // the next call faults every page of both in again.
  template <class TooLarge>
  bool take_items(PyObject* list, Py_ssize_t most, TooLarge too_large) {
    if (PyList_GET_SIZE(list) > most) return too_large();
    list_ = OwnedRef(PyList_GetSlice(list, 0, PY_SSIZE_T_MAX));
    if (!list_) return false;
    PyObject_GC_UnTrack(list_.get());
    const Py_ssize_t size = PyList_GET_SIZE(list_.get());
    if (size > most) return too_large();  // grown since the first look
    slots_ = {PySequence_Fast_ITEMS(list_.get()), static_cast<std::size_t>(size)};
    return true;
  }

  // The slots: the candidates' items where take_items() put them and no
  // score has replaced them yet, null where neither is.
  std::span<PyObject* const> slots() const noexcept { return slots_; }

  // Puts make(values[k]) (a new reference, or null with the exception
  // set) in slot from + k for each k, giving back the reference each slot
  // held; false at the first null. Attached only.
  template <class T, class Make>
  bool put(std::size_t from, std::span<const T> values, Make make) noexcept {
    PyObject** slots = slots_.data() + from;
    for (const T value : values) {
      PyObject* item = make(value);
      if (item == nullptr) return false;
      PyObject* held = *slots;
      *slots++ = item;
      drop_ref(held);
    }
    return true;
  }

  // The list, every slot filled by put(), seen by the collector again.
  PyObject* finish() noexcept {
    PyObject_GC_Track(list_.get());
    slots_ = {};
    return list_.release();
  }

  void release() noexcept {
    slots_ = {};
    list_.reset();
  }

 private:
  OwnedRef list_;
  std::span<PyObject*> slots_;
};

}  // namespace quillstone::python
