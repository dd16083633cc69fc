#!/usr/bin/env bash
# Fails when the library exports anything but the base-services API: members,
# virtual tables and type information of the Kelvo_* classes, and the
# extern "C" Kelvo_* functions.
set -euo pipefail
lib="$1"
symbols=$(nm -D --defined-only "$lib" | awk '{ print $3 }' | c++filt)
[ -n "$symbols" ] || { echo "no exported symbols in $lib"; exit 1; }
allowed='^(Kelvo_[A-Za-z]+::[~A-Za-z_]|(vtable|typeinfo|typeinfo name) for Kelvo_[A-Za-z]+$|Kelvo_[A-Za-z_]+$)'
stray=$(printf '%s\n' "$symbols" | grep -Ev "$allowed" || true)
if [ -n "$stray" ]; then
    echo "symbols exported outside the base-services API:"
    printf '%s\n' "$stray"
    exit 1
fi
for required in Kelvo_THREAD_GetTickCount Kelvo_LOOP_Call 'vtable for Kelvo_TcpClientHandler' \
    'typeinfo for Kelvo_Timer' 'Kelvo_Log::Trace(int, char const*, ...)'; do
    grep -qxF "$required" <<<"$symbols" || { echo "missing export: $required"; exit 1; }
done
echo "$(printf '%s\n' "$symbols" | wc -l) exported symbols, all within the API"
