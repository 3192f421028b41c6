"""Real-world inputs shared by the demo and the peer benchmark.

Two lists that nobody on this project wrote: the system dictionary (Debian's
wamerican, one word per line) and the misspellings list that codespell ships
("misspelling->correction" lines). Everything is read once and returned as
plain Python lists so that timing loops see no I/O.
"""

from __future__ import annotations

import importlib.util
import random
from dataclasses import dataclass
from pathlib import Path

WORDS_PATH = Path("/usr/share/dict/words")
_CODESPELL_FALLBACK = Path("/usr/lib/python3/dist-packages/codespell_lib/data/dictionary.txt")


def codespell_path() -> Path:
    """The main codespell dictionary, located through the installed package."""
    spec = importlib.util.find_spec("codespell_lib")
    if spec is not None and spec.submodule_search_locations:
        for location in spec.submodule_search_locations:
            candidate = Path(location) / "data" / "dictionary.txt"
            if candidate.is_file():
                return candidate
    return _CODESPELL_FALLBACK


@dataclass(frozen=True)
class Misspelling:
    wrong: str
    corrections: tuple[str, ...]


def load_words(path: Path = WORDS_PATH) -> list[str]:
    """Dictionary words in file order, blank lines dropped."""
    with open(path, encoding="utf-8") as f:
        return [line for line in f.read().splitlines() if line]


def parse_codespell_line(line: str) -> Misspelling | None:
    """One "wrong->fix" line; None for lines that are not entries.

    codespell's right-hand side is either a single fix, a single fix followed
    by ", reason" (the entry is disabled for automatic fixing and carries an
    explanation), or several fixes each followed by a comma.
    """
    wrong, sep, right = line.partition("->")
    if not sep or not wrong:
        return None
    right = right.strip()
    if right.endswith(","):
        fixes = [f.strip() for f in right.split(",")]
        fixes = [f for f in fixes if f]
    else:
        fixes = [right.split(",", 1)[0].strip()]
    fixes = [f for f in fixes if f]
    if not fixes:
        return None
    return Misspelling(wrong.strip(), tuple(fixes))


def load_codespell(path: Path | None = None) -> list[Misspelling]:
    with open(path or codespell_path(), encoding="utf-8") as f:
        entries = (parse_codespell_line(line) for line in f.read().splitlines())
        return [e for e in entries if e is not None]


def codespell_pairs(entries: list[Misspelling]) -> list[tuple[str, str]]:
    """(misspelling, first correction) pairs: short, realistic scalar inputs."""
    return [(e.wrong, e.corrections[0]) for e in entries]


def spelling_sample(entries: list[Misspelling], words: list[str], size: int,
                    seed: int) -> tuple[list[Misspelling], int]:
    """A fixed-seed sample of single-word misspellings whose correction is a
    dictionary word (compared in lower case), so that a suggestion search over
    the dictionary can find it. Also returns how many entries qualified."""
    known = {w.lower() for w in words}
    eligible = [
        e for e in entries
        if " " not in e.wrong and e.wrong.lower() not in known
        and any(c.lower() in known for c in e.corrections)
    ]
    rng = random.Random(seed)
    return rng.sample(eligible, min(size, len(eligible))), len(eligible)


def mutate(text: str, rate: float, alphabet: str, rng: random.Random) -> str:
    """Random substitutions, insertions, deletions and adjacent swaps at about
    `rate` per character: a related text for edit-distance inputs."""
    out: list[str] = []
    i = 0
    while i < len(text):
        r = rng.random()
        if r < rate / 4:
            out.append(rng.choice(alphabet))          # substitution
        elif r < rate / 2:
            out.append(rng.choice(alphabet))          # insertion
            out.append(text[i])
        elif r < 3 * rate / 4:
            pass                                      # deletion
        elif r < rate and i + 1 < len(text):
            out.append(text[i + 1])                   # adjacent swap
            out.append(text[i])
            i += 1
        else:
            out.append(text[i])
        i += 1
    return "".join(out)


ASCII_ALPHABET = "abcdefghijklmnopqrstuvwxyz "
# Latin with diacritics, Greek and Cyrillic: two-byte UTF-8 in the Latin-1
# range and above it, so text is neither ASCII nor byte-indexable.
NON_ASCII_ALPHABET = "aeiouéèüößçñ αβγδεζηθλμπσ абвгдежзиклмн"


def long_text_pair(length: int, non_ascii: bool, seed: int) -> tuple[str, str]:
    """Two related texts of `length` characters (the second one mutated at 10%)."""
    rng = random.Random(seed)
    alphabet = NON_ASCII_ALPHABET if non_ascii else ASCII_ALPHABET
    first = "".join(rng.choice(alphabet) for _ in range(length))
    second = mutate(first, 0.10, alphabet, rng)
    return first, second


def mixed_case_pairs(pairs: list[tuple[str, str]], seed: int) -> list[tuple[str, str]]:
    """The same pairs with case changed at random (capitalised, upper case or
    left alone, independently per string), so that case-insensitive comparison
    has work to do."""
    rng = random.Random(seed)

    def recase(s: str) -> str:
        r = rng.random()
        if r < 1 / 3:
            return s.upper()
        if r < 2 / 3:
            return s.capitalize()
        return s

    return [(recase(a), recase(b)) for a, b in pairs]
