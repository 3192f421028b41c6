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
# The module built with ThreadSanitizer for the interpreter built with it
# (scripts/env exports it), the suites run under it, and the reports allowed.
TSAN_PYTHON ?= $(QUILLSTONE_TSAN_PYTHON)
TSAN_BUILD = $(BUILD)/tsan
TSAN_TESTS ?= python/tests/test_threads.py python/tests/test_batch.py python/tests/test_ingest.py \
  python/tests/test_hostile.py python/tests/test_module.py
TSAN_SUPPRESSIONS = $(CURDIR)/python/tests/tsan.supp
PARALLEL_THREADS ?= 4
# The 32-bit x86 builds, made inside the i386 environment (scripts/env --i386).
I386_BUILD = $(BUILD)/i386
# Wheels: as built, repaired by auditwheel, and the virtual environments that
# check them; x86-64 wheels for CPython 3.14 and the free-threaded interpreter,
# an i686 one for CPython 3.14 from the i386 environment. They are linked
# against an older glibc (scripts/env provides bullseye's) with the C++ runtime
# inside, and may need no glibc symbol version above WHEEL_GLIBC.
ifeq ($(QUILLSTONE_ARCH),i386)
WHEEL_DIR = $(I386_BUILD)/wheels
WHEEL_PYTHONS = $(PYTHON)
else
WHEEL_DIR = $(BUILD)/wheels
WHEEL_PYTHONS = $(PYTHON) $(FT_PYTHON)
endif
GLIBC_ROOT ?= $(QUILLSTONE_GLIBC_ROOT)
WHEEL_GLIBC ?= 2.28

TARGETS := build build-ft build-debug check test test-debug demo bench bench-core smoke sanitize \
  sanitize-core build-asan build-fuzz fuzz fuzz-smoke

# The spelling job spread over threads and processes (demo/spelling_scale.py).
TARGETS += demo-scale
TARGETS += build-tsan tsan test-parallel wheel wheel-check sanitize-each
# Run from outside the environment: they enter both the x86-64 and the i386 one.
HOST_TARGETS := test test-i386 wheel-check

.PHONY: $(TARGETS) $(HOST_TARGETS) configure clean

ifeq ($(QUILLSTONE_ENV),1)

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PYTHON) \
	  -DQUILLSTONE_TESTS=ON -DQUILLSTONE_BENCH=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

build-ft:
	@test -n "$(FT_PYTHON)" || { echo "make: no free-threaded CPython: scripts/env provides one (QUILLSTONE_NEEDS=ft), or set QUILLSTONE_FT_PYTHON" >&2; exit 1; }
	cmake -S . -B $(FT_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(FT_PYTHON) \
	  -DQUILLSTONE_TESTS=OFF -DQUILLSTONE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FT_BUILD)

# The quick loop: the core's tests and the Python suite on one interpreter;
# the suites that compare results again with the kernels of each lower
# instruction set than the processor's best.
LOWER_TARGET_TESTS = python/tests/test_differential.py python/tests/test_batch.py python/tests/test_text_kinds.py
check: build
	ctest --test-dir $(BUILD) --output-on-failure
	QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider python/tests
	for target in avx2 baseline; do \
	  QUILLSTONE_VECTOR_TARGET=$$target QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(BUILD)/python \
	    $(PYTHON) -m pytest -q -p no:cacheprovider $(LOWER_TARGET_TESTS) || exit 1; \
	done

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
test: check build-ft test-debug sanitize fuzz-smoke tsan test-parallel wheel-check
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

# The module alone: a first run needs neither the test libraries nor the
# other interpreters (a later configure turns the tests on).
demo:
	@test -f $(BUILD)/CMakeCache.txt || $(MAKE) --no-print-directory configure \
	  CMAKE_FLAGS="-DQUILLSTONE_TESTS=OFF -DQUILLSTONE_BENCH=OFF $(CMAKE_FLAGS)"
	cmake --build $(BUILD) --target quillstone
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

# A few seconds of the demo, the tests of the benchmark inputs and of the
# demo's picking, and every cell of the workload matrix on small inputs
# cross-checked against the peers and the reference, so that `make test` sees
# all of it work.
smoke: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) demo/spelling.py --sample 20
	PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider bench demo
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

# The Python suite under the sanitizers one file per process: on a 32-bit
# host the whole suite in one process exhausts the shadow's address space.
sanitize-each: build-asan
	@set -e; for f in python/tests/test_*.py; do \
	  echo "== $$f"; $(SANITIZED_PYTHON) -m pytest -q -p no:cacheprovider $$f; \
	done

# The 32-bit x86 suites: the core's and the Python suite, then both again
# under the sanitizers. Runs inside scripts/env --i386 (make test-i386 from
# outside enters it).
test-i386:
	@test "$(QUILLSTONE_ARCH)" = i386 || { echo "make: test-i386 runs in the i386 environment: scripts/env --i386 make test-i386" >&2; exit 1; }
	@$(PYTHON) -c 'import struct, sys; sys.exit(None if struct.calcsize("P") == 4 else "not a 32-bit interpreter")'
	cmake -S . -B $(I386_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PYTHON) \
	  -DQUILLSTONE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(I386_BUILD)
	ctest --test-dir $(I386_BUILD) --output-on-failure
	QUILLSTONE_BUILD=$(I386_BUILD) PYTHONPATH=$(I386_BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider python/tests
	$(MAKE) --no-print-directory sanitize-core sanitize-each ASAN_BUILD=$(I386_BUILD)/asan
	$(MAKE) --no-print-directory wheel-check

build-tsan:
	@test -n "$(TSAN_PYTHON)" || { echo "make: no ThreadSanitizer CPython: scripts/env provides one (QUILLSTONE_NEEDS=tsan), or set QUILLSTONE_TSAN_PYTHON" >&2; exit 1; }
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DPython_EXECUTABLE=$(TSAN_PYTHON) -DQUILLSTONE_TSAN=ON -DQUILLSTONE_TESTS=OFF -DQUILLSTONE_BENCH=OFF
	cmake --build $(TSAN_BUILD)

# Every process writes its reports to $(TSAN_BUILD)/reports; any report that
# the suppressions do not cover fails the run, and the counts are shown.
tsan: build-tsan
	@rm -rf $(TSAN_BUILD)/reports && mkdir -p $(TSAN_BUILD)/reports
	@status=0; env -u PYTHON_GIL \
	  TSAN_OPTIONS="suppressions=$(TSAN_SUPPRESSIONS) print_suppressions=1 log_path=$(CURDIR)/$(TSAN_BUILD)/reports/tsan" \
	  QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(TSAN_BUILD)/python:/usr/lib/python3/dist-packages \
	  $(TSAN_PYTHON) -m pytest -q -p no:cacheprovider $(TSAN_TESTS) || status=$$?; \
	reports=$$(cat $(TSAN_BUILD)/reports/* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer:' || true); \
	suppressed=$$(cat $(TSAN_BUILD)/reports/* 2>/dev/null | \
	  awk '/^ThreadSanitizer: Matched/ { in_list = 1; next } in_list && $$1 ~ /^[0-9]+$$/ { n += $$1; next } { in_list = 0 } END { print n + 0 }'); \
	echo "tsan: $$reports reports, $$suppressed suppressed"; \
	if [ "$$reports" != 0 ]; then grep -l '^WARNING: ThreadSanitizer:' $(TSAN_BUILD)/reports/* | xargs cat; status=1; fi; \
	exit $$status

# The wheels, through PEP 517 with the environment's own build tools (no
# package index is reached), compiled against the old glibc; auditwheel then
# gives each the manylinux tag its symbol versions allow.
wheel:
	@test -n "$(GLIBC_ROOT)" || { echo "make: no older glibc to build wheels against: scripts/env provides one (QUILLSTONE_NEEDS=glibc), or set QUILLSTONE_GLIBC_ROOT" >&2; exit 1; }
	@test "$(QUILLSTONE_ARCH)" = i386 || test -n "$(FT_PYTHON)" || { echo "make: no free-threaded CPython: scripts/env provides one (QUILLSTONE_NEEDS=ft), or set QUILLSTONE_FT_PYTHON" >&2; exit 1; }
	rm -rf $(WHEEL_DIR) && mkdir -p $(WHEEL_DIR)/raw
	$(PYTHON) -m build --no-isolation -Ccmake.define.QUILLSTONE_GLIBC_ROOT=$(GLIBC_ROOT) --outdir $(WHEEL_DIR)/raw .
	@set -e; for py in $(filter-out $(PYTHON),$(WHEEL_PYTHONS)); do \
	  echo "== $$py"; env -u PYTHON_GIL PYTHONPATH=/usr/lib/python3/dist-packages $$py -m build --no-isolation --wheel \
	    -Ccmake.define.QUILLSTONE_GLIBC_ROOT=$(GLIBC_ROOT) --outdir $(WHEEL_DIR)/raw .; \
	done
	@set -e; for w in $(WHEEL_DIR)/raw/*.whl; do auditwheel repair --wheel-dir $(WHEEL_DIR) $$w; done
	@ls $(WHEEL_DIR)/*.whl

# The tag and symbol versions of every wheel, then each installed into a
# virtual environment of its own and checked there, from inside that
# environment, with the checkout off the path.
wheel-check: wheel
	$(PYTHON) python/tests/wheel_abi.py --glibc $(WHEEL_GLIBC) $(WHEEL_DIR)/*.whl
	@set -e; for py in $(WHEEL_PYTHONS); do \
	  tag=$$($$py -c 'import sys, sysconfig; print("cp%d%d%s" % (*sys.version_info[:2], "t" * bool(sysconfig.get_config_var("Py_GIL_DISABLED"))))'); \
	  whl=$$(ls $(WHEEL_DIR)/quillstone-*-$$tag-manylinux*.whl); venv=$(CURDIR)/$(WHEEL_DIR)/venv-$$tag; \
	  echo "== $$whl"; $$py -m venv --without-pip $$venv; \
	  env -u PYTHON_GIL PYTHONPATH=/usr/lib/python3/dist-packages $$venv/bin/python -m pip install -q --no-index --no-deps $$whl; \
	  (cd $$venv && env -u PYTHON_GIL -u PYTHONPATH $$venv/bin/python -I $(CURDIR)/python/tests/wheel_check.py); \
	done

# The whole Python suite with every test run on PARALLEL_THREADS threads at
# once, on the free-threaded interpreter (pytest loads the plugin from the
# environment; without it the option is an error).
test-parallel: build build-ft
	env -u PYTHON_GIL QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(FT_PATH) $(FT_PYTHON) -m pytest -p no:cacheprovider \
	  --parallel-threads=$(PARALLEL_THREADS) python/tests

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

# What each target needs provisioned (scripts/env reads QUILLSTONE_NEEDS):
# every package (dev) unless named here, where the demo needs only its own.
NEEDS_demo = demo
NEEDS_build-ft = dev ft
NEEDS_bench = dev ft
NEEDS_demo-scale = dev ft
NEEDS_test-parallel = dev ft
NEEDS_build-tsan = dev tsan
NEEDS_tsan = dev tsan
NEEDS_wheel = dev ft glibc

$(filter-out $(HOST_TARGETS),$(TARGETS)):
	QUILLSTONE_NEEDS="$(or $(NEEDS_$@),dev)" scripts/env $(MAKE) --no-print-directory $@ BUILD=$(BUILD) $(MAKEOVERRIDES)

test:
	QUILLSTONE_NEEDS=all scripts/env $(MAKE) --no-print-directory test BUILD=$(BUILD) $(MAKEOVERRIDES)
	$(MAKE) --no-print-directory test-i386 BUILD=$(BUILD) $(MAKEOVERRIDES)

test-i386:
	QUILLSTONE_NEEDS="dev glibc" scripts/env --i386 $(MAKE) --no-print-directory test-i386 BUILD=$(BUILD) $(MAKEOVERRIDES)

# All three wheels: x86-64 ones in the x86-64 environment, the i686 one in the i386 environment.
wheel-check:
	QUILLSTONE_NEEDS="dev ft glibc" scripts/env $(MAKE) --no-print-directory wheel-check BUILD=$(BUILD) $(MAKEOVERRIDES)
	QUILLSTONE_NEEDS="dev glibc" scripts/env --i386 $(MAKE) --no-print-directory wheel-check BUILD=$(BUILD) $(MAKEOVERRIDES)

endif

clean:
	rm -rf $(BUILD)
