#!/usr/bin/env bash
# Installs every Debian package the build, tests, demo and benchmarks need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
    build-essential cmake pkg-config
    libcurl4-openssl-dev libcjson-dev libapr1-dev libaprutil1-dev libmxml-dev libexpat1-dev libssl-dev
    libgtest-dev libgmock-dev googletest libsqlite3-dev libcpp-httplib-dev libcli11-dev
    libmicrohttpd-dev libgnutls28-dev
    clang libclang-rt-14-dev libc++-dev libc++abi-dev
    qt6-base-dev fonts-dejavu-core
    openssl curl binutils procps time
    nodejs npm gnuplot-nox iproute2 valgrind
)

missing=()
for p in "${PACKAGES[@]}"; do
    # nodejs/npm may come from the machine image rather than Debian.
    if [[ "$p" == nodejs ]] && command -v node >/dev/null 2>&1; then continue; fi
    if [[ "$p" == npm ]] && command -v npm >/dev/null 2>&1; then continue; fi
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
