"""Peak memory that quillstone's calls add to their inputs, beside RapidFuzz.

Each measurement runs in a fresh interpreter: the child builds the inputs,
lets the interpreter create their cached UTF-8 forms, collects garbage, reads
its resident set size, resets the kernel's peak counter (/proc/self/clear_refs)
and makes the one call. The figure is the peak resident set size during the
call over the resident set size before it; the result the call returns is
part of it.

- Two texts of 300,000 characters over 100,000 distinct characters through
  levenshtein_bp and damerau_bp (the target is at most 64 MiB).
- A list of 1,000,000 distinct 100-character strs through levenshtein_batch
  and jaro_winkler_batch, beside rapidfuzz.process.cdist over the same list
  (the target is no more than cdist), and the same batches over a tuple.

A child limits its own address space to what it has after building the inputs
plus --guard-mib, so a call that would take gigabytes fails at the limit
(and the process ends, as an allocation failure does) instead of taking the
machine: the report then says that the guard was hit.
"""

from __future__ import annotations

import argparse
import gc
import json
import random
import resource
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import data  # noqa: E402

TEXT_LENGTH = 300_000
DISTINCT = 100_000
CANDIDATES = 1_000_000
CANDIDATE_LENGTH = 100
EDIT_TARGET_MIB = 64

# name: (inputs, the call on them). The inputs are two texts, or a query and
# the candidates as a list or a tuple.
CASES = {
    "levenshtein_bp, 2 × 300,000 characters":
        ("texts", lambda qs, rf, np, a, b: qs.levenshtein_bp(a, b)),
    "damerau_bp, 2 × 300,000 characters":
        ("texts", lambda qs, rf, np, a, b: qs.damerau_bp(a, b)),
    "rapidfuzz Levenshtein, 2 × 300,000 characters":
        ("texts", lambda qs, rf, np, a, b: rf.distance.Levenshtein.distance(a, b)),
    "rapidfuzz OSA, 2 × 300,000 characters":
        ("texts", lambda qs, rf, np, a, b: rf.distance.OSA.distance(a, b)),
    "levenshtein_batch, list": ("list", lambda qs, rf, np, q, c: qs.levenshtein_batch(q, c)),
    "levenshtein_batch, tuple": ("tuple", lambda qs, rf, np, q, c: qs.levenshtein_batch(q, c)),
    "cdist Levenshtein, list": ("list", lambda qs, rf, np, q, c: rf.process.cdist(
        [q], c, scorer=rf.distance.Levenshtein.distance, dtype=np.int32, workers=1)),
    "jaro_winkler_batch, list": ("list", lambda qs, rf, np, q, c: qs.jaro_winkler_batch(q, c)),
    "jaro_winkler_batch, tuple": ("tuple",
                                  lambda qs, rf, np, q, c: qs.jaro_winkler_batch(q, c)),
    "cdist JaroWinkler, list": ("list", lambda qs, rf, np, q, c: rf.process.cdist(
        [q], c, scorer=rf.distance.JaroWinkler.similarity, dtype=np.float64, workers=1)),
}


def status_kib(field: str) -> int:
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {field} in /proc/self/status")


def texts(rng: random.Random) -> tuple[str, str]:
    """Every one of DISTINCT scalar values from U+0100 up (surrogates
    skipped) three times in a random order, and a copy with 10% of its
    characters redrawn."""
    alphabet = [chr(c) for c in range(0x100, 0x100 + DISTINCT + 0x800)
                if not 0xD800 <= c < 0xE000][:DISTINCT]
    chars = alphabet * (TEXT_LENGTH // DISTINCT)
    rng.shuffle(chars)
    first = "".join(chars)
    return first, data.redraw(first, 0.1, alphabet, rng)


def candidates(rng: random.Random) -> tuple[str, list[str]]:
    """CANDIDATES distinct ASCII strs of CANDIDATE_LENGTH characters (a
    numbered window of one random text), and an unrelated query."""
    letters = "abcdefghijklmnopqrstuvwxyz"
    tail = CANDIDATE_LENGTH - 7
    blob = "".join(rng.choices(letters, k=CANDIDATES + tail))
    cands = [f"{i:07d}" + blob[i:i + tail] for i in range(CANDIDATES)]
    return "".join(rng.choices(letters, k=CANDIDATE_LENGTH)), cands


def child(case: str, guard_mib: int) -> None:
    kind, call = CASES[case]
    import numpy as np
    import quillstone as qs
    try:
        import rapidfuzz as rf
        import rapidfuzz.distance  # noqa: F401
        import rapidfuzz.process  # noqa: F401
    except ImportError:
        rf = None
    rng = random.Random(1208)
    if kind == "texts":
        a, b = texts(rng)
        qs._ingest_borrow([a, b])          # their cached UTF-8 forms belong to the inputs
        inputs = (a, b)
        del a, b
    else:
        query, cands = candidates(rng)
        inputs = (query, tuple(cands) if kind == "tuple" else cands)
        del cands
    gc.collect()
    before = status_kib("VmRSS")
    try:
        with open("/proc/self/clear_refs", "w", encoding="ascii") as f:
            f.write("5")
        peak_field = "VmHWM"
    except OSError:
        peak_field = None                  # ru_maxrss then includes building the inputs
    print(json.dumps({"before_kib": before}), flush=True)   # in case the call ends the process
    limit = (status_kib("VmSize") + guard_mib * 1024) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    start = time.perf_counter()
    result = call(qs, rf, np, *inputs)
    seconds = time.perf_counter() - start
    peak = status_kib(peak_field) if peak_field else \
        resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"before_kib": before, "peak_kib": peak, "added_kib": peak - before,
                      "seconds": seconds, "peak_reset": peak_field is not None,
                      "distance": result if kind == "texts" else None}))


def measure(case: str, guard_mib: int) -> dict:
    proc = subprocess.run([sys.executable, __file__, "--child", case, "--guard-mib",
                           str(guard_mib)], capture_output=True, text=True, timeout=600)
    lines = proc.stdout.strip().splitlines()
    row = json.loads(lines[-1]) if lines else {}
    if proc.returncode == 0:
        return row
    how = (f"killed by {signal.Signals(-proc.returncode).name}" if proc.returncode < 0
           else f"exit status {proc.returncode}")
    last = " ".join((proc.stderr.strip().splitlines() or [""])[-1].split())
    row["failed"] = f"{how} ({last})" if last else how
    return row


def mib(kib: int) -> str:
    return f"{kib / 1024:,.1f} MiB"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=Path("bench-results"),
                        help="directory for memory.md and memory.json")
    parser.add_argument("--guard-mib", type=int, default=1024,
                        help="address space a child may add to its inputs (MiB)")
    parser.add_argument("--only", default="", help="only the cases whose name contains this")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child, args.guard_mib)
        return 0

    rows = {}
    for case in CASES:
        if args.only not in case:
            continue
        r = rows[case] = measure(case, args.guard_mib)
        text = (f"over the {args.guard_mib:,} MiB guard: {r['failed']}" if "failed" in r else
                f"{mib(r['added_kib'])} added to {mib(r['before_kib'])}, {r['seconds']:.2f} s")
        print(f"memory: {case}: {text}", flush=True)
    out = ["# Peak memory added by one call", "",
           "Peak resident set size during the call over the resident set size once the "
           "inputs exist, each call in a fresh interpreter; the returned result is "
           "included.", "",
           "| call | inputs | added | call time |", "|---|---:|---:|---:|"]
    for case, r in rows.items():
        if "failed" in r:
            before = mib(r["before_kib"]) if "before_kib" in r else ""
            out.append(f"| {case} | {before} | over the {args.guard_mib:,} MiB guard: "
                       f"{r['failed']} | |")
        else:
            out.append(f"| {case} | {mib(r['before_kib'])} | {mib(r['added_kib'])} | "
                       f"{r['seconds']:.2f} s |")
    out += ["", f"Targets: each edit distance of the two texts adds at most "
            f"{EDIT_TARGET_MIB} MiB; each batch over the list adds no more than cdist."]
    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "memory.md").write_text("\n".join(out) + "\n", encoding="utf-8")
    (args.out / "memory.json").write_text(json.dumps(rows, indent=1), encoding="utf-8")
    print(f"wrote {args.out / 'memory.md'}", flush=True)
    # The long texts' distances are checked against RapidFuzz's.
    distances = {case.split(",")[0]: r.get("distance") for case, r in rows.items()
                 if CASES[case][0] == "texts"}
    wrong = [(ours, peer) for ours, peer in (("levenshtein_bp", "rapidfuzz Levenshtein"),
                                             ("damerau_bp", "rapidfuzz OSA"))
             if None not in (distances.get(ours), distances.get(peer))
             and distances[ours] != distances[peer]]
    for ours, peer in wrong:
        print(f"!! MISMATCH: {ours} gave {distances[ours]}, {peer} {distances[peer]}", flush=True)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
