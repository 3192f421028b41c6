"""The spelling job past one thread and past one process.

The job of demo/spelling.py (every dictionary word scored against each of a
sample of codespell's misspellings with the three batch functions) is cut into
partitions of queries, one task each, and run:

- on one thread, one partition after the other: the reference;
- on a concurrent.futures thread pool;
- on Dask's threaded scheduler;
- on a Dask distributed cluster: by default a LocalCluster of worker
  processes on the loopback interface, started for the run and stopped at its
  end; with --scheduler, the running cluster at that address, which may span
  many machines (each needs quillstone installed; the job itself is sent).

quillstone creates no threads: the scaling comes from the callers. Its batch
calls detach from the interpreter, so threads overlap even under the GIL,
though only while a batch computes; on a free-threaded interpreter the whole
job runs in parallel.

Every way must return exactly what the reference returns: per query and
measure, the best score, the words that have it and a fingerprint of all the
query's scores. A difference is printed and the run exits with status 1. For
each way the run prints its throughput (candidates scored per second) and
its speed-up against the reference. Runs longer than a few seconds show
progress on standard error.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import contextlib
import functools
import os
import platform
import sys
import sysconfig
import time
from dataclasses import dataclass

import suggest
from suggest import data

try:
    from tqdm import tqdm
except ImportError:
    tqdm = None

# Progress appears only for runs that last longer than this (seconds).
PROGRESS_AFTER = 2.0
WAYS = ("threads", "dask", "distributed")


def partitions(queries: list[str], size: int) -> list[list[str]]:
    return [queries[i:i + size] for i in range(0, len(queries), size)]


@dataclass
class Run:
    results: list       # per partition, what suggest.suggest_partition returned
    seconds: float      # wall time of the job
    cpu: float          # CPU seconds that the job's threads or processes used
    workers: str        # what ran it
    overhead: float = 0.0  # seconds around the job: starting and stopping a cluster


def timed(way, *args) -> tuple[list, float, float]:
    """What way(*args) returns, with its wall and CPU seconds in this process."""
    wall, cpu = time.perf_counter(), time.process_time()
    results = way(*args)
    return results, time.perf_counter() - wall, time.process_time() - cpu


class _NoBar:
    def __enter__(self):
        return self

    def __exit__(self, *exc) -> None:
        pass

    def update(self, n: int = 1) -> None:
        pass


def progress(total: int, desc: str):
    """A bar over `total` partitions on a terminal (tqdm's own test), none
    without tqdm."""
    if tqdm is None:
        return _NoBar()
    return tqdm(total=total, desc=desc, unit="partition", delay=PROGRESS_AFTER,
                leave=False, file=sys.stderr, disable=None)


def one_thread(parts: list[list[str]], words: list[str]) -> list:
    out = []
    with progress(len(parts), "one thread") as bar:
        for part in parts:
            out.append(suggest.suggest_partition(part, words))
            bar.update()
    return out


def thread_pool(parts: list[list[str]], words: list[str], workers: int) -> list:
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool, \
            progress(len(parts), "thread pool") as bar:
        futures = [pool.submit(suggest.suggest_partition, part, words) for part in parts]
        for _ in concurrent.futures.as_completed(futures):
            bar.update()
        return [f.result() for f in futures]


def dask_threads(parts: list[list[str]], words: list[str], workers: int) -> list:
    import dask
    from dask.diagnostics import ProgressBar

    # The word list rides inside the task function, named rather than hashed:
    # as a node of the graph it would be walked item by item on every compute.
    job = dask.delayed(functools.partial(suggest.suggest_partition, words=words),
                       name="suggest_partition", pure=False)
    tasks = [job(part) for part in parts]
    bar = (ProgressBar(minimum=PROGRESS_AFTER, out=sys.stderr) if sys.stderr.isatty()
           else contextlib.nullcontext())
    with bar:
        return list(dask.compute(*tasks, scheduler="threads", num_workers=workers))


def run_one_thread(parts: list[list[str]], words: list[str]) -> Run:
    return Run(*timed(one_thread, parts, words), "1")


def run_thread_pool(parts: list[list[str]], words: list[str], workers: int) -> Run:
    return Run(*timed(thread_pool, parts, words, workers), f"{workers}t")


def run_dask_threads(parts: list[list[str]], words: list[str], workers: int) -> Run:
    import dask
    import dask.diagnostics  # noqa: F401

    # Dask's first compute imports and sets up more (about 0.2 CPU seconds
    # here): a tiny one before the clock starts.
    dask.compute(dask.delayed(len)(()), scheduler="threads")
    return Run(*timed(dask_threads, parts, words, workers), f"{workers}t")


def by_value(function):
    """A copy of `function` that pickles by value, with what it calls, so
    that a cluster's scheduler and workers need quillstone but not this demo.
    Dask pickles a task graph by name wherever plain pickle can; it turns to
    cloudpickle for a function that plain pickle cannot find by its name."""
    import cloudpickle

    module = sys.modules[function.__module__]
    cloudpickle.register_pickle_by_value(module)
    try:
        return cloudpickle.loads(cloudpickle.dumps(function))
    finally:
        cloudpickle.unregister_pickle_by_value(module)


@contextlib.contextmanager
def cluster_client(workers: int, address: str | None):
    """A client of the cluster at `address`, or of a local cluster of
    `workers` single-threaded worker processes, bound to the loopback
    interface and closed on leaving."""
    from distributed import Client, LocalCluster

    if address:
        with Client(address) as client:
            yield client
        return
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      host="127.0.0.1", dashboard_address=None) as cluster, \
            Client(cluster) as client:
        yield client


def run_distributed(parts: list[list[str]], words: list[str], workers: int,
                    address: str | None = None) -> Run:
    """The job on a cluster. Its time runs from the first task sent to the
    last result back; starting or reaching the cluster, sending it the word
    list and stopping or leaving it count as overhead."""
    from distributed import as_completed

    job = by_value(suggest.suggest_partition)
    start = time.perf_counter()
    with cluster_client(workers, address) as client:
        # Wrapped: a list given to scatter becomes one piece of data per item.
        [shared] = client.scatter([words], broadcast=True)
        # Every worker imports quillstone (unpickling the job) before the clock starts.
        client.run(job, [], [])
        cpu = client.run(time.process_time)
        wall = time.perf_counter()
        futures = [client.submit(job, part, shared, pure=False)
                   for part in parts]
        with progress(len(parts), "distributed") as bar:
            for _ in as_completed(futures):
                bar.update()
        results = client.gather(futures)
        seconds = time.perf_counter() - wall
        used = sum(client.run(time.process_time).values()) - sum(cpu.values())
    return Run(results, seconds, used, f"{len(cpu)}p",
               time.perf_counter() - start - seconds)


def flatten(results: list) -> list[tuple]:
    """Per query, in order: the query and its results per measure."""
    return [item for part in results for item in part]


def first_difference(got: list, expected: list) -> str:
    """Where `got` first differs from `expected`; empty where they are equal."""
    flat_got, flat_expected = flatten(got), flatten(expected)
    if len(flat_got) != len(flat_expected):
        return f"{len(flat_got)} queries answered, {len(flat_expected)} asked"
    for (query, ours), (asked, theirs) in zip(flat_got, flat_expected):
        if query != asked:
            return f"an answer for {query!r} where {asked!r} was asked"
        for (name, _, _), a, b in zip(suggest.METRICS, ours, theirs):
            if a != b:
                return f"{name}({query!r}): {a!r:.120} instead of {b!r:.120}"
    return ""


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sample", type=int, default=200, help="misspellings to look up")
    parser.add_argument("--seed", type=int, default=20240601, help="sampling seed")
    parser.add_argument("--partition", type=int, default=10, help="queries per task")
    cpus = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    parser.add_argument("--workers", type=int, default=cpus or 1,
                        help="threads, or worker processes, per way (default: the cpus)")
    parser.add_argument("--ways", default=",".join(WAYS),
                        help=f"which ways to run besides one thread (default {','.join(WAYS)})")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="run the distributed way on the cluster at this scheduler "
                             "address (such as tcp://10.0.0.5:8786) instead of a local one")
    args = parser.parse_args()
    ways = [w for w in args.ways.split(",") if w]
    unknown = sorted(set(ways) - set(WAYS))
    if unknown or args.partition < 1 or args.workers < 1:
        parser.error(f"unknown ways {unknown}" if unknown else "--partition and --workers "
                     "must be at least 1")

    started = time.perf_counter()
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    print(f"python {platform.python_version()} ({sys.executable}), free-threaded build: "
          f"{bool(sysconfig.get_config_var('Py_GIL_DISABLED'))}, GIL enabled: {gil}, "
          f"cpus: {cpus}")
    words = data.load_words()
    sample = suggest.load_sample(words, args.sample, args.seed)
    parts = partitions([e.wrong for e in sample], args.partition)
    candidates = len(sample) * len(suggest.METRICS) * len(words)
    print(f"{len(parts)} partitions of up to {args.partition} queries; "
          f"{args.workers} workers per way", flush=True)
    if gil:
        print("note: the GIL is enabled: threads overlap only while a batch call "
              "computes detached, not while the job picks the best words")

    # One untimed query first, so that the reference does not pay for the
    # first touch of the word list and the module.
    suggest.suggest(sample[0].wrong, words)

    print(f"\n{'way':<34}{'workers':>8}{'seconds':>9}{'M cand/s':>10}{'speed-up':>10}"
          f"{'cores':>7}{'cost':>6}  results")
    print("-" * 93)

    def row(title: str, run: Run, results: str) -> None:
        print(f"{title:<34}{run.workers:>8}{run.seconds:>9.2f}"
              f"{candidates / run.seconds / 1e6:>10.2f}{reference.seconds / run.seconds:>9.2f}x"
              f"{run.cpu / run.seconds:>7.2f}{run.cpu / reference.cpu:>6.2f}  {results}",
              flush=True)

    reference = run_one_thread(parts, words)
    row("one thread", reference, "reference")

    cluster = f"distributed at {args.scheduler}" if args.scheduler else "distributed LocalCluster"
    runs = {
        "threads": ("concurrent.futures thread pool",
                    lambda: run_thread_pool(parts, words, args.workers)),
        "dask": ("Dask threaded scheduler", lambda: run_dask_threads(parts, words, args.workers)),
        "distributed": (cluster, lambda: run_distributed(parts, words, args.workers,
                                                          args.scheduler)),
    }
    wrong, notes = [], []
    for way in ways:
        title, run = runs[way]
        try:
            got = run()
        except ImportError as exc:
            print(f"{title:<34}  skipped: cannot import {exc.name or 'it'} here ({exc})",
                  flush=True)
            continue
        difference = first_difference(got.results, reference.results)
        if difference:
            wrong.append(f"{title}: {difference}")
        row(title, got, "DIFFERENT" if difference else "identical")
        if got.overhead:
            notes.append(f"{title}: {got.overhead:.2f} s more, around the job, to start "
                         "or reach the cluster, send it the word list and stop or leave it")

    flat = flatten(reference.results)
    hits = ", ".join(
        f"{name} {sum(suggest.corrected(e, words, per[m][1]) for e, (_, per) in zip(sample, flat))}"
        f"/{len(sample)}" for m, (name, _, _) in enumerate(suggest.METRICS))
    print(f"\ncodespell's correction among the best words: {hits}")
    print("(M cand/s: millions of candidates scored per second, over all three measures;\n"
          " speed-up: against one thread; cores: CPU seconds of the threads or worker\n"
          " processes over wall seconds; cost: their CPU seconds against one thread's,\n"
          " above 1 where they slow each other down; t: threads, p: worker processes)")
    if reference.cpu < 0.9 * reference.seconds:
        notes.append(f"one thread got only {reference.cpu / reference.seconds:.2f} of a core: "
                     "the machine is busy, and the speed-ups show how much more CPU the "
                     "other ways got, not what they could do")
    for note in notes:
        print(f"note: {note}")
    for line in wrong:
        print(f"!! {line}")
    print(f"finished in {time.perf_counter() - started:.1f} s")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
