# Entry points. `make test` is what CI runs.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
JOBS       ?= 2
CMAKE_ARGS ?=

.PHONY: all deps configure build demo test test-main test-asan fuzz-build test-fuzz fuzz-long test-tsan clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The README's first command: a backup round trip with the nimbra command
# line against a local development server it starts and stops.
demo: build
	BUILD=$(BUILD) bash scripts/demo.sh

# The whole suite, then again under AddressSanitizer + UndefinedBehaviorSanitizer,
# then a short fuzzing pass and the thread tests under ThreadSanitizer.
test: test-main test-asan test-fuzz test-tsan

test-main: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_SANITIZE=address,undefined $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

# libFuzzer targets (tests/fuzz), built with clang, ASan and UBSan; each runs
# FUZZ_SECONDS from its seed corpus. fuzz-long runs each for minutes.
FUZZ_SECONDS      ?= 5
FUZZ_LONG_SECONDS ?= 300
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNIMBRA_FUZZ=ON -DNIMBRA_SANITIZE=fuzzer-no-link,address,undefined $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) --target fuzzers -j$(JOBS)

test-fuzz: fuzz-build
	FUZZ_SEED=1 bash tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-long: fuzz-build
	bash tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_LONG_SECONDS)

# The tests labelled tsan (pause, continue and stop across threads) under
# ThreadSanitizer. The development server they start is the normal build's
# (NIMBRA_DEVSERVER), so only library code runs instrumented.
TSAN_TARGETS ?= control_flags_test faults_threads_test
test-tsan: configure
	cmake --build $(BUILD) --target nimbra-devserver -j$(JOBS)
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) --target $(TSAN_TARGETS) -j$(JOBS)
	cd $(TSAN_BUILD) && NIMBRA_DEVSERVER=$(abspath $(BUILD))/tools/devserver/nimbra-devserver \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest -L tsan --output-on-failure

# Upload/download benchmark against curl and ali-oss (bench/run.sh): builds
# what it needs in $(BUILD), writes latest.md, latest.json and throughput.png
# to $(BUILD)/bench-results, or to the tracked bench/results with
# BENCH_PUBLISH=1. Quick run: make bench BENCH_SIZES=64 BENCH_REPEAT=1
.PHONY: bench
BENCH_TARGETS ?= Nimbra nimbra-devserver nimbra-bench-host
BENCH_PUBLISH ?= 0
bench: configure
	cmake --build $(BUILD) --target $(BENCH_TARGETS) -j$(JOBS)
	BENCH_BUILD=$(abspath $(BUILD)) BENCH_PUBLISH=$(BENCH_PUBLISH) bash bench/run.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD)
