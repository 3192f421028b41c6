"""quillstone under threads: many callers at once, callers racing a mutating
candidate list, and many first calls racing for the objects made once per
process. Each run must agree with the single-threaded answer."""

import functools
import os
import random
import subprocess
import sys
import sysconfig
import textwrap
import threading

import pytest

import quillstone as qs
from support import DETACH_AT, OVER_CAPACITY, Seq, outcome

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
THREADS = 8
JOIN_TIMEOUT = 120


def run_together(count, body):
    """Runs body(i) on `count` threads released at once; returns what the
    threads raised, so that a failure inside a thread fails the test."""
    barrier = threading.Barrier(count, timeout=JOIN_TIMEOUT)
    failures = []

    def worker(i):
        try:
            barrier.wait()
            body(i)
        except BaseException as exc:
            failures.append((i, exc))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(JOIN_TIMEOUT)
    assert not any(t.is_alive() for t in threads), "a thread did not finish"
    return failures


# Texts that take every path: ASCII, Latin-1, above U+00FF (Greek with its
# final sigma, CJK, astral), empty, and longer than one 64-bit word.
TEXTS = [
    "", "a", "kitten", "sitting", "Intention", "execution", "MARTHA", "marhta",
    "café", "CAFÉ", "naïve", "ΟΔΟΣ", "οδος", "日本語", "日本", "🙂x🙂", "straße",
    "abcdefghij" * 7, "abcdefghij" * 6 + "abcdefghjk", "é" * 70, "ßx" * 40,
]


def batch_candidates(rng, n):
    words = TEXTS + ["w%d" % i for i in range(50)] + ["ünï%d" % i for i in range(20)]
    return [rng.choice(words) + rng.choice(("", "s", "é", "日")) for _ in range(n)]


def call_table():
    """(function, args, kwargs, expected exception type or None)."""
    rng = random.Random(20240611)
    small = batch_candidates(rng, 300)
    at_threshold = batch_candidates(rng, DETACH_AT - 1)
    detached = batch_candidates(rng, DETACH_AT + 37)
    calls = []
    for _ in range(40):
        a, b = rng.choice(TEXTS), rng.choice(TEXTS)
        calls += [
            (qs.levenshtein_bp, (a, b), {}, None),
            (qs.damerau_bp, (a, b), {"case_insensitive": True, "score_cutoff": 3}, None),
            (qs.jaro_winkler_similarity, (a, b), {"p": 0.2, "case_insensitive": True}, None),
            (qs.jaro_winkler_similarity, (a, b), {"score_cutoff": 0.7, "max_len": 100}, None),
        ]
    for query in ("kitten", "Café", "ΟΔΟΣ", "abcdefghij" * 7):
        for cands in (small, at_threshold, detached):
            calls += [
                (qs.levenshtein_batch, (query, cands), {}, None),
                (qs.damerau_batch, (query, cands), {"case_insensitive": True}, None),
                (qs.jaro_winkler_batch, (query, cands), {"p": 0.15}, None),
            ]
    for cands in (small, tuple(detached)):
        calls += [
            (qs._ingest_owned, (cands,), {}, None),
            (qs._ingest_borrow, (cands,), {}, None),
            (qs._ingest_borrow_and_deref, (cands,), {}, None),
        ]
    calls += [
        (qs.levenshtein_bp, (1, "a"), {}, TypeError),
        (qs.levenshtein_bp, ("a",), {}, TypeError),
        (qs.damerau_bp, ("a" * 300, "b"), {"max_len": 255}, ValueError),
        (qs.levenshtein_bp, ("日本語", "b"), {"max_len": 2}, ValueError),
        (qs.damerau_bp, ("a", "b"), {"case_insensitive": 1}, TypeError),
        (qs.levenshtein_bp, ("a", "b"), {"score_cutoff": -1}, OverflowError),
        (qs.jaro_winkler_similarity, ("a", "b"), {"p": 0.3}, ValueError),
        (qs.jaro_winkler_similarity, ("a", "b"), {"p": float("nan")}, ValueError),
        (qs.jaro_winkler_similarity, ("a", "b"), {"p": "x"}, TypeError),
        (qs.jaro_winkler_batch, ("a", detached), {"p": -0.5}, ValueError),
        (qs.jaro_winkler_batch, ("a", small), {"p": 0.26}, ValueError),
        (qs.levenshtein_batch, ("a", "abc"), {}, TypeError),
        (qs.damerau_batch, ("a", {"x", "y"}), {}, TypeError),
        (qs.levenshtein_batch, ("a", small + [None]), {}, TypeError),
        (qs.damerau_batch, (b"a", small), {}, TypeError),
        (qs.levenshtein_batch, ("a", ["x", "\ud800"]), {}, UnicodeEncodeError),
        (qs._ingest_owned, (5,), {}, TypeError),
        (qs._ingest_borrow, (["a", 1],), {}, TypeError),
        (qs._ingest_borrow_and_deref, (Seq([], OVER_CAPACITY),), {}, BaseException),
        (qs.levenshtein_batch, ("a", Seq([], OVER_CAPACITY)), {}, BaseException),
    ]
    return calls


def test_concurrent_calls_match_single_threaded_results():
    calls = call_table()
    expected = [outcome(fn, *args, **kwargs) for fn, args, kwargs, _ in calls]
    for (fn, _, _, error), got in zip(calls, expected):
        if error is None:
            assert got[0] == "returned", (fn.__name__, got)
        else:
            assert got[0] == "raised" and issubclass(got[1], error), (fn.__name__, got)
    # The overflow guard raises the module's PanicException, not an Exception.
    panic = expected[-1][1]
    assert panic.__name__ == "PanicException" and not issubclass(panic, Exception)

    mismatches = []

    def body(i):
        order = list(range(len(calls)))
        random.Random(i).shuffle(order)
        for k in order:
            fn, args, kwargs, _ = calls[k]
            got = outcome(fn, *args, **kwargs)
            if got != expected[k]:
                mismatches.append((i, fn.__name__, got, expected[k]))

    failures = run_together(THREADS, body)
    assert not failures
    assert not mismatches, mismatches[:3]


# Candidates of a list that another thread mutates during the calls. The
# query is empty, so a distance is the candidate's length: each must be one
# that some pool string has, whatever the interleaving.
POOL = ["p%d" % i + "é" * (i % 3) + "日" * (i % 5 == 0) for i in range(40)]
CAP = DETACH_AT + 2500
GROWTH = 4000  # the most one change adds to a list of at least 1000
# One mutator trims the list back to CAP after each change (or refills it
# from below 1000 to below CAP), so it never holds more than this.
LONGEST = CAP + GROWTH


def mutate(lst, rng, stock):
    """One random change of lst, then trimmed to at most CAP. A list left
    short is refilled at once (from `stock`, a prepared list of CAP pool
    strings, so that the list is short only for an instant: calls on short
    lists are quick and would otherwise pile up there)."""

    def some(k):
        start = rng.randrange(CAP - k + 1)
        return stock[start:start + k]

    # One mutator thread: nothing else changes lst between len() and the change.
    op = rng.randrange(8)
    n = len(lst)
    if op == 0:
        lst.extend(some(rng.randrange(1, GROWTH)))
    elif op == 1:
        lst.append(rng.choice(POOL))
    elif op == 2 and n:
        lst.pop()
    elif op == 3 and n:
        lst.pop(rng.randrange(n))
    elif op == 4:
        a = rng.randrange(n + 1)
        b = rng.randrange(a, n + 1)
        lst[a:b] = some(rng.randrange(GROWTH))
    elif op == 5:
        lst.clear()
    elif op == 6:
        lst[:] = some(rng.randrange(DETACH_AT - 200, CAP))
    else:
        del lst[rng.randrange(n + 1):]
    if len(lst) > CAP:
        del lst[CAP:]
    elif len(lst) < 1000:
        lst.extend(some(rng.randrange(DETACH_AT - 1000, CAP)))


# Texts long enough that a list of CAP of them is read in several chunks,
# with the list changing between one chunk and the next.
LONG_POOL = [("q%d" % i) * (60 + i) + "é" * (i % 2) + "日" * (i % 3 == 0) for i in range(20)]


@pytest.mark.thread_unsafe(reason="sets the interpreter's switch interval, which is the whole process's")
@pytest.mark.parametrize("pool", [POOL, LONG_POOL], ids=["short texts", "texts read in chunks"])
def test_calls_survive_a_mutating_candidate_list(pool):
    everything = POOL + pool  # the mutator appends from POOL too
    allowed = {
        qs.levenshtein_batch: set(qs.levenshtein_batch("", everything)),
        qs.damerau_batch: set(qs.damerau_batch("", everything)),
        qs.jaro_winkler_batch: set(qs.jaro_winkler_batch("pé", everything)),
    }
    byte_lengths = [len(s.encode()) for s in everything]
    shared = list(pool) * (DETACH_AT // len(pool) + 10)
    callers = THREADS - 1
    done = threading.Event()
    lock = threading.Lock()
    finished = [0]
    changes = [0]
    results = []  # (function, result) of each call that returned
    problems = []

    def body(i):
        if i == callers:  # the mutator
            rng = random.Random(i)
            stock = rng.choices(pool, k=CAP)
            while not done.is_set():
                mutate(shared, rng, stock)
                changes[0] += 1
            return
        rng = random.Random(i)
        try:
            calls = 0
            # At least 25 calls, and calls for as long as the first 200 changes take.
            while calls < 25 or changes[0] < 200:
                calls += 1
                fn = rng.choice([qs.levenshtein_batch, qs.damerau_batch, qs.jaro_winkler_batch,
                                 qs._ingest_owned, qs._ingest_borrow_and_deref])
                try:
                    if fn in allowed:
                        query = "pé" if fn is qs.jaro_winkler_batch else ""
                        results.append((fn, fn(query, shared)))
                    else:
                        results.append((fn, fn(shared)))
                except Exception as exc:  # a clean error is acceptable, a panic is not
                    problems.append(("raised", fn.__name__, repr(exc)))
        finally:
            # The last caller to finish stops the mutators.
            with lock:
                finished[0] += 1
                if finished[0] == callers:
                    done.set()

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # with a GIL: switch threads often
    try:
        failures = run_together(THREADS, body)
    finally:
        sys.setswitchinterval(interval)
    assert not failures  # PanicException, or anything worse, ends up here

    assert len(results) > len(problems), problems[:3]
    sizes = {len(got) for _, got in results if isinstance(got, list)}
    if FREE_THREADED:
        # The list really changed under the callers, and some calls ran
        # detached. (With a GIL the list changes only between two calls, at
        # moments the GIL's scheduling picks, so there is nothing to count on.)
        assert len(sizes) >= 3, sizes
        assert max(sizes) >= DETACH_AT, sizes
    for fn, got in results:
        if fn is qs._ingest_owned:
            assert 0 <= got <= LONGEST
        elif fn is qs._ingest_borrow_and_deref:
            assert 0 <= got <= LONGEST * max(byte_lengths)
        else:
            assert isinstance(got, list) and 0 <= len(got) <= LONGEST
            bad = set(got) - allowed[fn]
            assert not bad, (fn.__name__, sorted(bad)[:5])


def fresh_texts(rng, n):
    """New non-ASCII str objects, built at run time, whose UTF-8 form the
    interpreter has not cached yet."""
    parts = ["é", "ß", "日本", "Ω", "🙂", "a", "bc", "xyz"]
    return ["".join(rng.choice(parts) for _ in range(rng.randrange(2, 12))) for _ in range(n)]


def test_first_utf8_requests_race():
    """Threads ask for the UTF-8 form of the same new strings at once: each
    call must see the complete form."""
    calls = [
        lambda texts: qs.levenshtein_batch("日本é", texts),
        lambda texts: qs.jaro_winkler_batch("ßΩ", texts),
        lambda texts: qs._ingest_borrow_and_deref(texts),
        lambda texts: [qs.damerau_bp(a, b) for a, b in zip(texts, texts[1:])],
    ]
    rng = random.Random(7)
    for _ in range(4):
        texts = fresh_texts(rng, 3000)
        copies = [("#" + t)[1:] for t in texts]  # equal strings, other objects
        assert all(a is not b for a, b in zip(texts, copies))
        expected = [call(copies) for call in calls]
        mismatches = []

        def body(i):
            k = i % len(calls)
            got = calls[k](texts)
            if got != expected[k]:
                mismatches.append(k)

        assert not run_together(THREADS, body)
        assert not mismatches


# A fresh interpreter in which many threads make their very first call at the
# same instant, so the objects made once per process are raced for.
FIRST_CALLS = textwrap.dedent(r"""
    import sys, threading
    import quillstone as qs

    class HugeLength:
        def __len__(self):
            return OVER_CAPACITY
        def __getitem__(self, i):
            raise IndexError(i)

    N = 16
    barrier = threading.Barrier(N, timeout=60)
    seen = [None] * N
    errors = []

    def worker(i):
        try:
            barrier.wait()
            probe = (qs._ingest_owned, qs._ingest_borrow, qs._ingest_borrow_and_deref,
                     lambda c: qs.jaro_winkler_batch("q", c))[i % 4]
            try:
                probe(HugeLength())
            except BaseException as exc:
                panic = exc
            else:
                raise AssertionError("no PanicException")
            barrier.wait()
            try:
                qs.levenshtein_batch("q", {"a"})
            except TypeError as exc:
                sequence = (exc.args, getattr(exc, "__notes__", None))
            barrier.wait()
            try:
                qs.damerau_bp("q", 7)
            except TypeError as exc:
                note = (exc.args, getattr(exc, "__notes__", None))
            seen[i] = (type(panic), str(panic), sequence, note)
        except BaseException as exc:
            errors.append(repr(exc))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(N)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors
    classes = {id(s[0]) for s in seen}
    assert len(classes) == 1, "%d PanicException classes" % len(classes)
    panic_type, message, sequence, note = seen[0]
    assert panic_type.__name__ == "PanicException", panic_type
    assert issubclass(panic_type, BaseException) and not issubclass(panic_type, Exception)
    assert message == "capacity overflow", message
    assert sequence == (("'set' object is not an instance of 'Sequence'",),
                        ["while processing 'candidates'"]), sequence
    assert note == (("'int' object is not an instance of 'str'",),
                    ["while processing 'str_2'"]), note
    assert all(s[1:] == seen[0][1:] for s in seen), seen
    print("ok", N)
""")


@pytest.mark.parametrize("run", range(3))
def test_first_calls_race_for_process_objects(run):
    code = "OVER_CAPACITY = %d\n" % OVER_CAPACITY + FIRST_CALLS
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True,
                          text=True, timeout=JOIN_TIMEOUT)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["ok", "16"]


@pytest.mark.skipif(not FREE_THREADED, reason="needs a free-threaded interpreter")
def test_import_keeps_the_gil_disabled():
    # A fresh interpreter: other tests' imports must not decide the answer.
    code = ("import sys; before = sys._is_gil_enabled(); import quillstone; "
            "print(before, sys._is_gil_enabled())")
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    proc = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True,
                          text=True, env=env, timeout=JOIN_TIMEOUT)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["False", "False"]
    assert sys._is_gil_enabled() is False


# A list long enough to be scored detached, in several chunks (its texts pass
# the 1 MiB a chunk copies), and the changes another thread makes to it while
# a call runs.
SNAPSHOT_ITEMS = DETACH_AT + 2000
SNAPSHOT_CHANGES = {
    "replaced by a few": lambda lst, other: lst.__setitem__(slice(None), other[:7]),
    "replaced, same length": lambda lst, other: lst.__setitem__(slice(None), other),
    "shrunk": lambda lst, other: lst.__delitem__(slice(len(lst) // 3, None)),
    "grown": lambda lst, other: lst.extend(other),
    "middle replaced": lambda lst, other: lst.__setitem__(slice(100, -100), other[:5000]),
}


# Long texts, and short ones of every unit width.
SNAPSHOT_TEXTS = {
    "long texts": lambda i, rng: ("é日%d" % i) * 12 + rng.choice(TEXTS),
    "short texts": lambda i, rng: rng.choice(["é", "日", "🙂", "a"]) + "%d" % i + rng.choice(TEXTS)[:9],
}


@functools.cache
def snapshot_lists(texts):
    """(the list before any change, texts to change it with)."""
    rng = random.Random(SNAPSHOT_ITEMS)
    before = [SNAPSHOT_TEXTS[texts](i, rng) for i in range(SNAPSHOT_ITEMS)]
    return before, [text[::-1] for text in before]


@pytest.mark.thread_unsafe(reason="times another thread's change against the call")
@pytest.mark.parametrize("texts", SNAPSHOT_TEXTS)
@pytest.mark.parametrize("change", SNAPSHOT_CHANGES.values(), ids=SNAPSHOT_CHANGES.keys())
@pytest.mark.parametrize("fn, query", [(qs.levenshtein_batch, "abcdef"), (qs.damerau_batch, "abécdf"),
                                       (qs.jaro_winkler_batch, "abcdéf")],
                         ids=["levenshtein", "damerau", "jaro_winkler"])
def test_a_batch_sees_one_state_of_a_changing_list(fn, query, change, texts):
    """Another thread changes the list while the call runs: the result is the
    scores of the list as it was before the change, or as it was after it,
    one entry per candidate, never a mix or a part of either."""
    before, other = snapshot_lists(texts)
    after = list(before)
    change(after, other)
    states = {"before": fn(query, before), "after": fn(query, after)}
    assert states["before"] != states["after"]
    for _ in range(3):
        shared = list(before)
        go = threading.Event()

        def mutate():
            go.wait(JOIN_TIMEOUT)
            change(shared, other)

        mutator = threading.Thread(target=mutate)
        mutator.start()
        go.set()  # with a GIL, the mutator runs once the call detaches
        got = fn(query, shared)
        mutator.join(JOIN_TIMEOUT)
        assert shared == after
        one_state = any(got == state for state in states.values())
        assert one_state, "%d results, for lists of %d and %d" % (len(got), len(before), len(after))
