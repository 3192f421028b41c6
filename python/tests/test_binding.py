"""Argument binding and value conversion: every binding message, every
conversion error with its parameter note, and the values each conversion
accepts."""

import fractions
import operator
import sys

import pytest

import quillstone as q

# ---------------------------------------------------------------- binding

class Shown(str):
    """A keyword name that str() shows otherwise than its text."""

    def __str__(self):
        return "shown"


class ShownWithSurrogate(str):
    def __str__(self):
        return "s\ud800"


BINDING_ERRORS = [
    # too many positional arguments
    (q.damerau_bp, ("a", "b", "c", 1, True, 2), {},
     "damerau_bp() takes from 2 to 5 positional arguments but 6 were given"),
    (q.jaro_winkler_similarity, ("a",) * 7, {},
     "jaro_winkler_similarity() takes from 2 to 6 positional arguments but 7 were given"),
    (q.levenshtein_batch, ("a", [], None, None), {},
     "levenshtein_batch() takes from 2 to 3 positional arguments but 4 were given"),
    (q.jaro_winkler_batch, ("a", [], None, None, None), {},
     "jaro_winkler_batch() takes from 2 to 4 positional arguments but 5 were given"),
    (q._ingest_owned, ([], []), {}, "_ingest_owned() takes 1 positional arguments but 2 were given"),
    (q._ingest_borrow_and_deref, ([], [], []), {},
     "_ingest_borrow_and_deref() takes 1 positional arguments but 3 were given"),
    # ... reported before any keyword problem
    (q.levenshtein_bp, ("a",) * 6, {"nope": 1, "str_1": "x"},
     "levenshtein_bp() takes from 2 to 5 positional arguments but 6 were given"),
    # unrecognised keywords, compared as exact names
    (q.levenshtein_bp, ("a", "b"), {"maxlen": 1},
     "levenshtein_bp() got an unexpected keyword argument 'maxlen'"),
    (q.levenshtein_bp, ("a", "b"), {"STR_1": 1},
     "levenshtein_bp() got an unexpected keyword argument 'STR_1'"),
    (q.levenshtein_batch, ("a", []), {"p": 0.1},
     "levenshtein_batch() got an unexpected keyword argument 'p'"),
    (q.damerau_bp, (), {"foo": 1}, "damerau_bp() got an unexpected keyword argument 'foo'"),
    (q.damerau_bp, ("a", "b"), {"\udc80": 1},
     "damerau_bp() got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
    (q.damerau_bp, ("a", "b"), {"s\ud800x": 1},
     "damerau_bp() got an unexpected keyword argument 's\ufffd\ufffd\ufffdx'"),
    (q.damerau_bp, ("a", "b"), {"größe": 1},
     "damerau_bp() got an unexpected keyword argument 'größe'"),
    # ... shown by str() of the name object
    (q.levenshtein_bp, ("a", "b"), {Shown("bogus"): 1},
     "levenshtein_bp() got an unexpected keyword argument 'shown'"),
    (q._ingest_borrow, ([],), {Shown("query"): 1},
     "_ingest_borrow() got an unexpected keyword argument 'shown'"),
    (q.damerau_bp, ("a", "b"), {ShownWithSurrogate("x"): 1},
     "damerau_bp() got an unexpected keyword argument 's\ufffd\ufffd\ufffd'"),
    # keyword for a filled slot; keywords are looked at in the order given
    (q.jaro_winkler_similarity, ("a",), {"str_1": "b"},
     "jaro_winkler_similarity() got multiple values for argument 'str_1'"),
    (q.damerau_bp, ("a", "b"), {"str_2": "c"}, "damerau_bp() got multiple values for argument 'str_2'"),
    (q.damerau_bp, ("a",), {"str_1": "b", "foo": 1},
     "damerau_bp() got multiple values for argument 'str_1'"),
    (q.damerau_bp, ("a",), {"foo": 1, "str_1": "b"},
     "damerau_bp() got an unexpected keyword argument 'foo'"),
    (q._ingest_borrow, ([],), {"candidates": []},
     "_ingest_borrow() got multiple values for argument 'candidates'"),
    # missing required arguments, reported last
    (q.damerau_bp, (), {"str_2": "x"}, "damerau_bp() missing 1 required positional argument: 'str_1'"),
    (q.damerau_bp, (), {}, "damerau_bp() missing 2 required positional arguments: 'str_1' and 'str_2'"),
    (q.levenshtein_bp, ("a",), {"max_len": 3},
     "levenshtein_bp() missing 1 required positional argument: 'str_2'"),
    (q.damerau_batch, (), {"case_insensitive": True},
     "damerau_batch() missing 2 required positional arguments: 'query' and 'candidates'"),
    (q._ingest_owned, (), {}, "_ingest_owned() missing 1 required positional argument: 'candidates'"),
]


@pytest.mark.parametrize("fn, args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert type(info.value) is TypeError
    assert info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")  # binding errors carry no note


@pytest.mark.parametrize("call, expected", [
    (lambda: q.levenshtein_bp(str_2="kitten", str_1="sitting"), 3),
    (lambda: q.damerau_bp("ab", str_2="ba", score_cutoff=0), 1),
    (lambda: q._ingest_borrow(candidates=["x"]), 1),
    (lambda: q.jaro_winkler_batch(candidates=["abc"], query="abc", p=0.0), [1.0]),
])
def test_keywords_fill_their_slots(call, expected):
    assert call() == expected


def test_a_keyword_is_matched_by_its_text_not_by_str():
    assert q.levenshtein_bp("abc", "abd", **{Shown("score_cutoff"): 0}) == 1


def test_the_error_of_a_keyword_s_str_is_the_call_s_error(panic_exception, capsys):
    class Refuses(str):
        def __str__(self):
            raise LookupError("no name today")

    with pytest.raises(LookupError) as info:
        q.damerau_bp("a", "b", **{Refuses("bogus"): 1})
    assert info.value.args == ("no name today",)

    class Panics(str):
        def __str__(self):
            raise panic_exception("name panics")

    with pytest.raises(BaseException) as info:
        q.damerau_bp("a", "b", **{Panics("bogus"): 1})
    assert type(info.value) is panic_exception and info.value.args == ("name panics",)
    assert "Python stack trace below:" in capsys.readouterr().err


def made_at_run_time(name):
    """An equal str that is not the interned one source code passes (one
    character has a single str)."""
    made = "".join(list(name))
    assert made == name and (made is not sys.intern(name) or len(name) == 1)
    return made


# Every parameter of each function by keyword, with a value that changes the
# result where one can.
BY_KEYWORD = [
    (q.levenshtein_bp, dict(str_1="Kitten", str_2="sitting", max_len=9, case_insensitive=True,
                            score_cutoff=1)),
    (q.damerau_bp, dict(str_1="Kitten", str_2="iktten", max_len=9, case_insensitive=True,
                        score_cutoff=0)),
    (q.jaro_winkler_similarity, dict(str_1="Martha", str_2="marhta", p=0.2, max_len=9,
                                     case_insensitive=True, score_cutoff=0.5)),
    (q.levenshtein_batch, dict(query="Kitten", candidates=["sitting", "KIT"],
                               case_insensitive=True)),
    (q.damerau_batch, dict(query="Kitten", candidates=["iktten", "KIT"], case_insensitive=True)),
    (q.jaro_winkler_batch, dict(query="Martha", candidates=["marhta", "MARTHA"], p=0.2,
                                case_insensitive=True)),
    (q._ingest_borrow, dict(candidates=["x", "y"])),
]


@pytest.mark.parametrize("fn, kwargs", BY_KEYWORD, ids=lambda x: getattr(x, "__name__", ""))
def test_keyword_names_made_at_run_time_bind_as_written_ones(fn, kwargs):
    expected = fn(*kwargs.values())
    assert fn(**kwargs) == expected
    assert fn(**{made_at_run_time(k): v for k, v in kwargs.items()}) == expected
    # Each keyword alone in either form, the others by position.
    names = list(kwargs)
    for i, name in enumerate(names):
        for keyword in (sys.intern(name), made_at_run_time(name)):
            assert fn(*list(kwargs.values())[:i], **{keyword: kwargs[name]},
                      **{k: kwargs[k] for k in names[i + 1:]}) == expected, keyword
            with pytest.raises(TypeError, match=f"got multiple values for argument '{name}'"):
                fn(*kwargs.values(), **{keyword: kwargs[name]})


def test_keywords_bind_in_a_subinterpreter():
    interpreters = pytest.importorskip("_interpreters")
    try:
        interp = interpreters.create(interpreters.new_config("legacy"))
    except Exception as exc:  # noqa: BLE001 - a build without them
        pytest.skip(f"no subinterpreter: {exc}")
    try:
        failure = interpreters.run_string(interp, f"""if True:
            import sys
            sys.path[:0] = {sys.path!r}
            import quillstone as q
            assert q.levenshtein_bp("Kitten", "sitting", case_insensitive=True, score_cutoff=1) == 2
            assert q.damerau_bp(str_2="ab", str_1="ba", max_len=None) == 1
            assert q.jaro_winkler_batch("abc", candidates=["abc"], p=0.0) == [1.0]
            """)
    finally:
        interpreters.destroy(interp)
    assert failure is None, failure


OPTIONAL = {
    q.levenshtein_bp: (("kitten", "Sitting"), ["max_len", "case_insensitive", "score_cutoff"]),
    q.damerau_bp: (("kitten", "Sitting"), ["max_len", "case_insensitive", "score_cutoff"]),
    q.jaro_winkler_similarity: (("kitten", "Sitting"),
                                ["p", "max_len", "case_insensitive", "score_cutoff"]),
    q.levenshtein_batch: (("kitten", ["Sitting", "kit"]), ["case_insensitive"]),
    q.damerau_batch: (("kitten", ["Sitting", "kit"]), ["case_insensitive"]),
    q.jaro_winkler_batch: (("kitten", ["Sitting", "kit"]), ["p", "case_insensitive"]),
}


@pytest.mark.parametrize("fn", OPTIONAL, ids=lambda f: f.__name__)
def test_none_is_the_same_as_omission(fn):
    args, names = OPTIONAL[fn]
    expected = fn(*args)
    for name in names:
        assert fn(*args, **{name: None}) == expected, name
    assert fn(*args, *([None] * len(names))) == expected


# ---------------------------------------------------------------- conversions

class Outer:
    class Inner:
        pass


Unprintable = type("Unprintable", (), {})
Unprintable.__qualname__ = "Bad\udc80Name"


def interpreter_error(fn, *args):
    """The exception the interpreter's own conversion raises for a value."""
    try:
        fn(*args)
    except Exception as exc:
        return type(exc), str(exc)
    raise AssertionError("no error")


CONVERSION_ERRORS = [
    # text
    (lambda: q.damerau_bp(None, "b"), TypeError, "'None' is not an instance of 'str'", "str_1"),
    (lambda: q.damerau_bp(b"a", "b"), TypeError, "'bytes' object is not an instance of 'str'", "str_1"),
    (lambda: q.damerau_bp("a", bytearray(b"b")), TypeError,
     "'bytearray' object is not an instance of 'str'", "str_2"),
    (lambda: q.levenshtein_bp("a", Outer.Inner()), TypeError,
     "'Outer.Inner' object is not an instance of 'str'", "str_2"),
    (lambda: q.levenshtein_bp(Unprintable(), "a"), TypeError,
     "'Bad\ufffd\ufffd\ufffdName' object is not an instance of 'str'", "str_1"),
    (lambda: q.jaro_winkler_similarity("a\ud800", "b"), UnicodeEncodeError, None, "str_1"),
    (lambda: q.damerau_bp("b", "\udfff"), UnicodeEncodeError, None, "str_2"),
    # the first failing parameter hides the later ones
    (lambda: q.damerau_bp(1, 2, max_len=-1), TypeError, "'int' object is not an instance of 'str'",
     "str_1"),
    (lambda: q.jaro_winkler_similarity("a", "b", p="x", max_len="y"), TypeError,
     "must be real number, not str", "p"),
    # unsigned 32-bit integers
    (lambda: q.levenshtein_bp("a", "b", max_len=4294967296), OverflowError,
     "out of range integral type conversion attempted", "max_len"),
    (lambda: q.damerau_bp("a", "b", score_cutoff=2**64 - 1), OverflowError,
     "out of range integral type conversion attempted", "score_cutoff"),
    (lambda: q.damerau_bp("a", "b", score_cutoff=2**64), OverflowError, None, "score_cutoff"),
    (lambda: q.levenshtein_bp("a", "b", max_len=-1), OverflowError, None, "max_len"),
    (lambda: q.levenshtein_bp("a", "b", max_len=3.0), TypeError,
     interpreter_error(operator.index, 3.0)[1], "max_len"),
    (lambda: q.levenshtein_bp("a", "b", max_len="3"), TypeError,
     interpreter_error(operator.index, "3")[1], "max_len"),
    # floats
    (lambda: q.jaro_winkler_similarity("a", "b", p="0.1"), TypeError,
     "must be real number, not str", "p"),
    (lambda: q.jaro_winkler_similarity("a", "b", score_cutoff=None, max_len=5, p=[]), TypeError,
     "must be real number, not list", "p"),
    (lambda: q.jaro_winkler_similarity("a", "b", score_cutoff=2**2000), OverflowError, None,
     "score_cutoff"),
    # booleans: only exact bools (and numpy's)
    (lambda: q.levenshtein_bp("a", "b", case_insensitive=1), TypeError,
     "'int' object is not an instance of 'bool'", "case_insensitive"),
    (lambda: q.levenshtein_bp("a", "b", case_insensitive=0), TypeError,
     "'int' object is not an instance of 'bool'", "case_insensitive"),
    (lambda: q.jaro_winkler_similarity("a", "b", case_insensitive=1.0), TypeError,
     "'float' object is not an instance of 'bool'", "case_insensitive"),
    (lambda: q.damerau_batch("a", [], case_insensitive="yes"), TypeError,
     "'str' object is not an instance of 'bool'", "case_insensitive"),
]


@pytest.mark.parametrize("call, exc_type, message, parameter", CONVERSION_ERRORS)
def test_conversion_errors_carry_the_parameter_note(call, exc_type, message, parameter):
    with pytest.raises(exc_type) as info:
        call()
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
        assert info.value.args == (message,)
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_interpreter_errors_keep_their_own_text():
    class Bad:
        def __index__(self):
            raise LookupError("from __index__", 42)

        def __float__(self):
            raise KeyError("from __float__")

    with pytest.raises(LookupError) as info:
        q.levenshtein_bp("a", "b", score_cutoff=Bad())
    assert info.value.args == ("from __index__", 42)
    assert info.value.__notes__ == ["while processing 'score_cutoff'"]
    with pytest.raises(KeyError) as info:
        q.jaro_winkler_similarity("a", "b", score_cutoff=Bad())
    assert info.value.args == ("from __float__",)
    assert info.value.__notes__ == ["while processing 'score_cutoff'"]


def test_notes_already_present_are_kept():
    exc = ValueError("x")
    exc.add_note("first")

    class Bad:
        def __index__(self):
            raise exc

    with pytest.raises(ValueError) as info:
        q.damerau_bp("a", "b", max_len=Bad())
    assert info.value is exc
    assert exc.__notes__ == ["first", "while processing 'max_len'"]


def test_a_failing_add_note_leaves_the_error_without_note():
    class Stubborn(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes here")

    class Bad:
        def __index__(self):
            raise Stubborn("original")

    with pytest.raises(Stubborn) as info:
        q.levenshtein_bp("a", "b", max_len=Bad())
    assert info.value.args == ("original",)
    assert not hasattr(info.value, "__notes__")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class MyInt(int):
    pass


class MyFloat(float):
    pass


class HasFloat:
    def __float__(self):
        return 0.25


ABC_ABD = 0.7777777777777777  # Jaro of abc and abd: ((2/3 + 2/3) + 1) / 3, no prefix bonus


@pytest.mark.parametrize("call, expected", [
    (lambda: q.levenshtein_bp("abc", "abd", max_len=4294967295), 1),
    (lambda: q.levenshtein_bp("a", "b", max_len=True), 1),
    (lambda: q.levenshtein_bp("ab", "xy", max_len=MyInt(2)), 2),
    (lambda: q.levenshtein_bp("ab", "xy", max_len=Index(2)), 2),
    (lambda: q.levenshtein_bp("abcdef", "", score_cutoff=Index(2)), 3),
    (lambda: q.damerau_bp("abcdef", "", score_cutoff=False), 1),
    (lambda: q.damerau_bp("ab", "ba", max_len=0 + 2, case_insensitive=False), 1),
    (lambda: q.jaro_winkler_similarity("abcdef", "abcdfe", p=0.25), 1.0),
    (lambda: q.jaro_winkler_similarity("abcdef", "abcdfe", p=MyFloat(0.25)), 1.0),
    (lambda: q.jaro_winkler_similarity("abcdef", "abcdfe", p=HasFloat()), 1.0),
    (lambda: q.jaro_winkler_similarity("abcdef", "abcdfe", p=fractions.Fraction(1, 4)), 1.0),
    (lambda: q.jaro_winkler_similarity("abcdef", "abcdfe", p=Index(0)),
     q.jaro_winkler_similarity("abcdef", "abcdfe", p=0.0)),
    (lambda: q.jaro_winkler_similarity("abc", "abd", p=-0.0), ABC_ABD),
    (lambda: q.jaro_winkler_similarity("abc", "abd", p=0, score_cutoff=float("nan")), ABC_ABD),
    (lambda: q.jaro_winkler_similarity("abc", "abd", p=0, score_cutoff=True), 0.0),
    (lambda: q.jaro_winkler_similarity("abc", "abd", p=0, score_cutoff=ABC_ABD), ABC_ABD),
    (lambda: q.jaro_winkler_similarity("abc", "abd", p=0, score_cutoff=float("-inf")), ABC_ABD),
    (lambda: q.levenshtein_bp("ABC", "abc", case_insensitive=True), 0),
    (lambda: q.levenshtein_bp("ABC", "abc", case_insensitive=False), 3),
])
def test_accepted_values(call, expected):
    assert call() == expected


# ---------------------------------------------------------------- booleans from numpy

def fake_numpy_type(name, **namespace):
    return type(name, (), {"__module__": "numpy", **namespace})


class Boom(Exception):
    pass


def test_numpy_named_types_use_their_truth_slot():
    truthy = fake_numpy_type("bool_", __bool__=lambda self: True)()
    falsy = fake_numpy_type("bool", __bool__=lambda self: False)()
    assert q.levenshtein_bp("ABC", "abc", case_insensitive=truthy) == 0
    assert q.levenshtein_bp("ABC", "abc", case_insensitive=falsy) == 3


def test_numpy_named_types_errors():
    def boom(self):
        raise Boom("truth failed")

    failing = fake_numpy_type("bool_", __bool__=boom)()
    with pytest.raises(Boom) as info:
        q.damerau_bp("a", "b", case_insensitive=failing)
    assert info.value.__notes__ == ["while processing 'case_insensitive'"]

    no_truth = fake_numpy_type("bool_")()
    with pytest.raises(TypeError) as info:
        q.damerau_bp("a", "b", case_insensitive=no_truth)
    assert info.value.args == (
        "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion",)
    assert info.value.__notes__ == ["while processing 'case_insensitive'"]

    # only numpy's boolean scalar types are let through
    for other in (fake_numpy_type("int64", __bool__=lambda self: True)(),
                  type("bool_", (), {"__module__": "numpyx", "__bool__": lambda self: True})()):
        with pytest.raises(TypeError) as info:
            q.damerau_bp("a", "b", case_insensitive=other)
        assert info.value.args == (f"'{type(other).__qualname__}' object is not an instance of 'bool'",)


@pytest.mark.thread_unsafe(reason="importorskip changes the warning filters, which are the whole process's")
def test_real_numpy_booleans():
    # a numpy built for another interpreter fails with ImportError, not ModuleNotFoundError
    np = pytest.importorskip("numpy", exc_type=ImportError)
    assert q.levenshtein_bp("ABC", "abc", case_insensitive=np.True_) == 0
    assert q.levenshtein_bp("ABC", "abc", case_insensitive=np.False_) == 3
    assert q.levenshtein_batch("ABC", ["abc"], case_insensitive=np.bool_(True)) == [0]
    assert q.levenshtein_bp("abc", "abd", max_len=np.uint32(3), score_cutoff=np.int64(0)) == 1
    assert q.jaro_winkler_similarity("abcdef", "abcdfe", p=np.float32(0.25)) == 1.0
    with pytest.raises(TypeError) as info:
        q.levenshtein_bp("a", "b", case_insensitive=np.int64(1))
    assert info.value.args == ("'int64' object is not an instance of 'bool'",)
    assert info.value.__notes__ == ["while processing 'case_insensitive'"]
