"""The check `make wheel-check` runs in a fresh virtual environment, away from
the checkout, after installing one wheel there: the module comes from the
environment, loads, keeps the GIL disabled on a free-threaded interpreter,
carries its metadata and stub, and gives known answers and errors."""

import importlib.metadata
import os
import sys
import sysconfig

import quillstone as q


def error(call):
    try:
        call()
    except ValueError as exc:
        return exc.args
    return None


site = sysconfig.get_paths()["platlib"]
meta = importlib.metadata.metadata("quillstone")
free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
CHECKS = {
    "in a virtual environment": (sys.prefix != sys.base_prefix, True),
    "imported from it": (os.path.dirname(q.__file__), site),
    "stub beside it": (os.path.exists(os.path.join(site, "quillstone.pyi")), True),
    "GIL stays disabled": (free_threaded and sys._is_gil_enabled(), False),
    "version": (meta["Version"], "0.1.0"),
    "free-threading classifier": (
        any(c.startswith("Programming Language :: Python :: Free Threading")
            for c in meta.get_all("Classifier")), True),
    "levenshtein_bp": (q.levenshtein_bp("kitten", "sitting"), 3),
    "damerau_bp": (q.damerau_bp("abc", "acb"), 1),
    "jaro_winkler_similarity": (q.jaro_winkler_similarity("MARTHA", "MARHTA"), 0.9611111111111111),
    "levenshtein_batch": (q.levenshtein_batch("Kitten", ["sitting", "KITTEN", ""], case_insensitive=True), [3, 0, 6]),
    "damerau_batch": (q.damerau_batch("abc", ["acb", "abc", "", "xyzw"]), [1, 0, 3, 4]),
    "jaro_winkler_batch": (q.jaro_winkler_batch("MARTHA", ["MARHTA", ""]), [0.9611111111111111, 0.0]),
    "_ingest_owned": (q._ingest_owned(["日本", "ab"]), 2),
    "max_len error": (error(lambda: q.levenshtein_bp("abc", "a", max_len=2)),
                      ('InputTooLong { which: "str_1", len: 3, limit: 2 }',)),
}
failed = [name for name, (got, want) in CHECKS.items() if got != want]
for name in failed:
    print("wheel-check: %s: got %r, want %r" % (name, *CHECKS[name]), file=sys.stderr)
print("wheel-check (%s): %d passed, %d failed" % (
    sys.implementation.cache_tag + ("t" if free_threaded else ""), len(CHECKS) - len(failed), len(failed)))
sys.exit(1 if failed else 0)
