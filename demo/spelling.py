"""Spelling suggestions on real data, with quillstone and with RapidFuzz.

For a fixed-seed sample of codespell's misspellings, every dictionary word
(Debian's wamerican) is scored against the misspelling with each of the three
batch functions, case-insensitively. The best-scored words are the
suggestions; the run reports how often codespell's own correction is among
them, the throughput in candidates per second, and whether quillstone's
scores equal RapidFuzz's for the same pairs. Any disagreement is printed and
makes the run exit with status 1.
"""

from __future__ import annotations

import argparse
import gc
import sys
import time
from dataclasses import dataclass
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


@dataclass
class Outcome:
    hits: int = 0
    ties: int = 0
    qs_ns: int = 0
    rf_ns: int = 0
    mismatched_queries: int = 0
    mismatched_pairs: int = 0


def fmt_rate(candidates: int, ns: int) -> str:
    return f"{candidates / (ns / 1e9) / 1e6:8.2f} M/s" if ns else "       -   "


def run_metric(metric: Metric, sample: list[data.Misspelling], words: list[str],
               words_lower: list[str], examples: int,
               shown: dict[str, list[str]]) -> Outcome:
    out = Outcome()
    n = len(sample)
    step = max(1, n // 5)
    for i, entry in enumerate(sample):
        query = entry.wrong

        # The two libraries take turns going first, so that neither always
        # runs on caches the other has just filled. The collector stays off
        # while timing: a collection triggered by one library's allocations
        # would be billed to whichever call runs next.
        calls = [("qs", lambda: metric.batch(query, words, case_insensitive=True))]
        if metric.rf_scorer is not None:
            # RapidFuzz gets the dictionary lower-cased once, up front and
            # untimed, and the lower-cased query: the same comparison that
            # case_insensitive=True asks of quillstone, at no folding cost.
            kwargs = {} if metric.distance else {"scorer_kwargs": {"prefix_weight": 0.1}}
            lowered = query.lower()
            calls.append(("rf", lambda: rf_process.cdist(
                [lowered], words_lower, scorer=metric.rf_scorer, dtype=metric.dtype,
                workers=1, **kwargs)[0]))
        if i % 2:
            calls.reverse()
        got = {}
        for who, call in calls:
            gc.disable()
            try:
                start = time.perf_counter_ns()
                got[who] = call()
                elapsed = time.perf_counter_ns() - start
            finally:
                gc.enable()
            if who == "qs":
                out.qs_ns += elapsed
            else:
                out.rf_ns += elapsed

        scores = got["qs"]
        ours = np.asarray(scores, dtype=metric.dtype)
        if len(scores) != len(words):
            print(f"!! MISMATCH {metric.name}: {len(scores)} results for "
                  f"{len(words)} candidates", flush=True)
            out.mismatched_queries += 1
            continue

        if "rf" in got:
            theirs = got["rf"]
            bad = np.flatnonzero(ours != theirs)
            if bad.size:
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
            print(f"  {metric.name:<12} {i + 1:4d}/{n} queries   quillstone "
                  f"{fmt_rate((i + 1) * len(words), out.qs_ns)}   RapidFuzz "
                  f"{fmt_rate((i + 1) * len(words), out.rf_ns)}", flush=True)
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
        ratio = f"{o.rf_ns / o.qs_ns:10.2f}x" if o.rf_ns and o.qs_ns else "         -"
        share = f"{o.hits}/{len(sample)} = {100 * o.hits / max(1, len(sample)):5.1f}%"
        print(f"{name:<13}{share:>24}{o.ties / max(1, len(sample)):>15.2f}"
              f"{fmt_rate(total, o.qs_ns):>14}{fmt_rate(total, o.rf_ns):>14}{ratio:>12}"
              f"{o.mismatched_pairs:>12}")
    print("(throughput in candidates per second; quillstone's time includes building "
          "the result list, RapidFuzz's its result array)")

    bad = sum(o.mismatched_queries for o in results.values())
    if bad:
        print(f"\n!! quillstone and RapidFuzz DISAGREE on {bad} queries "
              f"({sum(o.mismatched_pairs for o in results.values())} pairs); see above",
              flush=True)
    elif rf_process is not None:
        print(f"\nall {3 * total} scores equal RapidFuzz's "
              "(Levenshtein distance, OSA distance, Jaro-Winkler with prefix weight 0.1)")
    print(f"finished in {time.perf_counter() - started:.1f} s")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
