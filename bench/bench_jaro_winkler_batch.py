"""jaro_winkler_batch against RapidFuzz's cdist, and the peak memory of a batch.

Each cell times one query against a list of candidates, quillstone's
`jaro_winkler_batch` and RapidFuzz's `process.cdist(..., scorer=
JaroWinkler.similarity, workers=1, dtype=float64)`, in one process, best of
several rounds (wall clock, or with --cpu the calling thread's CPU time),
and prints the ratio of the two times (below 1: quillstone is
faster) and their geometric mean. The scores are compared first (RapidFuzz
computes the same definition), and a mismatch exits with status 1.

`--memory` measures instead, each in a fresh child process, how much the peak
resident size grows during one call over a list of 1,000,000 distinct
100-character strs, for `levenshtein_batch`, `jaro_winkler_batch` and cdist.
"""

from __future__ import annotations

import argparse
import gc
import math
import random
import subprocess
import sys
import time
from pathlib import Path

DICTS = {
    "english": Path("/usr/share/dict/american-english"),
    "german": Path("/usr/share/dict/ngerman"),
    "ukrainian": Path("/usr/share/dict/ukrainian"),
}


def words_of(name: str, size: int | None = None, seed: int = 1) -> list[str]:
    with open(DICTS[name], encoding="utf-8") as f:
        words = [w for w in f.read().splitlines() if w]
    if size is not None and size < len(words):
        words = random.Random(seed).sample(words, size)
    return words


def sentences(words: list[str], count: int, seed: int) -> list[str]:
    rng = random.Random(seed)
    return [" ".join(rng.choice(words) for _ in range(rng.randint(6, 16))) for _ in range(count)]


def cells() -> list[tuple[str, str, list[str]]]:
    english = words_of("english")
    german = words_of("german", 150_000)
    ukrainian = words_of("ukrainian", 150_000)
    rng = random.Random(7)
    long_query = " ".join(rng.choice(english) for _ in range(40))[:150]
    sents = sentences(english, 20_001, 11)
    return [
        ("English word / English dictionary", "intention", english),
        ("German word / 150,000 German words", "Straßenbahn", german),
        ("Ukrainian word / 150,000 Ukrainian words", "незалежність", ukrainian),
        ("150-character query / 50,000 English words", long_query, english[:50_000]),
        ("sentence / 20,000 sentences", sents[0], sents[1:]),
    ]


def best_of(fn, rounds: int, clock) -> float:
    best = math.inf
    gc.disable()
    try:
        for _ in range(rounds):
            start = clock()
            fn()
            best = min(best, clock() - start)
    finally:
        gc.enable()
    return best


def speed(rounds: int, clock) -> int:
    import numpy as np
    from rapidfuzz import process
    from rapidfuzz.distance import JaroWinkler

    import quillstone

    ratios = []
    print(f"{'cell':<46} {'quillstone':>11} {'cdist':>11} {'ratio':>7}")
    for name, query, candidates in cells():
        ours = quillstone.jaro_winkler_batch(query, candidates)
        theirs = process.cdist([query], candidates, scorer=JaroWinkler.similarity, workers=1,
                               dtype=np.float64)[0]
        bad = [i for i, (a, b) in enumerate(zip(ours, theirs)) if abs(a - b) > 1e-12]
        if bad:
            i = bad[0]
            print(f"error: {name}: {candidates[i]!r} scores {ours[i]} here, {theirs[i]} in cdist",
                  file=sys.stderr)
            return 1
        t_ours = best_of(lambda: quillstone.jaro_winkler_batch(query, candidates), rounds, clock)
        t_theirs = best_of(lambda: process.cdist([query], candidates, scorer=JaroWinkler.similarity,
                                                 workers=1, dtype=np.float64), rounds, clock)
        ratios.append(t_ours / t_theirs)
        print(f"{name:<46} {t_ours * 1e3:>8.2f} ms {t_theirs * 1e3:>8.2f} ms {ratios[-1]:>6.2f}x",
              flush=True)
    geomean = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
    print(f"{'geometric mean':<46} {'':>11} {'':>11} {geomean:>6.2f}x")
    return 0


CHILD = r"""
import random, sys
def field(name):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(name):
                return int(line.split()[1])
rng = random.Random(3)
letters = "abcdefghijklmnopqrstuvwxyz"
candidates = ["".join(rng.choices(letters, k=100)) for _ in range(1_000_000)]
which = sys.argv[1]
if which == "cdist":
    import numpy as np
    from rapidfuzz import process
    from rapidfuzz.distance import JaroWinkler
    call = lambda: process.cdist(["intention"], candidates, scorer=JaroWinkler.similarity,
                                 workers=1, dtype=np.float64)
else:
    import quillstone
    fn = getattr(quillstone, which)
    call = lambda: fn("intention", candidates)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the peak starts again from the current size
before = field("VmRSS:")
result = call()
print(field("VmHWM:") - before)
"""


def memory() -> int:
    print("peak resident growth during one call over 1,000,000 distinct 100-character strs")
    for which in ("levenshtein_batch", "jaro_winkler_batch", "cdist"):
        out = subprocess.run([sys.executable, "-c", CHILD, which], capture_output=True, text=True,
                             check=True)
        print(f"{which:<20} {int(out.stdout) / 1024:>8.1f} MiB", flush=True)
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--memory", action="store_true", help="measure peak memory instead")
    parser.add_argument("--cpu", action="store_true",
                        help="time the calling thread's CPU time, not the wall clock: steadier "
                             "on a busy machine (both calls compute on the calling thread)")
    args = parser.parse_args()
    if args.memory:
        return memory()
    return speed(args.rounds, time.thread_time if args.cpu else time.perf_counter)


if __name__ == "__main__":
    sys.exit(main())
