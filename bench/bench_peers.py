"""quillstone against the string-similarity libraries a user could pick instead.

Every library runs in this one process on the same inputs: codespell's
misspelling pairs for scalar calls, one query against Debian's dictionary for
batch calls, long generated texts, and mixed-case pairs for case-insensitive
calls. Each figure is the best of several timed repeats (the median is kept
too), taken with time.perf_counter_ns while the garbage collector is off.

Before timing, the results that are about to be timed are cross-checked:
quillstone must return exactly what RapidFuzz returns for the same metric (and
what the other peers return where they compute the same thing). A benchmark
of wrong answers is worthless, so a disagreement is printed loudly and makes
the run exit with status 1 after the report is written.

Peers are optional: one that does not import is skipped with a note.
"""

from __future__ import annotations

import argparse
import gc
import importlib.metadata
import json
import platform
import statistics
import sys
import time
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Callable

sys.path.insert(0, str(Path(__file__).resolve().parent))

import data  # noqa: E402

NOTES: list[str] = []
SECTIONS = ("scalar", "batch", "long", "case-insensitive")


def note(text: str) -> None:
    NOTES.append(text)
    print(f"note: {text}", flush=True)


def optional_import(name: str):
    try:
        return __import__(name)
    except ImportError as exc:
        note(f"{name} is not available ({exc}); skipped")
        return None


def version_of(dist: str) -> str:
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return "?"


# ------------------------------------------------------------------ libraries

@dataclass(frozen=True)
class Impl:
    """One library's function for one metric and how it takes options."""
    label: str
    fn: Callable
    lib: str                       # "quillstone", "rapidfuzz", "Levenshtein", "jellyfish"
    same_metric: bool = True       # False: a different metric, timed but not cross-checked
    kwargs: dict = field(default_factory=dict)

    def call(self, a: str, b: str):
        return self.fn(a, b, **self.kwargs)


def load_libraries(peers_only: bool):
    qs = None
    if not peers_only:
        try:
            import quillstone as qs
        except ImportError as exc:
            sys.exit(f"bench_peers.py: cannot import quillstone ({exc}); build it first "
                     "(make build) and put its directory on PYTHONPATH, or pass --peers-only")
    rf = optional_import("rapidfuzz")
    if rf is not None:
        import rapidfuzz.distance  # noqa: F401  (submodules used below)
        import rapidfuzz.process  # noqa: F401
    lev = optional_import("Levenshtein")
    jf = optional_import("jellyfish")
    return qs, rf, lev, jf


def metric_table(qs, rf, lev, jf) -> dict[str, list[Impl]]:
    """Per metric, the implementations to time; quillstone first when present."""
    t: dict[str, list[Impl]] = {"Levenshtein": [], "OSA": [], "Jaro-Winkler": []}
    if qs is not None:
        t["Levenshtein"].append(Impl("quillstone.levenshtein_bp", qs.levenshtein_bp, "quillstone"))
        t["OSA"].append(Impl("quillstone.damerau_bp", qs.damerau_bp, "quillstone"))
        t["Jaro-Winkler"].append(Impl("quillstone.jaro_winkler_similarity",
                                      qs.jaro_winkler_similarity, "quillstone"))
    if rf is not None:
        d = rf.distance
        t["Levenshtein"].append(Impl("rapidfuzz Levenshtein.distance", d.Levenshtein.distance,
                                     "rapidfuzz"))
        t["OSA"].append(Impl("rapidfuzz OSA.distance", d.OSA.distance, "rapidfuzz"))
        t["Jaro-Winkler"].append(Impl("rapidfuzz JaroWinkler.similarity",
                                      d.JaroWinkler.similarity, "rapidfuzz",
                                      kwargs={"prefix_weight": 0.1}))
    if lev is not None:
        t["Levenshtein"].append(Impl("Levenshtein.distance", lev.distance, "Levenshtein"))
        t["Jaro-Winkler"].append(Impl("Levenshtein.jaro_winkler", lev.jaro_winkler,
                                      "Levenshtein", kwargs={"prefix_weight": 0.1}))
    if jf is not None:
        t["Levenshtein"].append(Impl("jellyfish.levenshtein_distance",
                                     jf.levenshtein_distance, "jellyfish"))
        t["OSA"].append(Impl("jellyfish.damerau_levenshtein_distance [different metric]",
                             jf.damerau_levenshtein_distance, "jellyfish", same_metric=False))
        t["Jaro-Winkler"].append(Impl("jellyfish.jaro_winkler_similarity",
                                      jf.jaro_winkler_similarity, "jellyfish"))
    return t


def batch_table(qs, rf) -> dict[str, tuple[Callable | None, object | None, dict]]:
    """Per metric: quillstone's batch function, RapidFuzz's scorer for cdist
    and the scorer's keyword arguments."""
    d = rf.distance if rf is not None else None
    return {
        "Levenshtein": (qs.levenshtein_batch if qs else None,
                        d.Levenshtein.distance if d else None, {}),
        "OSA": (qs.damerau_batch if qs else None, d.OSA.distance if d else None, {}),
        "Jaro-Winkler": (qs.jaro_winkler_batch if qs else None,
                         d.JaroWinkler.similarity if d else None, {"prefix_weight": 0.1}),
    }


# ------------------------------------------------------------------ cases

@dataclass
class Runner:
    label: str
    lib: str
    run: Callable[[], object]


@dataclass
class Case:
    section: str
    name: str
    items: int          # figures are reported per item (pair, candidate or call)
    unit: str
    runners: list[Runner]


def scalar_loop(impl: Impl, pairs: list[tuple[str, str]]) -> Callable[[], None]:
    f, kw = impl.fn, impl.kwargs
    if kw:
        def run():
            for a, b in pairs:
                f(a, b, **kw)
    else:
        def run():
            for a, b in pairs:
                f(a, b)
    return run


def case_insensitive_loop(impl: Impl, pairs: list[tuple[str, str]]) -> tuple[str, Callable]:
    """quillstone folds itself; RapidFuzz and python-Levenshtein get
    processor=str.lower; jellyfish has no option, so the loop lowers both
    strings before each call. All of it is timed."""
    f, kw = impl.fn, dict(impl.kwargs)
    if impl.lib == "quillstone":
        kw["case_insensitive"] = True
        how = "case_insensitive=True"
    elif impl.lib in ("rapidfuzz", "Levenshtein"):
        kw["processor"] = str.lower
        how = "processor=str.lower"
    else:
        def run():
            for a, b in pairs:
                f(a.lower(), b.lower())
        return f"{impl.label} (a.lower(), b.lower() in the loop)", run

    def run():
        for a, b in pairs:
            f(a, b, **kw)
    return f"{impl.label} ({how})", run


def build_cases(libs, args) -> tuple[list[Case], dict]:
    qs, rf, lev, jf = libs
    metrics = metric_table(qs, rf, lev, jf)
    batches = batch_table(qs, rf)
    words = data.load_words()
    pairs = data.codespell_pairs(data.load_codespell())
    if args.pairs:
        pairs = pairs[:args.pairs]
    mixed = data.mixed_case_pairs(pairs, seed=7)
    inputs = {"words": words, "pairs": pairs, "mixed": mixed}
    cases: list[Case] = []

    # Scalar calls over the codespell pairs, with an empty loop as the floor.
    def floor():
        for a, b in pairs:
            len(a)
    cases.append(Case("scalar", "floor", len(pairs), "ns/pair",
                      [Runner("loop calling len()", "floor", floor)]))
    for metric, impls in metrics.items():
        cases.append(Case("scalar", metric, len(pairs), "ns/pair",
                          [Runner(i.label, i.lib, scalar_loop(i, pairs)) for i in impls]))

    # One query against the whole dictionary, after the floor of quillstone's
    # batch calls: taking the candidate list in without scoring anything.
    if qs is not None and hasattr(qs, "_ingest_borrow_and_deref"):
        cases.append(Case("batch", "floor", len(words), "ns/candidate",
                          [Runner("quillstone._ingest_borrow_and_deref (intake only)", "floor",
                                  lambda: qs._ingest_borrow_and_deref(words))]))
    for query in args.queries:
        for metric, impls in metrics.items():
            qs_batch, scorer, skw = batches[metric]
            runners = []
            if qs_batch is not None:
                runners.append(Runner(f"quillstone.{qs_batch.__name__}", "quillstone",
                                      lambda f=qs_batch, q=query: f(q, words)))
            if scorer is not None:
                runners.append(Runner("rapidfuzz process.cdist(workers=1)", "rapidfuzz",
                                      lambda s=scorer, q=query, kw=skw: rf.process.cdist(
                                          [q], words, scorer=s, scorer_kwargs=kw, workers=1)))
            for impl in impls:
                if impl.lib == "quillstone":
                    continue
                f, kw = impl.fn, impl.kwargs
                runners.append(Runner(f"loop of {impl.label}", impl.lib,
                                      lambda f=f, q=query, kw=kw: [f(q, w, **kw) for w in words]))
            cases.append(Case("batch", f"{metric}, query {query!r}", len(words),
                              "ns/candidate", runners))

    # Long texts.
    for length in args.long_lengths:
        for non_ascii in (False, True):
            a, b = data.long_text_pair(length, non_ascii, seed=length + non_ascii)
            kind = "non-ASCII" if non_ascii else "ASCII"
            inputs[f"long {length} {kind}"] = (a, b)
            for metric, impls in metrics.items():
                # A different metric with a quadratic-time peer is worth a
                # figure at 1000 characters, not seconds per call at 10000.
                impls = [i for i in impls if i.same_metric or length <= 1000]
                cases.append(Case("long", f"{metric}, {length} chars {kind}", 1, "ns/call",
                                  [Runner(i.label, i.lib, lambda i=i, a=a, b=b: i.call(a, b))
                                   for i in impls]))

    # Case-insensitive calls: mixed-case pairs, and one mixed-case query
    # against the dictionary.
    for metric, impls in metrics.items():
        runners = []
        for impl in impls:
            label, run = case_insensitive_loop(impl, mixed)
            runners.append(Runner(label, impl.lib, run))
        cases.append(Case("case-insensitive", f"{metric}, mixed-case pairs", len(mixed),
                          "ns/pair", runners))
    ci_query = args.queries[0].capitalize()
    for metric in metrics:
        qs_batch, scorer, skw = batches[metric]
        runners = []
        if qs_batch is not None:
            runners.append(Runner(f"quillstone.{qs_batch.__name__}(case_insensitive=True)",
                                  "quillstone", lambda f=qs_batch: f(ci_query, words,
                                                                     case_insensitive=True)))
        if scorer is not None:
            runners.append(Runner("rapidfuzz process.cdist(processor=str.lower, workers=1)",
                                  "rapidfuzz",
                                  lambda s=scorer, kw=skw: rf.process.cdist(
                                      [ci_query], words, scorer=s, scorer_kwargs=kw,
                                      processor=str.lower, workers=1)))
        cases.append(Case("case-insensitive", f"{metric} batch, query {ci_query!r}",
                          len(words), "ns/candidate", runners))
    inputs["ci_query"] = ci_query
    return cases, inputs


# ------------------------------------------------------------------ cross-check

class Checker:
    def __init__(self) -> None:
        self.compared = 0
        self.failures = 0          # disagreements with a peer computing the same metric

    def compare(self, what: str, inputs: list[tuple[str, str]], ours: list, theirs: list,
                peer: str) -> None:
        self.compared += len(ours)
        if len(ours) != len(theirs):
            self.failures += 1
            print(f"!! MISMATCH {what}: quillstone gave {len(ours)} results, "
                  f"{peer} {len(theirs)}", flush=True)
            return
        bad = [k for k, (x, y) in enumerate(zip(ours, theirs)) if x != y]
        if not bad:
            return
        self.failures += len(bad)
        print(f"!! MISMATCH {what}: quillstone and {peer} disagree on {len(bad)} of "
              f"{len(ours)} inputs", flush=True)
        for k in bad[:5]:
            a, b = inputs[k]
            print(f"!!   ({a[:40]!r}, {b[:40]!r}): quillstone {ours[k]!r}, {peer} {theirs[k]!r}",
                  flush=True)


def cross_check(libs, inputs: dict, args) -> Checker:
    """quillstone against every same-metric peer, on the inputs that are timed."""
    qs, rf, lev, jf = libs
    metrics = metric_table(qs, rf, lev, jf)
    batches = batch_table(qs, rf)
    words, pairs, mixed = inputs["words"], inputs["pairs"], inputs["mixed"]
    chk = Checker()
    print("cross-check: quillstone against the peers on the benchmark inputs", flush=True)
    for metric, impls in metrics.items():
        ours_impl = impls[0]
        peers = [i for i in impls[1:] if i.same_metric]
        long_inputs = [v for k, v in inputs.items() if k.startswith("long ")]
        ours = [ours_impl.call(a, b) for a, b in pairs]
        ours_long = [ours_impl.call(a, b) for a, b in long_inputs]
        ours_ci = [ours_impl.fn(a, b, case_insensitive=True, **ours_impl.kwargs) for a, b in mixed]
        for peer in peers:
            chk.compare(f"{metric} scalar", pairs, ours, [peer.call(a, b) for a, b in pairs],
                        peer.label)
            chk.compare(f"{metric} long texts", long_inputs, ours_long,
                        [peer.call(a, b) for a, b in long_inputs], peer.label)
            chk.compare(f"{metric} case-insensitive", mixed, ours_ci,
                        [peer.call(a.lower(), b.lower()) for a, b in mixed],
                        f"{peer.label} on lower-cased strings")
        qs_batch, scorer, skw = batches[metric]
        if scorer is None:
            continue
        import numpy as np
        dtype = np.float64 if metric == "Jaro-Winkler" else np.int64
        for query, ci in [(q, False) for q in args.queries] + [(inputs["ci_query"], True)]:
            got = qs_batch(query, words, case_insensitive=ci)
            row = rf.process.cdist([query], words, scorer=scorer, scorer_kwargs=skw,
                                   processor=str.lower if ci else None, dtype=dtype,
                                   workers=1)[0].tolist()
            chk.compare(f"{metric} batch {query!r}" + (" case-insensitive" if ci else ""),
                        [(query, w) for w in words], got, row, "rapidfuzz process.cdist")
    if not chk.compared:
        note("no peer computes the same metrics: quillstone's results are not cross-checked")
    elif chk.failures:
        print(f"!! cross-check FAILED: {chk.failures} disagreements in {chk.compared} "
              "comparisons", flush=True)
    else:
        print(f"cross-check passed: {chk.compared} quillstone results equal every "
              "same-metric peer's", flush=True)
    return chk


# ------------------------------------------------------------------ timing

@dataclass
class Row:
    section: str
    case: str
    unit: str
    label: str
    lib: str
    best_ns: float
    median_ns: float
    repeats: int
    ratio: float | None = None     # this row's best time / quillstone's best time


def measure(run: Callable[[], object], repeats: int, budget_s: float) -> list[int]:
    """Timed runs after one warm-up run (caches, lazily built UTF-8 forms).
    A warm-up that alone exceeds the budget is the only figure: at seconds
    per run, warming up no longer matters and repeating costs too much."""
    times: list[int] = []
    spent = 0
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter_ns()
        run()
        warm_up = time.perf_counter_ns() - start
        if warm_up > budget_s * 1e9:
            return [warm_up]
        while len(times) < repeats and (not times or spent < budget_s * 1e9):
            start = time.perf_counter_ns()
            run()
            elapsed = time.perf_counter_ns() - start
            times.append(elapsed)
            spent += elapsed
    finally:
        gc.enable()
    return times


def run_cases(cases: list[Case], args) -> list[Row]:
    rows: list[Row] = []
    section = None
    for case in cases:
        if case.section != section:
            section = case.section
            print(f"\n== {section} ==", flush=True)
        print(f"  {case.name} ({case.items} items, {case.unit})", flush=True)
        case_rows = []
        for r in case.runners:
            times = measure(r.run, args.repeats, args.budget)
            row = Row(case.section, case.name, case.unit, r.label, r.lib,
                      min(times) / case.items, statistics.median(times) / case.items,
                      len(times))
            case_rows.append(row)
        base = next((x for x in case_rows if x.lib == "quillstone"), None)
        for row in case_rows:
            if base is not None and row is not base and row.lib != "floor":
                row.ratio = row.best_ns / base.best_ns
            ratio = f"{row.ratio:8.2f}x" if row.ratio is not None else " " * 9
            print(f"    {row.label:<74}{row.best_ns:>13.1f}{ratio}", flush=True)
        rows.extend(case_rows)
    return rows


# ------------------------------------------------------------------ reports

def markdown(rows: list[Row], meta: dict) -> str:
    out = ["# quillstone against its peers", ""]
    out.append(f"Python {meta['python']} on {meta['machine']}; "
               f"{meta['repeats']} repeats (fewer for slow runs), best shown; "
               "garbage collector off while timing.")
    out.append("")
    out.append("Ratio = the peer's best time / quillstone's best time: above 1.00 "
               "quillstone is faster, below 1.00 the peer is.")
    out.append("")
    out.append("Peers: " + ", ".join(f"{k} {v}" for k, v in meta["peers"].items()))
    for n in meta["notes"]:
        out.append(f"\nNote: {n}")
    section = None
    for row in rows:
        if row.section != section:
            section = row.section
            out += ["", f"## {section}", "",
                    "| case | implementation | best | median | unit | peer / quillstone |",
                    "|---|---|---:|---:|---|---:|"]
        ratio = f"{row.ratio:.2f}" if row.ratio is not None else ""
        out.append(f"| {row.case} | {row.label.replace('|', '/')} | {row.best_ns:.1f} | "
                   f"{row.median_ns:.1f} | {row.unit} | {ratio} |")
    losses = [r for r in rows if r.ratio is not None and r.ratio < 1.0]
    out += ["", "## Where quillstone loses", ""]
    if losses:
        for r in sorted(losses, key=lambda r: r.ratio):
            out.append(f"- {r.section} / {r.case}: {r.label} takes {r.ratio:.2f} of "
                       f"quillstone's time (quillstone {1 / r.ratio:.2f}x slower)")
    else:
        out.append("Nowhere in this run.")
    return "\n".join(out) + "\n"


def chart(rows: list[Row], path: Path) -> bool:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter
    except ImportError as exc:
        note(f"matplotlib is not available ({exc}); no chart")
        return False
    sections = list(dict.fromkeys(r.section for r in rows if r.ratio is not None))
    if not sections:
        return False
    groups = {s: [r for r in rows if r.section == s and r.ratio is not None] for s in sections}
    heights = [max(1, len(g)) for g in groups.values()]
    fig, axes = plt.subplots(len(sections), 1, figsize=(11, 1.2 + 0.24 * sum(heights)),
                             gridspec_kw={"height_ratios": heights}, squeeze=False)
    for ax, (section, group) in zip(axes[:, 0], groups.items()):
        labels = [f"{r.case} | {r.label}" for r in group]
        ratios = [r.ratio for r in group]
        colors = ["#2a7" if x >= 1 else "#c33" for x in ratios]
        y = range(len(group))
        ax.barh(y, ratios, color=colors)
        ax.set_yticks(list(y), labels, fontsize=6)
        ax.invert_yaxis()
        ax.set_xscale("log")
        ax.set_xlim(min(ratios + [1.0]) / 1.5, max(ratios + [1.0]) * 1.5)
        ax.xaxis.set_major_locator(LogLocator(base=10, subs=(1.0, 2.0, 5.0)))
        ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
        ax.xaxis.set_minor_formatter(NullFormatter())
        ax.axvline(1.0, color="black", linewidth=0.8)
        ax.set_title(section, fontsize=9, loc="left")
        ax.tick_params(axis="x", labelsize=7)
    axes[-1, 0].set_xlabel("peer time / quillstone time (log scale; right of 1 = quillstone "
                           "faster)", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return True


# ------------------------------------------------------------------ main

def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=Path("bench-results"),
                        help="directory for bench_peers.md, .json and .png")
    parser.add_argument("--repeats", type=int, default=7, help="timed repeats per figure")
    parser.add_argument("--budget", type=float, default=1.0,
                        help="seconds per figure after which repeats stop (at least one "
                             "timed run after the warm-up)")
    parser.add_argument("--pairs", type=int, default=0,
                        help="use only the first N codespell pairs (0: all)")
    # Misspellings on purpose: short and long ASCII, and one non-ASCII query.
    parser.add_argument("--queries", nargs="+",
                        default=["recieve", "authethenticate", "naïvity"],  # codespell:ignore
                        help="batch queries against the dictionary")
    parser.add_argument("--long-lengths", type=int, nargs="+", default=[1000, 10000])
    parser.add_argument("--sections", nargs="+", default=list(SECTIONS), choices=SECTIONS,
                        help="which timing sections to run")
    parser.add_argument("--check-only", action="store_true", help="cross-check, no timing")
    parser.add_argument("--no-check", action="store_true", help="skip the cross-check")
    parser.add_argument("--peers-only", action="store_true",
                        help="run without quillstone (to try the peers' side)")
    args = parser.parse_args()

    started = time.perf_counter()
    libs = load_libraries(args.peers_only)
    qs = libs[0]
    peers = {name: version_of(dist) for name, dist, mod in
             [("rapidfuzz", "rapidfuzz", libs[1]), ("Levenshtein", "levenshtein", libs[2]),
              ("jellyfish", "jellyfish", libs[3])] if mod is not None}
    cases, inputs = build_cases(libs, args)
    print(f"inputs: {len(inputs['pairs'])} codespell pairs, {len(inputs['words'])} "
          f"dictionary words, long texts of {args.long_lengths} characters", flush=True)

    chk = None
    if qs is not None and not args.no_check:
        chk = cross_check(libs, inputs, args)
    if args.check_only:
        return 1 if chk is not None and chk.failures else 0

    rows = run_cases([c for c in cases if c.section in args.sections], args)
    meta = {
        "python": sys.version.split()[0],
        "machine": f"{platform.machine()} {platform.system()}",
        "quillstone": getattr(qs, "__file__", None),
        "peers": peers,
        "repeats": args.repeats,
        "budget_s": args.budget,
        "pairs": len(inputs["pairs"]),
        "words": len(inputs["words"]),
        "queries": args.queries,
        "cross_check": None if chk is None else {"compared": chk.compared,
                                                 "disagreements": chk.failures},
        "notes": NOTES,
    }
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "bench_peers.json").write_text(
        json.dumps({"meta": meta, "rows": [asdict(r) for r in rows]}, indent=1))
    (args.out / "bench_peers.md").write_text(markdown(rows, meta))
    wrote = ["bench_peers.md", "bench_peers.json"]
    if chart(rows, args.out / "bench_peers.png"):
        wrote.append("bench_peers.png")
    print(f"\nwrote {', '.join(str(args.out / w) for w in wrote)} "
          f"in {time.perf_counter() - started:.0f} s", flush=True)
    losses = [r for r in rows if r.ratio is not None and r.ratio < 1.0]
    for r in sorted(losses, key=lambda r: r.ratio):
        print(f"quillstone loses: {r.section} / {r.case}: {r.label} is "
              f"{1 / r.ratio:.2f}x faster", flush=True)
    if chk is not None and chk.failures:
        print(f"!! the cross-check found {chk.failures} disagreements: these timings compare "
              "wrong answers", flush=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
