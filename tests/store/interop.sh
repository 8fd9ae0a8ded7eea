#!/usr/bin/env bash
# Runs interop.js against nimbra-devserver on free ports (installing the pinned
# ali-oss into NODE_DIR when the lock file changed), then checks that the
# server shuts down cleanly. Exit 77 (skipped) without node, npm or the package.
set -uo pipefail
server="$1" src="$2" node_dir="$3"

command -v node >/dev/null && command -v npm >/dev/null || { echo "SKIP: no node/npm"; exit 77; }
stamp="$node_dir/node_modules/.lock.sha256"
want=$(sha256sum "$src/package-lock.json" | cut -d' ' -f1)
if [[ "$(cat "$stamp" 2>/dev/null)" != "$want" ]]; then
    mkdir -p "$node_dir" && cp "$src/package.json" "$src/package-lock.json" "$node_dir/"
    (cd "$node_dir" && npm ci --no-audit --no-fund --loglevel=error) || { echo "SKIP: npm ci failed"; exit 77; }
    echo "$want" >"$stamp"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-interop-XXXXXX")
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
"$server" --data-dir "$work/data" --api-port 0 --store-port 0 >"$work/out" &
pid=$!
for ((i = 0; i < 600; ++i)); do
    grep -qx ready "$work/out" && break
    sleep 0.1
done
port() { sed -n "s/^$1 //p" "$work/out"; }
grep -qx ready "$work/out" || { echo "nimbra-devserver did not start"; exit 1; }

NODE_PATH="$node_dir/node_modules" STORE_PORT=$(port store-port) API_PORT=$(port api-port) \
    API_CA="$work/data/api-cert.pem" node "$src/interop.js"
status=$?
# The server must also shut down cleanly (under sanitizers: without leaks).
kill -TERM "$pid" && wait "$pid" || { echo "nimbra-devserver did not exit cleanly"; exit 1; }
pid=
exit "$status"
