# The front door. Every target runs inside the development environment that
# scripts/env provides (a CPython 3.14 with headers, provisioned when missing).
BUILD ?= build
PYTHON ?= python3.14
# The free-threaded interpreter (scripts/env exports it) and the module built for it.
FT_PYTHON ?= $(QUILLSTONE_FT_PYTHON)
FT_BUILD = $(BUILD)/ft
# The environment's pure-Python test tools import under the free-threaded
# interpreter; its compiled packages (numpy) do not, and their tests skip there.
# They come after the module's directory so the module is found first.
FT_PATH = $(FT_BUILD)/python:/usr/lib/python3/dist-packages
CMAKE_FLAGS ?=
BENCH_SECONDS ?= 0.2
BENCH_FLAGS ?=
# The debug interpreter and a debug build of the module for it: only a debug
# interpreter counts every reference, so the reference tests see a leak of any
# object there.
DEBUG_PYTHON ?= python3.14-dbg
DEBUG_BUILD = $(BUILD)/debug
# The sanitized build (AddressSanitizer and UndefinedBehaviorSanitizer, g++)
# and the libFuzzer targets (clang), each in its own directory.
ASAN_BUILD = $(BUILD)/asan
FUZZ_BUILD = $(BUILD)/fuzz
FUZZ_TARGETS := fuzz_levenshtein fuzz_damerau fuzz_jaro_winkler
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
FUZZ_MAX_LEN ?= 1024

TARGETS := build build-ft build-debug check test test-debug demo bench bench-core smoke sanitize \
  sanitize-core build-asan build-fuzz fuzz fuzz-smoke

# The spelling job spread over threads and processes (demo/spelling_scale.py).
TARGETS += demo-scale

.PHONY: $(TARGETS) configure clean

ifeq ($(QUILLSTONE_ENV),1)

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PYTHON) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

build-ft:
	@test -n "$(FT_PYTHON)" || { echo "make: no free-threaded CPython: scripts/env provides one, or set QUILLSTONE_FT_PYTHON" >&2; exit 1; }
	cmake -S . -B $(FT_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(FT_PYTHON) \
	  -DQUILLSTONE_TESTS=OFF -DQUILLSTONE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FT_BUILD)

# The quick loop: the core's tests and the Python suite on one interpreter.
check: build
	ctest --test-dir $(BUILD) --output-on-failure
	QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider python/tests

build-debug:
	cmake -S . -B $(DEBUG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPython_EXECUTABLE=$$(command -v $(DEBUG_PYTHON)) \
	  -DQUILLSTONE_TESTS=OFF -DQUILLSTONE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(DEBUG_BUILD)

# The reference and memory tests under the debug interpreter.
test-debug: build-debug
	PYTHONPATH=$(DEBUG_BUILD)/python $(DEBUG_PYTHON) -c 'import os, sys, quillstone; \
	  here = os.path.dirname(quillstone.__file__); \
	  sys.exit("$(DEBUG_PYTHON) does not count references" if not hasattr(sys, "gettotalrefcount") \
	    else "quillstone was imported from " + here if here != os.path.abspath("$(DEBUG_BUILD)/python") \
	    else None)'
	PYTHONPATH=$(DEBUG_BUILD)/python $(DEBUG_PYTHON) -m pytest -q -p no:cacheprovider python/tests/test_references.py

# Everything: what check runs, the free-threaded interpreter, the debug
# interpreter, the sanitizers, the fuzzers, the demo and the peer cross-check.
test: check build-ft test-debug sanitize fuzz-smoke
	env -u PYTHON_GIL PYTHONPATH=$(FT_PATH) $(FT_PYTHON) -c 'import os, sys, sysconfig, quillstone; \
	  here = os.path.dirname(quillstone.__file__); \
	  sys.exit("$(FT_PYTHON) is not a free-threaded build" if not sysconfig.get_config_var("Py_GIL_DISABLED") \
	    else "importing quillstone enabled the GIL" if sys._is_gil_enabled() \
	    else "quillstone was imported from " + here if here != os.path.abspath("$(FT_BUILD)/python") \
	    else None)'
	env -u PYTHON_GIL QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(FT_PATH) $(FT_PYTHON) -m pytest -q -p no:cacheprovider python/tests
	$(MAKE) --no-print-directory smoke BUILD=$(BUILD)

bench-core: build
	@test -x $(BUILD)/core/core_bench || { echo "make: core_bench was not built: install Google Benchmark" >&2; exit 1; }
	$(BUILD)/core/core_bench --benchmark_min_time=$(BENCH_SECONDS)s

# The workload matrix against the peers ($(BUILD)/bench/matrix.md), the peak
# memory of long texts and million-candidate batches ($(BUILD)/bench/memory.md)
# and the scaling with threads. BENCH_FLAGS=--quick shrinks the matrix.
bench: build build-ft
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/bench_peers.py --out $(BUILD)/bench $(BENCH_FLAGS)
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/bench_memory.py --out $(BUILD)/bench
	env -u PYTHON_GIL PYTHONPATH=$(FT_BUILD)/python $(FT_PYTHON) bench/bench_scaling.py

demo: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) demo/spelling.py

# The spelling job on one thread, a thread pool, Dask's threaded scheduler and
# a local cluster of worker processes: under the GIL, then free-threaded (where
# the cluster is skipped: distributed needs psutil, which is compiled for
# CPython 3.14 only). SCALE_ARGS go to both runs, such as
# SCALE_ARGS="--ways distributed --scheduler tcp://HOST:8786".
SCALE_ARGS ?=
demo-scale: build build-ft
	PYTHONPATH=$(BUILD)/python $(PYTHON) demo/spelling_scale.py $(SCALE_ARGS)
	env -u PYTHON_GIL PYTHONPATH=$(FT_PATH) $(FT_PYTHON) demo/spelling_scale.py $(SCALE_ARGS)

# A few seconds of the demo, the benchmark inputs' own tests, and every cell of
# the workload matrix on small inputs cross-checked against the peers and the
# reference, so that `make test` sees all of it work.
smoke: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) demo/spelling.py --sample 20
	PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider bench
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/bench_peers.py --check-only --out $(BUILD)/bench

build-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
	  -DPython_EXECUTABLE=$(PYTHON) -DQUILLSTONE_SANITIZE=ON -DQUILLSTONE_BENCH=OFF
	cmake --build $(ASAN_BUILD)

sanitize-core: build-asan
	ctest --test-dir $(ASAN_BUILD) --output-on-failure

# The interpreter is not built with the sanitizers: their runtimes are
# preloaded so that the sanitized module loads into it. PYTHONMALLOC=malloc
# puts Python objects on the checked heap; leak checking stays off for what
# the interpreter keeps until exit.
SANITIZED_PYTHON = LD_PRELOAD="$(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)" \
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 PYTHONMALLOC=malloc \
  QUILLSTONE_BUILD=$(ASAN_BUILD) PYTHONPATH=$(ASAN_BUILD)/python $(PYTHON)

sanitize: sanitize-core
	$(SANITIZED_PYTHON) -c 'import os, sys, quillstone; \
	  here = os.path.dirname(quillstone.__file__); \
	  sys.exit(None if here == os.path.abspath("$(ASAN_BUILD)/python") else "quillstone was imported from " + here)'
	$(SANITIZED_PYTHON) -m pytest -q -p no:cacheprovider python/tests

build-fuzz:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DQUILLSTONE_FUZZ=ON -DQUILLSTONE_TESTS=OFF -DQUILLSTONE_BENCH=OFF -DQUILLSTONE_PYTHON=OFF
	cmake --build $(FUZZ_BUILD)

# One fuzzer after the other, FUZZ_SECONDS each, from the committed seeds and
# what earlier runs found ($(FUZZ_BUILD)/corpus); a failing input is kept in
# $(FUZZ_BUILD)/crashes and replays with `<fuzzer> <file>`.
fuzz: build-fuzz
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/crashes; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/core/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=$(FUZZ_MAX_LEN) \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t core/fuzz/corpus/$$t; \
	done

# A short run of each fuzzer from the seeds alone; the log is shown on failure.
fuzz-smoke: build-fuzz
	@set -e; for t in $(FUZZ_TARGETS); do \
	  rm -rf $(FUZZ_BUILD)/smoke/$$t; mkdir -p $(FUZZ_BUILD)/smoke/$$t $(FUZZ_BUILD)/crashes; \
	  log=$(FUZZ_BUILD)/smoke/$$t.log; \
	  if $(FUZZ_BUILD)/core/fuzz/$$t -max_total_time=$(FUZZ_SMOKE_SECONDS) -max_len=$(FUZZ_MAX_LEN) \
	       -artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- $(FUZZ_BUILD)/smoke/$$t core/fuzz/corpus/$$t >$$log 2>&1; then \
	    echo "$$t: $$(grep -E '^Done [0-9]+ runs' $$log)"; \
	  else cat $$log; echo "$$t failed: see $$log" >&2; exit 1; fi; \
	done

else

$(TARGETS):
	scripts/env $(MAKE) --no-print-directory $@ BUILD=$(BUILD) $(MAKEOVERRIDES)

endif

clean:
	rm -rf $(BUILD)
