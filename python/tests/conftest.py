"""Fixtures over the shared test kit (support.py): the plain references the
module is checked against, and the module's PanicException class."""

import types

import pytest

import support


@pytest.fixture(scope="session")
def reference():
    return types.SimpleNamespace(levenshtein=support.levenshtein, osa=support.osa,
                                 jaro_winkler=support.jaro_winkler)


@pytest.fixture(scope="session")
def panic_exception():
    return support.panic_class()
