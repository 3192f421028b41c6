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

TARGETS := build build-ft test demo bench bench-core sanitize

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

test: build build-ft
	ctest --test-dir $(BUILD) --output-on-failure
	QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider python/tests
	env -u PYTHON_GIL PYTHONPATH=$(FT_PATH) $(FT_PYTHON) -c 'import os, sys, sysconfig, quillstone; \
	  here = os.path.dirname(quillstone.__file__); \
	  sys.exit("$(FT_PYTHON) is not a free-threaded build" if not sysconfig.get_config_var("Py_GIL_DISABLED") \
	    else "importing quillstone enabled the GIL" if sys._is_gil_enabled() \
	    else "quillstone was imported from " + here if here != os.path.abspath("$(FT_BUILD)/python") \
	    else None)'
	env -u PYTHON_GIL QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(FT_PATH) $(FT_PYTHON) -m pytest -q -p no:cacheprovider python/tests

bench-core: build
	$(BUILD)/core/core_bench --benchmark_min_time=$(BENCH_SECONDS)s

bench: build build-ft
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/bench_peers.py --out $(BUILD)/bench
	env -u PYTHON_GIL PYTHONPATH=$(FT_BUILD)/python $(FT_PYTHON) bench/bench_scaling.py

demo: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) demo/spelling.py

else

$(TARGETS):
	scripts/env $(MAKE) --no-print-directory $@ BUILD=$(BUILD)

endif

clean:
	rm -rf $(BUILD)
