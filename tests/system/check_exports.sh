#!/usr/bin/env bash
# The dynamic symbol table of libNimbra.so: InitOssManager and the exported
# KestLib functions, nothing else defined; LogHandlerA imported, not defined.
set -euo pipefail
lib="$1"
fail=0

defined=$(nm -D --defined-only -C "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }')
while IFS= read -r sym; do
    [[ -z "$sym" ]] && continue
    case "$sym" in
        InitOssManager) ;;
        KestLib::FileGetDirInfoA* | KestLib::FileGetDirInfoW* | *StrToUpper*)
            echo "internal KestLib symbol exported: $sym"; fail=1 ;;
        KestLib::*) ;;
        *) echo "unexpected exported symbol: $sym"; fail=1 ;;
    esac
done <<<"$defined"

grep -qx 'InitOssManager' <<<"$defined" || { echo "InitOssManager is not exported"; fail=1; }

# Read the tables whole before matching: grep -q exiting early would break
# nm's pipe, which pipefail reports as a failure.
undefined_raw=$(nm -D --undefined-only "$lib")
defined_raw=$(nm -D --defined-only "$lib")
if ! grep -qw 'LogHandlerA' <<<"$undefined_raw"; then
    echo "LogHandlerA must be an undefined dynamic symbol"; fail=1
fi
if grep -qw 'LogHandlerA' <<<"$defined_raw"; then
    echo "LogHandlerA must not be defined in libNimbra"; fail=1
fi

soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ "$soname" =~ ^libNimbra\.so\.[0-9]+$ ]] || { echo "unversioned SONAME: '$soname'"; fail=1; }

# Every name the utility header promises must be there.
if [[ $# -ge 2 ]]; then
    while IFS= read -r want; do
        [[ -z "$want" || "$want" == \#* ]] && continue
        grep -qE "^KestLib::${want}(\[abi:[[:alnum:]_]+\])?\(" <<<"$defined" || { echo "missing export: KestLib::$want"; fail=1; }
    done <"$2"
fi

if ((fail)); then exit 1; fi
echo "exports ok: $(wc -l <<<"$defined") symbols"
