# The two everyday commands: `make demo` and `make test`.
BUILD  ?= build
JOBS   ?= $(shell nproc)
# Debian's interpreter: it is the one that gets numpy from python3-numpy.
PYTHON ?= /usr/bin/python3

.PHONY: all deps build demo test test-unit bench clean

all: build

deps:
	@scripts/install-deps

# The suites' own code at -O1: the library they check stays at -O3, and
# their assertions compile in two thirds of the time.
TEST_OPTIMIZATION ?= -O1

# Everything: the library, the tools, the suites and the benchmarks.
build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DONSET_BUILD_TESTS=ON -DONSET_BUILD_BENCHMARKS=ON -DONSET_TEST_OPTIMIZATION=$(TEST_OPTIMIZATION) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Only what the detector needs, in the same build folder: the library and
# onset-detect, with neither GoogleTest nor Google Benchmark installed.
demo:
	@scripts/install-deps demo
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DONSET_BUILD_TESTS=OFF -DONSET_BUILD_BENCHMARKS=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target onset-detect
	$(BUILD)/tools/onset-detect/onset-detect --demo

# Every suite: the C++ tests under several thread counts, the Python
# binding, the sanitizer build and short fuzz runs. After the main build the
# sanitizer tree (its build, then its suites) goes side by side with the
# rest, each with every core, so that neither core idles while the other
# links or waits on a test; each side's output shows when it ends. The fuzz
# runs are bound by time: they come last, alone, and keep their cores.
test: build
	@scripts/side-by-side "$(MAKE) --no-print-directory test-sanitize" \
	  "$(MAKE) --no-print-directory test-unit test-python fuzz-build"
	@$(MAKE) --no-print-directory test-fuzz

test-unit:
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@scripts/install-deps bench
	@for b in $(BUILD)/bench/bench_*; do $$b; done
	@$(MAKE) --no-print-directory bench-peers

clean:
	rm -rf $(BUILD) $(BUILD)-*

include mk/python.mk mk/hardening.mk
