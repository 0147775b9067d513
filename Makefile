# make test | demo | bench | build | clean. Every target sets up what it
# needs first (scripts/bootstrap.sh), so any of them works on a new machine.

PYTHON := .venv/bin/python
# scikit-build-core's build directory is kept, so rebuilds are incremental;
# it also builds the C++ unit tests that CTest runs.
BUILD_DIR := build/python
INSTALLED := $(BUILD_DIR)/installed.stamp
SOURCES := CMakeLists.txt pyproject.toml quorvane.pyi $(shell find src tests/cpp -type f 2>/dev/null)

# Debian's cmake and ninja, ahead of any version manager's shims.
export PATH := /usr/bin:$(PATH)

.PHONY: bootstrap build test demo bench clean

bootstrap:
	@scripts/bootstrap.sh

build: bootstrap
	@$(MAKE) --no-print-directory $(INSTALLED)

# A new .venv (its pyvenv.cfg is rewritten) needs the module installed again.
$(INSTALLED): $(SOURCES) .venv/pyvenv.cfg
	$(PYTHON) -m pip install --quiet --no-build-isolation --no-deps \
	    -Cbuild-dir=$(BUILD_DIR) -Ccmake.define.QUORVANE_BUILD_TESTS=ON .
	@touch $@

test: build
	@status=0; \
	ctest --test-dir $(BUILD_DIR) --output-on-failure || status=1; \
	$(PYTHON) -m pytest -q || status=1; \
	$(PYTHON) -m mypy.stubtest quorvane || status=1; \
	exit $$status

demo: build
	$(PYTHON) examples/replay.py data/sample.jsonl

bench: build
	$(PYTHON) bench/bench.py

clean:
	rm -rf build dist .venv
