"""The benchmark's inputs are what its rows say they are."""

import random
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(1, str(Path(__file__).resolve().parent.parent / "python" / "tests"))

import data  # noqa: E402
from support import levenshtein  # noqa: E402

# An edit may fall inside an earlier swap, which OSA cannot express: the
# unrestricted Damerau distance is the one bounded by the number of edits.
damerau = pytest.importorskip("jellyfish").damerau_levenshtein_distance

WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta"]


@pytest.mark.parametrize("language", data.WORD_LISTS)
def test_word_lists_are_installed_and_distinct(language):
    words = data.load_word_list(language)
    assert len(words) > 50_000 and len(set(words)) == len(words)


@pytest.mark.parametrize("length", [1, 2, 155, 1000, 10000])
def test_prose_has_the_length_asked_for(length):
    text = data.prose(WORDS, length, random.Random(length))
    assert len(text) == length
    assert set(text.split()) <= set(WORDS) | {text.split()[-1]}   # the last word may be cut


def test_edits_stay_within_their_count():
    rng = random.Random(1)
    alphabet = data.alphabet_of(WORDS)
    exact = 0
    for trial in range(300):
        count = trial % 4
        word = rng.choice(WORDS + ["", "x"])
        edited = data.edit(word, count, alphabet, rng)
        d = damerau(word, edited)
        assert d <= count and set(edited) <= set(word) | set(alphabet)
        exact += d == count
    assert exact > 200          # an edit rarely undoes another


def test_misspellings_near_duplicates_and_redrawn_texts():
    rng = random.Random(2)
    pairs = data.misspellings(WORDS, 200, rng)
    assert all(w in WORDS and 0 < damerau(w, m) <= 2 for w, m in pairs if w != m)
    sents = data.sentences(WORDS, 20, rng)
    assert all(len(s) == 155 for s in sents)
    assert all(damerau(a, b) <= 3 for a, b in data.near_duplicates(sents, rng))
    assert all(a != b for a, b in data.unrelated(sents))
    a, b = data.long_pair(WORDS, 1000, 0.1, rng, substitutions_only=True)
    assert len(a) == len(b) == 1000 and 0 < levenshtein(a, b) <= 150


def test_names_lose_only_their_accents():
    rng = random.Random(3)
    names = data.person_names(300, rng)
    assert all(not n.isascii() or n.endswith(("Lopes", "Smith")) for n in names)
    for name in names:
        plain = data.strip_accents(name)
        assert plain.isascii() and len(plain) == len(name)
    variants = data.name_variants(names, rng)
    kinds = {"accents": 0, "case": 0, "typo": 0}
    for name, variant in zip(names, variants):
        if variant == data.strip_accents(name) != name:
            kinds["accents"] += 1
        elif variant in (name.upper(), name.lower()):
            kinds["case"] += 1
        else:
            kinds["typo"] += 1
            assert 0 < damerau(name, variant) <= 2
    assert min(kinds.values()) > 50, kinds


@pytest.mark.parametrize("make, script", [
    (lambda rng: data.cjk_words(200, rng), lambda c: "\u4e00" <= c <= "\u9fff"),
    (lambda rng: data.cjk_sentences(20, rng), lambda c: "\u4e00" <= c <= "\u9fff" or c in "，。"),
    (lambda rng: data.emoji_handles(200, WORDS, rng),
     lambda c: c.isascii() or c in data.EMOJI),
], ids=["CJK words", "CJK sentences", "emoji handles"])
def test_made_up_texts_keep_to_their_script(make, script):
    texts = make(random.Random(4))
    assert len(set(texts)) > len(texts) // 2
    assert all(text and all(map(script, text)) for text in texts)
