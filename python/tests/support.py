"""What the Python tests share: the module's limits, the plain references the
results are checked against, and the hostile objects and call helpers. Each
is defined here once; test files import it by name (a child interpreter
started by a test can import it too, with this directory on its path)."""

import json
import os
import sys

import pytest

import quillstone as q

# The limits the module was built with, written beside it by the build.
with open(os.path.join(os.path.dirname(q.__file__), "quillstone_limits.json"), encoding="ascii") as _f:
    LIMITS = json.load(_f)
# From this many candidates on a batch runs detached from the interpreter.
DETACH_AT = LIMITS["detach_at"]
# The most candidates one call takes; one more is an internal fault.
CAPACITY_LIMIT = LIMITS["max_candidates"]
OVER_CAPACITY = CAPACITY_LIMIT + 1
# Candidates read and scored per chunk.
CHUNK_ITEMS = LIMITS["chunk_items"]
NOTE = "while processing '%s'"


# ---------------------------------------------------------------- references

def levenshtein(a: str, b: str) -> int:
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[-1]


def osa(a: str, b: str) -> int:
    """Optimal string alignment: Levenshtein plus adjacent transpositions."""
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        d[i][0] = i
    for j in range(len(b) + 1):
        d[0][j] = j
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            cost = a[i - 1] != b[j - 1]
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost)
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + 1)
    return d[-1][-1]


def jaro_winkler_of(m, t, n1, n2, prefix, p=0.1):
    """The score from its counts (m matches, t half-transpositions, the
    lengths, the common prefix), the float operations in a fixed order so
    that the result is bit for bit the one the module must return."""
    jaro = ((m / n2 + m / n1) + (m - t // 2) / m) / 3.0
    return jaro + (1.0 - jaro) * (p * prefix) if jaro > 0.7 else jaro


def jaro_winkler(a: str, b: str, p: float = 0.1) -> float:
    """The textbook matching loops."""
    n1, n2 = len(a), len(b)
    if n1 == 0:
        return 1.0 if n2 == 0 else 0.0
    if n2 == 0:
        return 0.0
    w = max(n1, n2) // 2
    w = w - 1 if w else 0
    used1, used2 = [False] * n1, [False] * n2
    m = 0
    for i in range(n1):
        for j in range(max(0, i - w), min(n2, i + w + 1)):
            if not used2[j] and a[i] == b[j]:
                used1[i] = used2[j] = True
                m += 1
                break
    if m == 0:
        return 0.0
    t = sum(x != y for x, y in zip(
        (c for c, u in zip(a, used1) if u), (c for c, u in zip(b, used2) if u)))
    prefix = 0
    for x, y in zip(a[:4], b[:4]):
        if x != y:
            break
        prefix += 1
    return jaro_winkler_of(m, t, n1, n2, prefix, p)


# ---------------------------------------------------------------- hostile objects

def throw(exc, message):
    """Raises `exc`: an instance as it is, a class as a new instance (so that
    a hook called many times does not chain each traceback onto the last)."""
    raise exc(message) if isinstance(exc, type) else exc


def is_exception(value):
    return isinstance(value, BaseException) or (
        isinstance(value, type) and issubclass(value, BaseException))


class MyStr(str):
    pass


class Raises:
    """Raises its exception (see throw) from every hook the module may call:
    __index__, __float__, and __getitem__ of a one-item sequence."""

    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        throw(self.exc, "from __index__")

    def __float__(self):
        throw(self.exc, "from __float__")

    def __len__(self):
        return 1

    def __getitem__(self, index):
        throw(self.exc, "from __getitem__")


def numpy_bool(exc):
    """An object named like numpy's boolean scalar, so its truth slot is
    called; that raises `exc` (see throw), or there is none when `exc` is
    None."""
    body = {"__module__": "numpy"}
    if exc is not None:
        def truth(self):
            throw(exc, "from __bool__")
        body["__bool__"] = truth
    return type("bool_", (), body)()


TRUE_LENGTH = object()


class Seq:
    """A sequence through __len__ and __getitem__ alone. `length` overrides
    what __len__ reports, whatever it is (an exception is raised instead, see
    throw); fetching index `fail_at` raises `exc`. With `record` the indices
    read are kept in `reads`."""

    def __init__(self, items, length=TRUE_LENGTH, fail_at=None, exc=LookupError, record=False):
        self.items, self.length, self.fail_at, self.exc = list(items), length, fail_at, exc
        self.reads = [] if record else None

    def __len__(self):
        if self.length is TRUE_LENGTH:
            return len(self.items)
        if is_exception(self.length):
            throw(self.length, "no length")
        return self.length

    def __getitem__(self, index):
        if self.reads is not None:
            self.reads.append(index)
        if index == self.fail_at:
            throw(self.exc, "no item %d" % index)
        return self.items[index]


class NoIter(Seq):
    """A sequence whose __iter__ raises `exc`."""

    def __iter__(self):
        throw(self.exc, "no iterator")


def fresh(text):
    """A str object of its own, whose reference count can move (literals and
    one-character strings may be shared or immortal)."""
    obj = "".join(list(text))
    assert len(obj) >= 2 and sys.getrefcount(obj) < 100, "not a private object"
    return obj


def panic_class():
    """The PanicException class, which the module does not export: a sequence
    claiming more candidates than the module can hold provokes one."""
    try:
        q._ingest_borrow(Seq([], OVER_CAPACITY))
    except BaseException as exc:  # noqa: BLE001 - PanicException is a BaseException
        return type(exc)
    raise AssertionError("a length above %d did not raise" % CAPACITY_LIMIT)


# ---------------------------------------------------------------- calls

def outcome(fn, *args, **kwargs):
    """What a call gives, in a form that compares equal across calls and
    threads: ("returned", type, value) or ("raised", type, args, notes)."""
    try:
        value = fn(*args, **kwargs)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # noqa: BLE001 - PanicException is a BaseException
        return ("raised", type(exc), exc.args, tuple(getattr(exc, "__notes__", ())))
    return ("returned", type(value), value)


def raised(call):
    try:
        call()
    except BaseException as exc:  # noqa: BLE001
        return exc
    raise AssertionError("no exception")


# The functions that take a candidate sequence, each as a call on it alone.
TAKERS = {
    "levenshtein_batch": lambda c: q.levenshtein_batch("kitten", c),
    "damerau_batch": lambda c: q.damerau_batch("kitten", c),
    "jaro_winkler_batch": lambda c: q.jaro_winkler_batch("kitten", c),
    "_ingest_owned": q._ingest_owned,
    "_ingest_borrow": q._ingest_borrow,
    "_ingest_borrow_and_deref": q._ingest_borrow_and_deref,
}
takers = pytest.mark.parametrize("take", TAKERS.values(), ids=TAKERS.keys())
