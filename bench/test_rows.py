"""Rows compared with each other are timed together, and every row once."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bench_peers import Work, compared_groups  # noqa: E402


def rows(*names_and_bases):
    return [Work("batch", name, same_as=base) for name, base in names_and_bases]


@pytest.mark.parametrize("works, expected", [
    (rows(("a", ""), ("b", "a"), ("c", ""), ("d", "a")), [["a", "b", "d"], ["c"]]),
    # a row whose base is not run stands alone
    (rows(("b", "a"), ("c", "")), [["b"], ["c"]]),
    (rows(("c", ""), ("b", "c"), ("a", "")), [["c", "b"], ["a"]]),
    ([], []),
])
def test_compared_rows_form_one_group(works, expected):
    groups = compared_groups(works)
    assert [[w.name for w in group] for group in groups] == expected
    assert sorted(w.name for group in groups for w in group) == sorted(w.name for w in works)
