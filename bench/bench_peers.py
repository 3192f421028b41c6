"""The workload matrix: quillstone against the string-similarity libraries a
user could pick instead, on the work such a library is used for.

Rows are workloads built from Debian's word lists with a fixed seed
(misspellings by one or two edits in five languages and two scripts,
near-duplicate and unrelated sentences, long texts with 1% and 10% edits,
scalar calls with and without score_cutoff, and batches with queries both
shorter and longer than their candidates); columns are the metrics
Levenshtein, OSA and Jaro-Winkler. Each cell is quillstone's best time over
the fastest peer's best time for the same calls: below 1, quillstone is
faster.

All libraries run in this one process. The runs of a cell are interleaved
(round after round, each library once per round, the order rotated), the best
round counts, and the garbage collector is off while timing. A peer whose
first run takes more than SLOWER times the fastest peer's is not timed
further: it cannot be the fastest. Times are the calling thread's CPU time
(--clock wall for wall-clock time).

Before a cell is timed, every result it is about to time is cross-checked:
quillstone must return exactly what each peer that computes the same
definition returns, and a sample must equal the plain dynamic-programming
reference of the tests (all of the cell's short inputs where no peer computes
the metric). A disagreement is printed loudly and the run exits with status 1,
after the report is written. --check-only does only that, on smaller inputs,
for `make smoke`.
"""

from __future__ import annotations

import argparse
import gc
import importlib.metadata
import json
import math
import os
import platform
import random
import sys
import time
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Callable

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
# The tests' shared kit holds the dynamic-programming references: one of each.
sys.path.insert(1, str(HERE.parent / "python" / "tests"))

import data  # noqa: E402

METRICS = ("Levenshtein", "OSA", "Jaro-Winkler")
EDIT_METRICS = ("Levenshtein", "OSA")
JW_CUTOFF = 0.9          # the Jaro-Winkler cut-off of the rows that have one
SEED = 20261208
SLOWER = 10.0
# Per mode: pairs per word or sentence row, candidates per batch, rounds,
# milliseconds of work per timed run, and the dynamic-programming sample.
SIZES = {
    "full": dict(word_pairs=5000, sentence_pairs=1000, dictionary=None, language_list=150_000,
                 short_candidates=50_000, sentence_list=20_000, rounds=11, target_ms=20,
                 reference_sample=5),
    "quick": dict(word_pairs=1000, sentence_pairs=200, dictionary=20_000, language_list=20_000,
                  short_candidates=10_000, sentence_list=10_000, rounds=5, target_ms=6,
                  reference_sample=5),
}
SIZES["check"] = dict(SIZES["quick"], reference_sample=20)
REFERENCE_CELLS = 40_000     # longest input pair (len × len) the reference is run on
REFERENCE_INPUTS = 5_000     # inputs per cell the reference checks when no peer can
PEER_CODES = {"rapidfuzz": "RF", "cdist": "cdist", "Levenshtein": "PL", "jellyfish": "JF"}


def version_of(dist: str) -> str:
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return "?"


# ------------------------------------------------------------------ workloads

@dataclass
class Work:
    """One row of the matrix: scalar calls over pairs, or one batch call."""
    group: str                                   # "scalar" or "batch"
    name: str
    pairs: list[tuple[str, str]] = field(default_factory=list)
    query: str = ""
    candidates: list[str] = field(default_factory=list)
    cutoff: int | None = None                    # edit distances; Jaro-Winkler uses JW_CUTOFF
    fold: bool = False
    fresh: bool = False                          # scalar: new str objects for every run
    queries: list[str] = field(default_factory=list)  # all-pairs: every query × every candidate
    same_as: str = ""                            # the row this one is compared with, if any

    @property
    def items(self) -> int:
        if self.group == "all-pairs":
            return len(self.queries) * len(self.candidates)
        return len(self.pairs) if self.group == "scalar" else len(self.candidates)

    @property
    def cells_per_item(self) -> float:
        """Dynamic-programming cells per pair, for the all-pairs rows' GCUPS."""
        q = sum(map(len, self.queries)) / max(len(self.queries), 1)
        return q * sum(map(len, self.candidates)) / max(len(self.candidates), 1)

    @property
    def unit(self) -> str:
        return {"scalar": "call", "batch": "candidate", "all-pairs": "pair"}[self.group]

    @property
    def size(self) -> str:
        if self.group == "batch":
            return f"{len(self.candidates):,} candidates"
        if self.group == "all-pairs":
            return f"{len(self.queries):,} × {len(self.candidates):,}"
        if len(self.pairs) == 1:
            return "1 pair"
        return f"{len(self.pairs):,} pairs"

    def inputs(self) -> list[tuple[str, str]]:
        if self.group == "all-pairs":
            return [(q, c) for q in self.queries for c in self.candidates]
        return self.pairs if self.group == "scalar" else [(self.query, c) for c in self.candidates]

    def cutoff_for(self, metric: str):
        if self.cutoff is None:
            return None
        return JW_CUTOFF if metric == "Jaro-Winkler" else self.cutoff


def build_works(size: dict) -> list[Work]:
    rng = random.Random(SEED)
    lists = {lang: data.load_word_list(lang) for lang in data.WORD_LISTS}
    english = lists["English"]
    works: list[Work] = []

    for lang, words in lists.items():
        pairs = data.misspellings(words, size["word_pairs"], rng)
        works.append(Work("scalar", f"{lang} words, 1–2 edits", pairs))
        if lang in ("English", "Ukrainian"):
            works.append(Work("scalar", f"{lang} words, 1–2 edits, cutoff 2", pairs, cutoff=2))
        if lang == "English":
            works.append(Work("scalar", "English words, 1–2 edits, mixed case, folded",
                              data.mixed_case_pairs(pairs, seed=SEED), fold=True))
    codespell = data.codespell_pairs(data.load_codespell())
    works.append(Work("scalar", "codespell misspellings",
                      rng.sample(codespell, min(size["word_pairs"], len(codespell)))))

    sents = data.sentences(english, size["sentence_pairs"], rng)
    near, far = data.near_duplicates(sents, rng), data.unrelated(sents)
    works += [Work("scalar", "near-duplicate sentences, 1–3 edits", near),
              Work("scalar", "near-duplicate sentences, 1–3 edits, cutoff 2", near, cutoff=2),
              Work("scalar", "unrelated sentences", far),
              Work("scalar", "unrelated sentences, cutoff 2", far, cutoff=2)]

    texts: dict[tuple, tuple[str, str]] = {}
    for lang, length, rate, cutoff in (("English", 1000, 0.01, None), ("English", 1000, 0.01, 20),
                                       ("English", 1000, 0.10, None),
                                       ("English", 10000, 0.01, None),
                                       ("English", 10000, 0.01, 200),
                                       ("English", 10000, 0.10, None),
                                       ("English", 10000, 0.10, 200),
                                       ("Ukrainian", 1000, 0.01, None),
                                       ("Ukrainian", 10000, 0.10, None)):
        key = (lang, length, rate)
        if key not in texts:
            texts[key] = data.long_pair(lists[lang], length, rate, rng)
        name = f"{lang + ' ' if lang != 'English' else ''}{length:,}-character texts, " \
               f"{rate:.0%} edits" + (f", cutoff {cutoff}" if cutoff is not None else "")
        works.append(Work("scalar", name, [texts[key]], cutoff=cutoff))
    works.append(Work("scalar", "10,000-character texts, 1% of characters redrawn",
                      [data.long_pair(english, 10000, 0.01, rng, substitutions_only=True)]))

    def misspelled(words: list[str]) -> str:
        return data.misspellings([w for w in words if 6 <= len(w) <= 10], 1, rng)[0][1]

    dictionary = english if size["dictionary"] is None else rng.sample(english, size["dictionary"])
    query = misspelled(english)
    works.append(Work("batch", "a word against the English dictionary", query=query,
                      candidates=dictionary))
    works.append(Work("batch", "a mixed-case word against the English dictionary, folded",
                      query=query.capitalize(), candidates=dictionary, fold=True))
    for lang in ("German", "Ukrainian"):
        words = rng.sample(lists[lang], min(size["language_list"], len(lists[lang])))
        works.append(Work("batch", f"a {lang} word against {lang} words",
                          query=misspelled(words), candidates=words))
    works.append(Work("batch", "a 150-character query against English words",
                      query=data.prose(english, 150, rng),
                      candidates=rng.sample(english, size["short_candidates"])))
    sent_list = data.sentences(english, size["sentence_list"], rng)
    works.append(Work("batch", "a word against sentences", query=rng.choice(english),
                      candidates=sent_list))
    works.append(Work("batch", "a sentence against sentences",
                      query=data.edit(sent_list[0], 2, data.alphabet_of(sent_list[:100]), rng),
                      candidates=sent_list))
    works += other_scripts(size, english, rng)
    works += long_unrelated(size, rng)
    works += all_pairs(size, rng)
    return works


def other_scripts(size: dict, english: list[str], rng: random.Random) -> list[Work]:
    """Names with diacritics beside the same names without them, CJK, emoji
    handles, pairs of one ASCII and one accented side, and strs that the
    module has never seen."""
    works = []
    names = data.person_names(size["word_pairs"], rng)
    variants = data.name_variants(names, rng)
    accented = list(zip(names, variants))
    plain = [(data.strip_accents(a), data.strip_accents(b)) for a, b in accented]
    works += [Work("scalar", "names with diacritics against variants", accented),
              Work("scalar", "the same names without diacritics", plain,
                   same_as="names with diacritics against variants"),
              Work("scalar", "names with diacritics against variants, folded", accented,
                   fold=True),
              Work("scalar", "the same names without diacritics, folded", plain, fold=True,
                   same_as="names with diacritics against variants, folded"),
              Work("scalar", "names with diacritics against variants, fresh strs", accented,
                   fresh=True, same_as="names with diacritics against variants"),
              Work("scalar", "names with diacritics against their ASCII form",
                   [(n, data.strip_accents(n)) for n in names])]
    cjk = data.cjk_sentences(size["sentence_pairs"], rng)
    works.append(Work("scalar", "CJK near-duplicate sentences, 1–3 edits",
                      [(s, data.edit(s, rng.randint(1, 3), data.CJK, rng)) for s in cjk]))
    handles = data.emoji_handles(size["word_pairs"], english, rng)
    works.append(Work("scalar", "handles with emoji, 1–2 edits",
                      [(h, data.edit(h, rng.choice((1, 2)), data.alphabet_of(handles), rng))
                       for h in handles]))

    name_list = data.person_names(size["short_candidates"] * 3 // 5, rng)
    query = data.name_variants([rng.choice(name_list)], rng)[0]
    works += [Work("batch", "a name against names with diacritics", query=query,
                   candidates=name_list),
              Work("batch", "the same name against the same names without diacritics",
                   query=data.strip_accents(query),
                   candidates=[data.strip_accents(n) for n in name_list],
                   same_as="a name against names with diacritics"),
              Work("batch", "a name against names with diacritics, folded", query=query.upper(),
                   candidates=name_list, fold=True),
              Work("batch", "the same name against the same names without diacritics, folded",
                   query=data.strip_accents(query).upper(),
                   candidates=[data.strip_accents(n) for n in name_list], fold=True,
                   same_as="a name against names with diacritics, folded")]
    words = data.cjk_words(size["language_list"] * 4, rng)
    works.append(Work("batch", "a CJK word against CJK words",
                      query=data.edit(rng.choice(words), 1, data.CJK[:-2], rng), candidates=words))
    handle_list = data.emoji_handles(size["short_candidates"] // 6, english, rng)
    works.append(Work("batch", "a handle with emoji against handles",
                      query=data.edit(rng.choice(handle_list), 1, "abcdefg", rng),
                      candidates=handle_list))
    cjk_list = data.cjk_sentences(size["sentence_list"] // 6, rng)
    works.append(Work("batch", "a CJK sentence against CJK sentences",
                      query=data.edit(cjk_list[0], 2, data.CJK, rng), candidates=cjk_list))
    return works


def long_unrelated(size: dict, rng: random.Random) -> list[Work]:
    """Random texts of one alphabet that share nothing but it: distances of
    about half their length, with and without a cutoff of a tenth of it."""
    works = []
    for alphabet, letters in data.ALPHABETS.items():
        for length in (1000, 5000):
            pairs = [(data.random_text(letters, length, rng), data.random_text(letters, length, rng))
                     for _ in range(3)]
            for cutoff in (None, length // 10):
                works.append(Work("scalar", f"unrelated {alphabet} texts, {length:,} characters"
                                  + (f", cutoff {cutoff}" if cutoff else ""), pairs, cutoff=cutoff))
    return works


def all_pairs(size: dict, rng: random.Random) -> list[Work]:
    """Random lower-case strings, every query against every candidate."""
    works = []
    for length, candidates in ((16, 20_000), (64, 20_000), (100, 20_000), (1000, 1_000)):
        candidates = max(100, candidates * size["short_candidates"] // 50_000)
        letters = "abcdefghijklmnopqrstuvwxyz"
        works.append(Work("all-pairs", f"all pairs, {length:,}-character random strings",
                          queries=[data.random_text(letters, length, rng) for _ in range(8)],
                          candidates=[data.random_text(letters, length, rng)
                                      for _ in range(candidates)]))
    return works


# ------------------------------------------------------------------ libraries

@dataclass(frozen=True)
class Scorer:
    """One library's scalar function for one metric."""
    lib: str                       # "quillstone", "rapidfuzz", "Levenshtein", "jellyfish"
    label: str
    fn: Callable
    kwargs: dict = field(default_factory=dict)
    cutoff: bool = True            # takes score_cutoff
    fold: str = "processor"        # how it compares case-insensitively: keyword or "lower"
    longest: int | None = None     # quadratic in memory or time: not given longer texts


@dataclass
class Impl:
    """One library's way to do a cell's work: `run` is timed, `results` gives
    the same results as a list for the cross-check."""
    lib: str
    label: str
    run: Callable[[], object]
    results: Callable[[], list]
    prepare: Callable[[], None] | None = None   # before every run, not timed


def load_libraries():
    try:
        import quillstone as qs
    except ImportError as exc:
        sys.exit(f"bench_peers.py: cannot import quillstone ({exc}); build it first "
                 "(make build) and put its directory on PYTHONPATH")
    mods = {}
    for name in ("rapidfuzz", "Levenshtein", "jellyfish"):
        try:
            mods[name] = __import__(name)
        except ImportError as exc:
            print(f"note: {name} is not available ({exc}); skipped", flush=True)
    if "rapidfuzz" in mods:
        import rapidfuzz.distance  # noqa: F401  (submodules used below)
        import rapidfuzz.process  # noqa: F401
    return qs, mods


def scorers(qs, mods) -> dict[str, list[Scorer]]:
    """Per metric, the scalar functions that compute exactly its definition.
    jellyfish's damerau_levenshtein_distance is the unrestricted Damerau
    distance, not OSA, and python-Levenshtein has no OSA: neither is listed."""
    t = {
        "Levenshtein": [Scorer("quillstone", "quillstone.levenshtein_bp", qs.levenshtein_bp,
                               fold="case_insensitive")],
        "OSA": [Scorer("quillstone", "quillstone.damerau_bp", qs.damerau_bp,
                       fold="case_insensitive")],
        "Jaro-Winkler": [Scorer("quillstone", "quillstone.jaro_winkler_similarity",
                                qs.jaro_winkler_similarity, fold="case_insensitive")],
    }
    jw = {"prefix_weight": 0.1}
    if "rapidfuzz" in mods:
        d = mods["rapidfuzz"].distance
        t["Levenshtein"].append(Scorer("rapidfuzz", "rapidfuzz Levenshtein.distance",
                                       d.Levenshtein.distance))
        t["OSA"].append(Scorer("rapidfuzz", "rapidfuzz OSA.distance", d.OSA.distance))
        t["Jaro-Winkler"].append(Scorer("rapidfuzz", "rapidfuzz JaroWinkler.similarity",
                                        d.JaroWinkler.similarity, jw))
    if "Levenshtein" in mods:
        lev = mods["Levenshtein"]
        t["Levenshtein"].append(Scorer("Levenshtein", "Levenshtein.distance", lev.distance))
        t["Jaro-Winkler"].append(Scorer("Levenshtein", "Levenshtein.jaro_winkler",
                                        lev.jaro_winkler, jw))
    if "jellyfish" in mods:
        jf = mods["jellyfish"]
        t["Levenshtein"].append(Scorer("jellyfish", "jellyfish.levenshtein_distance",
                                       jf.levenshtein_distance, cutoff=False, fold="lower",
                                       longest=2000))
        t["Jaro-Winkler"].append(Scorer("jellyfish", "jellyfish.jaro_winkler_similarity",
                                        jf.jaro_winkler_similarity, cutoff=False, fold="lower",
                                        longest=2000))
    return t


def compiled_loop(fn: Callable, kwargs: dict, lower: bool, pairs: list):
    """The timed loop and its result-collecting twin, with the keywords
    written out: `fn(a, b, **kw)` costs more per call than some of the calls
    being timed, so every library gets the same plain call instead."""
    args = "a.lower(), b.lower()" if lower else "a, b"
    call = f"fn({args}{''.join(f', {k}={k}' for k in kwargs)})"
    src = (f"def make(fn, pairs{''.join(', ' + k for k in kwargs)}):\n"
           f"    def run():\n"
           f"        for a, b in pairs:\n"
           f"            {call}\n"
           f"    def results():\n"
           f"        return [{call} for a, b in pairs]\n"
           f"    return run, results\n")
    namespace: dict = {}
    exec(compile(src, "<timed loop>", "exec"), namespace)
    return namespace["make"](fn, pairs, **kwargs)


def fresh_copy(text: str) -> str:
    """A new str object equal to `text`, which no library has seen yet."""
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "surrogatepass")


def scalar_impls(work: Work, metric: str, table: dict[str, list[Scorer]]) -> list[Impl]:
    longest = max(max(len(a), len(b)) for a, b in work.pairs)
    cutoff = work.cutoff_for(metric)
    impls = []
    pairs = list(work.pairs)   # refilled with new strs before every run of a fresh row

    def refill() -> None:
        pairs[:] = [(fresh_copy(a), fresh_copy(b)) for a, b in work.pairs]
    for s in table[metric]:
        if (cutoff is not None and not s.cutoff) or (s.longest and longest > s.longest):
            continue
        kwargs = dict(s.kwargs)
        if cutoff is not None:
            kwargs["score_cutoff"] = cutoff
        lower = work.fold and s.fold == "lower"
        how = ""
        if work.fold and s.fold == "case_insensitive":
            kwargs["case_insensitive"] = True
        elif work.fold and s.fold == "processor":
            kwargs["processor"] = str.lower
            how = " (processor=str.lower)"
        elif lower:
            how = " (str.lower() in the loop)"
        run, results = compiled_loop(s.fn, kwargs, lower, pairs)
        impls.append(Impl(s.lib, s.label + how, run, results, refill if work.fresh else None))
    return impls


def all_pairs_impls(work: Work, metric: str, qs, mods) -> list[Impl]:
    """A batch call per query against one cdist call over all the queries."""
    queries, cands = work.queries, work.candidates
    fn = {"Levenshtein": qs.levenshtein_batch, "OSA": qs.damerau_batch,
          "Jaro-Winkler": qs.jaro_winkler_batch}[metric]
    impls = [Impl("quillstone", f"quillstone.{fn.__name__} per query",
                  lambda: [fn(q, cands) for q in queries],
                  lambda: [x for q in queries for x in fn(q, cands)])]
    rf = mods.get("rapidfuzz")
    if rf is not None:
        import numpy as np
        d = rf.distance
        scorer, kwargs = {"Levenshtein": (d.Levenshtein.distance, {}),
                          "OSA": (d.OSA.distance, {}),
                          "Jaro-Winkler": (d.JaroWinkler.similarity, {"prefix_weight": 0.1})}[metric]
        ckw = dict(scorer_kwargs=kwargs, workers=1,
                   dtype=np.float64 if metric == "Jaro-Winkler" else np.int32)
        impls.append(Impl("cdist", "rapidfuzz process.cdist(queries, candidates, workers=1)",
                          lambda: rf.process.cdist(queries, cands, scorer=scorer, **ckw),
                          lambda: rf.process.cdist(queries, cands, scorer=scorer,
                                                   **ckw).ravel().tolist()))
    return impls


def batch_impls(work: Work, metric: str, qs, mods, table: dict[str, list[Scorer]]) -> list[Impl]:
    q, cands = work.query, work.candidates
    fn = {"Levenshtein": qs.levenshtein_batch, "OSA": qs.damerau_batch,
          "Jaro-Winkler": qs.jaro_winkler_batch}[metric]
    kw = {"case_insensitive": True} if work.fold else {}
    impls = [Impl("quillstone", f"quillstone.{fn.__name__}", lambda: fn(q, cands, **kw),
                  lambda: fn(q, cands, **kw))]
    peers = [s for s in table[metric] if s.lib != "quillstone"]
    rf = mods.get("rapidfuzz")
    if rf is not None:
        import numpy as np
        scorer = next(s for s in peers if s.lib == "rapidfuzz")
        ckw = dict(scorer_kwargs=scorer.kwargs, workers=1,
                   dtype=np.float64 if metric == "Jaro-Winkler" else np.int32,
                   processor=str.lower if work.fold else None)
        impls.append(Impl("cdist", "rapidfuzz process.cdist(workers=1)",
                          lambda: rf.process.cdist([q], cands, scorer=scorer.fn, **ckw),
                          lambda: rf.process.cdist([q], cands, scorer=scorer.fn,
                                                   **ckw)[0].tolist()))
        return impls
    # Without cdist, a plain loop of each scalar peer over the candidates.
    pairs = work.inputs()
    for impl in scalar_impls(Work("scalar", work.name, pairs, fold=work.fold), metric,
                             {metric: peers}):
        impls.append(Impl(impl.lib, f"loop of {impl.label}", impl.run, impl.results))
    return impls


# ------------------------------------------------------------------ cross-check

class Checker:
    def __init__(self, table: dict[str, list[Scorer]], reference_sample: int) -> None:
        import support
        self.ref = {"Levenshtein": support.levenshtein, "OSA": support.osa,
                    "Jaro-Winkler": support.jaro_winkler}
        self.has_peer = {m: len(table[m]) > 1 for m in METRICS}
        self.sample = reference_sample
        self.compared = 0
        self.referenced = 0
        self.failures = 0

    def compare(self, what: str, inputs, ours: list, theirs: list, other: str) -> None:
        if len(ours) != len(theirs):
            self.failures += 1
            print(f"!! MISMATCH {what}: quillstone gave {len(ours)} results, {other} "
                  f"{len(theirs)}", flush=True)
            return
        bad = [k for k, (x, y) in enumerate(zip(ours, theirs)) if x != y]
        self.failures += len(bad)
        if bad:
            print(f"!! MISMATCH {what}: quillstone and {other} disagree on {len(bad)} of "
                  f"{len(ours)} inputs", flush=True)
        for k in bad[:5]:
            a, b = inputs[k]
            print(f"!!   ({a[:40]!r}, {b[:40]!r}) (lengths {len(a)}, {len(b)}): quillstone "
                  f"{ours[k]!r}, {other} {theirs[k]!r}", flush=True)

    def reference(self, metric: str, a: str, b: str, cutoff, fold: bool):
        if fold:
            a, b = a.lower(), b.lower()
        value = self.ref[metric](a, b)
        if cutoff is None:
            return value
        if metric == "Jaro-Winkler":
            return 0.0 if a and b and value < cutoff else value
        return min(value, cutoff + 1)

    def check(self, work: Work, metric: str, impls: list[Impl]) -> None:
        what = f"{metric}, {work.name}"
        inputs = work.inputs()
        ours = impls[0].results()
        cutoff = work.cutoff_for(metric)
        for impl in impls[1:]:
            theirs = impl.results()
            if metric == "Jaro-Winkler" and cutoff is not None:
                # RapidFuzz keeps scores a rounding error below the cut-off
                # (0.8999999999999999 for 0.9); the cut-off is "strictly
                # below gives 0.0", so it is applied again, exactly.
                theirs = [t if t >= cutoff else 0.0 for t in theirs]
            self.compared += len(theirs)
            self.compare(what, inputs, ours, theirs, impl.label)
        # Where no peer computes the metric, the first REFERENCE_INPUTS short
        # inputs; else a sample.
        short = [k for k, (a, b) in enumerate(inputs) if len(a) * len(b) <= REFERENCE_CELLS]
        short = short[:self.sample if self.has_peer[metric] else REFERENCE_INPUTS]
        expected = [self.reference(metric, *inputs[k], cutoff, work.fold) for k in short]
        self.referenced += len(short)
        self.compare(what, [inputs[k] for k in short], [ours[k] for k in short], expected,
                     "the dynamic-programming reference")


# ------------------------------------------------------------------ timing

@dataclass
class Cell:
    group: str
    work: str
    size: str
    metric: str
    unit: str
    best_ns: dict[str, float]          # per label: best time per call or candidate
    libs: dict[str, str]
    untimed: list[str]                 # too slow to be the fastest peer
    ratio: float | None = None         # quillstone / fastest peer
    fastest: str | None = None
    cells_per_item: float = 0.0        # all-pairs rows: dynamic-programming cells per pair

    @property
    def quillstone_ns(self) -> float:
        return next(t for label, t in self.best_ns.items() if self.libs[label] == "quillstone")


# The calling thread's CPU time: on a machine shared with other work, the
# time spent waiting for a core is not counted. Every library here computes
# in the calling thread (cdist with workers=1), so nothing is missed.
CLOCKS = {"cpu": time.thread_time_ns, "wall": time.perf_counter_ns}
clock = CLOCKS["cpu"]


def one_run(run: Callable[[], object], reps: int,
            prepare: Callable[[], None] | None = None) -> int:
    if prepare is None:
        start = clock()
        for _ in range(reps):
            run()
        return clock() - start
    total = 0
    for _ in range(reps):
        prepare()
        start = clock()
        run()
        total += clock() - start
    return total


def warm_up(works: list[Work], table: dict[str, list[Scorer]], seconds: float = 0.2) -> None:
    """A library's first scalar calls in a process measured up to twice as
    slow here as its later ones: every scalar function runs a while before
    anything is timed."""
    work = next((w for w in works if w.group == "scalar" and w.cutoff is None and not w.fold),
                None)
    for metric in METRICS if work is not None else ():
        for impl in scalar_impls(work, metric, table):
            end = time.perf_counter() + seconds
            while time.perf_counter() < end:
                impl.run()


def time_cells(entries: list[tuple[Work, list[Impl]]], metric: str, size: dict) -> list[Cell]:
    """The cells of one metric for rows compared with each other (a row and
    those whose same_as names it), timed together: each round runs every
    library of every cell, in an order that rotates, so that a ratio of two
    rows compares runs taken side by side, not minutes apart. Machines that
    slow down for seconds at a time would otherwise move one row and not
    the other."""
    gc.collect()
    gc.disable()
    try:
        plans = []
        for work, impls in entries:
            for i in impls:
                one_run(i.run, 1, i.prepare)
            first = {i.label: one_run(i.run, 1, i.prepare) for i in impls}
            fastest_peer = min((first[i.label] for i in impls if i.lib != "quillstone"), default=0)
            timed = [i for i in impls
                     if i.lib == "quillstone" or first[i.label] <= SLOWER * fastest_peer]
            reps = max(1, math.ceil(size["target_ms"] * 1e6 / max(min(first.values()), 1)))
            plans.append((work, impls, timed, reps, {i.label: math.inf for i in timed}))
        runs = [(plan, i) for plan in plans for i in plan[2]]
        for r in range(size["rounds"]):
            for (_, _, _, reps, best), i in runs[r % len(runs):] + runs[:r % len(runs)]:
                best[i.label] = min(best[i.label], one_run(i.run, reps, i.prepare))
    finally:
        gc.enable()
    cells = []
    for work, impls, timed, reps, best in plans:
        per_item = reps * work.items
        cell = Cell(work.group, work.name, work.size, metric, work.unit,
                    {label: t / per_item for label, t in best.items()},
                    {i.label: i.lib for i in impls},
                    [i.label for i in impls if i not in timed],
                    cells_per_item=work.cells_per_item if work.group == "all-pairs" else 0.0)
        peers = {label: t for label, t in cell.best_ns.items() if cell.libs[label] != "quillstone"}
        if peers:
            cell.fastest = min(peers, key=peers.get)
            cell.ratio = cell.quillstone_ns / peers[cell.fastest]
        cells.append(cell)
    return cells


def compared_groups(works: list[Work]) -> list[list[Work]]:
    """The rows in order, each with the later rows compared with it."""
    names = {w.name for w in works}
    return [[w] + [v for v in works if v.same_as == w.name]
            for w in works if w.same_as not in names]


# ------------------------------------------------------------------ reports

def machine() -> dict:
    model, flags = "?", set()
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            lines = f.read().splitlines()
        model = next((line.split(":", 1)[1].strip() for line in lines
                      if line.startswith("model name")), "?")
        flags = set(next((line.split(":", 1)[1].split() for line in lines
                          if line.startswith("flags")), []))
    except OSError:
        pass
    vector = [f for f in ("sse4_2", "avx2", "avx512f", "avx512bw", "avx512vl", "avx512vbmi")
              if f in flags]
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    return {
        "cpu": model,
        "vector": " ".join(vector) or "none of SSE4.2, AVX2, AVX-512",
        "cores": os.cpu_count(),
        "usable_cores": len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity")
        else os.cpu_count(),
        "system": f"{platform.system()} {platform.release()} {platform.machine()}",
        "python": f"CPython {platform.python_version()}" + (" (GIL enabled)" if gil
                                                           else " (free-threaded, no GIL)"),
        "load_before": os.getloadavg(),
    }


def fmt_ns(ns: float) -> str:
    if ns >= 1e6:
        return f"{ns / 1e6:,.2f} ms"
    if ns >= 1e4:
        return f"{ns / 1e3:,.1f} µs"
    return f"{ns:,.1f} ns"


def geomean(values: list[float]) -> float | None:
    return math.exp(sum(map(math.log, values)) / len(values)) if values else None


def summaries(cells: list[Cell]) -> list[tuple[str, int, float | None]]:
    def pick(pred):
        values = [c.ratio for c in cells if c.ratio is not None and pred(c)]
        return len(values), geomean(values)
    rows = [(m, *pick(lambda c, m=m: c.metric == m)) for m in METRICS]
    rows.append(("edit distances (Levenshtein and OSA, scalar and batch)",
                 *pick(lambda c: c.metric in EDIT_METRICS)))
    rows.append(("Jaro-Winkler batch", *pick(lambda c: c.metric == "Jaro-Winkler"
                                             and c.group == "batch")))
    return rows


def against_itself(cells: list[Cell], same_as: dict[str, str]) -> list[str]:
    """Each library's time on a row over its time on the row it is compared
    with: names with diacritics over the same names without, fresh strs over
    strs seen before."""
    by_key = {(c.work, c.metric): c for c in cells}
    rows = []
    for work, other in same_as.items():
        # fresh strs over strs seen before; diacritics over none
        top, bottom = (work, other) if "fresh" in work else (other, work)
        for metric in METRICS:
            a, b = by_key.get((top, metric)), by_key.get((bottom, metric))
            if a is None or b is None:
                continue
            ratios = {lib: a.best_ns[label] / b.best_ns[label]
                      for label, lib in a.libs.items() if label in a.best_ns and label in b.best_ns}
            rows.append(f"| {top} / {bottom} | {metric} | "
                        + ", ".join(f"{PEER_CODES.get(lib, lib)} {r:.2f}" for lib, r in ratios.items())
                        + " |")
    if not rows:
        return []
    return ["## Against itself", "",
            "Each library's time on the first row over its time on the second (1.00: the "
            "same cost).", "",
            "| rows | metric | ratios |", "|---|---|---|", *rows, ""]


def load_baseline(path: Path) -> list[Cell]:
    """The cells of an earlier run's matrix.json, to show beside this run's."""
    with open(path, encoding="utf-8") as f:
        return [Cell(**c) for c in json.load(f)["cells"]]


def markdown(cells: list[Cell], meta: dict, baseline: list[Cell]) -> str:
    m = meta["machine"]
    shown = {(c.work, c.metric) for c in cells}
    baseline = [c for c in baseline if (c.work, c.metric) in shown]
    before = {(c.work, c.metric): c.ratio for c in baseline}
    out = ["# quillstone workload matrix", "",
           f"Machine: {m['cpu']} ({m.get('vector', '?')}), {m['cores']} cores "
           f"({m['usable_cores']} usable), {m['system']}; "
           f"{m['python']}; load average {m['load_before'][0]:.2f} before the run, "
           f"{m['load_after'][0]:.2f} after it.",
           "Peers: " + ", ".join(f"{k} {v}" for k, v in meta["peers"].items()) + ".",
           f"Mode {meta['mode']}: best of {meta['rounds']} interleaved rounds, "
           f"{'CPU time of the calling thread' if meta['clock'] == 'cpu' else 'wall-clock time'}"
           ", garbage collector off, all libraries in one process.", "",
           "Each cell: quillstone's best time over the fastest peer's (below 1: quillstone "
           "is faster), quillstone's best time per call (scalar rows, Python loop included) "
           "or per candidate (batch rows), and the fastest peer: "
           "RF = the rapidfuzz.distance scorer, cdist = rapidfuzz.process.cdist(workers=1), "
           "PL = python-Levenshtein, JF = jellyfish. "
           f"Jaro-Winkler cells of rows with a cutoff use score_cutoff={JW_CUTOFF}. "
           "OSA has one peer (RapidFuzz): jellyfish's Damerau distance is the unrestricted "
           "one, a different metric.", "",
           "| work | size | " + " | ".join(METRICS) + " |",
           "|---|---|" + "---|" * len(METRICS)]
    by_row: dict[tuple[str, str], dict[str, Cell]] = {}
    for c in cells:
        by_row.setdefault((c.work, c.size), {})[c.metric] = c
    for (work, size), row in by_row.items():
        parts = []
        for metric in METRICS:
            c = row.get(metric)
            if c is None:
                parts.append("")
            elif c.ratio is None:
                parts.append(f"{fmt_ns(c.quillstone_ns)} (no peer)")
            else:
                mark = "**" if c.ratio > 1 else ""
                was = before.get((c.work, c.metric))
                gcups = (f" · {c.cells_per_item / c.quillstone_ns:.1f} against "
                         f"{c.cells_per_item / c.best_ns[c.fastest]:.1f} GCUPS"
                         if c.cells_per_item else "")
                parts.append(f"{mark}{c.ratio:.2f}{mark} · {fmt_ns(c.quillstone_ns)} · "
                             f"{PEER_CODES[c.libs[c.fastest]]}{gcups}"
                             + (f" (was {was:.2f})" if was is not None else ""))
        out.append(f"| {work} | {size} | " + " | ".join(parts) + " |")
    out += ["", "Bold: quillstone is slower than the fastest peer. All-pairs rows: "
            "quillstone's and the peer's dynamic-programming cells per second (GCUPS).", ""]
    out += against_itself(cells, meta.get("same_as", {}))
    out += [
            "## Geometric means of the ratios", "",
            "| cells | count | geometric mean |" + (" before |" if baseline else ""),
            "|---|---:|---:|" + ("---:|" if baseline else "")]
    earlier = {name: g for name, _, g in summaries(baseline)}
    for name, count, g in summaries(cells):
        was = earlier.get(name) if baseline else None
        out.append(f"| {name} | {count} | {'' if g is None else f'{g:.2f}'} |"
                   + (f" {'' if was is None else f'{was:.2f}'} |" if baseline else ""))
    chk = meta["cross_check"]
    out += ["", f"Cross-check: {chk['compared']:,} results compared with the peers and "
            f"{chk['referenced']:,} with the dynamic-programming reference, "
            f"{chk['disagreements']} disagreements."]
    untimed = sorted({label for c in cells for label in c.untimed})
    if untimed:
        out.append(f"Checked but not timed where their first run took over {SLOWER:g}× the "
                   "fastest peer's: " + ", ".join(untimed) + ".")
    return "\n".join(out) + "\n"


# ------------------------------------------------------------------ main

def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=Path("bench-results"),
                        help="directory for matrix.md and matrix.json")
    parser.add_argument("--quick", action="store_true", help="fewer rounds, smaller inputs")
    parser.add_argument("--check-only", action="store_true",
                        help="cross-check every cell on small inputs, no timing")
    parser.add_argument("--only", default="",
                        help="only the rows whose name contains this text")
    parser.add_argument("--baseline", type=Path,
                        help="an earlier run's matrix.json, whose ratios are shown as 'was'")
    parser.add_argument("--clock", choices=CLOCKS, default="cpu",
                        help="the thread's CPU time (default) or wall-clock time")
    args = parser.parse_args()
    global clock
    clock = CLOCKS[args.clock]

    started = time.perf_counter()
    mode = "check" if args.check_only else "quick" if args.quick else "full"
    size = SIZES[mode]
    meta = {"machine": machine(), "mode": mode, "rounds": size["rounds"], "clock": args.clock}
    qs, mods = load_libraries()
    meta["peers"] = {name: version_of(name.lower())
                     for name in mods}
    table = scorers(qs, mods)
    works = [w for w in build_works(size) if args.only in w.name]
    meta["same_as"] = {w.name: w.same_as for w in works if w.same_as}
    print(f"{len(works)} workloads built in {time.perf_counter() - started:.1f} s "
          f"({mode} sizes)", flush=True)
    checker = Checker(table, size["reference_sample"])
    if not args.check_only:
        warm_up(works, table)
    cells: list[Cell] = []
    total = len(works) * len(METRICS)
    n = 0
    for group in compared_groups(works):
        for metric in METRICS:
            entries = []
            for work in group:
                n += 1
                impls = (scalar_impls(work, metric, table) if work.group == "scalar"
                         else all_pairs_impls(work, metric, qs, mods) if work.group == "all-pairs"
                         else batch_impls(work, metric, qs, mods, table))
                failures = checker.failures
                checker.check(work, metric, impls)
                status = "checked" if checker.failures == failures else "MISMATCH"
                head = f"[{n}/{total}] {work.name} ({work.size}), {metric}: {status}"
                if args.check_only:
                    print(head, flush=True)
                    continue
                entries.append((work, impls, head))
            if args.check_only:
                continue
            timed = time_cells([(work, impls) for work, impls, _ in entries], metric, size)
            for (work, _, head), cell in zip(entries, timed):
                cells.append(cell)
                peer = (f"; fastest peer {cell.fastest} {fmt_ns(cell.best_ns[cell.fastest])}, "
                        f"ratio {cell.ratio:.2f}" if cell.ratio is not None else "; no peer")
                print(f"{head}; quillstone {fmt_ns(cell.quillstone_ns)}/{work.unit}{peer}", flush=True)

    # In the rows' order, as the rows compared with each other were timed together.
    order = {w.name: k for k, w in enumerate(works)}
    cells.sort(key=lambda c: (order[c.work], METRICS.index(c.metric)))
    meta["cross_check"] = {"compared": checker.compared, "referenced": checker.referenced,
                           "disagreements": checker.failures}
    print(f"cross-check: {checker.compared:,} results against the peers, "
          f"{checker.referenced:,} against the reference, {checker.failures} disagreements",
          flush=True)
    if not args.check_only:
        meta["machine"]["load_after"] = os.getloadavg()
        args.out.mkdir(parents=True, exist_ok=True)
        report = markdown(cells, meta, load_baseline(args.baseline) if args.baseline else [])
        (args.out / "matrix.md").write_text(report, encoding="utf-8")
        (args.out / "matrix.json").write_text(
            json.dumps({"meta": meta, "cells": [asdict(c) for c in cells]}, indent=1),
            encoding="utf-8")
        print("\n" + report)
        print(f"wrote {args.out / 'matrix.md'} and matrix.json in "
              f"{time.perf_counter() - started:.0f} s", flush=True)
    if checker.failures:
        print(f"!! the cross-check found {checker.failures} disagreements"
              + ("" if args.check_only else ": these timings compare wrong answers"), flush=True)
        return 1
    print(f"done in {time.perf_counter() - started:.0f} s", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
