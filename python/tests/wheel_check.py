"""The check `make wheel-check` runs in a fresh virtual environment, away from
the checkout, after installing one wheel there: the module comes from the
environment, loads, keeps the GIL disabled on a free-threaded interpreter,
carries its metadata and stub, gives known answers and errors, and a C++
exception thrown inside it still reaches its handler (the wheel carries its
own C++ runtime and unwinder, linked against an older glibc)."""

import importlib.metadata
import os
import signal
import subprocess
import sys
import sysconfig

import quillstone as q


def error(call):
    try:
        call()
    except ValueError as exc:
        return exc.args
    return None


# A batch whose candidate holders cannot be allocated, under an
# address-space limit set once the candidates exist (a sequence that is
# neither a list nor a tuple, whose items the module holds one by one): the
# allocation throws, the entry point catches it and ends the process with
# its own message. Were the unwinder unable to find the module's frames, the
# process would end in std::terminate instead, without that message.
OUT_OF_MEMORY = """
import collections, resource, quillstone
resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
words = collections.UserList(["a"] * 50_000_000)
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (size + (64 << 20), resource.RLIM_INFINITY))
quillstone.levenshtein_batch("a", words)
"""


def out_of_memory():
    run = subprocess.run([sys.executable, "-I", "-c", OUT_OF_MEMORY], capture_output=True, text=True)
    return run.returncode, run.stderr.strip()


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
    "allocation failure caught": (out_of_memory(), (-signal.SIGABRT, "quillstone: memory allocation failed: out of memory")),
}
failed = [name for name, (got, want) in CHECKS.items() if got != want]
for name in failed:
    print("wheel-check: %s: got %r, want %r" % (name, *CHECKS[name]), file=sys.stderr)
print("wheel-check (%s): %d passed, %d failed" % (
    sys.implementation.cache_tag + ("t" if free_threaded else ""), len(CHECKS) - len(failed), len(failed)))
sys.exit(1 if failed else 0)
