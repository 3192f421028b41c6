"""The demo's picking of the best candidates (suggest.ranked) against a plain
stable sort, on random scores full of ties."""

import random

import pytest

import suggest


def reference(scores, k, distance):
    order = sorted(range(len(scores)), key=lambda j: scores[j] if distance else -scores[j])
    return [(j, scores[j]) for j in order[:k]]


@pytest.mark.parametrize("distance", [True, False])
def test_ranked_is_a_stable_sort_cut_short(distance):
    rng = random.Random(20240601)
    for _ in range(2000):
        n = rng.randrange(0, 40)
        if distance:
            scores = [rng.randrange(0, rng.randrange(1, 6)) for _ in range(n)]
        else:
            scores = [rng.choice((0.0, 0.5, 0.8125, 0.9, 1.0)) for _ in range(n)]
        k = rng.randrange(1, 8)
        assert suggest.ranked(scores, k, distance) == reference(scores, k, distance), (scores, k)
