# Sanitizer build and fuzzing.
#   make test-sanitize   the C++ suites built with AddressSanitizer and
#                        UndefinedBehaviorSanitizer in $(BUILD)-asan
#   make test-fuzz       every fuzz target for FUZZ_SHORT_SECONDS from the
#                        committed seeds
#   make fuzz            every fuzz target for FUZZ_SECONDS, growing the
#                        corpus in $(BUILD)-fuzz/corpus
ASAN_BUILD         ?= $(BUILD)-asan
FUZZ_BUILD         ?= $(BUILD)-fuzz
SANITIZERS         ?= address,undefined,float-cast-overflow
# A fuzz target for every folder of committed inputs.
FUZZ_TARGETS       ?= $(notdir $(wildcard tests/fuzz/corpus/*))
FUZZ_SECONDS       ?= 600
FUZZ_SHORT_SECONDS ?= 20

# Any finding stops the suite that made it; leaks count as findings.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=1 \
                UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: test-sanitize test-fuzz fuzz fuzz-build
# Only what the suites need: no benchmarks, and two thread counts (one and
# more than the cores), since the plain build checks that results agree.
# -O1 and line tables alone, as the sanitizers advise: half the compile time,
# and reports still name the lines.
SANITIZE_FLAGS ?= -O1 -g1 -DNDEBUG
# The suites' own code unoptimized: still every check of both sanitizers, in
# less than half the compile time; the library they drive stays at -O1.
SANITIZE_TEST_OPTIMIZATION ?= -O0
test-sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$(SANITIZE_FLAGS)" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$(SANITIZE_FLAGS)" \
	  -DONSET_SANITIZERS=$(SANITIZERS) -DONSET_BUILD_BENCHMARKS=OFF \
	  -DONSET_TEST_THREADS="1;3" -DONSET_TEST_OPTIMIZATION=$(SANITIZE_TEST_OPTIMIZATION) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# The fuzz targets with the sanitizer tree's flags: a fifth less compile time
# than -O2 with full debug information.
fuzz-build: deps
	@cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$(SANITIZE_FLAGS)" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$(SANITIZE_FLAGS)" >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

test-fuzz: fuzz-build
	FUZZ_JOBS=$(JOBS) tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SHORT_SECONDS) fresh $(FUZZ_TARGETS)

fuzz: fuzz-build
	tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) keep $(FUZZ_TARGETS)
