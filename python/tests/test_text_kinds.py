"""Every kind of str the interpreter stores (ASCII, Latin-1, UCS-2, UCS-4) is
read as it is: each in every argument and beside every other kind gives the
reference result, and no call leaves a str larger than it was."""

import random
import sys

import pytest

import quillstone as q
from support import Seq, fresh, jaro_winkler, levenshtein, osa

# Texts of each kind, with letters whose cases differ and letters that fold
# into more than one character or out of their kind (U+0130, U+212A).
KINDS = {
    "ASCII": ["kitten", "SITTING", "Kelvin"],
    "Latin-1": ["M\u00fcller", "M\u00dcLLER", "\u00c0\u00e9\u00df\u00ff\u0080", "\u00d7\u00f7\u00b5"],
    "UCS-2": ["Dvo\u0159\u00e1k", "DVO\u0158\u00c1K", "\u0130stanbul", "\u212aelvin", "\u65e5\u672c\u8a9e"],
    "UCS-4": ["\U0001F642smile", "\U00010400\U00010428", "\U0001F600\u00e9"],
}
ALL = [t for texts in KINDS.values() for t in texts]


def reference(fn, a, b, fold):
    if fold:
        a, b = a.lower(), b.lower()
    return {"levenshtein": levenshtein, "damerau": osa, "jaro_winkler": jaro_winkler}[fn](a, b)


@pytest.mark.parametrize("fold", [False, True], ids=["as given", "folded"])
@pytest.mark.parametrize("kind", KINDS, ids=KINDS.keys())
def test_each_kind_against_every_other(kind, fold):
    for a in KINDS[kind]:
        expected = {fn: [reference(fn, a, b, fold) for b in ALL] for fn in ("levenshtein", "damerau", "jaro_winkler")}
        assert [q.levenshtein_bp(a, b, case_insensitive=fold) for b in ALL] == expected["levenshtein"]
        assert [q.damerau_bp(b, a, case_insensitive=fold) for b in ALL] == expected["damerau"]
        assert [q.jaro_winkler_similarity(a, b, case_insensitive=fold) for b in ALL] == expected["jaro_winkler"]
        # Batches of every kind at once, in the lanes and beside them.
        for make in (list, tuple, Seq):
            assert q.levenshtein_batch(a, make(ALL), case_insensitive=fold) == expected["levenshtein"]
            assert q.damerau_batch(a, make(ALL), case_insensitive=fold) == expected["damerau"]
            assert q.jaro_winkler_batch(a, make(ALL), case_insensitive=fold) == expected["jaro_winkler"]


def test_latin1_names_in_byte_lanes():
    """Latin-1 queries and candidates share the byte-indexed lanes: cases of
    accented letters fold there as str.lower() folds them."""
    rng = random.Random(5)
    letters = "aeouAEOU\u00e0\u00e9\u00f6\u00fc\u00c0\u00c9\u00d6\u00dc\u00df\u00ff\u00d7"
    candidates = ["".join(rng.choice(letters) for _ in range(rng.randint(1, 70))) for _ in range(400)]
    for query in ["\u00c9t\u00e9", "M\u00dcLLER-\u00df", "".join(rng.choice(letters) for _ in range(40))]:
        for fold in (False, True):
            for fn, name in ((q.levenshtein_batch, "levenshtein"), (q.damerau_batch, "damerau"),
                             (q.jaro_winkler_batch, "jaro_winkler")):
                assert fn(query, candidates, case_insensitive=fold) == [
                    reference(name, query, c, fold) for c in candidates], (name, query, fold)


CALLS = {
    "levenshtein_bp": lambda a, b: q.levenshtein_bp(a, b),
    "damerau_bp folded": lambda a, b: q.damerau_bp(a, b, case_insensitive=True),
    "jaro_winkler_similarity": lambda a, b: q.jaro_winkler_similarity(a, b),
    "levenshtein_batch": lambda a, b: q.levenshtein_batch(a, [b, b]),
    "damerau_batch tuple": lambda a, b: q.damerau_batch(a, (b,)),
    "jaro_winkler_batch sequence": lambda a, b: q.jaro_winkler_batch(a, Seq([b])),
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_no_str_grows(call):
    """A str keeps its size: nothing is cached on an argument, a query or a
    candidate."""
    for a in ALL:
        for b in ALL:
            x, y = fresh(a + a), fresh(b + b)
            sizes = sys.getsizeof(x), sys.getsizeof(y)
            call(x, y)
            assert (sys.getsizeof(x), sys.getsizeof(y)) == sizes, (a, b)
