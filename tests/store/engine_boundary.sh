#!/usr/bin/env bash
# Fails when BINARY defines a function of an HTTP library (one in
# cpp-httplib's namespace, or one of libmicrohttpd's MHD_ functions) or a
# source under SOURCES reads /proc/self/fd.
set -uo pipefail
binary="$1" sources="$2"
# By mangled name: a function of namespace httplib is _ZN7httplib... (_ZNK
# for a const member), whatever its return type or template arguments.
defined=$(nm --defined-only "$binary" | awk '$2 ~ /^[TtWw]$/ {print $3}' |
    grep -E '^_ZN[KVRO]*7httplib|^MHD_')
scans=$(grep -rl --include='*.cpp' --include='*.h' '/proc/self/fd' "$sources")
[[ -z "$defined$scans" ]] && exit 0
echo "HTTP library functions defined in $binary:" && echo "$defined" | c++filt | head -20
echo "Sources that read /proc/self/fd: $scans"
exit 1
