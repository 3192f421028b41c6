"""The demos' main job: spelling suggestions for real misspellings.

Each misspelling is scored against every dictionary word with each of the
three batch functions, case-insensitively; the best-scored words are its
suggestions. Both demos use what is here: demo/spelling.py times it against
RapidFuzz, demo/spelling_scale.py spreads it over threads and processes.

Nothing here needs numpy, so the job also runs on interpreters that have no
compiled packages but quillstone. The functions that a worker runs
(`suggest_partition` and what it calls) use only quillstone and the builtins,
so that a cluster can receive them by value.
"""

from __future__ import annotations

import heapq
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "bench"))

import data  # noqa: E402

try:
    import quillstone
except ImportError as exc:  # the demos are about quillstone: nothing to do without it
    sys.exit(f"{Path(sys.argv[0]).name}: cannot import quillstone ({exc}); "
             "build it first (make build) and put its directory on PYTHONPATH")

# (name, batch function, lower is better): distances are minimised,
# similarities maximised.
METRICS = (
    ("Levenshtein", quillstone.levenshtein_batch, True),
    ("OSA", quillstone.damerau_batch, True),
    ("Jaro-Winkler", quillstone.jaro_winkler_batch, False),
)


def best_of(scores: list, distance: bool) -> tuple[object, tuple[int, ...]]:
    """The best score and the positions of every candidate that has it."""
    best = min(scores) if distance else max(scores)
    # list.index scans in C: cheaper than a comprehension over every score,
    # and the run holds the interpreter for less of each query.
    found, at = [], -1
    for _ in range(scores.count(best)):
        at = scores.index(best, at + 1)
        found.append(at)
    return best, tuple(found)


def ranked(scores: list, k: int, distance: bool) -> list[tuple[int, object]]:
    """The k best candidates as (position, score), best first and ties in
    list order: what a stable sort by score would put first."""
    # heapq finds the k best scores in one pass (for k = 1 it is min or max);
    # each list.index then scans in C for the first positions that hold them.
    values = heapq.nsmallest(k, scores) if distance else heapq.nlargest(k, scores)
    out = []
    for value in dict.fromkeys(values):
        at = -1
        for _ in range(values.count(value)):
            at = scores.index(value, at + 1)
            out.append((at, value))
    return out


def suggest(query: str, words: list[str]) -> tuple:
    """Per measure: the best score, the positions of the words that have it,
    and a fingerprint of all the query's scores. Hashes of ints and floats do
    not depend on the process (no hash seed applies to them), so fingerprints
    from different processes compare."""
    out = []
    for _, batch, distance in METRICS:
        scores = batch(query, words, case_insensitive=True)
        if len(scores) != len(words):
            raise RuntimeError(f"{batch.__name__}({query!r}) gave {len(scores)} "
                               f"scores for {len(words)} words")
        best, found = best_of(scores, distance)
        out.append((best, found, hash(tuple(scores))))
    return tuple(out)


def suggest_partition(queries: list[str], words: list[str]) -> list[tuple]:
    """The job for one partition of the queries, in their order."""
    return [(query, suggest(query, words)) for query in queries]


def corrected(entry: data.Misspelling, words: list[str], found: tuple[int, ...]) -> bool:
    """Whether codespell's correction is among the suggested words."""
    best_lower = {words[j].lower() for j in found}
    return any(c.lower() in best_lower for c in entry.corrections)


def load_sample(words: list[str], size: int, seed: int) -> list[data.Misspelling]:
    """A fixed-seed sample of codespell's misspellings to look up in `words`;
    prints what the run works on."""
    entries = data.load_codespell()
    sample, eligible = data.spelling_sample(entries, words, size, seed)
    print(f"dictionary: {len(words)} words ({data.WORDS_PATH})")
    print(f"misspellings: {len(entries)} codespell entries ({data.codespell_path()}), "
          f"{eligible} single words whose correction is in the dictionary; "
          f"sample of {len(sample)} (seed {seed})")
    print(f"each query is scored against all {len(words)} words, case-insensitively", flush=True)
    return sample
