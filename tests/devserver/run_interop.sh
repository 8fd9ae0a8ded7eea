#!/usr/bin/env bash
# Runs interop.js (ali-oss against nimbra-devserver): starts the server on free
# ports with a temporary data directory, runs node, stops the server.
# Exit 77 (skipped) when node is missing.
set -uo pipefail
server="$1"        # nimbra-devserver binary
modules_dir="$2"   # directory holding node_modules/
script="$3"        # interop.js

if ! command -v node >/dev/null 2>&1; then
    echo "SKIP: node not installed; the Node.js interoperability test cannot run"
    exit 77
fi
if [[ ! -d "$modules_dir/node_modules/ali-oss" ]]; then
    echo "ali-oss is not installed in $modules_dir (the npm setup step failed)"
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-interop-XXXXXX")
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/out"
"$server" --data-dir "$work/data" --api-port 0 --store-port 0 >"$work/out" &
server_pid=$!
api_port="" store_port=""
exec 3<"$work/out"
while IFS= read -r -t 60 line <&3; do
    case "$line" in
        "api-port "*) api_port=${line#api-port } ;;
        "store-port "*) store_port=${line#store-port } ;;
        ready) break ;;
    esac
done
if [[ -z "$api_port" || -z "$store_port" ]]; then
    echo "nimbra-devserver did not start"
    exit 1
fi

NODE_PATH="$modules_dir/node_modules" STORE_PORT="$store_port" API_PORT="$api_port" \
    BUCKET=nimbra-backup API_CA="$work/data/api-cert.pem" node "$script"
node_status=$?

# The server must also shut down cleanly (under sanitizers: without leaks).
kill -TERM "$server_pid"
wait "$server_pid"
server_status=$?
server_pid=""
if ((server_status != 0)); then
    echo "nimbra-devserver exited with status $server_status"
    exit 1
fi
exit "$node_status"
