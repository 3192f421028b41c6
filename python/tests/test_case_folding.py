"""The core's full lower-casing against CPython's str.lower().

The core's tables come from the Unicode Character Database installed on the
build machine (Unicode 17.0 in the development environment), while CPython
3.14 carries Unicode 16.0. Code points that CPython does not assign
(unicodedata.category(c) == 'Cn') are therefore folded but not compared;
every code point that both versions assign is.

The core is reached through the fold_dump tool of the build directory named
by QUILLSTONE_BUILD, one subprocess call per test.
"""

import os
import random
import subprocess
import sys
import unicodedata

import pytest

import quillstone as q

BUILD = os.environ.get("QUILLSTONE_BUILD")
pytestmark = pytest.mark.skipif(not BUILD, reason="QUILLSTONE_BUILD is not set")


def run_fold_dump(data: bytes) -> subprocess.CompletedProcess:
    tool = os.path.join(BUILD, "core", "fold_dump")
    assert os.path.exists(tool), f"{tool} is missing: build the core's tests"
    return subprocess.run([tool], input=data, capture_output=True, check=False)


def fold(texts):
    """The core's lower case of each text, all in one call."""
    assert not any("\n" in t for t in texts)
    result = run_fold_dump("".join(t + "\n" for t in texts).encode())
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    lines = result.stdout.decode().split("\n")
    assert lines.pop() == ""
    assert len(lines) == len(texts)
    return lines


def describe(texts, got):
    def show(s):
        return " ".join(f"U+{ord(c):04X}" for c in s) or "(empty)"

    return [f"{show(t)}: core {show(g)}, CPython {show(t.lower())}" for t, g in zip(texts, got)]


def assert_same_as_cpython(texts, got):
    bad = [i for i, (t, g) in enumerate(zip(texts, got)) if g != t.lower()]
    shown = describe([texts[i] for i in bad[:10]], [got[i] for i in bad[:10]])
    assert not bad, f"{len(bad)} mismatches, first ones:\n" + "\n".join(shown)


def test_every_code_point_alone():
    texts = [chr(cp) for cp in range(0x110000)
             if not 0xD800 <= cp < 0xE000 and cp not in (0x0A, 0x0D)]
    got = fold(texts)
    both = [i for i, t in enumerate(texts) if unicodedata.category(t) != "Cn"]
    # CPython's own assignment list, not a filter that dropped everything.
    assert len(both) > 250_000, unicodedata.unidata_version
    assert_same_as_cpython([texts[i] for i in both], [got[i] for i in both])


SIGMA = "\u03a3"
FINAL = "\u03c2"
SMALL = "\u03c3"

# (text, its lower case); each is also checked against str.lower().
CASES = [
    ("\u039f\u0394\u039f" + SIGMA, "\u03bf\u03b4\u03bf" + FINAL),  # word end
    (SIGMA, SMALL),  # nothing cased before it
    (SIGMA + "\u0391", SMALL + "\u03b1"),
    ("\u0391" + SIGMA + "\u0391", "\u03b1" + SMALL + "\u03b1"),
    ("\u039f\u0394\u039f" + SIGMA + " \u039f\u0394\u039f" + SIGMA + ".",
     "\u03bf\u03b4\u03bf" + FINAL + " \u03bf\u03b4\u03bf" + FINAL + "."),
    ("\u0391'" + SIGMA, "\u03b1'" + FINAL),  # apostrophe is case-ignorable
    ("\u0391" + SIGMA + "'\u0391", "\u03b1" + SMALL + "'\u03b1"),
    ("'" + SIGMA, "'" + SMALL),
    ("\u0345" + SIGMA, "\u0345" + SMALL),  # U+0345: cased and case-ignorable
    ("\u0391\u0345" + SIGMA, "\u03b1\u0345" + FINAL),
    ("\u0391" + SIGMA + "\u0345", "\u03b1" + FINAL + "\u0345"),
    ("\u0391" + SIGMA + "\u0301\u0391", "\u03b1" + SMALL + "\u0301\u03b1"),
    ("A\u00ad" + SIGMA, "a\u00ad" + FINAL),
    ("1" + SIGMA, "1" + SMALL),
    ("\u0391" + SIGMA + SIGMA, "\u03b1" + SMALL + FINAL),
    ("\u0130", "i\u0307"),  # one character becomes two
    ("\u0130STANBUL", "i\u0307stanbul"),
    ("\u212a", "k"),  # Kelvin sign: three bytes become one
    ("\u2126", "\u03c9"),
    ("\u023a\u023e", "\u2c65\u2c66"),  # two bytes become three
    ("\u1e9e", "\u00df"),
    ("\u1f88\u1fbc", "\u1f80\u1fb3"),
    ("\U00010400\U000104b0", "\U00010428\U000104d8"),
    ("", ""),
]


@pytest.mark.parametrize("text,expected", CASES, ids=range(len(CASES)))
def test_known_cases(text, expected):
    assert fold([text]) == [expected]
    # the same folding reaches Python through the case-insensitive option
    assert q.levenshtein_bp(text, expected, case_insensitive=True) == 0
    assert q.levenshtein_batch(expected, [text], case_insensitive=True) == [0]


def test_length_changes_match_cpython():
    # In characters or in UTF-8 bytes.
    changing = [c for c in map(chr, range(0x110000))
                if not 0xD800 <= ord(c) < 0xE000 and unicodedata.category(c) != "Cn"
                and len(c.lower().encode()) != len(c.encode())]
    assert {"\u0130", "\u212a", "\u023a"} <= set(changing)
    # Inside words, several in a row, next to ASCII.
    texts = [f"x{c}Y" for c in changing] + ["".join(changing)]
    assert_same_as_cpython(texts, fold(texts))


def test_random_texts_match_cpython():
    # Letters, sigma and its contexts, expansions, ASCII and Latin-1.
    alphabet = list("AbZ'.: -9\u00c0\u00e9\u00ad\u00b5\u00df") + [
        SIGMA, SIGMA, SIGMA, "\u0391", "\u03c3", "\u0345", "\u0301", "\u2019", "\u0130",
        "\u212a", "\u1e9e", "\u1f88", "\u02bc", "\u4e2d", "\U00010400", "\U0001f600"]
    rng = random.Random(1234)
    texts = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(12)))
             for _ in range(20000)]
    assert_same_as_cpython(texts, fold(texts))


def test_lines_split_on_newline_only():
    result = run_fold_dump(b"A\r\n\n\xc3\x89\rB")
    assert result.returncode == 0
    assert result.stdout == b"a\r\n\n\xc3\xa9\rb\n"


@pytest.mark.parametrize("data", [b"ok\n\xc3", b"\xed\xa0\x80", b"\xc0\xaf", b"\xf4\x90\x80\x80"])
def test_malformed_input_is_refused(data):
    result = run_fold_dump(data)
    assert result.returncode == 2
    assert b"not well-formed" in result.stderr


UCD = "/usr/share/unicode"
GENERATOR = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "gen_unicode_tables.py")
TABLES = os.path.join(os.path.dirname(__file__), "..", "..", "core", "src", "text", "unicode_tables.inc")


@pytest.mark.skipif(not os.path.exists(os.path.join(UCD, "UnicodeData.txt")),
                    reason="no Unicode Character Database installed")
def test_committed_tables_are_generated(tmp_path):
    out = tmp_path / "unicode_tables.inc"
    subprocess.run([sys.executable, GENERATOR, "--ucd", UCD, "--out", str(out)],
                   check=True, capture_output=True)
    with open(TABLES, "rb") as committed:
        assert out.read_bytes() == committed.read(), "regenerate core/src/text/unicode_tables.inc"
