"""Real-world inputs shared by the demo and the benchmarks.

Lists that nobody on this project wrote: Debian's word lists (wamerican,
wngerman, wfrench, wukrainian, wbulgarian; one word per line) and the
misspellings list that codespell ships ("misspelling->correction" lines). The
workload generators below derive everything else from the word lists with a
seeded random source, so that every run sees the same inputs. Everything is
read once and returned as plain Python lists so that timing loops see no I/O.
"""

from __future__ import annotations

import importlib.util
import random
from dataclasses import dataclass
from pathlib import Path

WORDS_PATH = Path("/usr/share/dict/words")
DICT_DIR = Path("/usr/share/dict")
# Language -> file under DICT_DIR, from the w* packages.
WORD_LISTS = {
    "English": "american-english",
    "German": "ngerman",
    "French": "french",
    "Ukrainian": "ukrainian",
    "Bulgarian": "bulgarian",
}
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


def load_word_list(language: str) -> list[str]:
    """One of WORD_LISTS, in file order, without duplicates."""
    return list(dict.fromkeys(load_words(DICT_DIR / WORD_LISTS[language])))


def alphabet_of(words: list[str]) -> str:
    """The lower-case letters the words are written in, for edits that stay
    in the language's own script."""
    return "".join(sorted({c.lower() for w in words for c in w if c.isalpha()}))


def edit(text: str, count: int, alphabet: str, rng: random.Random) -> str:
    """`count` random edits, each a substitution, an insertion, a deletion or
    a swap of two adjacent characters at a random position. An edit may undo
    an earlier one or fall inside an earlier swap: the unrestricted Damerau
    distance is at most `count`, the OSA distance may exceed it."""
    chars = list(text)
    for _ in range(count):
        kinds = ("insert",) if not chars else (
            ("substitute", "insert", "delete") + (("swap",) if len(chars) > 1 else ()))
        kind = rng.choice(kinds)
        if kind == "insert":
            chars.insert(rng.randrange(len(chars) + 1), rng.choice(alphabet))
        elif kind == "substitute":
            chars[rng.randrange(len(chars))] = rng.choice(alphabet)
        elif kind == "delete":
            del chars[rng.randrange(len(chars))]
        else:
            i = rng.randrange(len(chars) - 1)
            chars[i], chars[i + 1] = chars[i + 1], chars[i]
    return "".join(chars)


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


def redraw(text: str, rate: float, alphabet: str, rng: random.Random) -> str:
    """Each character replaced, with probability `rate`, by one drawn from
    `alphabet` (which may be the same character): substitutions only."""
    return "".join(rng.choice(alphabet) if rng.random() < rate else c for c in text)


def misspellings(words: list[str], count: int, rng: random.Random,
                 min_len: int = 3) -> list[tuple[str, str]]:
    """(word, the word with 1 or 2 random edits) for `count` random words."""
    pool = [w for w in words if len(w) >= min_len]
    chosen = [rng.choice(pool) for _ in range(count)]
    alphabet = alphabet_of(chosen)
    return [(w, edit(w, rng.choice((1, 2)), alphabet, rng)) for w in chosen]


def prose(words: list[str], length: int, rng: random.Random) -> str:
    """Random words joined by spaces, cut to exactly `length` characters."""
    parts: list[str] = []
    size = -1                 # the joined length: no space before the first word
    while size < length:
        parts.append(rng.choice(words))
        size += len(parts[-1]) + 1
    return " ".join(parts)[:length]


def sentences(words: list[str], count: int, rng: random.Random,
              length: int = 155) -> list[str]:
    """`count` sentences of `length` characters made of dictionary words."""
    return [prose(words, length, rng) for _ in range(count)]


def near_duplicates(sents: list[str], rng: random.Random) -> list[tuple[str, str]]:
    """Each sentence paired with a copy of itself after 1 to 3 random edits."""
    alphabet = alphabet_of(sents)
    return [(s, edit(s, rng.randint(1, 3), alphabet, rng)) for s in sents]


def unrelated(sents: list[str]) -> list[tuple[str, str]]:
    """Each sentence paired with the next one."""
    return [(a, b) for a, b in zip(sents, sents[1:] + sents[:1])]


def long_pair(words: list[str], length: int, rate: float, rng: random.Random,
              substitutions_only: bool = False) -> tuple[str, str]:
    """A text of `length` characters and a copy with about `rate` of its
    characters edited (or redrawn, with `substitutions_only`)."""
    first = prose(words, length, rng)
    alphabet = "".join(sorted(set(first)))
    change = redraw if substitutions_only else mutate
    return first, change(first, rate, alphabet, rng)


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


# ------------------------------------------------------------ made-up text
#
# Scripts the word lists do not cover, made up from fixed pieces with the
# caller's seeded generator.

# Name pieces whose letters outside ASCII all decompose into an ASCII letter
# and combining marks, so that dropping the accents keeps every length.
GIVEN_NAMES = ("José", "Zoë", "Renée", "Jürgen", "Ångström", "Françoise", "Dvořák", "Çelik",
               "Mónica", "Lucía", "Simón", "Ana", "Björn", "Inês", "Jiří",
               "Noémie", "Tomáš", "Günther", "Helène", "Márta", "Ramón", "Chloé", "Eugène",
               "Ignacio", "Žofie", "Ondřej", "Agnès", "Joël", "Müge", "Ülkü")
SURNAMES = ("Müller", "Gonçalves", "Dvořáková", "Sánchez", "Nuñez", "Kovačević", "Lefèvre",
            "Schröder", "Öztürk", "Håkansson", "Peña", "Šťastný", "Brontë", "Fernández",
            "Böhm", "Čapek", "Garçon", "Hernández", "Jäger", "Kühn", "Martínez", "Novák",
            "Pérez", "Rodríguez", "Szabó", "Wäscher", "Yáñez", "Ibáñez",
            "Lopes", "Smith")


def strip_accents(text: str) -> str:
    """The text with its combining marks dropped after decomposition."""
    import unicodedata
    decomposed = unicodedata.normalize("NFD", text)
    return "".join(c for c in decomposed if not unicodedata.combining(c))


def person_names(count: int, rng: random.Random) -> list[str]:
    """Given name, sometimes a second one, and surname, with diacritics."""
    def one() -> str:
        given = rng.sample(GIVEN_NAMES, rng.choice((1, 1, 2)))
        return " ".join(given + [rng.choice(SURNAMES)])
    return [one() for _ in range(count)]


def name_variants(names: list[str], rng: random.Random) -> list[str]:
    """Each name as a user might type it: accents dropped, a typo or two,
    or its case changed, one of them at random."""
    alphabet = alphabet_of(names)

    def variant(name: str) -> str:
        kind = rng.randrange(3)
        if kind == 0:
            return strip_accents(name)
        if kind == 1:
            return edit(name, rng.choice((1, 2)), alphabet, rng)
        return rng.choice((name.upper(), name.lower()))
    return [variant(n) for n in names]


# Common CJK ideographs and two punctuation marks, for words and sentences.
CJK = "".join(chr(c) for c in range(0x4E00, 0x4E00 + 3000, 3)) + "，。"
EMOJI = "".join(chr(c) for c in range(0x1F600, 0x1F650)) + "🎉🔥✨❤"


def cjk_words(count: int, rng: random.Random) -> list[str]:
    """Words of two to four ideographs."""
    return ["".join(rng.choices(CJK[:-2], k=rng.randint(2, 4))) for _ in range(count)]


def cjk_sentences(count: int, rng: random.Random, length: int = 40) -> list[str]:
    """Sentences of `length` ideographs and punctuation."""
    return ["".join(rng.choices(CJK, k=length)) for _ in range(count)]


def emoji_handles(count: int, words: list[str], rng: random.Random) -> list[str]:
    """Handles such as 'sunny_kate🎉', from dictionary words and emoji."""
    def one() -> str:
        core = "_".join(rng.sample(words, 2)).lower()
        return core + "".join(rng.choices(EMOJI, k=rng.randint(1, 3)))
    return [one() for _ in range(count)]


# Alphabets for random unrelated texts.
ALPHABETS = {"DNA": "ACGT", "Latin": "abcdefghijklmnopqrstuvwxyz     ",
             "Cyrillic": "абвгдежзийклмнопрстуфхцчшщъыьэюя     "}


def random_text(alphabet: str, length: int, rng: random.Random) -> str:
    return "".join(rng.choices(alphabet, k=length))
