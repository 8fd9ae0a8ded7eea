#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what landed there, and
# builds and runs a small host against it twice: through pkg-config and
# through find_package(Nimbra).
# Usage: install_test.sh BUILD_DIR HOST_SOURCE_DIR LIBDIR
# Environment: CXX (compiler), NIMBRA_SANITIZE (the build's sanitizers, which
# the host must be built with too).
set -euo pipefail
build=$1
host_src=$2
libdir=$3
cxx=${CXX:-c++}
flags=()
if [[ -n ${NIMBRA_SANITIZE:-} ]]; then flags=(-fsanitize="$NIMBRA_SANITIZE"); fi

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
    echo "install_test: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "cmake --install failed"
}

# The library with its SONAME links, the stand-in logging library, headers,
# package files and the command-line host.
lib=$prefix/$libdir
[[ -f $lib/libNimbra.so.1.0.0 ]] || fail "libNimbra.so.1.0.0 missing"
[[ $(readlink "$lib/libNimbra.so.1") == libNimbra.so.1.0.0 ]] || fail "libNimbra.so.1 link wrong"
[[ $(readlink "$lib/libNimbra.so") == libNimbra.so.1 ]] || fail "libNimbra.so link wrong"
[[ $(readlink "$lib/libNimbraLog.so.1") == libNimbraLog.so.1.0.0 ]] || fail "libNimbraLog links wrong"
readelf -d "$lib/libNimbra.so.1.0.0" | grep -q 'SONAME.*\[libNimbra\.so\.1\]' || fail "SONAME wrong"
for header in Nimbra/Nimbra.h Nimbra/NimbraConfig.h KestLib/KestLib.h Contracts/LogHandler.h; do
    [[ -f $prefix/include/$header ]] || fail "$header missing"
done
[[ -f $lib/pkgconfig/nimbra.pc ]] || fail "nimbra.pc missing"
[[ -f $lib/cmake/Nimbra/NimbraConfig.cmake ]] || fail "NimbraConfig.cmake missing"
"$prefix/bin/nimbra" --version | grep -q '^nimbra ' || fail "installed nimbra does not run"

# Installed anywhere: move the prefix so no path of the build can help.
mv "$prefix" "$work/moved"
prefix=$work/moved
lib=$prefix/$libdir

# 1. pkg-config
export PKG_CONFIG_PATH=$lib/pkgconfig
[[ $(pkg-config --modversion nimbra) =~ ^1\. ]] || fail "pkg-config does not know nimbra"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "${flags[@]}" $(pkg-config --cflags nimbra) "$host_src/host.cpp" -o "$work/host-pc" \
    $(pkg-config --libs nimbra) || fail "host does not build with pkg-config"
LD_LIBRARY_PATH=$lib "$work/host-pc" || fail "pkg-config host failed"

# 2. find_package(Nimbra)
cmake -S "$host_src" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="${flags[*]}" \
    -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" >"$work/host-configure.log" || {
    cat "$work/host-configure.log" >&2
    fail "find_package(Nimbra) failed"
}
cmake --build "$work/host-build" >"$work/host-build.log" || {
    cat "$work/host-build.log" >&2
    fail "host does not build with find_package"
}
"$work/host-build/host" || fail "find_package host failed"
echo "install_test: installed, relocated, and built a host both ways"
