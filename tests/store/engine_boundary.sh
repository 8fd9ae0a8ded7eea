#!/usr/bin/env bash
# Fails when BINARY defines a function of an HTTP library, by mangled name (one
# of namespace httplib, whatever its return type, or an MHD_ function), or a
# source under SOURCES reads /proc/self/fd.
defined=$(nm --defined-only "$1" | awk '$2 ~ /^[TtWw]$/ {print $3}' | grep -E '^_ZN[KVRO]*7httplib|^MHD_')
scans=$(grep -rl --include='*.cpp' --include='*.h' '/proc/self/fd' "$2")
[[ -z "$defined$scans" ]] && exit 0
echo "HTTP library functions defined in $1:" && echo "$defined" | c++filt | head -20
echo "Sources that read /proc/self/fd: $scans" && exit 1
