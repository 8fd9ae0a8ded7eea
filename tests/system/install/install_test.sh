#!/usr/bin/env bash
# Installs the build into a temporary prefix (install), or builds its Debian
# packages and unpacks them into a temporary root (package); checks what
# landed there, and builds and runs a small host against it through
# pkg-config and through find_package(Nimbra). An installed prefix is moved
# first, so no path of the build can help.
# Usage: install_test.sh install|package BUILD_DIR HOST_SOURCE_DIR LIBDIR
# Environment: CXX, NIMBRA_SANITIZE (the host is built with the same sanitizers).
set -euo pipefail
mode=$1 build=$2 host_src=$3 libdir=$4 cxx=${CXX:-c++}
flags=()
if [[ -n ${NIMBRA_SANITIZE:-} ]]; then flags=(-fsanitize="$NIMBRA_SANITIZE"); fi
work=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2 && exit 1; }
quiet() { "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2 && fail "failed: $*"; }; }

if [[ $mode == install ]]; then
    quiet cmake --install "$build" --prefix "$work/prefix"
    mv "$work/prefix" "$work/moved"
    prefix=$work/moved
else
    # The runtime, the development files, the tools and the desktop host
    # (when built); the others depend on the runtime of the same version.
    (cd "$build" && quiet cpack -G DEB -B "$work/debs")
    version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    packages=(libnimbra1 libnimbra-dev nimbra-tools)
    [[ -x $build/tools/desktop/nimbra-desktop ]] && packages+=(nimbra-desktop)
    for package in "${packages[@]}"; do
        deb=$(ls "$work"/debs/${package}_"$version"_*.deb 2>/dev/null) || fail "$package missing"
        if [[ $package != libnimbra1 ]]; then
            dpkg-deb -f "$deb" Depends | grep -q "libnimbra1 (= $version)" ||
                fail "$package does not depend on libnimbra1 $version"
        fi
        quiet dpkg-deb -x "$deb" "$work/root"
        grep -q '^License: Apache-2.0$' "$work/root/usr/share/doc/$package/copyright" ||
            fail "$package has no Apache-2.0 copyright file"
    done
    prefix=$work/root/usr
fi
lib=$prefix/$libdir

# The library with its SONAME links, the stand-in logging library, headers,
# package files and the command-line host.
[[ $(readlink "$lib/libNimbra.so") == libNimbra.so.1 ]] || fail "libNimbra.so link wrong"
[[ $(readlink "$lib/libNimbra.so.1") == libNimbra.so.1.0.0 ]] || fail "libNimbra.so.1 link wrong"
[[ $(readlink "$lib/libNimbraLog.so.1") == libNimbraLog.so.1.0.0 ]] || fail "libNimbraLog links wrong"
readelf -d "$lib/libNimbra.so.1.0.0" | grep -q 'SONAME.*\[libNimbra\.so\.1\]' || fail "SONAME wrong"
for file in include/Nimbra/Nimbra.h include/Nimbra/NimbraConfig.h include/KestLib/KestLib.h \
    include/Contracts/LogHandler.h "$libdir/pkgconfig/nimbra.pc" "$libdir/cmake/Nimbra/NimbraConfig.cmake"; do
    [[ -f $prefix/$file ]] || fail "$file missing"
done
"$prefix/bin/nimbra" --version | grep -q '^nimbra ' || fail "installed nimbra does not run"
if [[ -x $build/tools/desktop/nimbra-desktop ]]; then
    "$prefix/bin/nimbra-desktop" --version | grep -q '^nimbra-desktop ' ||
        fail "installed nimbra-desktop does not run"
    grep -q '^Exec=nimbra-desktop$' "$prefix/share/applications/nimbra-desktop.desktop" ||
        fail "nimbra-desktop.desktop missing or wrong"
    [[ -f $prefix/share/icons/hicolor/scalable/apps/nimbra-desktop.svg ]] || fail "icon missing"
fi

export PKG_CONFIG_PATH=$lib/pkgconfig
# shellcheck disable=SC2046
quiet "$cxx" -std=c++17 "${flags[@]}" $(pkg-config --cflags nimbra) "$host_src/host.cpp" \
    -o "$work/host-pc" $(pkg-config --libs nimbra)
LD_LIBRARY_PATH=$lib "$work/host-pc" || fail "pkg-config host failed"

quiet cmake -S "$host_src" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="${flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}"
quiet cmake --build "$work/host-build"
"$work/host-build/host" || fail "find_package host failed"
echo "install_test: $mode: checked the tree and built a host both ways"
