"""Hostile input: sequences that lie about their length, fail midway or are
changed while they are read; hooks that raise, the module's own
PanicException included; unencodable, extreme and very long strings; every
option at its limits. Each gives its exact exception or its correct result,
and the interpreter survives: the scenarios most likely to bring a process
down run in a child interpreter of their own."""

import math
import os
import random
import subprocess
import sys

import pytest

import quillstone as q
from support import (CAPACITY_LIMIT, DETACH_AT, NOTE, TAKERS, NoIter, Raises, Seq, fresh,
                     jaro_winkler_of, numpy_bool, panic_class, raised, takers)

# A claim above sys.maxsize makes len() itself raise OverflowError: on a
# 32-bit host 2**32 is such a claim, a length that raises, not a huge one.
WORD_CLAIMS = [2 ** 32] if sys.maxsize >= 2 ** 32 else []
RAISING_CLAIMS = [] if WORD_CLAIMS else [2 ** 32]
M = 10 ** 6
HERE = os.path.dirname(os.path.abspath(__file__))

ITEMS = ["kitten", "sitting", "", "日本\U0010FFFF", "a\0b", "ÉTÉ"]

def recorded(items, length):
    """A Seq claiming `length` that keeps the indices read."""
    return Seq(items, length, record=True)


class ListClaims(list):
    """A list subclass whose __len__ reports `length`; reads are recorded."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length, self.reads = length, []

    def __len__(self):
        return self.length

    def __iter__(self):
        for i, item in enumerate(list.__iter__(self)):
            self.reads.append(i)
            yield item


class TupleClaims(tuple):
    def __new__(cls, items, length):
        self = super().__new__(cls, items)
        self.length, self.reads = length, []
        return self

    def __len__(self):
        return self.length

    def __iter__(self):
        for i, item in enumerate(tuple.__iter__(self)):
            self.reads.append(i)
            yield item


# ---------------------------------------------------------------- lengths

@takers
@pytest.mark.parametrize("claim", [
    50, 2, 0,  # more, fewer, none; huge claims are in scenario_huge_lengths
    ValueError("no length"), "3", -1, 2 ** 100,  # raises (the last three in the interpreter)
    *RAISING_CLAIMS,
], ids=["more", "fewer", "zero", "raises", "not an int", "negative", "2**100"] + ["2**32"] * len(RAISING_CLAIMS))
def test_a_lying_length_reads_every_item(take, claim):
    seq = recorded(ITEMS, claim)
    assert take(seq) == take(list(ITEMS))
    # every item is read, whatever the claim, until the IndexError that ends it
    assert seq.reads == list(range(len(ITEMS) + 1))
    # an exception from __len__ is dropped for good: it is nobody's context later
    exc = raised(lambda: take(Seq(ITEMS + [1], claim)))
    assert type(exc) is TypeError and exc.__context__ is None


def vm_peak():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmPeak:"):
                return int(line.split()[1]) * 1024
    return 0


def scenario_huge_lengths():
    """Claims below the limit are only hints, and reserve nothing like what
    they claim (178956970 holders would be gigabytes); claims above it panic
    before any item is read."""
    panic = panic_class()
    for name, take in TAKERS.items():
        expected = take(list(ITEMS))
        for make in (recorded, ListClaims, TupleClaims):
            for claim in (CAPACITY_LIMIT, CAPACITY_LIMIT - 1, 2 ** 24):
                seq = make(ITEMS, claim)
                before = vm_peak()
                assert take(seq) == expected, (name, make, claim)
                grown = vm_peak() - before
                assert grown < 256 << 20, (name, make.__name__, claim, grown)
                assert len(seq.reads) >= len(ITEMS)
            for claim in (CAPACITY_LIMIT + 1, 2 ** 31 - 1, *WORD_CLAIMS, sys.maxsize):
                seq = make(ITEMS, claim)
                exc = raised(lambda: take(seq))  # noqa: B023 - called at once
                assert type(exc) is panic and exc.args == ("capacity overflow",), (name, claim, exc)
                assert seq.reads == [], (name, make.__name__, claim)
    print("done")


# ---------------------------------------------------------------- failing iteration

class IterFailsAt(list):
    """A list subclass whose own iterator raises after `at` items."""

    def __init__(self, items, at, exc):
        super().__init__(items)
        self.at, self.exc = at, exc

    def __iter__(self):
        for i, item in enumerate(list.__iter__(self)):
            if i == self.at:
                raise self.exc
            yield item


FAILING = {
    "__getitem__ midway": lambda items, at, exc: Seq(items, fail_at=at, exc=exc),
    "__iter__ midway": IterFailsAt,
    "no iterator": lambda items, at, exc: NoIter(items, exc=exc),
}


@takers
@pytest.mark.parametrize("make", FAILING.values(), ids=FAILING.keys())
def test_iteration_that_raises_passes_the_exception_through(take, make):
    original = LookupError("gone", 3)
    exc = raised(lambda: take(make(ITEMS, 3, original)))
    assert exc is original  # the very exception: type and args unchanged
    assert exc.args == ("gone", 3)
    assert exc.__notes__ == [NOTE % "candidates"]
    assert exc.__cause__ is None


@takers
@pytest.mark.parametrize("make", FAILING.values(), ids=FAILING.keys())
@pytest.mark.thread_unsafe(reason="reads the panic report from stderr, which is the whole process's")
def test_a_panic_from_iteration_comes_back_as_a_new_panic(take, make, panic_exception, capsys):
    original = panic_exception("iteration is broken")
    exc = raised(lambda: take(make(ITEMS, 3, original)))
    assert type(exc) is panic_exception and exc is not original
    assert exc.args == ("iteration is broken",)
    assert not hasattr(exc, "__notes__")
    err = capsys.readouterr().err
    assert "Python stack trace below:" in err and "iteration is broken" in err


# ---------------------------------------------------------------- hooks of options

OPTION_HOOKS = [
    (name, param, hook)
    for name, params in {
        "levenshtein_bp": [("max_len", Raises), ("case_insensitive", numpy_bool), ("score_cutoff", Raises)],
        "damerau_bp": [("max_len", Raises), ("case_insensitive", numpy_bool), ("score_cutoff", Raises)],
        "jaro_winkler_similarity": [("p", Raises), ("max_len", Raises), ("case_insensitive", numpy_bool),
                                    ("score_cutoff", Raises)],
        "levenshtein_batch": [("case_insensitive", numpy_bool)],
        "damerau_batch": [("case_insensitive", numpy_bool)],
        "jaro_winkler_batch": [("p", Raises), ("case_insensitive", numpy_bool)],
    }.items()
    for param, hook in params
]


def call_with_option(name, param, value):
    first = ("kitten", ["sitting", "kitten"]) if name.endswith("_batch") else ("kitten", "sitting")
    return getattr(q, name)(*first, **{param: value})


@pytest.mark.parametrize("name, param, hook", OPTION_HOOKS, ids=["%s %s" % h[:2] for h in OPTION_HOOKS])
@pytest.mark.thread_unsafe(reason="reads the panic report from stderr, which is the whole process's")
def test_a_raising_option_hook(name, param, hook, panic_exception, capsys):
    original = ArithmeticError("hook says no")
    exc = raised(lambda: call_with_option(name, param, hook(original)))
    assert exc is original and exc.args == ("hook says no",)
    assert exc.__notes__ == [NOTE % param]

    original = panic_exception("hook panics")
    exc = raised(lambda: call_with_option(name, param, hook(original)))
    assert type(exc) is panic_exception and exc is not original
    assert exc.args == ("hook panics",) and not hasattr(exc, "__notes__")
    assert "Python stack trace below:" in capsys.readouterr().err


class Hostile(str):
    """A str whose every overridable method raises: the module reads its text
    and must call none of them."""

    def _refuse(self, *args, **kwargs):
        raise AssertionError("called a method of the str subclass")

    __eq__ = __ne__ = __lt__ = __hash__ = __len__ = __iter__ = __getitem__ = _refuse
    __str__ = __index__ = __float__ = __bool__ = __contains__ = encode = lower = _refuse


def test_str_subclasses_are_read_without_calling_their_methods():
    texts = ["kitten", "SİTTİNG", "日本\U0010FFFF", "", "a\0b"]
    hostile = [Hostile(t) for t in texts]
    for fn in (q.levenshtein_bp, q.damerau_bp, q.jaro_winkler_similarity):
        for a, ha in zip(texts, hostile):
            assert fn(ha, hostile[0], case_insensitive=True) == fn(a, texts[0], case_insensitive=True)
    for take in TAKERS.values():
        for make in (list, tuple, Seq):
            assert take(make(hostile)) == take(texts)
    assert q.levenshtein_batch(hostile[1], hostile) == q.levenshtein_batch(texts[1], texts)


# ---------------------------------------------------------------- unencodable text

# The third: a pair as two code points; the last two: among 4-byte units, and
# inside a run of 2-byte units that is read several units at a time.
LONE = ["\ud800", "ab\udfffcd", "\ud83d\ude00", "x" * 70 + "\udc80", "\U0001F600" * 3 + "\udfff" + "\U0001F600",
        "y" * 20 + "\ud800" + "z" * 20]


@pytest.mark.parametrize("text", LONE, ids=["high", "low inside", "split pair", "after 70", "among astral",
                                            "inside a run"])
@pytest.mark.parametrize("call, param", [
    (lambda s: q.levenshtein_bp(s, "abc"), "str_1"),
    (lambda s: q.damerau_bp("abc", s), "str_2"),
    (lambda s: q.jaro_winkler_similarity(s, s), "str_1"),
    (lambda s: q.jaro_winkler_similarity("abc", s, max_len=0), "str_2"),  # before the core sees a limit
    (lambda s: q.levenshtein_batch(s, ["abc"]), "query"),
    (lambda s: q.damerau_batch(s, Seq(["abc", 1])), "query"),  # before the candidates
    (lambda s: q.jaro_winkler_batch(s, [], p=0.3), "query"),  # before the core's prefix check
    *[(lambda s, take=take, make=make: take(make(["abc", "é", s, "never read", 1])), "candidates")
      for take in TAKERS.values() for make in (list, tuple, Seq)],
], ids=["str_1", "str_2", "both", "str_2 with max_len", "query", "query first", "query before p",
        *["%s %s" % (name, kind) for name in TAKERS for kind in ("list", "tuple", "custom")]])
def test_lone_surrogates(call, param, text):
    exc = raised(lambda: call(text))
    assert type(exc) is UnicodeEncodeError
    assert exc.object is text and exc.reason == "surrogates not allowed"
    assert exc.start == min(i for i, c in enumerate(text) if 0xD800 <= ord(c) <= 0xDFFF)
    assert exc.__notes__ == [NOTE % param]


# ---------------------------------------------------------------- extreme text

ALPHABETS = {
    "ascii with NUL": "\0ab\x7f",
    "every width": ["\0", "a", "\x7f", "\x80", "\xff", "\u0100", "\ud7ff", "\ue000", "\uffff",
                    "\U00010000", "\U0010FFFF"],
}


@pytest.mark.parametrize("alphabet", ALPHABETS.values(), ids=ALPHABETS.keys())
def test_extreme_code_points_against_the_reference(alphabet, reference):
    rng = random.Random(1 + len(alphabet))
    words = ["".join(rng.choice(alphabet) for _ in range(n))
             for n in [0, 1, 2, 5, 17, 63, 64, 65, 90] + [rng.randint(0, 40) for _ in range(12)]]
    for a in words[::2]:
        for b in words[1::3]:
            assert q.levenshtein_bp(a, b) == reference.levenshtein(a, b), (a, b)
            assert q.damerau_bp(a, b) == reference.osa(a, b), (a, b)
            assert q.jaro_winkler_similarity(a, b) == reference.jaro_winkler(a, b), (a, b)
        assert q.levenshtein_batch(a, words) == [reference.levenshtein(a, b) for b in words]
        assert q.damerau_batch(a, words) == [reference.osa(a, b) for b in words]
        assert q.jaro_winkler_batch(a, words) == [reference.jaro_winkler(a, b) for b in words]
    assert q._ingest_borrow_and_deref(words) == sum(len(w.encode()) for w in words)


@pytest.fixture(scope="module")
def long_texts():
    return {"a": "a" * M, "é": "é" * M, "max": "\U0010FFFF" * M, "nul": "\0" * M}


LONG = {
    "lev long, short": (lambda t: q.levenshtein_bp(t["a"], "ab"), M - 1),
    "lev short, long": (lambda t: q.levenshtein_bp("ab", t["a"]), M - 1),
    "lev two bytes each": (lambda t: q.levenshtein_bp(t["é"], "é\U0010FFFF"), M - 1),
    "lev U+10FFFF, empty": (lambda t: q.levenshtein_bp(t["max"], ""), M),
    "lev NUL, cut off": (lambda t: q.levenshtein_bp(t["nul"], "\0", score_cutoff=5), 6),
    "osa long, short": (lambda t: q.damerau_bp(t["a"], "ba"), M - 1),
    "osa short, U+10FFFF": (lambda t: q.damerau_bp("\U0010FFFF\0", t["max"]), M - 1),
    "osa at max_len": (lambda t: q.damerau_bp(t["a"], "a", max_len=M), M - 1),
    "jw long, short": (lambda t: q.jaro_winkler_similarity(t["a"], "ab"), jaro_winkler_of(1, 0, M, 2, 1)),
    "jw short, long": (lambda t: q.jaro_winkler_similarity("ab", t["a"]), jaro_winkler_of(1, 0, 2, M, 1)),
    "jw U+10FFFF": (lambda t: q.jaro_winkler_similarity(t["max"], "\U0010FFFF"),
                    jaro_winkler_of(1, 0, M, 1, 1)),
    "jw nothing shared": (lambda t: q.jaro_winkler_similarity(t["a"], "b"), 0.0),
    "lev batch query": (lambda t: q.levenshtein_batch(t["a"], ["", "a", "ab", "b"]), [M, M - 1, M - 1, M]),
    "osa batch query": (lambda t: q.damerau_batch(t["é"], ["é", "ée"]), [M - 1, M - 1]),
    "jw batch query": (lambda t: q.jaro_winkler_batch(t["a"], ["a", "ab"]),
                       [jaro_winkler_of(1, 0, M, 1, 1), jaro_winkler_of(1, 0, M, 2, 1)]),
    "lev batch candidates": (lambda t: q.levenshtein_batch("ab", [t["a"], "ab", t["max"]]), [M - 1, 0, M]),
    "osa batch candidate": (lambda t: q.damerau_batch("ba", [t["nul"]]), [M]),
    "jw batch candidate": (lambda t: q.jaro_winkler_batch("ab", [t["a"]]), [jaro_winkler_of(1, 0, 2, M, 1)]),
    "deref bytes": (lambda t: q._ingest_borrow_and_deref([t["max"], t["é"], t["nul"]]), 4 * M + 2 * M + M),
}


@pytest.mark.parametrize("call, expected", LONG.values(), ids=LONG.keys())
def test_a_million_characters(call, expected, long_texts):
    assert call(long_texts) == expected


def test_a_million_characters_against_a_limit(long_texts):
    for fn in (q.levenshtein_bp, q.damerau_bp, q.jaro_winkler_similarity):
        exc = raised(lambda: fn("ab", long_texts["max"], max_len=M - 1))  # noqa: B023
        assert exc.args == ('InputTooLong { which: "str_2", len: %d, limit: %d }' % (M, M - 1),)


def test_byte_totals_past_four_gigabytes():
    # one 64 MiB string listed 65 times: 2^32 + 2^26 bytes in views, far
    # less in memory; a 32-bit total would come back as 2^26
    text = "x" * 2 ** 26
    assert q._ingest_borrow_and_deref([text] * 64) == 2 ** 32
    assert q._ingest_borrow_and_deref((text,) * 65) == 65 * 2 ** 26
    assert q._ingest_owned([text] * 2) == q._ingest_borrow([text] * 65) - 63 == 2


def test_long_texts_one_apart():
    n = 20000  # two texts this long cost n * n / 64 word steps
    a, b = "a" * n, "a" * n + "b"
    assert q.levenshtein_bp(a, b) == 1 and q.damerau_bp(b, a) == 1
    assert q.damerau_bp(a[:-2] + "ba", a[:-2] + "ab") == 1  # a transposition at the very end
    assert q.levenshtein_bp(a[:-2] + "ba", a[:-2] + "ab") == 2
    assert q.levenshtein_batch(a, [b, a]) == [1, 0]
    assert q.jaro_winkler_similarity(a, b) == jaro_winkler_of(n, 0, n, n + 1, 4)


# ---------------------------------------------------------------- options at their limits

U32_MAX = 4294967295
NAN, INF = float("nan"), float("inf")
MARTHA = ("martha", "marhta")


def invalid_p(text):
    return ValueError, "InvalidPrefixScale { value: %s }" % text


def martha(p=0.1):
    """What the plain reference gives for MARTHA with prefix scale p."""
    return lambda r: r.jaro_winkler(*MARTHA, p)


# (call, expected): a value, an (exception type, message) pair, or a
# function of the reference implementations.
LIMITS = {
    "max_len 0, empty": (lambda: q.levenshtein_bp("", "", max_len=0), 0),
    "max_len 0, one char": (lambda: q.damerau_bp("", "x", max_len=0),
                            (ValueError, 'InputTooLong { which: "str_2", len: 1, limit: 0 }')),
    "max_len 0, jw empty": (lambda: q.jaro_winkler_similarity("", "", max_len=0), 1.0),
    "max_len max": (lambda: q.levenshtein_bp("abc", "abx", max_len=U32_MAX), 1),
    "max_len max, jw": (lambda: q.jaro_winkler_similarity(*MARTHA, max_len=U32_MAX), martha()),
    "max_len max + 1": (lambda: q.damerau_bp("a", "b", max_len=U32_MAX + 1),
                        (OverflowError, "out of range integral type conversion attempted")),
    "cutoff 0, equal": (lambda: q.levenshtein_bp("abc", "abc", score_cutoff=0), 0),
    "cutoff 0, one apart": (lambda: q.levenshtein_bp("abc", "abx", score_cutoff=0), 1),
    "cutoff 0, by length": (lambda: q.damerau_bp("abc", "", score_cutoff=0), 1),
    "cutoff max": (lambda: q.levenshtein_bp("abc", "xyz", score_cutoff=U32_MAX), 3),
    "cutoff max, empty": (lambda: q.damerau_bp("", "abc", score_cutoff=U32_MAX), 3),
    "cutoff max + 1": (lambda: q.damerau_bp("a", "b", score_cutoff=U32_MAX + 1),
                       (OverflowError, "out of range integral type conversion attempted")),
    "p 0": (lambda: q.jaro_winkler_similarity(*MARTHA, p=0.0), martha(0.0)),
    "p -0": (lambda: q.jaro_winkler_similarity(*MARTHA, p=-0.0), martha(0.0)),
    "p 0.25": (lambda: q.jaro_winkler_similarity(*MARTHA, p=0.25), martha(0.25)),
    "batch p 0.25": (lambda: q.jaro_winkler_batch("martha", ["marhta", ""], p=0.25),
                     lambda r: [martha(0.25)(r), 0.0]),
    "batch p -0": (lambda: q.jaro_winkler_batch("martha", ["marhta"], p=-0.0), lambda r: [martha(0.0)(r)]),
    "p above 0.25": (lambda: q.jaro_winkler_similarity(*MARTHA, p=0.25000000000000006),
                     invalid_p("0.25000000000000006")),
    "batch p above 0.25": (lambda: q.jaro_winkler_batch("martha", [], p=0.25000000000000006),
                           invalid_p("0.25000000000000006")),
    "p nan": (lambda: q.jaro_winkler_similarity(*MARTHA, p=NAN), invalid_p("NaN")),
    "p inf": (lambda: q.jaro_winkler_similarity(*MARTHA, p=INF), invalid_p("inf")),
    "p -inf": (lambda: q.jaro_winkler_similarity(*MARTHA, p=-INF), invalid_p("-inf")),
    "p below 0": (lambda: q.jaro_winkler_similarity(*MARTHA, p=-5e-324), invalid_p("-5e-324")),
    "batch p nan": (lambda: q.jaro_winkler_batch("martha", ["marhta"], p=NAN), invalid_p("NaN")),
    "batch p -inf": (lambda: q.jaro_winkler_batch("martha", ["marhta"], p=-INF), invalid_p("-inf")),
    # a NaN cut-off never applies; a score below the cut-off becomes 0.0
    "jw cutoff nan": (lambda: q.jaro_winkler_similarity(*MARTHA, score_cutoff=NAN), martha()),
    "jw cutoff -inf": (lambda: q.jaro_winkler_similarity(*MARTHA, score_cutoff=-INF), martha()),
    "jw cutoff 0": (lambda: q.jaro_winkler_similarity(*MARTHA, score_cutoff=0), martha()),
    "jw cutoff inf": (lambda: q.jaro_winkler_similarity(*MARTHA, score_cutoff=INF), 0.0),
    "jw cutoff u32 max": (lambda: q.jaro_winkler_similarity(*MARTHA, score_cutoff=U32_MAX), 0.0),
    "jw cutoff at the score": (lambda: q.jaro_winkler_similarity(
        *MARTHA, score_cutoff=q.jaro_winkler_similarity(*MARTHA)), martha()),
    "jw cutoff just above": (lambda: q.jaro_winkler_similarity(
        *MARTHA, score_cutoff=math.nextafter(q.jaro_winkler_similarity(*MARTHA), 1)), 0.0),
    "jw cutoff inf, empty": (lambda: q.jaro_winkler_similarity("", "", score_cutoff=INF), 1.0),
    "jw cutoff -inf, one empty": (lambda: q.jaro_winkler_similarity("x", "", score_cutoff=-INF), 0.0),
}


@pytest.mark.parametrize("call, expected", LIMITS.values(), ids=LIMITS.keys())
def test_options_at_their_limits(call, expected, reference):
    if isinstance(expected, tuple):
        exc = raised(call)
        assert (type(exc), exc.args) == (expected[0], expected[1:])
        return
    if callable(expected):
        expected = expected(reference)
    got = call()
    assert got == expected and type(got) is type(expected)


# ---------------------------------------------------------------- sequences changed while read

class Mutating:
    """A sequence whose __getitem__ changes the list it reads from, through
    `step(items, index)`; records what it hands out."""

    def __init__(self, items, step):
        self.items, self.step, self.given = list(items), step, []

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        item = self.items[index]
        self.step(self.items, index)
        self.given.append(item)
        return item


class Popping:
    """Hands out each string while dropping its last other reference: only
    the module keeps it alive. What it handed out is remembered as copies."""

    def __init__(self, texts):
        self.items = [fresh(t) for t in texts]
        self.given = []

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        if not self.items:
            raise IndexError(index)
        item = self.items.pop(0)
        self.given.append(fresh(item))
        return item


class Rebuilding(list):
    """A list subclass whose own iterator empties and refills it midway."""

    def __iter__(self):
        self.given = []
        i = 0
        while i < len(self):
            item = self[i]
            if i == 2:
                self[:] = [fresh("new%d" % k) for k in range(5)]
            self.given.append(item)
            yield item
            i += 1


def grow(items, index):
    if len(items) < 40:
        items.append(fresh("grown%d" % index))


def shrink(items, index):
    if index + 1 < len(items):
        del items[index + 1]


def replace_ahead(items, index):
    items[index + 1:] = [fresh("repl%d-%d" % (index, k)) for k in range(len(items) - index - 1)]


def scenario_mutating_sequences():
    """Each batch sees exactly the items the sequence handed out, in order,
    however the sequence changed meanwhile; strings that only the module
    still references stay readable, detached or not."""
    words = ["kitten", "sitting", "日本\U0010FFFF", "a\0b", "ÉTÉ", "mittens"] * 3
    for name, take in TAKERS.items():
        for step in (grow, shrink, replace_ahead, lambda items, index: items.clear()):
            seq = Mutating(words, step)
            got = take(seq)
            assert got == take(list(seq.given)), (name, step)
        for count in (len(words), DETACH_AT + 3):
            seq = Popping((words * (count // len(words) + 1))[:count])
            got = take(seq)
            assert got == take(seq.given), (name, count)
        seq = Rebuilding(words)
        got = take(seq)
        assert got == take(seq.given) and len(seq.given) == 5, name
    print("done")


@pytest.mark.parametrize("scenario", ["scenario_huge_lengths", "scenario_mutating_sequences"])
def test_in_a_child_interpreter(scenario):
    code = "import sys; sys.path.insert(0, %r); import test_hostile; test_hostile.%s()" % (HERE, scenario)
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                          timeout=300)
    assert proc.returncode == 0, proc.stderr[-4000:]
    assert proc.stdout.split() == ["done"], proc.stdout[-2000:]
