#!/usr/bin/env bash
# Fails when BINARY defines a function of an HTTP library (one in
# cpp-httplib's namespace, or one of libmicrohttpd's MHD_ functions) or a
# file under SOURCES reads /proc/self/fd.
set -uo pipefail
binary="$1" sources="$2"
# The functions' own names: the demangled symbol up to its parameter list.
defined=$(nm -C --defined-only "$binary" | awk '$2 ~ /^[TtWw]$/' | cut -d' ' -f3- |
    sed 's/(.*//' | grep -E '^MHD_|(^| )httplib::')
scans=$(grep -rl '/proc/self/fd' "$sources")
[[ -z "$defined$scans" ]] && exit 0
echo "HTTP library functions defined in $binary:" && echo "$defined" | head -20
echo "Sources that read /proc/self/fd: $scans"
exit 1
