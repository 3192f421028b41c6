"""How quillstone's batch calls scale with threads on a free-threaded CPython.

Each thread runs its own batch call of one query against Debian's dictionary,
repeated, all threads on one shared collection of candidates: a list, then a
tuple (a list's items each take a reference per call, and threads that take
them on the same objects contend for them; a tuple is held by one). The
threads are released together by a barrier and the wall time
runs until the last one finishes. Throughput is candidates scored per second
over all threads, reported as a ratio to one thread. Each figure is the best
of several rounds, taken with the garbage collector off; the rounds of the
thread counts alternate, so that a busy spell of the machine falls on all of
them alike rather than on one count's baseline. Beside each ratio,
the CPU time the threads used divided by the wall time shows how many cores
they really had, and the CPU time per call against one thread shows whether
the threads slowed each other down. A low ratio with few cores in use means
the threads waited (for each other, or for a busy machine); a cost well above
1 means contention between them.

Every thread's results are checked against a single-threaded call first: a
speed-up of wrong answers is worth nothing, and a mismatch exits with status 1.
On an interpreter with the GIL the figures are still printed, but they only
show the GIL: the script says so.
"""

from __future__ import annotations

import argparse
import gc
import os
import platform
import sys
import sysconfig
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import data  # noqa: E402

import quillstone  # noqa: E402

FUNCTIONS = ("levenshtein_batch", "damerau_batch", "jaro_winkler_batch")
TARGET_TWO_THREADS = 1.8


def run_threads(fn, query, candidates, threads: int, calls: int,
                expected) -> tuple[float, float]:
    """Wall seconds for `threads` threads each making `calls` calls, and the
    CPU seconds they used together."""
    barrier = threading.Barrier(threads + 1)  # start together
    done = threading.Barrier(threads + 1)     # stop the clock when the last ends
    wrong: list[int] = []
    failures: list[BaseException] = []
    cpu: list[float] = []

    def worker(i: int) -> None:
        try:
            barrier.wait()
            start = time.thread_time()
            for _ in range(calls):
                result = fn(query, candidates)
            cpu.append(time.thread_time() - start)
            if result != expected:
                wrong.append(i)
        except BaseException as exc:
            failures.append(exc)
        finally:
            done.wait()

    pool = [threading.Thread(target=worker, args=(i,)) for i in range(threads)]
    for t in pool:
        t.start()
    barrier.wait()
    start = time.perf_counter()
    done.wait()
    elapsed = time.perf_counter() - start
    for t in pool:
        t.join()
    if failures:
        raise failures[0]
    if wrong:
        print(f"error: {fn.__name__} gave a different result on thread(s) {wrong}",
              file=sys.stderr)
        sys.exit(1)
    return elapsed, sum(cpu)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", default="1,2,4", help="thread counts (default 1,2,4)")
    parser.add_argument("--query", default="intention")
    parser.add_argument("--seconds", type=float, default=0.4,
                        help="aim for about this much work per thread per round")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    counts = sorted({int(c) for c in args.threads.split(",")})
    if 1 not in counts:
        counts.insert(0, 1)

    words = data.load_words()
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    print(f"python {platform.python_version()} ({sys.executable}), "
          f"free-threaded build: {free_threaded}, GIL enabled: {gil}, cpus: {cpus}")
    print(f"query {args.query!r} against {len(words)} words of {data.WORDS_PATH}, "
          f"best of {args.rounds} rounds")
    if gil:
        print("note: the GIL is enabled, so threads cannot run Python code in parallel")

    others = [n for n in counts if n != 1]
    print()
    print(f"{'':<28} {'1 thread':>10}" + "".join(f"   {f'{n} threads':^20}" for n in others))
    header = f"{'function, candidates':<28} {'cand/s':>10}" + "".join(
        f"   {'ratio':>6} {'cores':>6} {'cost':>6}" for _ in others)
    print(header)
    print("-" * len(header))
    below, starved = [], False
    for name, kind in [(name, kind) for name in FUNCTIONS for kind in ("list", "tuple")]:
        fn = getattr(quillstone, name)
        candidates = words if kind == "list" else tuple(words)
        expected = fn(args.query, candidates)
        start = time.perf_counter()
        fn(args.query, candidates)
        calls = max(1, round(args.seconds / (time.perf_counter() - start)))
        rate, cores, cost = {}, {}, {}
        runs: dict[int, list[tuple[float, float]]] = {n: [] for n in counts}
        gc.disable()
        try:
            for _ in range(args.rounds):
                for n in counts:
                    runs[n].append(run_threads(fn, args.query, candidates, n, calls, expected))
            for n, rounds in runs.items():
                wall, cpu = min(rounds)
                rate[n] = n * calls * len(candidates) / wall
                cores[n] = cpu / wall
                cost[n] = min(c for _, c in rounds) / (n * calls)
                starved |= cores[n] < 0.9 * min(n, cpus)
        finally:
            gc.enable()
        row = f"{name + ', ' + kind:<28} {rate[1] / 1e6:>8.2f} M"
        row += "".join(f"   {rate[n] / rate[1]:>5.2f}x {cores[n]:>6.2f} {cost[n] / cost[1]:>6.2f}"
                       for n in others)
        print(row, flush=True)
        if 2 in rate and rate[2] / rate[1] < TARGET_TWO_THREADS:
            below.append(f"{name} on a {kind} {rate[2] / rate[1]:.2f}x")
    print()
    print("ratio: throughput against 1 thread; cores: CPU time of the threads over wall time;")
    print("cost: CPU time per call against 1 thread (above 1: the threads slow each other down)")
    if starved:
        print("note: the threads got fewer cores than they could use: the machine is busy,")
        print("      and the ratios understate the scaling")
    if 2 in counts:
        if below:
            print(f"below the target of {TARGET_TWO_THREADS}x for 2 threads: "
                  + ", ".join(below))
        else:
            print(f"2 threads reach the target of {TARGET_TWO_THREADS}x for every function")
    return 0


if __name__ == "__main__":
    sys.exit(main())
