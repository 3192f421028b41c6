#!/usr/bin/env python3
"""Writes the seed corpus of the fuzzers into core/fuzz/corpus/<target>/.

Each seed is one input in the layout fuzz_input.hpp decodes: a flag byte,
max_len, cut-off, the prefix-scale bytes when the choice takes any, the
palette, then the texts separated by 0xFF. Texts are given as Python strings;
characters outside ASCII go through the palette.

    python3 core/fuzz/make_seeds.py

Files named found-* beside the seeds are inputs on which a fuzzer once
failed, kept as they were found.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

FOLD_ABSENT, FOLD_FALSE, FOLD_TRUE = 0, 1, 2
MAX_LEN, CUTOFF = 4, 8
# In a seed's text: double the text so far (byte 0xFE).
TWICE = "\ufffe"


def palette_entry(c):
    """Three bytes that fuzz_input.hpp's palette_entry maps back to c."""
    cp = ord(c)
    if cp < 0x80:
        return bytes([0, 0, cp])
    if cp < 0x100:
        return bytes([1, 0, cp - 0x80])
    if cp < 0x10000:
        assert not 0xD800 <= cp < 0xE000
        v = cp - 0x100 if cp < 0xD800 else cp - 0x900
        return bytes([2, v >> 8, v & 0xFF])
    v = cp - 0x10000
    kind = next(k for k in range(3, 256, 6) if (k >> 3) & 0xF == v >> 16)
    return bytes([kind, (v >> 8) & 0xFF, v & 0xFF])


def seed(texts, fold=FOLD_ABSENT, max_len=None, cutoff=None, p_choice=0, p_bytes=b"", repeat=0):
    """One input. max_len and cutoff are the raw option bytes, repeat the
    index into kRepeats."""
    flags = fold | (MAX_LEN if max_len is not None else 0) | (CUTOFF if cutoff is not None else 0)
    flags |= p_choice << 4
    palette = sorted({c for t in texts for c in t if ord(c) >= 0x80 and c != TWICE})
    assert len(palette) <= 16, "at most 16 non-ASCII characters per seed"
    out = bytearray([flags, max_len or 0, cutoff or 0])
    out += p_bytes
    out.append(len(palette) | repeat << 5)
    for c in palette:
        out += palette_entry(c)
    encoded = []
    for t in texts:
        encoded.append(bytes(0xFE if c == TWICE else ord(c) if ord(c) < 0x80 else 0x80 + palette.index(c)
                             for c in t))
    out += b"\xff".join(encoded)
    return bytes(out)


def edit_distance_seeds():
    return [
        seed(["flaw", "lawn"]),
        seed(["Intention", "execution"], fold=FOLD_TRUE, cutoff=3),
        seed(["kitten", "sitting", "sitten", ""]),
        seed(["café", "cafe", "CAFÉ"], fold=FOLD_TRUE),
        seed(["жизнь", "жизни", "нижз"]),
        seed(["\U0001F600a\U0001F601", "a\U0001F600\U0001F601", "x"]),
        seed(["a" * 65, "a" * 64]),
        seed(["a" * 130, "b"]),
        seed(["abcdefghij" * 20, "abc"]),
        seed(["x" * 63 + "ab", "x" * 63 + "ba"]),
        seed(["İ", "i"], fold=FOLD_TRUE, max_len=1),
        seed(["ΟΔΟΣ", "οδος", "οδοσ", "Σ"], fold=FOLD_TRUE),
        seed(["\u212a", "k", "K"], fold=FOLD_TRUE),
        seed(["", "", "abc"], max_len=0),
        seed(["ab", "ba", "ca", "abc", "acb"], cutoff=1),
        seed(["abcdef", "azcedx"], cutoff=0xFF),
        seed(["日本", "本日", "日本語"]),
        seed(["Hello", "hELLO", "Abc", "BAc"], fold=FOLD_TRUE),
        seed(["strasse", "STRAßE", "ẞ"], fold=FOLD_TRUE),
        seed(["é" * 70 + "ж", "ж" + "é" * 70]),
        seed(["abcdefg", "bacdefg", "abcdegf", "gfedcba", "abcdefh", "xbcdefg"], repeat=6),
        seed(["ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxzy", "ZYXWVUTSRQPONMLKJIHGFEDCBA"],
             fold=FOLD_TRUE, repeat=7),
        seed(["a" * 40 + "b" * 20, "b" * 20 + "a" * 40, "ab" * 30], repeat=4),
        seed(["abc", "abc", "ab", "", "abcd"], repeat=5),
        # Sentences of three words: the whole column, with no cutoff.
        seed(["the quick brown fox jumps over the lazy dog " * 4, "pack my box with five dozen liquor jugs " * 4]),
        # Texts of over 1,056 characters that differ from their first
        # character to their last, edits repeated 8 times, under a cutoff
        # above 32 that stays within a thirty-second of them, in ASCII and in
        # Cyrillic: the furthest-reaching diagonals.
        seed(["the quick brown fox jumps over the lazy dog " * 3 + "!!!" + TWICE * 3,
              "Xhe quick brown fox jumps over the lazy dog " + "the quick brown fox jumps over the lazy dog " * 2
              + "!?!" + TWICE * 3], cutoff=33),
        seed(["жили были дед да баба, была у них курочка ряба " * 3 + TWICE * 3,
              "к" + ("жили были дед да баба, была у них курочка ряба " * 3)[1:-1] + "," + TWICE * 3], cutoff=34),
    ]


def jaro_winkler_seeds():
    return [
        seed(["MARTHA", "MARHTA"]),
        seed(["MARTHA", "marhta"], fold=FOLD_TRUE),
        seed(["DWAYNE", "DUANE"]),
        seed(["bacbab", "acbab"]),
        seed(["stone", "tones"]),
        seed(["fbddb", "fbcef"]),
        seed(["abcdef", "abcdfe"], p_choice=3),
        seed(["abcdef", "abcdfe"], p_choice=4),
        seed(["abc", "abd"], p_choice=6),
        seed(["abc", "abd"], p_choice=14, p_bytes=bytes(8)),
        seed(["abc", "abd"], p_choice=15, p_bytes=b"\x66"),
        seed(["ABC", "abc"], fold=FOLD_FALSE, cutoff=0x50),
        seed(["abcdefghijklmnop", "abcdefghijklmnoq", "abcdefghijklmnopq"]),
        seed(["abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz01", "a" * 65]),
        seed(["héllo", "hello", "HÉLLO"], fold=FOLD_TRUE, cutoff=0x68),
        seed(["", "", "x"], cutoff=0x25),
        seed(["İstanbul", "istanbul"], fold=FOLD_TRUE, max_len=8),
        seed(["\U0001F600abc", "abc\U0001F600", "жabc"]),
        seed(["abcabcabcabcabcabc", "cbacbacbacbacbacba"], cutoff=0x75),
        seed(["Jones", "JOHNSON", "jones", "Jonas", "ENOJS", ""], fold=FOLD_TRUE, repeat=6),
    ]


def main():
    targets = {
        "fuzz_levenshtein": edit_distance_seeds(),
        "fuzz_damerau": edit_distance_seeds(),
        "fuzz_jaro_winkler": jaro_winkler_seeds(),
    }
    for target, seeds in targets.items():
        directory = os.path.join(HERE, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for i, data in enumerate(seeds):
            with open(os.path.join(directory, f"seed-{i:02d}"), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
