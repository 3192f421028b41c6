"""String similarity and edit distances over Unicode text."""

from collections.abc import Sequence

__all__ = [
    "levenshtein_bp",
    "damerau_bp",
    "jaro_winkler_similarity",
    "levenshtein_batch",
    "damerau_batch",
    "jaro_winkler_batch",
    "_ingest_owned",
    "_ingest_borrow",
    "_ingest_borrow_and_deref",
]

def levenshtein_bp(
    str_1: str,
    str_2: str,
    max_len: int | None = None,
    case_insensitive: bool | None = None,
    score_cutoff: int | None = None,
) -> int: ...
def damerau_bp(
    str_1: str,
    str_2: str,
    max_len: int | None = None,
    case_insensitive: bool | None = None,
    score_cutoff: int | None = None,
) -> int: ...
def jaro_winkler_similarity(
    str_1: str,
    str_2: str,
    p: float | None = None,
    max_len: int | None = None,
    case_insensitive: bool | None = None,
    score_cutoff: float | None = None,
) -> float: ...
def levenshtein_batch(
    query: str, candidates: Sequence[str], case_insensitive: bool | None = None
) -> list[int]: ...
def damerau_batch(
    query: str, candidates: Sequence[str], case_insensitive: bool | None = None
) -> list[int]: ...
def jaro_winkler_batch(
    query: str,
    candidates: Sequence[str],
    p: float | None = None,
    case_insensitive: bool | None = None,
) -> list[float]: ...
def _ingest_owned(candidates: Sequence[str]) -> int: ...
def _ingest_borrow(candidates: Sequence[str]) -> int: ...
def _ingest_borrow_and_deref(candidates: Sequence[str]) -> int: ...
