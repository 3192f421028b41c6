// levenshtein_batch, damerau_batch and jaro_winkler_batch: one query against a
// sequence of candidates, one core call, a list back in candidate order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "candidates.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

namespace {

// From this many candidates on the core runs detached from the interpreter;
// shorter batches do not pay for detaching and re-attaching.
constexpr std::size_t kDetachThreshold = 10000;

struct BatchInput {
  PyBackedStr query;
  CandidateTexts candidates;
  std::optional<double> p;
  std::optional<bool> case_insensitive;
};

// A later argument cannot be used: a candidate that cannot be taken is still
// reported first, since candidates come first in the signature.
bool fail_after_candidates(BatchInput& in, std::string_view candidates) {
  PyObject* pending = PyErr_GetRaisedException();
  if (!in.candidates.check_rest()) {
    Py_DecRef(pending);
    argument_extraction_error(candidates);
    return false;
  }
  PyErr_SetRaisedException(pending);
  return false;
}

// Binds and converts in signature order: query, candidates, (p),
// case_insensitive. The candidates are opened here and read chunk by chunk
// while they are scored.
template <const FunctionDescription& Function, bool HasPrefixScale>
bool bind_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BatchInput& in) {
  constexpr std::size_t kSlots = HasPrefixScale ? 4 : 3;
  PyObject* slots[kSlots] = {};
  if (!extract_arguments_fastcall(Function, args, nargs, kwnames, slots)) return false;
  const auto& names = Function.parameters;
  if (!to_backed_text(slots[0], in.query)) {
    argument_extraction_error(names[0]);
    return false;
  }
  if (!in.candidates.open(slots[1])) {
    argument_extraction_error(names[1]);
    return false;
  }
  if constexpr (HasPrefixScale) {
    if (!extract<double, to_float>(slots[2], names[2], in.p)) return fail_after_candidates(in, names[1]);
  }
  if (!extract<bool, to_bool>(slots[kSlots - 1], names[kSlots - 1], in.case_insensitive)) {
    return fail_after_candidates(in, names[1]);
  }
  return true;
}

// Scores the candidates chunk by chunk with `compute`, appending to `out`;
// with kDetachThreshold candidates or more, every chunk is scored detached
// from the interpreter, and the next one is read attached. Nothing in
// `compute` touches a Python object, and nothing throws: an allocation
// failure while detached ends the process. False with the exception set.
template <class T, class Compute>
bool score_chunks(BatchInput& in, std::string_view candidates, std::vector<T>& out,
                  Compute compute) {
  const bool detach = in.candidates.size() >= kDetachThreshold;
  out.reserve(in.candidates.size());
  for (;;) {
    const CandidateTexts::Next next = in.candidates.next();
    if (next == CandidateTexts::Next::kEnd) return true;
    if (next == CandidateTexts::Next::kError) {
      argument_extraction_error(candidates);
      return false;
    }
    const std::span<const TextView> chunk = in.candidates.chunk();
    PyThreadState* thread = detach ? PyEval_SaveThread() : nullptr;
    compute(in.query.view(), chunk, out);
    if (thread != nullptr) PyEval_RestoreThread(thread);
  }
}

// Gives the holders' references back; only ever called attached.
void release(BatchInput& in) noexcept {
  in.candidates.release();
  in.query.reset();
}

// A list of exactly values.size() slots, filled in order.
template <class T, PyObject* (*Make)(T)>
PyObject* to_list(const std::vector<T>& values) {
  OwnedRef list(checked_result(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), checked_result(Make(values[i])));
  }
  return list.release();
}

PyObject* make_int(std::size_t value) { return PyLong_FromUnsignedLongLong(value); }

// Similarities repeat a lot across candidates; equal scores (bit for bit) of
// one call share one float object instead of allocating one each.
class FloatCache {
 public:
  // Long lists get a larger table: their hundreds of distinct scores would
  // otherwise keep evicting each other.
  explicit FloatCache(std::size_t values)
      : bits_(values >= (std::size_t{1} << kLargeBits) ? kLargeBits : kSmallBits),
        slots_(std::size_t{1} << bits_) {}

  PyObject* make(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15ull) >> (64 - bits_)];
    if (slot.obj != nullptr && slot.bits == bits) {
      Py_IncRef(slot.obj);
      return slot.obj;
    }
    PyObject* obj = checked_result(PyFloat_FromDouble(value));
    slot = {obj, bits};  // borrowed: the result list owns it
    return obj;
  }

 private:
  static constexpr unsigned kSmallBits = 8, kLargeBits = 12;
  struct Slot {
    PyObject* obj = nullptr;
    std::uint64_t bits = 0;
  };
  unsigned bits_;
  std::vector<Slot> slots_;
};

PyObject* to_float_list(const std::vector<double>& values) {
  OwnedRef list(checked_result(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  FloatCache cache(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), cache.make(values[i]));
  }
  return list.release();
}

using EditDistanceBatchCore = std::vector<std::size_t> (*)(TextView, std::span<const TextView>,
                                                           std::optional<bool>);

template <const FunctionDescription& Function, EditDistanceBatchCore Core>
PyObject* edit_distance_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BatchInput in;
  if (!bind_batch<Function, false>(args, nargs, kwnames, in)) return nullptr;
  std::vector<std::size_t> distances;
  const bool scored = score_chunks(
      in, Function.parameters[1], distances,
      [&](TextView query, std::span<const TextView> chunk, std::vector<std::size_t>& out) noexcept {
        const std::vector<std::size_t> part = Core(query, chunk, in.case_insensitive);
        out.insert(out.end(), part.begin(), part.end());
      });
  release(in);
  if (!scored) return nullptr;
  return to_list<std::size_t, make_int>(distances);
}

}  // namespace

PyObject* levenshtein_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance_batch<kLevenshteinBatch, quillstone::levenshtein_batch>(args, nargs, kwnames);
}

PyObject* damerau_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance_batch<kDamerauBatch, quillstone::damerau_batch>(args, nargs, kwnames);
}

PyObject* jaro_winkler_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  BatchInput in;
  if (!bind_batch<kJaroWinklerBatch, true>(args, nargs, kwnames, in)) return nullptr;
  // A bad prefix scale fails before any candidate is scored, yet after every
  // candidate has been taken.
  const Result<std::vector<double>> checked =
      quillstone::jaro_winkler_batch(in.query.view(), {}, in.p, in.case_insensitive);
  if (!checked) {
    const bool taken = in.candidates.check_rest();
    release(in);
    if (taken) {
      raise_match_error(checked.error());
    } else {
      argument_extraction_error(kJaroWinklerBatch.parameters[1]);
    }
    return nullptr;
  }
  std::vector<double> similarities;
  const bool scored = score_chunks(
      in, kJaroWinklerBatch.parameters[1], similarities,
      [&](TextView query, std::span<const TextView> chunk, std::vector<double>& out) noexcept {
        const Result<std::vector<double>> part =
            quillstone::jaro_winkler_batch(query, chunk, in.p, in.case_insensitive);
        out.insert(out.end(), part.value().begin(), part.value().end());
      });
  release(in);
  if (!scored) return nullptr;
  return to_float_list(similarities);
}

}  // namespace quillstone::python
