# make test | check | demo | bench | build | wheel | clean. Every target sets
# up what it needs first (scripts/bootstrap.sh), so any of them works on a new
# machine.

PYTHON := .venv/bin/python
# scikit-build-core's build directory is kept, so rebuilds are incremental;
# it also builds the C++ unit tests that CTest runs.
BUILD_DIR := build/python
INSTALLED := $(BUILD_DIR)/installed.stamp
SOURCES := CMakeLists.txt pyproject.toml quorvane.pyi $(shell find src tests/cpp python -type f -not -name "*.pyc" 2>/dev/null)

# Debian's cmake and ninja, ahead of any version manager's shims.
export PATH := /usr/bin:$(PATH)

.PHONY: bootstrap build test slow-test check wheel wheel-check demo bench clean fuzz sanitize zlib-check

bootstrap:
	@scripts/bootstrap.sh

build: bootstrap
	@$(MAKE) --no-print-directory $(INSTALLED)

# A new .venv (its pyvenv.cfg is rewritten) needs the module installed again.
$(INSTALLED): $(SOURCES) .venv/pyvenv.cfg
	$(PYTHON) -m pip install --quiet --no-build-isolation --no-deps \
	    -Cbuild-dir=$(BUILD_DIR) -Ccmake.define.QUORVANE_BUILD_TESTS=ON .
	@touch $@

# The quick suite, for every change: the C++ tests, pytest less the tests
# marked slow, the stubs and mypy.
test: build
	@status=0; \
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j2 || status=1; \
	$(PYTHON) -m pytest -q -m "not slow" || status=1; \
	$(PYTHON) -m mypy.stubtest quorvane || status=1; \
	$(PYTHON) -m mypy || status=1; \
	exit $$status

slow-test: build
	$(PYTHON) -m pytest -q -m slow

# Everything, as CI runs it: the quick suite, the slow tests, the fuzzers, the
# sanitizer build, the zlib inflater and the wheel in a fresh venv.
check: build
	@status=0; \
	$(MAKE) --no-print-directory test || status=1; \
	$(MAKE) --no-print-directory slow-test || status=1; \
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=30 || status=1; \
	$(MAKE) --no-print-directory sanitize || status=1; \
	$(MAKE) --no-print-directory zlib-check || status=1; \
	$(MAKE) --no-print-directory wheel-check || status=1; \
	exit $$status

demo: build
	$(PYTHON) examples/replay.py data/sample.jsonl

# The suite measures the load against simdjson's DOM parse, timed by a C++
# benchmark built in a Release build dir of its own; orjson, the yardstick of
# to_dict(), is installed for the benchmarks only. BENCH_ARGS go to bench.py
# (e.g. BENCH_ARGS=--quick).
BENCH_DIR := build/bench
BENCH_ARGS ?=

bench: build
	$(PYTHON) -m pip install --quiet --disable-pip-version-check -r requirements/bench.txt
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_BENCHMARKS=ON \
	    -DQUORVANE_BUILD_EXTENSION=OFF -DQUORVANE_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BENCH_DIR) --target quorvane_json_parse_bench
	$(PYTHON) bench/bench.py --dom-bench $(BENCH_DIR)/quorvane_json_parse_bench $(BENCH_ARGS)
	$(PYTHON) bench/flumine_bench.py

clean:
	rm -rf build dist .venv

# A wheel built from the incremental build directory (the C++ tests it also
# builds stay out of the wheel), then repaired by auditwheel into a manylinux
# wheel in dist/ that carries the libraries it needs beyond the manylinux set.
WHEEL_DIR := build/wheel
wheel: bootstrap
	rm -rf $(WHEEL_DIR) && rm -f dist/quorvane-*.whl
	$(PYTHON) -m pip wheel --quiet --no-build-isolation --no-deps --wheel-dir $(WHEEL_DIR) \
	    -Cbuild-dir=$(BUILD_DIR) -Ccmake.define.QUORVANE_BUILD_TESTS=ON .
	PATH=$(abspath .venv/bin):$$PATH $(PYTHON) -m auditwheel repair --wheel-dir dist $(WHEEL_DIR)/quorvane-*.whl
	$(PYTHON) -m auditwheel show dist/quorvane-*.whl

# The wheel installed, without building, into a fresh venv, where it must
# replay the sample to the same books as the source build.
WHEEL_VENV := build/wheel-venv
SAMPLE := $(abspath data/sample.jsonl)
wheel-check: build wheel
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install --quiet --disable-pip-version-check --no-index --only-binary :all: \
	    dist/quorvane-*.whl
	@built=$$($(PYTHON) scripts/replay_digest.py $(SAMPLE)) && \
	wheel=$$(cd $(WHEEL_VENV) && bin/python -I $(abspath scripts/replay_digest.py) $(SAMPLE)) && \
	echo "wheel-check: source build $$built" && echo "wheel-check: wheel        $$wheel" && \
	[ "$$built" = "$$wheel" ]

# libFuzzer harnesses of tests/fuzz, built by clang with ASan and UBSan in a
# build dir of their own. Each runs FUZZ_SECONDS; the corpus found so far is
# kept in build/fuzz/corpus, the seeds are written anew every time.
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 180
FUZZERS := read_stream apply_stream read_lines
FUZZ_OPTIONS = -max_total_time=$(FUZZ_SECONDS) -max_len=131072 -rss_limit_mb=3072 -timeout=30 \
    -dict=tests/fuzz/stream.dict -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/findings/

fuzz: bootstrap
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DQUORVANE_BUILD_FUZZERS=ON -DQUORVANE_BUILD_EXTENSION=OFF -DQUORVANE_BUILD_TESTS=OFF >/dev/null
	cmake --build $(FUZZ_DIR) --target $(FUZZERS:%=quorvane_%_fuzzer)
	$(PYTHON) scripts/make_fuzz_corpus.py $(FUZZ_DIR)/seeds
	@mkdir -p $(FUZZ_DIR)/findings
	@for fuzzer in $(FUZZERS); do \
	    mkdir -p $(FUZZ_DIR)/corpus/$$fuzzer; \
	    echo "fuzz: $$fuzzer for $(FUZZ_SECONDS) s (log in $(FUZZ_DIR)/$$fuzzer.log)"; \
	    $(FUZZ_DIR)/quorvane_$${fuzzer}_fuzzer $(FUZZ_OPTIONS) $(FUZZ_DIR)/corpus/$$fuzzer \
	        $(FUZZ_DIR)/seeds/$$fuzzer >$(FUZZ_DIR)/$$fuzzer.log 2>&1 \
	        || { tail -n 60 $(FUZZ_DIR)/$$fuzzer.log; exit 1; }; \
	    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' $(FUZZ_DIR)/$$fuzzer.log; \
	done

# The extension and the C++ tests built with ASan and UBSan by g++; the C++
# tests and the pytest suite run against that build (the interpreter's own
# leaks are not ours to judge, so leak checking is off for pytest).
SANITIZE_DIR := build/sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
# libstdc++ is preloaded too: the interpreter does not link it, and ASan must
# find its __cxa_throw at start-up to intercept exceptions.
SANITIZED_PYTHON = LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" \
    PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    PYTHONPATH=$(SANITIZE_DIR) $(PYTHON)

sanitize: build
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE_FLAGS)" \
	    -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)" -DPython_EXECUTABLE=$(abspath $(PYTHON)) \
	    -DQUORVANE_BUILD_TESTS=ON -DQUORVANE_BUILD_EXTENSION=ON >/dev/null
	cmake --build $(SANITIZE_DIR)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j2
	$(SANITIZED_PYTHON) -c 'import quorvane, sys; sys.exit(not quorvane.__file__.startswith("$(abspath $(SANITIZE_DIR))/"))'
	$(SANITIZED_PYTHON) -m pytest -q -m "not large"

# The C++ tests of a core that inflates gzip with zlib instead of ISA-L, so
# that both inflaters stay tested.
ZLIB_DIR := build/zlib

zlib-check: bootstrap
	cmake -S . -B $(ZLIB_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_INFLATE_WITH_ZLIB=ON \
	    -DQUORVANE_BUILD_EXTENSION=OFF -DQUORVANE_BUILD_TESTS=ON >/dev/null
	cmake --build $(ZLIB_DIR)
	ctest --test-dir $(ZLIB_DIR) --output-on-failure -j2
