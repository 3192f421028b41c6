"""The ingest probes' results. The candidate rules they share with the batch
functions are tested in test_batch.py."""

import pytest

import quillstone as q
from support import MyStr


@pytest.mark.parametrize("candidates, count, utf8_bytes", [
    ([], 0, 0),
    ((), 0, 0),
    (["a", "bc", ""], 3, 3),
    (("a", "bc", ""), 3, 3),
    (["é", "日本"], 2, 8),  # UTF-8 bytes, not characters
    (["😀", "", "\x00"], 3, 5),
    ([MyStr("abc"), "abc"], 2, 6),
    (["x"] * 10001, 10001, 10001),
    (["ab" * 1000] * 3, 3, 6000),
])
def test_probe_results(candidates, count, utf8_bytes):
    assert q._ingest_owned(candidates) == count
    assert q._ingest_borrow(candidates) == count
    assert q._ingest_borrow_and_deref(candidates) == utf8_bytes
    assert type(q._ingest_owned(candidates)) is int

