# The front door. Every target runs inside the development environment that
# scripts/env provides (a CPython 3.14 with headers, provisioned when missing).
BUILD ?= build
PYTHON ?= python3.14
CMAKE_FLAGS ?=
BENCH_SECONDS ?= 0.2

TARGETS := build test demo bench bench-core sanitize

.PHONY: $(TARGETS) configure clean

ifeq ($(QUILLSTONE_ENV),1)

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(PYTHON) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure
	QUILLSTONE_BUILD=$(BUILD) PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q -p no:cacheprovider python/tests

bench-core: build
	$(BUILD)/core/core_bench --benchmark_min_time=$(BENCH_SECONDS)s

bench: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/bench_peers.py --out $(BUILD)/bench

demo: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) demo/spelling.py

else

$(TARGETS):
	scripts/env $(MAKE) --no-print-directory $@ BUILD=$(BUILD)

endif

clean:
	rm -rf $(BUILD)
