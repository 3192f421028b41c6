"""The three scalar functions against plain references written here from the
definitions, on texts and options that hypothesis draws, error texts included;
and against the installed peers where their definitions coincide."""

import math
import platform
import sys

import pytest
from hypothesis import given, settings, strategies as st

import quillstone as q
from support import jaro_winkler, levenshtein, osa, outcome

# Letters whose lower case is special: İ grows to two characters, Σ depends
# on its context, K (Kelvin) folds to ASCII; plus ASCII, Latin-1, CJK and
# astral characters.
ALPHABET = "abcAB \u00e9\u00c9\u0130\u03a3\u03c3\u212a\u65e5\U0001F600"
texts = st.text(alphabet=ALPHABET, max_size=14)
limits = st.one_of(st.none(), st.integers(0, 16))
folds = st.sampled_from([None, False, True])
cutoffs = st.one_of(st.none(), st.integers(0, 20), st.just(4294967295))
scales = st.one_of(st.none(), st.floats(-0.1, 0.3), st.sampled_from([0.0, -0.0, 0.25, math.nan]))
float_cutoffs = st.one_of(st.none(), st.floats(-0.5, 1.5), st.just(math.nan))

EXAMPLES = settings(max_examples=300, deadline=None)


def float_text(value):
    """Shortest round-trip digits; scientific below 1e-4 and from 1e16 on."""
    if math.isnan(value):
        return "NaN"
    text = repr(value)
    if "e" in text:
        mantissa, exponent = text.split("e")
        return f"{mantissa}e{int(exponent)}"
    return text


def prepared(s1, s2, max_len, case_insensitive):
    if case_insensitive:
        s1, s2 = s1.lower(), s2.lower()
    for which, text in (("str_1", s1), ("str_2", s2)):
        if max_len is not None and len(text) > max_len:
            raise ValueError(f'InputTooLong {{ which: "{which}", len: {len(text)}, limit: {max_len} }}')
    return s1, s2


def edit_reference(transpositions, s1, s2, max_len=None, case_insensitive=None, score_cutoff=None):
    a, b = prepared(s1, s2, max_len, case_insensitive)
    d = (osa if transpositions else levenshtein)(a, b)
    return d if score_cutoff is None or d <= score_cutoff else score_cutoff + 1


def jaro_winkler_reference(s1, s2, p=None, max_len=None, case_insensitive=None, score_cutoff=None):
    if p is None:
        p = 0.1
    elif not p >= 0 or not p <= 0.25:
        raise ValueError(f"InvalidPrefixScale {{ value: {float_text(p)} }}")
    a, b = prepared(s1, s2, max_len, case_insensitive)
    score = jaro_winkler(a, b, p)
    if a and b and score_cutoff is not None and score_cutoff > score:
        return 0.0  # empty inputs are scored without the cut-off
    return score


@EXAMPLES
@given(texts, texts, limits, folds, cutoffs)
def test_levenshtein_bp(s1, s2, max_len, fold, cutoff):
    options = dict(max_len=max_len, case_insensitive=fold, score_cutoff=cutoff)
    assert outcome(q.levenshtein_bp, s1, s2, **options) == outcome(
        edit_reference, False, s1, s2, **options)


@EXAMPLES
@given(texts, texts, limits, folds, cutoffs)
def test_damerau_bp(s1, s2, max_len, fold, cutoff):
    options = dict(max_len=max_len, case_insensitive=fold, score_cutoff=cutoff)
    assert outcome(q.damerau_bp, s1, s2, **options) == outcome(edit_reference, True, s1, s2, **options)


@EXAMPLES
@given(texts, texts, scales, limits, folds, float_cutoffs)
def test_jaro_winkler_similarity(s1, s2, p, max_len, fold, cutoff):
    options = dict(p=p, max_len=max_len, case_insensitive=fold, score_cutoff=cutoff)
    got = outcome(q.jaro_winkler_similarity, s1, s2, **options)
    want = outcome(jaro_winkler_reference, s1, s2, **options)
    assert got == want
    if got[0] == "returned":  # equal floats, and bit for bit
        assert math.copysign(1.0, got[2]) == math.copysign(1.0, want[2])


@EXAMPLES
@given(st.text(alphabet=ALPHABET, max_size=8), st.lists(texts, max_size=12), folds, scales)
def test_batches_equal_scalar_calls(query, candidates, fold, p):
    """Each batch result is the scalar result, except the documented case of an
    empty query, which scores a candidate by its unfolded character count."""
    for batch, scalar in ((q.levenshtein_batch, q.levenshtein_bp), (q.damerau_batch, q.damerau_bp)):
        expected = [len(c) if not query else scalar(query, c, case_insensitive=fold) for c in candidates]
        assert batch(query, candidates, case_insensitive=fold) == expected
    expected = outcome(q.jaro_winkler_similarity, "", "", p=p)  # a bad p fails the whole batch
    if expected[0] == "returned":
        expected = ("returned", list,
                    [q.jaro_winkler_similarity(query, c, p=p, case_insensitive=fold) for c in candidates])
    assert outcome(q.jaro_winkler_batch, query, candidates, p=p, case_insensitive=fold) == expected


def test_prefix_scale_is_checked_before_max_len():
    assert outcome(q.jaro_winkler_similarity, "a" * 9, "b", p=0.3, max_len=1) == (
        "raised", ValueError, ("InvalidPrefixScale { value: 0.3 }",), ())


peers = st.text(alphabet="abcdé日 ", max_size=30)
# Debian's 32-bit x86 build of the peer computes in x87 arithmetic, whose wider
# intermediates change the last bit of some of its own similarities.
PEER_SIMILARITY_X87 = sys.maxsize < 2 ** 32 and platform.machine() in ("i386", "i486", "i586", "i686", "x86_64")


@EXAMPLES
@given(peers, peers)
def test_agrees_with_rapidfuzz(s1, s2):
    distance = pytest.importorskip("rapidfuzz.distance", exc_type=ImportError)
    assert q.levenshtein_bp(s1, s2) == distance.Levenshtein.distance(s1, s2)
    assert q.damerau_bp(s1, s2) == distance.OSA.distance(s1, s2)
    if not PEER_SIMILARITY_X87:
        assert q.jaro_winkler_similarity(s1, s2) == distance.JaroWinkler.similarity(s1, s2)


# Lengths 0 to 70 cross every lane width of the batch (queries of 8, 16, 32
# and 64 characters) and the 64-character end of its lanes; Cyrillic keeps
# every wider character of a text in one block of 256 code points.
long_texts = st.one_of(st.text(alphabet=ALPHABET, max_size=70),
                       st.text(alphabet="абвгАБВГ ab", max_size=70))


class Items:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


@EXAMPLES
@given(long_texts, st.lists(long_texts, min_size=1, max_size=5), st.integers(1, 40), folds,
       st.sampled_from([None, 0.0, 0.25, 0.13]), st.sampled_from([list, tuple, Items]))
def test_jaro_winkler_batch_bit_for_bit(query, distinct, copies, fold, p, shape):
    """Many copies fill lane groups and leave partial ones; every score has the
    scalar call's bits, whatever kind of sequence holds the candidates."""
    candidates = [c for c in distinct for _ in range(copies)]
    got = q.jaro_winkler_batch(query, shape(candidates), p=p, case_insensitive=fold)
    want = [q.jaro_winkler_similarity(query, c, p=p, case_insensitive=fold) for c in candidates]
    assert [x.hex() for x in got] == [x.hex() for x in want]
