# kwsignal: the two everyday commands are `make demo` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
# Fuzzing: clang's libFuzzer with ASan and UBSan, in a build of its own.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 20
FUZZ_TARGETS ?= abif qrd text formats matrix pipeline

# The Python tests run on Debian's interpreter, which the module is built for.
PYTHON ?= /usr/bin/python3

.PHONY: all setup build build-asan test test-release test-python test-asan demo bench clean \
	fuzz-build fuzz fuzz-smoke valgrind format-check

CLANG_FORMAT ?= clang-format-14
FORMATTED = $(shell git ls-files '*.cpp' '*.h' '*.cc' 2>/dev/null)

all: build

setup:
	@bash scripts/setup

build: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: setup
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKWSIGNAL_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-release: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The Python package against the optimised build. Skipped, saying why, only
# when the Debian packages are missing (scripts/setup installs them as root).
test-python: build
	@if ! $(PYTHON) -c 'import numpy, pytest' 2>/dev/null; then \
	  echo "test-python: SKIPPED: $(PYTHON) lacks numpy or pytest" \
	       "(Debian: python3-numpy python3-pytest; run 'make setup' as root)"; \
	elif ! ls $(BUILD)/python/kwsignal/_kwsignal*.so >/dev/null 2>&1; then \
	  echo "test-python: SKIPPED: the Python module was not built" \
	       "(Debian: pybind11-dev python3-pybind11 python3-dev; run 'make setup' as root)"; \
	else \
	  PYTHONPATH=$(BUILD)/python PYTHONDONTWRITEBYTECODE=1 \
	    $(PYTHON) -m pytest -q -p no:cacheprovider python/tests; \
	fi

# The whole suite twice (an optimised build and a sanitizer build), the
# Python tests against the optimised one, the C++ suite under valgrind, then
# a short fuzzing smoke run of every input surface.
test: format-check test-release test-python test-asan valgrind fuzz-smoke

# Every C++ file as clang-format lays it out; a slip names the file.
format-check: setup
	@bad=0; for f in $(FORMATTED); do \
	  $(CLANG_FORMAT) --dry-run -Werror "$$f" >/dev/null 2>&1 || { echo "format-check: $$f is not clang-format clean (run $(CLANG_FORMAT) -i $$f)"; bad=1; }; \
	done; [ $$bad -eq 0 ] && echo "format-check: $(words $(FORMATTED)) files clean"

fuzz-build: setup
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 -DKWSIGNAL_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS seconds: executions, coverage, findings.
fuzz: fuzz-build
	@bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-smoke: fuzz-build
	@bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS) $(FUZZ_TARGETS)

# The C++ test suite of the optimised build under valgrind's memcheck.
valgrind: build
	@bash scripts/valgrind-tests $(BUILD) $(JOBS)

# Simulates a run with a fixed seed, processes it like any file and prints
# what was recovered against the truth.
demo: build
	@./$(BUILD)/kwsignal demo -o $(BUILD)/demo
	@echo
	@echo "demo: the tool is $(BUILD)/kwsignal; open $(BUILD)/demo/demo/plot.svg in a browser"

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
