"""The module as Python sees it: its attributes, the function objects, the
stub, the call boundary, and the scalar functions against the plain
dynamic-programming references."""

import ast
import inspect
import pathlib
import pickle
import random

import pytest

import quillstone
from support import OVER_CAPACITY, Raises, Seq, numpy_bool

NAMES = [
    "levenshtein_bp",
    "damerau_bp",
    "jaro_winkler_similarity",
    "levenshtein_batch",
    "damerau_batch",
    "jaro_winkler_batch",
    "_ingest_owned",
    "_ingest_borrow",
    "_ingest_borrow_and_deref",
]

SIGNATURES = {
    "levenshtein_bp": "(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)",
    "damerau_bp": "(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)",
    "jaro_winkler_similarity":
        "(str_1, str_2, p=None, max_len=None, case_insensitive=None, score_cutoff=None)",
    "levenshtein_batch": "(query, candidates, case_insensitive=None)",
    "damerau_batch": "(query, candidates, case_insensitive=None)",
    "jaro_winkler_batch": "(query, candidates, p=None, case_insensitive=None)",
    "_ingest_owned": "(candidates)",
    "_ingest_borrow": "(candidates)",
    "_ingest_borrow_and_deref": "(candidates)",
}

STUB = pathlib.Path(__file__).resolve().parents[1] / "quillstone.pyi"


def test_module_attributes():
    assert quillstone.__all__ == NAMES
    assert type(quillstone.__all__) is list
    assert quillstone.__doc__ == ""
    public = {n for n in vars(quillstone) if not n.startswith("__")}
    assert public == set(NAMES)


@pytest.mark.parametrize("name", NAMES)
def test_function_objects(name):
    fn = getattr(quillstone, name)
    assert fn.__name__ == name
    assert fn.__text_signature__ == SIGNATURES[name]
    assert fn.__doc__ is None
    assert fn.__module__ == "quillstone"
    assert fn.__self__ is quillstone
    assert str(inspect.signature(fn)) == SIGNATURES[name]
    assert pickle.loads(pickle.dumps(fn)) is fn


def stub_signatures():
    tree = ast.parse(STUB.read_text())
    out = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            args = node.args
            assert not (args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg)
            defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
            parts = []
            for arg, default in zip(args.args, defaults):
                parts.append(arg.arg if default is None else f"{arg.arg}={ast.unparse(default)}")
            out[node.name] = "(" + ", ".join(parts) + ")"
        elif isinstance(node, ast.Assign) and node.targets[0].id == "__all__":
            out["__all__"] = ast.literal_eval(node.value)
    return out


def test_stub_agrees_with_the_functions():
    stub = stub_signatures()
    assert stub.pop("__all__") == quillstone.__all__
    assert stub == {name: getattr(quillstone, name).__text_signature__ for name in NAMES}


# ---------------------------------------------------------------- scalar calls

@pytest.mark.parametrize("call, expected", [
    (lambda: quillstone.levenshtein_bp("flaw", "lawn"), 2),
    (lambda: quillstone.damerau_bp("ca", "ac"), 1),
    (lambda: quillstone.levenshtein_bp("ca", "ac"), 2),
    (lambda: quillstone.levenshtein_bp("Intention", "execution", case_insensitive=True,
                                       score_cutoff=3), 4),
    (lambda: quillstone.levenshtein_bp("a", "b", max_len=None, score_cutoff=None), 1),
    (lambda: quillstone.damerau_bp("a", "b", None, None, None), 1),
    (lambda: quillstone.jaro_winkler_similarity("abc", "abc"), 1.0),
    (lambda: quillstone.jaro_winkler_similarity("MARTHA", "MARHTA"), 0.9611111111111111),
    (lambda: quillstone.jaro_winkler_similarity("a", "b", p=0.25), 0.0),
    (lambda: quillstone.jaro_winkler_similarity("ABC", "abc", case_insensitive=True), 1.0),
    (lambda: quillstone.jaro_winkler_similarity("", "", score_cutoff=1.5), 1.0),
    (lambda: quillstone.levenshtein_bp("abc", "abd", max_len=3), 1),
])
def test_scalar_examples(call, expected):
    result = call()
    assert result == expected
    assert type(result) is type(expected)


@pytest.mark.parametrize("call, message", [
    (lambda: quillstone.damerau_bp("a" * 300, "b", max_len=255),
     'InputTooLong { which: "str_1", len: 300, limit: 255 }'),
    (lambda: quillstone.levenshtein_bp("abc", "xyz", max_len=True),  # True is the limit 1
     'InputTooLong { which: "str_1", len: 3, limit: 1 }'),
    (lambda: quillstone.levenshtein_bp("ab", "abc", max_len=2),
     'InputTooLong { which: "str_2", len: 3, limit: 2 }'),
    (lambda: quillstone.jaro_winkler_similarity("a", "b", p=0.3), "InvalidPrefixScale { value: 0.3 }"),
    (lambda: quillstone.jaro_winkler_similarity("a", "b", p=1), "InvalidPrefixScale { value: 1.0 }"),
    (lambda: quillstone.jaro_winkler_similarity("a", "b", p=float("nan")),
     "InvalidPrefixScale { value: NaN }"),
    (lambda: quillstone.jaro_winkler_similarity("a", "b", p=-1e-5),
     "InvalidPrefixScale { value: -1e-5 }"),
    # the prefix scale is checked before the limit
    (lambda: quillstone.jaro_winkler_similarity("abc", "b", p=1e20, max_len=1),
     "InvalidPrefixScale { value: 1e20 }"),
])
def test_match_errors_become_value_errors(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert type(info.value) is ValueError
    assert info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")


def random_text(rng, alphabet, max_len):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, max_len)))


ALPHABETS = {
    "ascii": "abcd",
    "non-ascii": "aéb日😀",
}


@pytest.mark.parametrize("alphabet", ALPHABETS.values(), ids=ALPHABETS.keys())
def test_scalar_functions_agree_with_the_references(alphabet, reference):
    rng = random.Random(20261207)
    for _ in range(300):
        # lengths up to 80 cross the 64-character word boundary
        limit = rng.choice((8, 20, 80))
        a, b = random_text(rng, alphabet, limit), random_text(rng, alphabet, limit)
        lev, dam = reference.levenshtein(a, b), reference.osa(a, b)
        assert quillstone.levenshtein_bp(a, b) == lev, (a, b)
        assert quillstone.damerau_bp(a, b) == dam, (a, b)
        assert quillstone.jaro_winkler_similarity(a, b) == reference.jaro_winkler(a, b), (a, b)
        k = rng.randint(0, 6)
        assert quillstone.levenshtein_bp(a, b, score_cutoff=k) == min(lev, k + 1)
        assert quillstone.damerau_bp(a, b, score_cutoff=k) == min(dam, k + 1)


def test_case_insensitive_folds_before_comparing(reference):
    rng = random.Random(7)
    for _ in range(100):
        a, b = random_text(rng, "aAbBΣσéÉ", 12), random_text(rng, "aAbBΣσéÉ", 12)
        fa, fb = a.lower(), b.lower()
        assert quillstone.levenshtein_bp(a, b, case_insensitive=True) == reference.levenshtein(fa, fb)
        assert quillstone.damerau_bp(a, b, case_insensitive=True) == reference.osa(fa, fb)
        assert quillstone.jaro_winkler_similarity(a, b, case_insensitive=True) == \
            reference.jaro_winkler(fa, fb)
        assert quillstone.levenshtein_bp(a, b, case_insensitive=False) == reference.levenshtein(a, b)


# ---------------------------------------------------------------- the boundary

def test_panic_exception_is_a_base_exception_only(panic_exception):
    assert panic_exception.__bases__ == (BaseException,)
    assert not issubclass(panic_exception, Exception)
    assert panic_exception.__name__ == "PanicException"
    assert panic_exception.__doc__


def test_except_exception_does_not_catch_a_panic(panic_exception):
    caught_by = None
    try:
        try:
            quillstone.levenshtein_batch("q", Seq(["a"], OVER_CAPACITY))
        except Exception:
            caught_by = "Exception"
    except BaseException as exc:
        caught_by = "BaseException"
        assert type(exc) is panic_exception
        assert exc.args == ("capacity overflow",)
    assert caught_by == "BaseException"


@pytest.mark.parametrize("call, hook", [
    (lambda e: quillstone.levenshtein_bp("a", "b", max_len=Raises(e)), "__index__"),
    (lambda e: quillstone.damerau_bp("a", "b", score_cutoff=Raises(e)), "__index__"),
    (lambda e: quillstone.jaro_winkler_similarity("a", "b", p=Raises(e)), "__float__"),
    (lambda e: quillstone.levenshtein_bp("a", "b", case_insensitive=numpy_bool(e)), "truth"),
    (lambda e: quillstone.damerau_batch("a", Raises(e)), "__getitem__"),
    (lambda e: quillstone._ingest_owned(Raises(e)), "__getitem__"),
], ids=["max_len", "score_cutoff", "p", "numpy truth slot", "iteration", "probe iteration"])
@pytest.mark.thread_unsafe(reason="reads the panic report from stderr, which is the whole process's")
def test_a_panic_from_python_code_comes_back_as_a_new_panic(call, hook, panic_exception, capsys):
    original = panic_exception("raised by user code")
    with pytest.raises(BaseException) as info:
        call(original)
    assert type(info.value) is panic_exception
    assert info.value is not original
    assert info.value.args == ("raised by user code",)
    assert not hasattr(info.value, "__notes__")
    err = capsys.readouterr().err
    lines = err.splitlines()
    assert "PanicException" in lines[0]
    assert lines[1] == "Python stack trace below:"
    assert "raised by user code" in err
    assert hook in err  # the traceback of the original


def test_a_panic_subclass_from_python_code_is_an_ordinary_error(panic_exception):
    sub = type("Sub", (panic_exception,), {})
    with pytest.raises(sub) as info:
        quillstone.levenshtein_bp("a", "b", max_len=Raises(sub("plain")))
    assert info.value.__notes__ == ["while processing 'max_len'"]


# ---------------------------------------------------------------- the execution step

def fresh_module(**attributes):
    """A new module object from quillstone's definition, given `attributes`
    before its execution step runs; returns it and the step."""
    import importlib.util
    spec = importlib.util.spec_from_file_location("quillstone", quillstone.__file__)
    module = importlib.util.module_from_spec(spec)
    for name, value in attributes.items():
        setattr(module, name, value)
    return module, lambda: spec.loader.exec_module(module)


class MyList(list):
    pass


def test_the_execution_step_builds_functions_for_its_module():
    module, execute = fresh_module(__name__="renamed", __all__=MyList(["already"]))
    execute()
    assert module.__all__ == ["already"] + NAMES
    assert type(module.__all__) is MyList
    for name in NAMES:
        fn = getattr(module, name)
        assert fn is not getattr(quillstone, name)
        assert fn.__self__ is module
        assert fn.__module__ == "renamed"
    assert module.levenshtein_bp("flaw", "lawn") == 2


@pytest.mark.parametrize("value, type_name", [(("x",), "tuple"), (None, "None"), ("x", "str")])
def test_an_all_that_is_not_a_list_fails_the_step(value, type_name):
    module, execute = fresh_module(__all__=value)
    with pytest.raises(TypeError) as info:
        execute()
    if type_name == "None":
        assert info.value.args == ("'None' is not an instance of 'list'",)
    else:
        assert info.value.args == (f"'{type_name}' object is not an instance of 'list'",)
    assert not hasattr(module, "levenshtein_bp")
