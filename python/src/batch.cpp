// levenshtein_batch, damerau_batch and jaro_winkler_batch: one query, prepared
// once, against a sequence of candidates taken at one moment, scored chunk by
// chunk, a list back in candidate order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "candidates.hpp"
#include "errors.hpp"
#include "functions.hpp"

namespace quillstone::python {

namespace {

// From this many candidates on the core runs detached from the interpreter
// (the reason beside its value in python/CMakeLists.txt).
constexpr std::size_t kDetachThreshold = QUILLSTONE_DETACH_AT;

// Binding failed. When it failed at an argument after the candidates, a
// candidate that cannot be taken is still reported first, since candidates
// come first in the signature: they are opened by the binding and read later.
bool fail_after_candidates(CandidateTexts& candidates) {
  if (!candidates.opened()) return false;
  PyObject* pending = PyErr_GetRaisedException();
  if (!candidates.check_rest()) {
    drop_ref(pending);
    argument_extraction_error("candidates");
    return false;
  }
  PyErr_SetRaisedException(pending);
  return false;
}


// Distances are mostly small, and the interpreter keeps one object for each
// small int. Each distance below kCached is asked for once a call; an object
// the interpreter keeps forever (immortal) goes into the list as it is, since
// counting references to it changes nothing, any other with a reference.
class IntCache {
 public:
  PyObject* make(std::size_t value) {
    if (value >= kCached) return checked_result(PyLong_FromUnsignedLongLong(value));
    Slot& slot = slots_[value];
    if (slot.obj == nullptr) {
      slot.obj = checked_result(PyLong_FromUnsignedLongLong(value));
      if (slot.obj == nullptr) return nullptr;
      slot.immortal = is_immortal(slot.obj);
      return slot.obj;  // borrowed from here on: the result list owns it
    }
    if (!slot.immortal) add_ref(slot.obj);
    return slot.obj;
  }

 private:
  static constexpr std::size_t kCached = 256;
  struct Slot {
    PyObject* obj = nullptr;
    bool immortal = false;
  };
  Slot slots_[kCached];
};

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
      add_ref(slot.obj);
      return slot.obj;
    }
    PyObject* obj = checked_result(PyFloat_FromDouble(value));
    if (obj == nullptr) return nullptr;
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

// Scores the candidates chunk by chunk with `score(chunk, out)`, the query
// prepared once for the whole call, and writes each chunk's scores, made into
// objects by `make`, straight into the result list, whose slots match the
// candidates one for one. With kDetachThreshold candidates or more every
// chunk is scored detached from the interpreter; the next one is read, and
// the objects made, attached. Nothing in `score` touches a Python object,
// and nothing throws: the core ends the process on a failed allocation. The
// list, or null with the exception set (the slots not scored yet, holding a
// candidate or nothing, go with the list).
template <class T, class Score, class Make>
PyObject* score_into_list(CandidateTexts& candidates, Score score, Make make) {
  const bool detach = candidates.size() >= kDetachThreshold;
  std::vector<T> scores;
  std::size_t filled = 0;
  for (;;) {
    const CandidateTexts::Next next = candidates.next();
    if (next == CandidateTexts::Next::kEnd) return candidates.results().finish();
    if (next == CandidateTexts::Next::kError) {
      argument_extraction_error("candidates");
      return nullptr;
    }
    const std::span<const TextView> chunk = candidates.chunk();
    scores.resize(chunk.size());
    PyThreadState* thread = detach ? PyEval_SaveThread() : nullptr;
    score(chunk, std::span<T>(scores));
    if (thread != nullptr) PyEval_RestoreThread(thread);
    if (!candidates.results().put(filled, std::span<const T>(scores), make)) return nullptr;
    filled += scores.size();
  }
}

template <const FunctionDescription& Function, EditMetric Metric>
PyObject* edit_distance_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<Function> arguments;
  auto& [query, candidates, case_insensitive] = arguments.values();
  if (!arguments.bind(args, nargs, kwnames)) {
    fail_after_candidates(candidates);
    return nullptr;
  }
  const EditDistanceBatch<Metric> batch(query, case_insensitive);
  IntCache ints;
  PyObject* list = score_into_list<std::size_t>(
      candidates,
      [&](std::span<const TextView> chunk, std::span<std::size_t> out) noexcept {
        batch.distances(chunk, out);
      },
      [&](std::size_t value) { return ints.make(value); });
  candidates.release();
  return list;
}

}  // namespace

PyObject* levenshtein_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance_batch<kLevenshteinBatch, EditMetric::Levenshtein>(args, nargs, kwnames);
}

PyObject* damerau_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return edit_distance_batch<kDamerauBatch, EditMetric::OptimalAlignment>(args, nargs, kwnames);
}

PyObject* jaro_winkler_batch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments<kJaroWinklerBatch> arguments;
  auto& [query, candidates, p, case_insensitive] = arguments.values();
  if (!arguments.bind(args, nargs, kwnames)) {
    fail_after_candidates(candidates);
    return nullptr;
  }
  // A bad prefix scale fails before any candidate is scored, yet after every
  // candidate has been taken.
  const Result<JaroWinklerBatch> prepared = JaroWinklerBatch::create(query, p, case_insensitive);
  if (!prepared) {
    const bool taken = candidates.check_rest();
    candidates.release();
    if (taken) {
      raise_match_error(prepared.error());
    } else {
      argument_extraction_error("candidates");
    }
    return nullptr;
  }
  const JaroWinklerBatch& batch = prepared.unchecked_value();
  FloatCache floats(candidates.size());
  PyObject* list = score_into_list<double>(
      candidates,
      [&](std::span<const TextView> chunk, std::span<double> out) noexcept {
        batch.similarities(chunk, out);
      },
      [&](double value) { return floats.make(value); });
  candidates.release();
  return list;
}

}  // namespace quillstone::python
