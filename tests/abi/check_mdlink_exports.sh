#!/usr/bin/env bash
# Fails unless libmdlink.so exports exactly the published surface: the two
# static operations, the plain GetApiVersion, and the interface's virtual
# table, type information and type name (the last three as weak symbols).
set -euo pipefail
lib="$1"
actual=$(nm -D --defined-only "$lib" | awk '{ print $2, $3 }' | sort)
expected=$(sort <<'LIST'
T GetApiVersion
T _ZN15CThostFtdcMdApi13GetApiVersionEv
T _ZN15CThostFtdcMdApi15CreateFtdcMdApiEPKcbb
V _ZTI15CThostFtdcMdApi
V _ZTS15CThostFtdcMdApi
V _ZTV15CThostFtdcMdApi
LIST
)
if [ "$actual" != "$expected" ]; then
    echo "libmdlink.so exports differ from the published surface:"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
    exit 1
fi
# Run-time search path: the library's own directory first, then "./".
runpath=$(readelf -d "$lib" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')
case "$runpath" in
    '$ORIGIN:./'*) ;;
    *) echo "run-time search path does not start with \$ORIGIN:./: '$runpath'"; exit 1 ;;
esac
echo "exports and search path as published"
