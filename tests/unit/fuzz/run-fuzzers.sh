#!/usr/bin/env bash
# tests/unit/fuzz/run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]: runs each fuzz
# target of a libFuzzer build for SECONDS from its corpus, FUZZ_JOBS (default
# 2) at a time; FUZZ_SEED fixes libFuzzer's seed. New inputs go to
# BUILD_DIR/fuzz-corpus/<name>/; a crash's input to
# BUILD_DIR/fuzz-artifacts/<name>-crash-<hash>: copy it into corpus/<name>/
# here, so the ordinary builds replay it. Ends with a table of the targets,
# seconds, inputs and results, in the form of docs/reliability.md's table of
# fuzzing time.
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

# Fuzzes one target; prints one line, or the failure with the log's end, and
# leaves its row of the table in BUILD_DIR/fuzz-artifacts/<name>.row.
fuzz_one() {
    local name=$1 bin="$build/tests/unit/fuzz/fuzz_$1" log="$build/fuzz-artifacts/$1.log"
    local row="$build/fuzz-artifacts/$1.row" start result inputs elapsed
    rm -f "$row"
    mkdir -p "$build/fuzz-corpus/$name"
    start=$(date +%s)
    if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        "$bin" -max_total_time="$seconds" ${FUZZ_SEED:+-seed="$FUZZ_SEED"} -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$build/fuzz-corpus/$name" "$here/corpus/$name" >"$log" 2>&1; then
        result="no failure"
    else
        result="FAILED: $(sed -n 's/.*Test unit written to //p' "$log" | tail -1)"
    fi
    elapsed=$(($(date +%s) - start))
    inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 |
        sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')
    echo "| \`$name\` | $elapsed | ${inputs:-0} | $result |" >"$row"
    if [[ $result == "no failure" ]]; then
        echo "fuzz: $name: ${inputs:-0} inputs in $elapsed s, no failure"
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
echo "| Target | Seconds | Inputs | Result |"
echo "|---|---|---|---|"
for name in "${targets[@]}"; do cat "$build/fuzz-artifacts/$name.row" 2>/dev/null || true; done
exit $status
