"""The batch functions, and the candidate-sequence rules they share with the
ingest probes: what is accepted, what is refused with which message, lying
lengths, detaching for long batches, references given back, and results
against the scalar functions."""

import gc
import random
import sys
import threading
import time

import pytest

import quillstone as q
from support import (CAPACITY_LIMIT, CHUNK_ITEMS, DETACH_AT, OVER_CAPACITY, MyStr, NoIter, Seq, fresh, raised,
                     takers)


def generator():
    yield "a"


@takers
@pytest.mark.parametrize("candidates", [
    ["a", "bc", ""],
    ("a", "bc", ""),
    Seq(["a", "bc", ""]),
    [MyStr("a"), "bc", MyStr("")],
], ids=["list", "tuple", "__getitem__", "str subclass items"])
def test_accepted_candidate_sequences(take, candidates):
    assert take(candidates) == take(["a", "bc", ""])


CANDIDATE_ERRORS = [
    ("abc", TypeError, "Can't extract `str` to `Vec`"),
    (MyStr("abc"), TypeError, "Can't extract `str` to `Vec`"),
    ("", TypeError, "Can't extract `str` to `Vec`"),
    (generator(), TypeError, "'generator' object is not an instance of 'Sequence'"),
    ({"a"}, TypeError, "'set' object is not an instance of 'Sequence'"),
    ({"a": 1}, TypeError, "'dict' object is not an instance of 'Sequence'"),
    (iter(["a"]), TypeError, "'list_iterator' object is not an instance of 'Sequence'"),
    (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (None, TypeError, "'None' is not an instance of 'Sequence'"),
    (["a", 1], TypeError, "'int' object is not an instance of 'str'"),
    (["a", None], TypeError, "'None' is not an instance of 'str'"),
    (["a", b"b"], TypeError, "'bytes' object is not an instance of 'str'"),
    (b"ab", TypeError, "'int' object is not an instance of 'str'"),  # bytes is a sequence of ints
    (["a", "b\udc80"], UnicodeEncodeError, None),
    (Seq(["a", "b", "c"], fail_at=1, exc=LookupError), LookupError, "no item 1"),
    (NoIter(["a"], exc=RuntimeError), RuntimeError, "no iterator"),
]


@takers
@pytest.mark.parametrize("candidates, exc_type, message", CANDIDATE_ERRORS,
                         ids=[repr(c[0])[:20] for c in CANDIDATE_ERRORS])
def test_refused_candidate_sequences(take, candidates, exc_type, message):
    with pytest.raises(exc_type) as info:
        take(candidates)
    assert type(info.value) is exc_type
    if message is not None:
        assert info.value.args == (message,)
    assert info.value.__notes__ == ["while processing 'candidates'"]


@takers
def test_a_lying_length_only_sizes_the_holders(take):
    expected = take(["a", "bc", ""])
    for length in (0, 1, CAPACITY_LIMIT, ValueError("no length"), OverflowError("huge")):
        assert take(Seq(["a", "bc", ""], length)) == expected, length
    # a __len__ result that does not fit an index is the interpreter's error, also cleared
    assert take(Seq(["a", "bc", ""], 2**100)) == expected


@takers
def test_more_candidates_than_the_target_can_hold(take, panic_exception):
    seq = Seq(["a"], OVER_CAPACITY, record=True)
    with pytest.raises(BaseException) as info:
        take(seq)
    assert type(info.value) is panic_exception
    assert info.value.args == ("capacity overflow",)
    assert seq.reads == []  # refused before any element is read


@takers
@pytest.mark.thread_unsafe(reason="reads the panic report from stderr, which is the whole process's")
def test_a_panic_from_len_comes_back_as_a_panic(take, panic_exception, capsys):
    with pytest.raises(BaseException) as info:
        take(Seq(["a"], panic_exception("len is broken")))
    assert type(info.value) is panic_exception
    assert info.value.args == ("len is broken",)
    assert "Python stack trace below:" in capsys.readouterr().err


@pytest.mark.parametrize("fn", [q.levenshtein_batch, q.damerau_batch, q.jaro_winkler_batch])
def test_query_errors_come_first(fn):
    with pytest.raises(TypeError) as info:
        fn(b"query", "not a list")
    assert info.value.args == ("'bytes' object is not an instance of 'str'",)
    assert info.value.__notes__ == ["while processing 'query'"]
    with pytest.raises(UnicodeEncodeError) as info:
        fn("\ud800", [1])
    assert info.value.__notes__ == ["while processing 'query'"]


def test_prefix_scale_errors_come_after_the_conversions():
    # an invalid prefix scale is the core's error: reported last and without a note
    with pytest.raises(ValueError) as info:
        q.jaro_winkler_batch("a", [], p=0.3)
    assert info.value.args == ("InvalidPrefixScale { value: 0.3 }",)
    assert not hasattr(info.value, "__notes__")
    with pytest.raises(ValueError) as info:
        q.jaro_winkler_batch("a", ["b"] * DETACH_AT, p=-1)
    assert info.value.args == ("InvalidPrefixScale { value: -1.0 }",)
    with pytest.raises(TypeError) as info:
        q.jaro_winkler_batch("a", "abc", p=0.3)
    assert info.value.__notes__ == ["while processing 'candidates'"]
    with pytest.raises(TypeError) as info:
        q.jaro_winkler_batch("a", [], p=0.3, case_insensitive=1)
    assert info.value.__notes__ == ["while processing 'case_insensitive'"]
    with pytest.raises(TypeError) as info:
        q.jaro_winkler_batch("a", [], p="0.3")
    assert info.value.__notes__ == ["while processing 'p'"]


@pytest.mark.parametrize("fn", [q.levenshtein_batch, q.damerau_batch, q.jaro_winkler_batch])
def test_empty_candidates(fn):
    assert fn("anything", []) == []
    assert fn("", ()) == []


def random_words(rng, count, alphabet, max_len):
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, max_len)))
            for _ in range(count)]


SCALAR = {
    q.levenshtein_batch: q.levenshtein_bp,
    q.damerau_batch: q.damerau_bp,
    q.jaro_winkler_batch: q.jaro_winkler_similarity,
}


@pytest.mark.parametrize("batch", SCALAR, ids=lambda f: f.__name__)
# The third: characters with three cases, characters that lower-case to a
# byte (the Kelvin sign, capital sharp s), capital dotted I and sigma.
@pytest.mark.parametrize("alphabet", ["abcAB", "aéÉ日Σσ", "kKßč\u212a\u1e9e\u01c4\u01c5\u01c6\u0130Σσ\u010c"],
                         ids=["ascii", "non-ascii", "cases"])
def test_batch_agrees_with_the_scalar_function(batch, alphabet):
    scalar = SCALAR[batch]
    rng = random.Random(hash(alphabet) & 0xFFFF)
    # queries around the 16- and 64-character lanes, candidates short and long
    for query_len in (0, 1, 7, 16, 17, 63, 64, 65, 130):
        query = "".join(rng.choice(alphabet) for _ in range(query_len))
        candidates = random_words(rng, 40, alphabet, 90) + [query, query.upper(), ""]
        for ci in (None, False, True):
            result = batch(query, candidates, case_insensitive=ci)
            if query == "" and batch is not q.jaro_winkler_batch:
                # the candidate's own count, unfolded, where the scalar call
                # counts İ folded, as two
                assert result == [len(c) for c in candidates], ci
                continue
            assert result == [scalar(query, c, case_insensitive=ci) for c in candidates], (query, ci)
    for p in (0.0, 0.25):
        result = q.jaro_winkler_batch("martha", ["marhta", "MARHTA", "dwayne"], p=p)
        assert result == [q.jaro_winkler_similarity("martha", c, p=p)
                          for c in ["marhta", "MARHTA", "dwayne"]]


@pytest.mark.parametrize("shape", [list, tuple, Seq], ids=["list", "tuple", "__getitem__"])
def test_results_keep_order_length_and_types(shape):
    words = ["kitten", "sitting", "kitten", "", "sitting", "日本"]
    candidates = shape(words)
    lev = q.levenshtein_batch("kitten", candidates)
    dam = q.damerau_batch("kitten", candidates)
    jw = q.jaro_winkler_batch("kitten", candidates)
    assert lev == [0, 3, 0, 6, 3, 6]
    assert dam == lev
    assert [type(x) for x in lev + dam] == [int] * 12
    assert [type(x) for x in jw] == [float] * 6
    assert jw[0] == jw[2] == 1.0 and jw[3] == 0.0 and jw[1] == jw[4]
    # The candidates are as they were, and each result is a list the
    # collector sees, as any other.
    assert list(candidates) == words
    assert all(type(r) is list and gc.is_tracked(r) for r in (lev, dam, jw))


@pytest.mark.parametrize("batch", SCALAR, ids=lambda f: f.__name__)
def test_the_detach_threshold_does_not_change_results(batch):
    rng = random.Random(99)
    candidates = random_words(rng, DETACH_AT, "abcdé", 12)
    attached = batch("abcab", candidates[:DETACH_AT - 1])
    detached = batch("abcab", candidates)
    assert len(detached) == DETACH_AT
    assert detached[:-1] == attached
    assert detached[-1] == SCALAR[batch]("abcab", candidates[-1])


# A list or tuple is read in chunks of at most CHUNK_ITEMS candidates, a
# chunk also ending before the texts it copies pass 1 MiB: these lists span
# several.
SPANNING = [
    ("many short", lambda rng: random_words(rng, 2 * CHUNK_ITEMS + 5, "abé日😀", 9)),
    ("long texts", lambda rng: random_words(rng, 9000, "abcé日", 500)),
    ("a text past the buffer", lambda rng: ["abc", "x" * (1 << 21) + "é", "", "é" * 600000]
     + random_words(rng, 10, "abé", 9)),
    # every unit width, empty to 70 characters
    ("widths and lengths", lambda rng: ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, 70)))
                                         for alphabet in rng.choices(["ab", "abé", "aж日", "a😀"], k=20000)]),
]


@pytest.mark.parametrize("shape", [list, tuple], ids=["list", "tuple"])
@pytest.mark.parametrize("label, make", SPANNING, ids=[s[0] for s in SPANNING])
def test_candidates_spanning_chunks(shape, label, make):
    rng = random.Random(label)
    candidates = make(rng)
    query = "abé" if label != "a text past the buffer" else "xé"
    for batch, scalar in SCALAR.items():
        assert batch(query, shape(candidates)) == [scalar(query, c) for c in candidates]


@pytest.mark.parametrize("shape", [list, tuple], ids=["list", "tuple"])
@pytest.mark.parametrize("bad, exc", [(5, TypeError), ("a\udc80", UnicodeEncodeError)],
                         ids=["int", "lone surrogate"])
def test_a_bad_candidate_in_a_later_chunk(shape, bad, exc):
    candidates = ["abc", "é日"] * CHUNK_ITEMS
    candidates.insert(len(candidates) - 7, bad)
    for fn in SCALAR:
        with pytest.raises(exc) as info:
            fn("abc", shape(candidates))
        assert info.value.__notes__ == ["while processing 'candidates'"]
    # still before a bad prefix scale or a bad option
    for options in ({"p": 0.3}, {"p": "0.3"}, {"case_insensitive": 1}):
        with pytest.raises(exc) as info:
            q.jaro_winkler_batch("abc", shape(candidates), **options)
        assert info.value.__notes__ == ["while processing 'candidates'"]


# (index of a lone surrogate, index of an int): the earlier one raises, in
# one block of items, in blocks apart, in chunks apart, either way round.
BAD_PAIRS = [(5, 9), (9, 5), (63, 64), (64, 63), (200, 100), (100, 200), (CHUNK_ITEMS + 3, 70),
             (70, CHUNK_ITEMS + 3)]


@pytest.mark.parametrize("alphabet", ["aé日😀", "жи", "😀"], ids=["mixed widths", "two-byte", "four-byte"])
@pytest.mark.parametrize("shape", [list, tuple], ids=["list", "tuple"])
@pytest.mark.parametrize("surrogate_at, int_at", BAD_PAIRS)
def test_the_first_bad_candidate_raises(shape, surrogate_at, int_at, alphabet):
    rng = random.Random(surrogate_at * 7 + int_at)
    candidates = ["".join(rng.choice(alphabet) for _ in range(rng.randint(1, 12))) for _ in range(CHUNK_ITEMS + 10)]
    candidates[surrogate_at] = "ж\udc80"
    candidates[int_at] = 7
    expected = UnicodeEncodeError if surrogate_at < int_at else TypeError
    for fn in SCALAR:
        with pytest.raises(expected):
            fn("abc", shape(candidates))


# A lone surrogate at every place of texts of 1 to 40 two-byte or four-byte
# units, each in a batch beside clean texts; and no clean text of those
# lengths is refused.
@pytest.mark.parametrize("wide", ["ж", "😀"], ids=["two-byte", "four-byte"])
def test_a_lone_surrogate_anywhere_in_a_candidate(wide):
    for length in range(1, 41):
        for at in range(length):
            text = wide * at + "\ud800" + wide * (length - at - 1)
            exc = raised(lambda: q.levenshtein_batch("abc", ["ab", wide * length, text]))
            assert type(exc) is UnicodeEncodeError and exc.start == at, (length, at)
    clean = [wide * n for n in range(1, 41)]
    assert q.levenshtein_batch(wide, clean) == list(range(0, 40))


@pytest.mark.parametrize("count", [3, DETACH_AT])
def test_every_reference_is_given_back(count):
    query, word, other = fresh("query"), fresh("candidate"), fresh("x\udc80")
    words = [word] * count
    refs = lambda: (sys.getrefcount(query), sys.getrefcount(word), sys.getrefcount(other))  # noqa: E731
    gc.collect()
    before = refs()
    for _ in range(3):
        q.levenshtein_batch(query, words)
        q.jaro_winkler_batch(query, words, case_insensitive=True)
        q._ingest_owned(words)
        q._ingest_borrow(words)
        q._ingest_borrow_and_deref(words)
        failing = [
            lambda: q.damerau_batch(query, words + [None]),
            lambda: q.damerau_batch(query, words + [other]),
            lambda: q.jaro_winkler_batch(query, words, p=0.5),
            lambda: q.jaro_winkler_batch(query, words, case_insensitive=1),
            lambda: q._ingest_owned(words + [1]),
            lambda: q._ingest_borrow(words + [1]),
            lambda: q._ingest_borrow_and_deref(Seq(words + [b""], None)),
        ]
        for call in failing:
            with pytest.raises((TypeError, ValueError)):
                call()
    gc.collect()
    assert refs() == before


def test_other_threads_run_while_a_long_batch_is_computed():
    """A worker thread keeps stamping the time; stamps from the middle of a
    batch call show that the interpreter ran other Python code meanwhile. With
    a global interpreter lock a batch below the threshold must show none."""
    rng = random.Random(5)
    alphabet = "aé日bΣ"

    def long_batch(count, length):
        pool = "".join(rng.choices(alphabet, k=4 * length))
        texts = [pool[start:start + length] for start in rng.choices(range(3 * length), k=count + 1)]
        return texts[0], texts[1:]

    stamps, stop = [], threading.Event()

    def worker():
        while not stop.is_set():
            stamps.append(time.perf_counter())

    def stamps_inside(call):
        t0 = time.perf_counter()
        call()
        t1 = time.perf_counter()
        margin = (t1 - t0) / 4  # ignore the switches right before and after the call
        return sum(t0 + margin < s < t1 - margin for s in list(stamps)), t1 - t0

    length = 200
    thread = threading.Thread(target=worker, daemon=True)
    thread.start()
    try:
        while True:  # long enough strings that one call lasts a good while
            query, candidates = long_batch(DETACH_AT, length)
            inside, duration = stamps_inside(lambda: q.damerau_batch(query, candidates))
            if duration > 0.2 or length > 2000:
                break
            length *= 2
        assert inside > 0, f"no other thread ran during a {duration:.3f} s detached batch"
        if getattr(sys, "_is_gil_enabled", lambda: True)():
            inside, duration = stamps_inside(lambda: q.damerau_batch(query, candidates[:-1]))
            assert inside == 0, "a batch below the threshold released the interpreter"
    finally:
        stop.set()
        thread.join()
