#!/usr/bin/env bash
# `make desktop`: starts nimbra-devserver on the ports compiled into libNimbra
# with a fresh data directory, opens nimbra-desktop against it, and stops the
# server (removing its data) when the window closes.
#
# Environment: BUILD (build directory, default build).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=${BUILD:-build}
[[ $BUILD_DIR = /* ]] || BUILD_DIR=$ROOT/$BUILD_DIR
DESKTOP=$BUILD_DIR/tools/desktop/nimbra-desktop
DEVSERVER=$BUILD_DIR/tools/devserver/nimbra-devserver

die() { echo "desktop: $*" >&2 && exit 1; }

[[ -x $DESKTOP && -x $DEVSERVER ]] || die "nimbra-desktop or nimbra-devserver is missing in" \
    "$BUILD_DIR; build them first with 'make desktop'"
if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-} ]]; then
    die "no display (neither DISPLAY nor WAYLAND_DISPLAY is set): nimbra-desktop needs one"
fi

DEVSERVER_FOR="make desktop"
# shellcheck source=scripts/devserver.sh
source "$ROOT/scripts/devserver.sh"
devserver_ports "$("$DESKTOP" --version)"

work=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-desktop.XXXXXX") || die "cannot make a temporary folder"
cleanup() {
    devserver_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

devserver_start "$DEVSERVER" "$work"
echo "nimbra-devserver: web API $api_url, store $endpoint, data in $work/data (removed on exit)"
"$DESKTOP" "$@"
