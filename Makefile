# Entry points. `make test` is what CI runs.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
CLANG_BUILD ?= build-clang
TSAN_BUILD  ?= build-tsan
JOBS        ?= 2
CMAKE_ARGS  ?=
# Debug information as line tables only: file and line in sanitizer and
# valgrind reports, at two thirds of the build time of full debug information.
DEBUG_FLAGS := -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"

.PHONY: all deps configure build demo desktop test test-main test-asan asan-build test-clang test-fuzz fuzz-long \
        test-tsan test-lane-release test-lane-sanitizers clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEBUG_FLAGS) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The README's first command: a backup round trip with the nimbra command
# line against a local development server it starts and stops.
demo: build
	BUILD=$(BUILD) bash scripts/demo.sh

# The desktop host for a person with a display: a development server with a
# fresh data directory on the ports compiled in, and nimbra-desktop against
# it; the server stops when the window closes.
desktop: configure
	cmake --build $(BUILD) --target nimbra-desktop nimbra-devserver -j$(JOBS)
	BUILD=$(BUILD) bash tools/desktop/run-desktop.sh

# What ships, checked in the normal build (exports, install, the demo, a
# backup cycle under valgrind, the official client, the desktop host driven
# headless: the tests labelled release); every tier under AddressSanitizer +
# UndefinedBehaviorSanitizer, then a short fuzzing pass; the library and its
# unit tier built by clang against libc++ with warnings as errors; the
# threading tests under ThreadSanitizer.
#
# Two lanes run side by side, each building with -j$(JOBS): the normal build,
# ThreadSanitizer (which starts the normal build's server) and libc++; and
# the sanitizer build, the longer one. Each lane's output is printed when it
# ends.
test: deps
	$(MAKE) --no-print-directory -j2 --output-sync=recurse test-lane-release test-lane-sanitizers

test-lane-release:
	$(MAKE) --no-print-directory test-main
	$(MAKE) --no-print-directory test-tsan
	$(MAKE) --no-print-directory test-clang

test-lane-sanitizers:
	$(MAKE) --no-print-directory test-asan

RELEASE_TARGETS ?= Nimbra NimbraLog nimbra nimbra-devserver NimbraTest nimbra-test system_host \
  nimbra-desktop desktop_test
test-main: configure
	cmake --build $(BUILD) --target $(RELEASE_TARGETS) -j$(JOBS)
	cd $(BUILD) && ctest -L release --output-on-failure -j$(JOBS)

# clang (with libstdc++, which cpp-httplib's library needs) and
# AddressSanitizer + UndefinedBehaviorSanitizer: every tier but the desktop
# host's (its tests run in the normal build), then the fuzz targets
# (tests/unit/fuzz) as libFuzzer binaries, two at a time, each for
# FUZZ_SECONDS from its seed corpus with a fixed seed (nine targets at 3 s
# take about 20 s). fuzz-long explores anew for FUZZ_LONG_SECONDS each and
# ends with the table of docs/reliability.md's "Fuzzing time per target".
FUZZ_SECONDS      ?= 3
FUZZ_LONG_SECONDS ?= 300
asan-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DNIMBRA_FUZZ=ON $(DEBUG_FLAGS) \
	  -DNIMBRA_BUILD_DESKTOP=OFF \
	  -DNIMBRA_SANITIZE=fuzzer-no-link,address,undefined $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) --target all fuzzers -j$(JOBS)

test-asan: asan-build
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -LE release --output-on-failure -j$(JOBS)
	FUZZ_SEED=1 bash tests/unit/fuzz/run-fuzzers.sh $(ASAN_BUILD) $(FUZZ_SECONDS)

test-fuzz: asan-build
	FUZZ_SEED=1 bash tests/unit/fuzz/run-fuzzers.sh $(ASAN_BUILD) $(FUZZ_SECONDS)

fuzz-long: asan-build
	bash tests/unit/fuzz/run-fuzzers.sh $(ASAN_BUILD) $(FUZZ_LONG_SECONDS)

# The library alone and its unit tier, built by clang against libc++ with
# warnings as errors: code that builds only with GCC or libstdc++ fails here.
test-clang: deps
	CC=clang CXX=clang++ cmake -S . -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=Debug $(DEBUG_FLAGS) \
	  -DNIMBRA_BUILD_TOOLS=OFF -DNIMBRA_BUILD_TESTS=ON -DNIMBRA_LIBCXX=ON -DNIMBRA_WERROR=ON $(CMAKE_ARGS)
	cmake --build $(CLANG_BUILD) -j$(JOBS)
	cd $(CLANG_BUILD) && ctest --output-on-failure -j$(JOBS)

# The tests labelled tsan (pause, continue and stop across threads; the host
# kit's runner) under ThreadSanitizer. The development server they start is
# the normal build's, so only library code runs instrumented.
TSAN_TARGETS ?= system_control unit_hostkit_test
test-tsan: configure
	cmake --build $(BUILD) --target nimbra-devserver -j$(JOBS)
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEBUG_FLAGS) -DNIMBRA_SANITIZE=thread \
	  -DNIMBRA_TEST_DEVSERVER=$(abspath $(BUILD))/tools/devserver/nimbra-devserver $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) --target $(TSAN_TARGETS) -j$(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest -L tsan --output-on-failure

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(CLANG_BUILD) $(TSAN_BUILD)

# Debian packages of the normal build (CPack): libnimbra1, libnimbra-dev,
# nimbra-tools and nimbra-desktop, written to $(BUILD)/packages.
.PHONY: package
package: build
	cd $(BUILD) && cpack -G DEB
