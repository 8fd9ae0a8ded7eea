#!/usr/bin/env bash
# Installs the pinned Node.js test peers (tests/package.json + package-lock.json)
# into DEST with `npm ci`. Skips (exit 77) when node or npm is missing; does
# nothing when DEST already holds exactly this lock file's packages.
set -euo pipefail
src_dir="$1"   # directory holding package.json and package-lock.json
dest="$2"      # where node_modules/ is created

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "SKIP: node/npm not installed; the Node.js interoperability test cannot run"
    exit 77
fi
mkdir -p "$dest"
stamp="$dest/node_modules/.nimbra-lock.sha256"
want=$(sha256sum "$src_dir/package-lock.json" | cut -d' ' -f1)
if [[ -f "$stamp" && "$(cat "$stamp")" == "$want" ]]; then
    echo "node_modules up to date"
    exit 0
fi
cp "$src_dir/package.json" "$src_dir/package-lock.json" "$dest/"
cd "$dest"
npm ci --no-audit --no-fund --loglevel=error
echo "$want" > "$stamp"
