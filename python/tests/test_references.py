"""References and memory: each of the nine functions, on its successful paths
and on every one of its error paths, is called many times; afterwards every
argument object and every candidate item has the reference count it had
before, the interpreter holds no more memory blocks, and the process is no
larger."""

import contextlib
import gc
import os
import sys
import sysconfig

import pytest

import quillstone as q
from support import CAPACITY_LIMIT, DETACH_AT, NoIter, Raises, Seq, fresh, numpy_bool, outcome

pytestmark = pytest.mark.thread_unsafe(
    reason="measures interpreter memory blocks and the RSS, which are the whole process's")

CALLS = 1000  # per case, after the warm-up
WARM_UP = 50
ITEMS = 100  # candidates per sequence: a holder array leaked per call shows in the RSS
RSS_BOUND = 1 << 20  # bytes; a holder array leaked per call grows it by 2.4 MB
# An object or a reference leaked per call adds one per call; the
# interpreter's own caches add a few, whatever the number of calls.
LEAK_SHARE = 10
NOISE = 10
PANIC = "PanicException"  # stands for the module's class, which it does not export

def _rss_tells():
    """Whether the RSS shows a leak: it needs /proc, and no sanitizer runtime,
    whose allocator keeps freed memory in quarantine so the RSS grows anyway
    (an interpreter built with one has it linked in, not mapped as a library)."""
    if any(option in (sysconfig.get_config_var("CONFIG_ARGS") or "") for option in (
            "--with-address-sanitizer", "--with-thread-sanitizer", "--with-memory-sanitizer")):
        return False
    try:
        with open("/proc/self/statm") as statm, open("/proc/self/maps") as maps:
            statm.read()
            mapped = maps.read()
    except OSError:
        return False
    return not any(runtime in mapped for runtime in ("libasan", "libtsan", "libmsan"))


RSS_TELLS = _rss_tells()
# 0 when PYTHONMALLOC=malloc takes the interpreter's own allocator out of play
BLOCKS_TELL = sys.getallocatedblocks() > 0
# Only a debug interpreter counts all references (make test runs these tests
# under one, with a debug build of the module).
TOTAL_TELLS = hasattr(sys, "gettotalrefcount")


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


try:
    import ctypes
    _libc = ctypes.CDLL(None)
    _libc.malloc.restype = ctypes.c_void_p
    _libc.malloc.argtypes = [ctypes.c_size_t]
    _libc.free.argtypes = [ctypes.c_void_p]
except (ImportError, OSError, AttributeError):
    _libc = None


def settle():
    """Collects cycles and returns free memory to the system: memory freed by
    earlier tests would otherwise stay resident and hide a leak that reuses it."""
    gc.collect()
    if _libc is not None and hasattr(_libc, "malloc_trim"):  # glibc
        _libc.malloc_trim(0)


class Null:
    def write(self, text):
        return len(text)

    def flush(self):
        pass


@contextlib.contextmanager
def quiet():
    """A PanicException that comes back from Python code is printed through
    sys.excepthook and sys.stderr: both are muted while counting."""
    hook, sys.excepthook = sys.excepthook, lambda *exc: None
    try:
        with contextlib.redirect_stderr(Null()):
            yield
    finally:
        sys.excepthook = hook


# ---------------------------------------------------------------- hostile objects
# Hooks are given exception classes, so that they raise a new exception on
# every call: re-raising one stored instance would chain each traceback, and
# its frames, onto the last.

class ListSub(list):
    """Not an exact list: taken in by iteration, not by snapshot."""


class Objects:
    """The arguments of one test, all private objects."""

    def __init__(self, panic):
        self.panic = panic
        # long against short: folding and decoding the long one allocate
        # enough that a copy leaked per call shows in the RSS, yet each call
        # stays cheap
        self.s1 = fresh("Kitten and MITTENS, é and 日本 " * 200)
        self.s2 = fresh("sitting on mittens")
        self.query = fresh("Kitten é")
        self.lone = fresh("abc\udc80def")
        self.bad = int("1" * 30)  # not a str, not a small int
        self.items = [fresh("%s%d" % (("cand", "ÉTÉ", "x\U0010FFFFy", "a\0b")[i % 4], i))
                      for i in range(ITEMS)]

    def with_bad(self, bad, at):
        items = list(self.items)
        items.insert({"first": 0, "middle": ITEMS // 2, "last": ITEMS}[at], bad)
        return items


def watched(o, args, kwargs):
    """Every object a call is given, and the items of its candidate sequences,
    leaving out immortal ones (None, small ints), whose counts never move."""
    objs = [o.s1, o.s2, o.query, o.lone, o.bad, *o.items]
    for arg in (*args, *kwargs.values()):
        objs.append(arg)
        if isinstance(arg, (list, tuple)):
            objs.extend(arg)
        elif isinstance(arg, Seq):
            objs.extend(arg.items)
    return [obj for obj in objs if sys.getrefcount(obj) < 1 << 20]


def ending(fn, args, kwargs):
    """None for a result; else the exception's type and the notes it carries."""
    got = outcome(fn, *args, **kwargs)
    return None if got[0] == "returned" else (got[1], got[3])


def process_counts():
    """The process-wide counts this interpreter can tell."""
    counts = {}
    if TOTAL_TELLS:
        counts["references"] = sys.gettotalrefcount()
    if BLOCKS_TELL:
        counts["blocks"] = sys.getallocatedblocks()
    if RSS_TELLS:
        counts["rss"] = rss()
    return counts


def assert_no_leak(fn, args, kwargs, expect, watch, calls=CALLS):
    """Calls fn many times; each call must end as `expect` (what ending()
    gives), and the calls together must leave every watched reference count
    and, where the interpreter tells them, the total of all references, the
    interpreter's block count and the RSS as they were."""
    with quiet():
        for _ in range(WARM_UP):
            got = ending(fn, args, kwargs)
            assert got == expect
        settle()
        refs = [sys.getrefcount(obj) for obj in watch]
        before = process_counts()
        for _ in range(calls):
            got = ending(fn, args, kwargs)
            assert got == expect
        settle()
        after = process_counts()
    now = [sys.getrefcount(obj) for obj in watch]  # counted the same way as before
    changed = [(i, r, a) for i, (r, a) in enumerate(zip(refs, now)) if r != a]
    assert not changed, "reference counts changed (index, before, after): %r" % changed[:5]
    grown = {name: after[name] - before[name] for name in before}
    if "rss" in grown:
        assert grown["rss"] < RSS_BOUND, "RSS grew by %d bytes over %d calls" % (grown["rss"], calls)
    bound = NOISE + calls // LEAK_SHARE
    if "blocks" in grown:
        assert grown["blocks"] <= bound, "%d more interpreter blocks after %d calls" % (
            grown["blocks"], calls)
    if "references" in grown:
        assert grown["references"] <= bound, "%d more references in all after %d calls" % (
            grown["references"], calls)


@pytest.fixture(scope="module", autouse=True)
def frozen_heap():
    """Moves what exists before these tests (pytest's own objects) out of the
    collector's reach, so the collections between cases cost next to nothing."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()


# ---------------------------------------------------------------- the cases
# A case is (function, label, make(o) -> (args, kwargs), exception, note):
# exception None for a result, PANIC for the module's PanicException; note
# the parameter a conversion error names, None where there is no note.

SCALARS = ["levenshtein_bp", "damerau_bp", "jaro_winkler_similarity"]
BATCHES = ["levenshtein_batch", "damerau_batch", "jaro_winkler_batch"]
PROBES = ["_ingest_owned", "_ingest_borrow", "_ingest_borrow_and_deref"]

# Values that fail each conversion, the exception each gives, and whether it
# comes back as a panic (which carries no note).
U32_ERRORS = [
    ("negative", lambda o: -int("1" * 25), OverflowError),
    ("2**32", lambda o: 2 ** 32 + len(o.items), OverflowError),
    ("2**64", lambda o: 2 ** 64 + len(o.items), OverflowError),
    ("float", lambda o: 3.5 + len(o.items), TypeError),
    ("str", lambda o: o.s2, TypeError),
    ("__index__ raises", lambda o: Raises(LookupError), LookupError),
    ("__index__ panics", lambda o: Raises(o.panic), PANIC),
]
FLOAT_ERRORS = [
    ("str", lambda o: o.s2, TypeError),
    ("object", lambda o: object(), TypeError),
    ("__float__ raises", lambda o: Raises(LookupError), LookupError),
    ("__float__ panics", lambda o: Raises(o.panic), PANIC),
]
BOOL_ERRORS = [
    ("int", lambda o: 1, TypeError),
    ("str", lambda o: o.s2, TypeError),
    ("truth slot raises", lambda o: numpy_bool(LookupError), LookupError),
    ("truth slot panics", lambda o: numpy_bool(o.panic), PANIC),
    ("no truth slot", lambda o: numpy_bool(None), TypeError),
]
TEXT_ERRORS = [
    ("int", lambda o: o.bad, TypeError),
    ("None", lambda o: None, TypeError),
    ("bytes", lambda o: o.s2.encode(), TypeError),
    ("lone surrogate", lambda o: o.lone, UnicodeEncodeError),
]
CONVERSIONS = {"u32": U32_ERRORS, "float": FLOAT_ERRORS, "bool": BOOL_ERRORS}
OPTIONS = {
    "levenshtein_bp": [("max_len", "u32"), ("case_insensitive", "bool"), ("score_cutoff", "u32")],
    "damerau_bp": [("max_len", "u32"), ("case_insensitive", "bool"), ("score_cutoff", "u32")],
    "jaro_winkler_similarity": [("p", "float"), ("max_len", "u32"), ("case_insensitive", "bool"),
                                ("score_cutoff", "float")],
    "levenshtein_batch": [("case_insensitive", "bool")],
    "damerau_batch": [("case_insensitive", "bool")],
    "jaro_winkler_batch": [("p", "float"), ("case_insensitive", "bool")],
}

# Candidate sequences: (label, make(o) -> sequence, exception).
CANDIDATES = [
    ("list", lambda o: list(o.items), None),
    ("tuple", lambda o: tuple(o.items), None),
    ("custom", lambda o: Seq(o.items), None),
    ("list subclass", lambda o: ListSub(o.items), None),
    ("empty list", lambda o: [], None),
    ("len claims more", lambda o: Seq(o.items, length=10 * ITEMS), None),
    ("len claims fewer", lambda o: Seq(o.items, length=1), None),
    ("len claims 0", lambda o: Seq(o.items, length=0), None),
    ("len claims the limit", lambda o: Seq(o.items, length=CAPACITY_LIMIT), None),
    ("len raises", lambda o: Seq(o.items, length=ValueError), None),
    ("len panics", lambda o: Seq(o.items, length=o.panic), PANIC),
    ("len over the limit", lambda o: Seq(o.items, length=CAPACITY_LIMIT + 1), PANIC),
    ("a str", lambda o: o.s1, TypeError),
    ("not a sequence", lambda o: set(o.items), TypeError),
    ("__iter__ raises", lambda o: NoIter(o.items), LookupError),
    ("__iter__ panics", lambda o: NoIter(o.items, exc=o.panic), PANIC),
    ("fetch raises midway", lambda o: Seq(o.items, fail_at=ITEMS // 2), LookupError),
    ("fetch panics midway", lambda o: Seq(o.items, fail_at=ITEMS // 2, exc=o.panic), PANIC),
    *[("%s item %s in %s" % (kind, at, name),
       lambda o, make=make, at=at, bad=bad: make(o.with_bad(bad(o), at)), exc)
      for name, make in (("list", list), ("tuple", tuple), ("custom", Seq))
      for at in ("first", "middle", "last")
      for kind, bad, exc in (("int", lambda o: o.bad, TypeError),
                             ("unencodable", lambda o: o.lone, UnicodeEncodeError))],
]


def noted(exc, param):
    """Conversion errors carry their parameter's note; panics, none."""
    return None if exc in (None, PANIC) else param


def cases():
    for name in SCALARS:
        n = len(OPTIONS[name]) + 2
        yield name, "plain", lambda o: ((o.s1, o.s2), {}), None, None
        yield name, "all options", lambda o: (
            (o.s1, o.s2), {"max_len": 10 ** 4, "case_insensitive": True, "score_cutoff": 3}), None, None
        yield name, "InputTooLong", lambda o: ((o.s1, o.s2), {"max_len": 5}), ValueError, None
        if name == "jaro_winkler_similarity":
            yield name, "InvalidPrefixScale", lambda o: ((o.s1, o.s2), {"p": 0.5}), ValueError, None
        yield name, "too many positional", lambda o, n=n: (
            (o.s1, o.s2) + (None,) * (n - 1), {}), TypeError, None
        yield name, "unexpected keyword", lambda o: ((o.s1, o.s2), {"maxlen": o.bad}), TypeError, None
        yield name, "multiple values", lambda o: ((o.s1,), {"str_1": o.s2}), TypeError, None
        yield name, "missing", lambda o: ((), {"str_2": o.s2}), TypeError, None
        for param in ("str_1", "str_2"):
            for label, bad, exc in TEXT_ERRORS:
                yield name, "%s %s" % (param, label), lambda o, param=param, bad=bad: (
                    (), {"str_1": o.s1, "str_2": o.s2, param: bad(o)}), exc, param
    for name in BATCHES:
        n = len(OPTIONS[name]) + 2
        options = {"case_insensitive": True, **({"p": 0.2} if name == "jaro_winkler_batch" else {})}
        yield name, "all options", lambda o, options=options: (
            (o.query, o.items), options), None, None
        if name == "jaro_winkler_batch":
            # the core's error comes after every holder is made
            yield name, "InvalidPrefixScale", lambda o: ((o.query, o.items), {"p": 0.5}), ValueError, None
        yield name, "too many positional", lambda o, n=n: (
            (o.query, o.items) + (None,) * (n - 1), {}), TypeError, None
        yield name, "unexpected keyword", lambda o: ((o.query, o.items), {"maxlen": o.s1}), TypeError, None
        yield name, "multiple values", lambda o: (
            (o.query, o.items), {"candidates": o.items}), TypeError, None
        yield name, "missing", lambda o: ((), {"candidates": o.items}), TypeError, None
        for label, bad, exc in TEXT_ERRORS:
            yield name, "query " + label, lambda o, bad=bad: ((bad(o), o.items), {}), exc, "query"
        for label, make, exc in CANDIDATES:
            yield name, "candidates " + label, lambda o, make=make: (
                (o.query, make(o)), {}), exc, noted(exc, "candidates")
    for name in PROBES:
        yield name, "too many positional", lambda o: ((o.items, o.items), {}), TypeError, None
        yield name, "unexpected keyword", lambda o: ((o.items,), {"query": o.s1}), TypeError, None
        yield name, "multiple values", lambda o: ((o.items,), {"candidates": o.items}), TypeError, None
        yield name, "missing", lambda o: ((), {}), TypeError, None
        for label, make, exc in CANDIDATES:
            yield name, "candidates " + label, lambda o, make=make: (
                (make(o),), {}), exc, noted(exc, "candidates")
    for name, options in OPTIONS.items():
        required = (lambda o: (o.s1, o.s2)) if name in SCALARS else (lambda o: (o.query, o.items))
        for param, conversion in options:
            for label, bad, exc in CONVERSIONS[conversion]:
                yield name, "%s %s" % (param, label), lambda o, required=required, param=param, bad=bad: (
                    required(o), {param: bad(o)}), exc, noted(exc, param)


CASES = list(cases())


@pytest.fixture
def objects(panic_exception):
    return Objects(panic_exception)


@pytest.mark.parametrize("name, make, exc, note", [c[:1] + c[2:] for c in CASES],
                         ids=["%s: %s" % c[:2] for c in CASES])
def test_every_path_gives_back_what_it_took(name, make, exc, note, objects, panic_exception):
    args, kwargs = make(objects)
    if exc is None:
        expect = None
    else:
        notes = ("while processing '%s'" % note,) if note else ()
        expect = (panic_exception if exc == PANIC else exc), notes
    assert_no_leak(getattr(q, name), args, kwargs, expect, watched(objects, args, kwargs))


@pytest.mark.parametrize("name", BATCHES + PROBES)
def test_long_batches_give_back_what_they_took(name, objects):
    # 10000 candidates: the batch functions run detached, the probes do not
    items = [fresh(("w%d", "日本%d")[i % 2] % i) for i in range(DETACH_AT)]
    args = (objects.query, items) if name in BATCHES else (items,)
    assert_no_leak(getattr(q, name), args, {}, None, watched(objects, args, {}), calls=30)


@pytest.mark.parametrize("bad, exc", [(lambda o: o.bad, TypeError), (lambda o: o.lone, UnicodeEncodeError)],
                         ids=["int", "unencodable"])
@pytest.mark.parametrize("name", BATCHES)
def test_a_bad_candidate_after_detached_chunks_gives_back_everything(name, bad, exc, objects):
    # more candidates than one chunk holds, the bad one last: the chunks
    # before it are scored detached and written into the list that the
    # failure then drops
    items = [fresh(("w%d", "日本%d")[i % 2] % i) for i in range(2 * DETACH_AT)] * 2
    items.append(bad(objects))
    args = (objects.query, items)
    expect = exc, ("while processing 'candidates'",)
    assert_no_leak(getattr(q, name), args, {}, expect, watched(objects, args, {}), calls=10)


def test_the_checks_catch_a_leak(objects):
    kept = []
    with pytest.raises(AssertionError, match="reference counts changed"):
        assert_no_leak(lambda s: kept.append(s), (objects.s1,), {}, None, [objects.s1], calls=10)
    if TOTAL_TELLS:
        with pytest.raises(AssertionError, match="more references in all"):
            assert_no_leak(lambda: kept.append(objects.s1), (), {}, None, [], calls=CALLS)
    if BLOCKS_TELL:
        with pytest.raises(AssertionError, match="more interpreter blocks"):
            assert_no_leak(lambda: kept.append([None] * 100), (), {}, None, [], calls=CALLS)
    if RSS_TELLS and _libc is not None:
        # A buffer outside the interpreter's allocator, as a holder array
        # leaked by the module would be, and written so that it is resident
        # (a fresh page that is never touched does not count).
        size, buffers = 16384, []

        def leak_a_buffer():
            buffers.append(_libc.malloc(size))
            ctypes.memset(buffers[-1], 1, size)
        try:
            with pytest.raises(AssertionError, match="RSS grew"):
                assert_no_leak(leak_a_buffer, (), {}, None, [], calls=CALLS)
        finally:
            for buffer in buffers:
                _libc.free(buffer)


# ---------------------------------------------------------------- peak memory

def _status(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1]) * 1024
    raise LookupError(field)


def peak_growth(call):
    """How far the peak resident size rises above the size before call()."""
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")  # the peak starts again from the current size
    before = _status("VmRSS:")
    call()
    return _status("VmHWM:") - before


PEAK_ITEMS = 100_000
PEAK_CHARS = 250  # a distance below 257: the results are small ints, shared
PER_CANDIDATE = 40  # bytes: views and results
FIXED = 4 << 20  # bytes: a chunk's views and the prepared query


@pytest.mark.skipif(not RSS_TELLS, reason="the RSS tells nothing here")
@pytest.mark.parametrize("shape", [list, tuple], ids=["list", "tuple"])
@pytest.mark.parametrize("filler", ["x", "\u00e9", "\u65e5", "\U0001F600"],
                         ids=["ASCII", "Latin-1", "BMP", "astral"])
def test_peak_memory_does_not_grow_with_text_length(shape, filler):
    """A batch over long distinct texts keeps a few bytes per candidate and a
    chunk's views, however long the texts: each is read where it lies."""
    candidates = shape("%07d" % i + filler * (PEAK_CHARS - 7) for i in range(PEAK_ITEMS))
    bound = PER_CANDIDATE * PEAK_ITEMS + FIXED
    try:
        for fn, query, expected in ((q.levenshtein_batch, "", PEAK_CHARS),
                                    (q.jaro_winkler_batch, "intention", 0.0)):
            fn(query, candidates[:10])  # the module's first-call objects
            settle()
            result = []
            grown = peak_growth(lambda: result.append(fn(query, candidates)))
            assert result[0] == [expected] * PEAK_ITEMS
            del result
            assert grown < bound, "%s grew the peak by %d bytes" % (fn.__name__, grown)
    except PermissionError:
        pytest.skip("the peak resident size cannot be reset here")
