"""The spelling demo's job spread over threads and processes: a tiny run on
a thread pool, on Dask's threaded scheduler and on a two-worker local cluster
must return exactly what one thread returns."""

import multiprocessing
import os
import pickle
import random
import subprocess
import sys
from pathlib import Path

import pytest

import quillstone

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "demo"))

import spelling_scale  # noqa: E402
import suggest  # noqa: E402

DETACH_AT = 10000  # batches this long run detached, so threads really overlap


def words_and_queries():
    """Candidates on every path (ASCII, Latin-1, above U+00FF, astral, mixed
    case, longer than one 64-bit word) and queries that tie and that miss."""
    rng = random.Random(15)
    alphabets = ["abcdefghij", "aeiouäöüßé", "αβγδεςσΣ", "日本語中文", "🙂x🙃", "AbCdEfG"]
    words = []
    while len(words) < DETACH_AT + 500:
        alphabet = rng.choice(alphabets)
        size = rng.choice([0, 1, 3, 5, 8, 12, 70])
        words.append("".join(rng.choice(alphabet) for _ in range(size)))
    queries = ["", "abc", "ABCDE", "äöüß", "ΣΑΣ", "日本", "🙂🙂x", "j" * 70, words[17]]
    return words, queries


@pytest.fixture(scope="module")
def job():
    words, queries = words_and_queries()
    parts = spelling_scale.partitions(queries, 2)
    return parts, words, spelling_scale.run_one_thread(parts, words).results


def test_partitions_cover_every_query_once_in_order():
    queries = [str(i) for i in range(23)]
    for size in (1, 4, 23, 50):
        parts = spelling_scale.partitions(queries, size)
        assert [q for part in parts for q in part] == queries
        assert all(1 <= len(part) <= size for part in parts)


@pytest.mark.parametrize("distance", [True, False])
def test_best_of_finds_every_tied_best(distance):
    rng = random.Random(distance)
    for _ in range(200):
        scores = [rng.randrange(4) for _ in range(rng.randrange(1, 30))]
        best = min(scores) if distance else max(scores)
        assert suggest.best_of(scores, distance) == (
            best, tuple(j for j, s in enumerate(scores) if s == best))


def test_a_different_score_is_reported(job):
    reference = job[2]
    assert spelling_scale.first_difference(reference, reference) == ""
    # Change one fingerprint: the comparison must see past the best words.
    query, per = reference[1][0]
    changed = [list(part) for part in reference]
    changed[1][0] = (query, per[:2] + ((per[2][0], per[2][1], per[2][2] + 1),))
    assert repr(query) in spelling_scale.first_difference(changed, reference)
    assert spelling_scale.first_difference(reference[:1], reference)
    swapped = [list(reversed(part)) for part in reference]
    assert "was asked" in spelling_scale.first_difference(swapped, reference)


def test_the_job_runs_where_the_demo_is_not(tmp_path):
    cloudpickle = pytest.importorskip("cloudpickle")
    job = spelling_scale.by_value(suggest.suggest_partition)
    # Dask uses cloudpickle only where plain pickle fails.
    with pytest.raises(pickle.PicklingError):
        pickle.dumps(job)
    words, queries = words_and_queries()
    args = (queries[:4], words)
    code = ("import cloudpickle, importlib.util, pickle, sys\n"
            "assert importlib.util.find_spec('suggest') is None, 'the demo is on the path'\n"
            "job, args = cloudpickle.loads(sys.stdin.buffer.read())\n"
            "sys.stdout.buffer.write(pickle.dumps(job(*args)))\n")
    path = [os.path.dirname(quillstone.__file__), str(Path(cloudpickle.__file__).parent.parent)]
    done = subprocess.run([sys.executable, "-c", code], input=cloudpickle.dumps((job, args)),
                          capture_output=True, cwd=tmp_path, timeout=120,
                          env={**os.environ, "PYTHONPATH": os.pathsep.join(path)})
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    assert pickle.loads(done.stdout) == suggest.suggest_partition(*args)


def thread_ways():
    yield spelling_scale.run_thread_pool
    try:
        import dask  # noqa: F401
    except ImportError as exc:
        yield pytest.param(None, marks=pytest.mark.skip(reason=f"dask does not import here: {exc}"))
    else:
        yield spelling_scale.run_dask_threads


@pytest.mark.parametrize("run", list(thread_ways()))
def test_threads_match_one_thread(job, run):
    parts, words, reference = job
    got = run(parts, words, 3)
    assert got.results == reference
    assert got.workers == "3t"


def test_local_cluster_matches_one_thread_and_stops(job):
    try:
        import distributed  # noqa: F401
    except ImportError as exc:
        # Under the free-threaded interpreter: psutil, which distributed
        # needs, is a compiled package built for CPython 3.14 only.
        pytest.skip(f"distributed does not import here: {exc}")
    parts, words, reference = job
    before = set(multiprocessing.active_children())
    got = spelling_scale.run_distributed(parts, words, 2)
    # The fingerprints came back from other processes: the results compare
    # across processes, and the cluster's processes are gone.
    assert got.results == reference
    assert got.workers == "2p"
    assert set(multiprocessing.active_children()) <= before
