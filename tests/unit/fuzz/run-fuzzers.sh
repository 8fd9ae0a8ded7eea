#!/usr/bin/env bash
# tests/unit/fuzz/run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]: runs each fuzz
# target of a libFuzzer build for SECONDS from its corpus, FUZZ_JOBS (default
# 2) at a time; FUZZ_SEED fixes libFuzzer's seed. New inputs go to
# BUILD_DIR/fuzz-corpus/<name>/; a crash's input to
# BUILD_DIR/fuzz-artifacts/<name>-crash-<hash>: copy it into corpus/<name>/
# here, so the ordinary builds replay it.
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
    local name=$1 bin="$build/tests/unit/fuzz/fuzz_$1" log="$build/fuzz-artifacts/$1.log" start
    mkdir -p "$build/fuzz-corpus/$name"
    start=$(date +%s)
    if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        "$bin" -max_total_time="$seconds" ${FUZZ_SEED:+-seed="$FUZZ_SEED"} -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$build/fuzz-corpus/$name" "$here/corpus/$name" >"$log" 2>&1; then
        echo "fuzz: $name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)" \
            "inputs in $(($(date +%s) - start)) s, no failure"
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
