"""Shared fixtures: the plain dynamic-programming references the module is
checked against, and the module's PanicException class."""

import types

import pytest

import quillstone


def levenshtein(a: str, b: str) -> int:
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (ca != cb))
    return row[-1]


def osa(a: str, b: str) -> int:
    """Optimal string alignment: Levenshtein plus adjacent transpositions."""
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        d[i][0] = i
    for j in range(len(b) + 1):
        d[0][j] = j
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            cost = a[i - 1] != b[j - 1]
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost)
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + 1)
    return d[-1][-1]


def jaro_winkler(a: str, b: str, p: float = 0.1) -> float:
    """The textbook matching loops, with the float operations in a fixed order
    so that the result is bit for bit the one the module must return."""
    n1, n2 = len(a), len(b)
    if n1 == 0:
        return 1.0 if n2 == 0 else 0.0
    if n2 == 0:
        return 0.0
    w = max(n1, n2) // 2
    w = w - 1 if w else 0
    used1, used2 = [False] * n1, [False] * n2
    m = 0
    for i in range(n1):
        for j in range(max(0, i - w), min(n2, i + w + 1)):
            if not used2[j] and a[i] == b[j]:
                used1[i] = used2[j] = True
                m += 1
                break
    if m == 0:
        return 0.0
    t = sum(x != y for x, y in zip(
        (c for c, u in zip(a, used1) if u), (c for c, u in zip(b, used2) if u)))
    jaro = ((m / n2 + m / n1) + (m - t // 2) / m) / 3.0
    prefix = 0
    for x, y in zip(a[:4], b[:4]):
        if x != y:
            break
        prefix += 1
    if jaro > 0.7:
        return jaro + (1.0 - jaro) * (p * prefix)
    return jaro


class Raises:
    """Raises its exception from every hook the module may call: __index__,
    __float__, and __getitem__ of a one-item sequence."""

    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc

    def __float__(self):
        raise self.exc

    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise self.exc


def numpy_bool(exc):
    """Named like numpy's boolean scalar, so its truth slot is called."""
    def truth(self):
        raise exc
    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


@pytest.fixture(scope="session")
def reference():
    return types.SimpleNamespace(levenshtein=levenshtein, osa=osa, jaro_winkler=jaro_winkler)


class ClaimsLength:
    """A sequence whose len() says one thing while iteration yields `items`."""

    def __init__(self, items, length):
        self.items, self.length = list(items), length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return self.items[index]


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException class, which the module does not export: a sequence
    claiming more candidates than the module can hold provokes one."""
    try:
        quillstone._ingest_borrow(ClaimsLength([], 178956971))
    except BaseException as exc:  # noqa: BLE001 - that is the point
        return type(exc)
    pytest.fail("a length above 178956970 did not raise")


@pytest.fixture(scope="session")
def claims_length():
    return ClaimsLength
