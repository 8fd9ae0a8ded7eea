#!/usr/bin/env bash
# Runs every fuzz target of a libFuzzer build (see tests/unit/fuzz/CMakeLists.txt)
# for a fixed time each, starting from its seed corpus.
#
#   tests/unit/fuzz/run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]
#
# FUZZ_SEED fixes libFuzzer's seed (make test-fuzz uses 1, so a run explores
# the same inputs in the same order); without it every run explores anew.
# FUZZ_JOBS targets run at once (default 2, one a core here).
#
# New inputs go to BUILD_DIR/fuzz-corpus/<name>/, never into the source
# tree. A crash stops the run; its input is kept as
# BUILD_DIR/fuzz-artifacts/<name>-crash-<hash>: copy it into
# tests/unit/fuzz/corpus/<name>/ (so the ordinary builds replay it) and add
# a unit test for the fix.
set -euo pipefail

build=${1:?build directory}
seconds=${2:?seconds per target}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if ((${#targets[@]} == 0)); then
    for dir in "$here"/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

mkdir -p "$build/fuzz-artifacts"

# Fuzzes one target; prints one line, or the failure with the log's end.
fuzz_one() {
    local name=$1
    local bin="$build/tests/unit/fuzz/fuzz_$name"
    if [[ ! -x "$bin" ]]; then
        echo "fuzz: $bin not built" >&2
        return 1
    fi
    local work="$build/fuzz-corpus/$name"
    local log="$build/fuzz-artifacts/$name.log"
    mkdir -p "$work"
    local start
    start=$(date +%s)
    if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        "$bin" -max_total_time="$seconds" ${FUZZ_SEED:+-seed="$FUZZ_SEED"} -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts/$name-" "$work" "$here/corpus/$name" \
        >"$log" 2>&1; then
        local runs
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        echo "fuzz: $name: ${runs:-?} inputs in $(($(date +%s) - start)) s, no failure"
    else
        echo "fuzz: $name FAILED; last lines of $log:" >&2
        tail -n 40 "$log" >&2
        return 1
    fi
}

status=0
for name in "${targets[@]}"; do
    while (($(jobs -rp | wc -l) >= ${FUZZ_JOBS:-2})); do wait -n || status=1; done
    fuzz_one "$name" &
done
while (($(jobs -rp | wc -l) > 0)); do wait -n || status=1; done
exit $status
