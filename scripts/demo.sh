#!/usr/bin/env bash
# The demo behind `make demo`: starts nimbra-devserver on the ports compiled
# into libNimbra with a fresh data directory, then, with the `nimbra`
# command-line host, backs up a sample file, changes it and backs it up
# again, lists both versions, reads the records and the used space, restores
# the first version and compares checksums, and removes everything again.
# Stops the server it started on every exit and ends with a summary; exits
# non-zero if any step failed.
#
# Environment: BUILD (build directory, default build), NIMBRA_BIN and
# NIMBRA_DEVSERVER_BIN (explicit binaries), NIMBRA_DEMO_SIZE_MIB (sample
# size, default 64).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD:-build}
[[ $BUILD_DIR = /* ]] || BUILD_DIR=$ROOT/$BUILD_DIR
NIMBRA=${NIMBRA_BIN:-$BUILD_DIR/tools/nimbra/nimbra}
DEVSERVER=${NIMBRA_DEVSERVER_BIN:-$BUILD_DIR/tools/devserver/nimbra-devserver}
SIZE_MIB=${NIMBRA_DEMO_SIZE_MIB:-64}
DEMO_USER=demo
BACKUP=first

if [[ -t 1 ]]; then
    BOLD=$'\e[1m' GREEN=$'\e[32m' RED=$'\e[31m' DIM=$'\e[2m' RESET=$'\e[0m'
else
    BOLD='' GREEN='' RED='' DIM='' RESET=''
fi

die() {
    echo "${RED}demo: $*${RESET}" >&2
    exit 1
}

for bin in "$NIMBRA" "$DEVSERVER"; do
    [[ -x $bin ]] || die "$bin is missing; build first with 'make build' (or run 'make demo')"
done
[[ $SIZE_MIB =~ ^[1-9][0-9]*$ ]] || die "NIMBRA_DEMO_SIZE_MIB must be a positive whole number"

# The addresses libNimbra was built with decide where the server must listen.
DEVSERVER_FOR="the demo"
# shellcheck source=scripts/devserver.sh
source "$ROOT/scripts/devserver.sh"
version=$("$NIMBRA" --version) || die "'nimbra --version' failed"
devserver_ports "$version"

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-demo.XXXXXX") || die "cannot make a temporary folder"
cleanup() {
    devserver_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "demo: interrupted" >&2; exit 130' INT TERM

echo "${BOLD}Nimbra demo${RESET}: web API $api_url, store $endpoint (compiled in)"
devserver_start "$DEVSERVER" "$work"
echo "started nimbra-devserver (pid $server_pid, data in $work/data)"

cd "$work" || die "cannot enter $work"
export NIMBRA_LOG="$work/nimbra.log"
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >sample.bin || die "cannot write the sample file"
echo "made sample.bin: $SIZE_MIB MiB of random bytes"

nimbra() { "$NIMBRA" "$@"; }
titles=()
results=()
failed=0

# step TITLE COMMAND...: shows the command and its output, records the outcome.
step() {
    local title=$1
    shift
    titles+=("$title")
    if ((failed)); then
        results+=(skipped)
        return
    fi
    printf '\n%s==> %s%s\n%s$ %s%s\n' "$BOLD" "$title" "$RESET" "$DIM" "$*" "$RESET"
    # Standard output also to step.out (key_in_step reads it); stderr stays a
    # terminal for the progress bar.
    { "$@" | tee "$work/step.out"; } 2>&1
    local status=$?
    if ((status == 0)); then
        results+=(ok)
    else
        results+=("failed (exit $status)")
        failed=1
        echo "${RED}step failed: $title (exit status $status)${RESET}"
        if [[ -s $NIMBRA_LOG ]]; then
            echo "last lines of the library log:"
            tail -n 5 "$NIMBRA_LOG" | sed 's/^/  /'
        fi
    fi
}

# The key the last step's backup named ("... as KEY").
key_in_step() { sed -n 's/^registered backup .* as //p' "$work/step.out"; }

change_sample() {
    head -c 4096 /dev/urandom | dd of=sample.bin bs=4096 seek=1 conv=notrunc status=none &&
        echo "overwrote 4 KiB of sample.bin: $(sha256sum sample.bin | cut -d' ' -f1)"
}

same_checksums() {
    local b
    b=$(sha256sum restored.bin | cut -d' ' -f1)
    echo "first version $first_sum"
    echo "restored.bin  $b"
    [[ $first_sum == "$b" ]]
}

no_records_left() {
    local out
    out=$(nimbra records "$DEMO_USER") || return
    echo "$out"
    [[ $out == "$DEMO_USER has no backup records" ]]
}

first_sum=$(sha256sum sample.bin | cut -d' ' -f1)
started=$SECONDS
backup=(nimbra backup sample.bin --user "$DEMO_USER" --name "$BACKUP" --expire-days 30)
step "Back up the sample file and register the record" "${backup[@]}"
first_key=$(key_in_step)
step "Change the sample file" change_sample
step "Back it up again: a key of its own, the first one stays" "${backup[@]}"
second_key=$(key_in_step)
step "List the backup's folder in the store: one per version" nimbra ls "$DEMO_USER/$BACKUP" --human
step "Read the user's backup records from the web API" nimbra records "$DEMO_USER" --human
step "Ask the web API for the used space" nimbra usage "$DEMO_USER"
step "Restore the first version (the second record)" \
    nimbra restore "$DEMO_USER" --pos 2 restored.bin
step "Compare it with the first version's checksum" same_checksums
step "Remove the first version's object" nimbra rm "$first_key"
step "Remove the second's, and the user's records" nimbra rm "$second_key" --user "$DEMO_USER"
step "Check that no record is left" no_records_left

printf '\n%sSummary%s (%d s)\n' "$BOLD" "$RESET" $((SECONDS - started))
for i in "${!titles[@]}"; do
    case ${results[$i]} in
    ok) mark="${GREEN}ok${RESET}     " ;;
    skipped) mark="${DIM}skipped${RESET}" ;;
    *) mark="${RED}FAILED${RESET} " ;;
    esac
    printf '  %s %s\n' "$mark" "${titles[$i]}"
done
if ((failed)); then
    echo "${RED}The demo failed.${RESET} Server log: last lines below."
    tail -n 5 "$work/server.log" | sed 's/^/  /'
    exit 1
fi
echo "${GREEN}All ${#titles[@]} steps passed.${RESET} Stopping the server and removing its data."
