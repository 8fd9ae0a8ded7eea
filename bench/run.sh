#!/usr/bin/env bash
# Runs the upload/download benchmark (bench/harness.py; settings there).
#
# As root, where network namespaces work, the whole run goes into a private
# namespace with its own loopback: the library's compiled-in ports are free
# there whatever runs on the host, the host's tests are not disturbed, and a
# delay can be put on that loopback without touching the host's. Elsewhere
# it runs on the host's loopback (BENCH_NETNS=0 asks for that too).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export BENCH_BUILD=${BENCH_BUILD:-$here/../build}

# The Node.js peer comes from npm, which a private namespace cannot reach.
if [[ ",${BENCH_ONLY:-ali-oss}," == *,ali-oss,* ]]; then
    python3 "$here/harness.py" --install-peers
fi

if [[ ${BENCH_NETNS:-auto} != 0 && $(id -u) -eq 0 ]] && command -v ip >/dev/null; then
    ns=nimbra-bench-$$
    if ip netns add "$ns" 2>/dev/null; then
        trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
        ip netns exec "$ns" ip link set lo up
        status=0
        BENCH_IN_NETNS=$ns ip netns exec "$ns" python3 "$here/harness.py" "$@" || status=$?
        exit "$status"
    fi
    echo "run.sh: no network namespace could be made; using the host's loopback" >&2
fi
exec python3 "$here/harness.py" "$@"
