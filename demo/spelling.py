"""Spelling suggestions on real data, with quillstone and with RapidFuzz.

For a fixed-seed sample of codespell's misspellings, every dictionary word
(Debian's wamerican) is scored against the misspelling with each of the three
batch functions, case-insensitively. The best-scored words are the
suggestions; the run reports how often codespell's own correction is among
them, the throughput in candidates per second, and whether quillstone's
scores equal RapidFuzz's for the same pairs. It also times the task itself,
the best suggestion and the top five for each misspelling, against
RapidFuzz's extractOne and extract, and checks that both pick the same words.
Any disagreement is printed and makes the run exit with status 1.
"""

from __future__ import annotations

import argparse
import gc
import sys
import time
from dataclasses import dataclass, field
from typing import Callable

import numpy as np

import suggest
from suggest import data

try:
    from rapidfuzz import process as rf_process
    from rapidfuzz.distance import JaroWinkler as rf_jaro_winkler
    from rapidfuzz.distance import Levenshtein as rf_levenshtein
    from rapidfuzz.distance import OSA as rf_osa
except ImportError as exc:
    rf_process = None
    print(f"note: RapidFuzz is not available ({exc}); quillstone runs alone, "
          "without a cross-check", flush=True)


@dataclass
class Metric:
    name: str
    batch: Callable[..., list]
    rf_scorer: object | None
    distance: bool          # lower is better for distances, higher for similarities
    dtype: type


def metrics() -> list[Metric]:
    # Both sides use prefix weight 0.1 for Jaro-Winkler: quillstone's default,
    # given to RapidFuzz explicitly so the comparison does not rest on its default.
    scorers = ({"Levenshtein": rf_levenshtein.distance, "OSA": rf_osa.distance,
                "Jaro-Winkler": rf_jaro_winkler.similarity}
               if rf_process is not None else {})
    return [Metric(name, batch, scorers.get(name), distance,
                   np.int64 if distance else np.float64)
            for name, batch, distance in suggest.METRICS]


# The jobs timed side by side: the whole batch (against cdist), the best
# suggestion (against extractOne) and the top TOP (against extract). For the
# last two quillstone's time includes picking them out of its batch's list.
JOBS = ("batch", "best", "top")
TOP = 5


@dataclass
class Outcome:
    hits: int = 0
    ties: int = 0
    qs_ns: dict[str, int] = field(default_factory=lambda: dict.fromkeys(JOBS, 0))
    rf_ns: dict[str, int] = field(default_factory=lambda: dict.fromkeys(JOBS, 0))
    mismatched_queries: int = 0
    mismatched_pairs: int = 0
    mismatched_picks: int = 0


def fmt_rate(candidates: int, ns: int) -> str:
    return f"{candidates / (ns / 1e9) / 1e6:8.2f} M/s" if ns else "       -   "


def fmt_ms(ns: int, queries: int) -> str:
    return f"{ns / 1e6 / max(1, queries):7.2f} ms" if ns else "      -   "


def fmt_ratio(rf_ns: int, qs_ns: int) -> str:
    return f"{rf_ns / qs_ns:8.2f}x" if rf_ns and qs_ns else "       -"


def timed(calls: list[tuple[str, Callable]], flip: bool) -> dict[str, tuple[object, int]]:
    """Each call's result and time, the calls taking turns going first, so
    that neither always runs on caches the other has just filled. The
    collector stays off while timing: a collection triggered by one library's
    allocations would be billed to whichever call runs next."""
    out = {}
    for who, call in (reversed(calls) if flip else calls):
        gc.disable()
        try:
            start = time.perf_counter_ns()
            result = call()
            elapsed = time.perf_counter_ns() - start
        finally:
            gc.enable()
        out[who] = (result, elapsed)
    return out


def run_metric(metric: Metric, sample: list[data.Misspelling], words: list[str],
               words_lower: list[str], examples: int,
               shown: dict[str, list[str]]) -> Outcome:
    out = Outcome()
    n = len(sample)
    step = max(1, n // 5)
    # RapidFuzz gets the dictionary lower-cased once, up front and untimed,
    # and the lower-cased query: the same comparison that
    # case_insensitive=True asks of quillstone, at no folding cost.
    kwargs = {} if metric.distance else {"scorer_kwargs": {"prefix_weight": 0.1}}
    for i, entry in enumerate(sample):
        query = entry.wrong
        lowered = query.lower()

        def batch():
            return metric.batch(query, words, case_insensitive=True)

        jobs = {
            "batch": [("qs", batch)],
            "best": [("qs", lambda: suggest.ranked(batch(), 1, metric.distance))],
            "top": [("qs", lambda: suggest.ranked(batch(), TOP, metric.distance))],
        }
        if metric.rf_scorer is not None:
            scorer = metric.rf_scorer
            jobs["batch"].append(("rf", lambda: rf_process.cdist(
                [lowered], words_lower, scorer=scorer, dtype=metric.dtype, workers=1, **kwargs)[0]))
            jobs["best"].append(("rf", lambda: rf_process.extractOne(
                lowered, words_lower, scorer=scorer, **kwargs)))
            jobs["top"].append(("rf", lambda: rf_process.extract(
                lowered, words_lower, scorer=scorer, limit=TOP, **kwargs)))
        got = {}
        for job, calls in jobs.items():
            got[job] = timed(calls, flip=bool(i % 2))
            for who, (_, elapsed) in got[job].items():
                (out.qs_ns if who == "qs" else out.rf_ns)[job] += elapsed

        scores = got["batch"]["qs"][0]
        ours = np.asarray(scores, dtype=metric.dtype)
        if len(scores) != len(words):
            print(f"!! MISMATCH {metric.name}: {len(scores)} results for "
                  f"{len(words)} candidates", flush=True)
            out.mismatched_queries += 1
            continue

        if "rf" in got["batch"]:
            theirs = got["batch"]["rf"][0]
            bad = np.flatnonzero(ours != theirs)
            picks_differ = False
            for job in ("best", "top"):
                # RapidFuzz gives (choice, score, position); both rank ties by position.
                mine = got[job]["qs"][0]
                theirs_picked = got[job]["rf"][0]
                if job == "best":
                    theirs_picked = [theirs_picked]
                picked = [(at, score) for _, score, at in theirs_picked]
                if mine != picked:
                    picks_differ = True
                    out.mismatched_picks += 1
                    print(f"!! MISMATCH {metric.name} {job}({query!r}): quillstone "
                          f"{[(words[j], v) for j, v in mine]}, RapidFuzz "
                          f"{[(words[j], v) for j, v in picked]}", flush=True)
            if bad.size or picks_differ:
                out.mismatched_queries += 1
                out.mismatched_pairs += int(bad.size)
                for j in bad[:3]:
                    print(f"!! MISMATCH {metric.name}({query!r}, {words[j]!r}): "
                          f"quillstone {ours[j]!r}, RapidFuzz {theirs[j]!r}", flush=True)

        best, found = suggest.best_of(scores, metric.distance)
        best_words = [words[j] for j in found]
        out.ties += len(best_words)
        if suggest.corrected(entry, words, found):
            out.hits += 1
        if i < examples:
            score = best if metric.distance else f"{best:.4f}"
            shown.setdefault(query, []).append(
                f"{metric.name:<12} best {score}: {', '.join(best_words[:6])}"
                + (f" (+{len(best_words) - 6} more)" if len(best_words) > 6 else ""))
        if (i + 1) % step == 0 or i + 1 == n:
            print(f"  {metric.name:<12} {i + 1:4d}/{n} queries   batch: quillstone "
                  f"{fmt_rate((i + 1) * len(words), out.qs_ns['batch'])}   RapidFuzz "
                  f"{fmt_rate((i + 1) * len(words), out.rf_ns['batch'])}", flush=True)
    return out


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sample", type=int, default=200, help="misspellings to look up")
    parser.add_argument("--seed", type=int, default=20240601, help="sampling seed")
    parser.add_argument("--examples", type=int, default=6, help="suggestions to print")
    args = parser.parse_args()

    started = time.perf_counter()
    words = data.load_words()
    # Lower-cased right after loading, so that these strings lie in memory
    # as compactly as the originals: scattered objects would make RapidFuzz
    # pay cache misses that quillstone does not.
    words_lower = [w.lower() for w in words]
    sample = suggest.load_sample(words, args.sample, args.seed)

    results: dict[str, Outcome] = {}
    shown: dict[str, list[str]] = {}
    for metric in metrics():
        results[metric.name] = run_metric(metric, sample, words, words_lower,
                                          args.examples, shown)

    print("\nexample suggestions:")
    for entry in sample[:args.examples]:
        print(f"  {entry.wrong!r} (codespell: {', '.join(entry.corrections)})")
        for line in shown.get(entry.wrong, []):
            print(f"      {line}")

    total = len(sample) * len(words)
    print(f"\n{'metric':<13}{'correction among best':>24}{'avg tied best':>15}"
          f"{'quillstone':>14}{'RapidFuzz':>14}{'RF/qs time':>12}{'mismatches':>12}")
    for name, o in results.items():
        share = f"{o.hits}/{len(sample)} = {100 * o.hits / max(1, len(sample)):5.1f}%"
        print(f"{name:<13}{share:>24}{o.ties / max(1, len(sample)):>15.2f}"
              f"{fmt_rate(total, o.qs_ns['batch']):>14}{fmt_rate(total, o.rf_ns['batch']):>14}"
              f"{fmt_ratio(o.rf_ns['batch'], o.qs_ns['batch']):>12}{o.mismatched_pairs:>12}")
    print("(the batch: every word's score; throughput in candidates per second; quillstone's "
          "time includes building the result list, RapidFuzz's (process.cdist) its result array)")

    print(f"\nthe task, per misspelling: the best suggestion and the top {TOP} "
          f"(time per query; RF/qs above 1: quillstone is faster)")
    print(f"{'metric':<13}{'best: quillstone':>17}{'extractOne':>12}{'RF/qs':>10}"
          f"{f'top {TOP}: quillstone':>20}{'extract':>12}{'RF/qs':>10}{'mismatches':>12}")
    for name, o in results.items():
        n = len(sample)
        print(f"{name:<13}{fmt_ms(o.qs_ns['best'], n):>17}{fmt_ms(o.rf_ns['best'], n):>12}"
              f"{fmt_ratio(o.rf_ns['best'], o.qs_ns['best']):>10}"
              f"{fmt_ms(o.qs_ns['top'], n):>20}{fmt_ms(o.rf_ns['top'], n):>12}"
              f"{fmt_ratio(o.rf_ns['top'], o.qs_ns['top']):>10}{o.mismatched_picks:>12}")
    print("(quillstone: its batch over every word, then the best picked out of the list in "
          f"Python; RapidFuzz: process.extractOne and process.extract(limit={TOP}))")

    bad = sum(o.mismatched_queries for o in results.values())
    if bad:
        print(f"\n!! quillstone and RapidFuzz DISAGREE on {bad} queries "
              f"({sum(o.mismatched_pairs for o in results.values())} pairs); see above",
              flush=True)
    elif rf_process is not None:
        print(f"\nall {3 * total} scores equal RapidFuzz's "
              "(Levenshtein distance, OSA distance, Jaro-Winkler with prefix weight 0.1), "
              f"and so do the {3 * len(sample)} best suggestions and top {TOP}")
    print(f"finished in {time.perf_counter() - started:.1f} s")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
