#!/usr/bin/env bash
# The dynamic symbol table of libNimbra.so: exactly InitOssManager and the
# KestLib functions of the list, one symbol each, defined; LogHandlerA
# imported. Usage: check_exports.sh LIBRARY LIST
set -euo pipefail
lib=$1 list=$2
defined=$(nm -D --defined-only -C "$lib" | cut -d' ' -f3- | sed 's/\[abi:[^]]*\]//; s/(.*//' | sort)
expected=$({ echo InitOssManager; grep -vE '^(#|$)' "$list" | sed 's/^/KestLib::/'; } | sort)
undefined=$(nm -D --undefined-only "$lib")
fail=0
diff <(echo "$expected") <(echo "$defined") || { echo "exports differ from the list (<: missing, >: unexpected)"; fail=1; }
grep -qw LogHandlerA <<<"$undefined" || { echo "LogHandlerA must be an undefined dynamic symbol"; fail=1; }
((fail == 0)) && echo "exports ok: $(wc -l <<<"$defined") symbols"
