#!/usr/bin/env bash
# Fails when the library needs any shared library but the C and C++ runtimes
# (and, in sanitizer builds, the sanitizer runtimes).
set -euo pipefail
lib="$1"
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
allowed='^(libstdc\+\+\.so\.6|libgcc_s\.so\.1|libc\.so\.6|libm\.so\.6|ld-linux-x86-64\.so\.2|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|lib(a|ub|t)san\.so\.[0-9]+)$'
stray=$(printf '%s\n' "$needed" | grep -Ev "$allowed" || true)
if [ -n "$stray" ]; then
    echo "unexpected dependencies:"
    printf '%s\n' "$stray"
    exit 1
fi
echo "needs only:" $needed
