# The two everyday commands: `make demo` and `make test`.
BUILD  ?= build
JOBS   ?= $(shell nproc)
# Debian's interpreter: it is the one that gets numpy from python3-numpy.
PYTHON ?= /usr/bin/python3

.PHONY: all deps build demo test test-unit bench clean

all: build

deps:
	@scripts/install-deps

# Everything: the library, the tools, the suites and the benchmarks.
build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DONSET_BUILD_TESTS=ON -DONSET_BUILD_BENCHMARKS=ON >/dev/null
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
# binding, the sanitizer build and short fuzz runs.
test: build
	@$(MAKE) --no-print-directory test-unit test-python test-sanitize test-fuzz

test-unit:
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@scripts/install-deps bench
	@for b in $(BUILD)/bench/bench_*; do $$b; done
	@$(MAKE) --no-print-directory bench-peers

clean:
	rm -rf $(BUILD) $(BUILD)-*

include mk/python.mk mk/hardening.mk
