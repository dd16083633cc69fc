#!/usr/bin/env bash
# Checks an unpacked Linux release (include/, lib/, bin/): the libraries and
# programs need from the system nothing but glibc, no symbol of it newer than
# GLIBC_2.28, nothing of the C++ runtime or GCC's support library (no
# GLIBCXX/CXXABI/GCC versions, no libstdc++/libgcc_s), and the libraries
# export exactly what the developer build's checks allow. Prints, per file,
# the highest glibc version and the symbols that need it.
#   check-release.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
floor=2.28
status=0
fail() { echo "  FAIL: $*"; status=1; }

files=("$dir/lib/libmdlink.so" "$dir/lib/libkelvobase.so" "$dir/bin/mdfront" "$dir/bin/mdcli" "$dir/bin/mdcap")
for f in "${files[@]}"; do
    [ -f "$f" ] || { echo "missing: $f"; exit 1; }
    echo "$(basename "$f"):"
    table=$(objdump -T "$f")
    # Versions of the symbols it takes from elsewhere, and of what it defines.
    versions=$(printf '%s\n' "$table" | grep -o '(\?\(GLIBC\|GLIBCXX\|CXXABI\|GCC\)_[0-9.]*)\?' | tr -d '()' | sort -u)
    runtime=$(printf '%s\n' "$versions" | grep -E '^(GLIBCXX|CXXABI|GCC)_' || true)
    [ -z "$runtime" ] || fail "C++ runtime versions required: $(echo $runtime)"
    highest=$(printf '%s\n' "$versions" | sed -n 's/^GLIBC_//p' | sort -V | tail -1)
    if [ -n "$highest" ]; then
        users=$(printf '%s\n' "$table" | awk -v v="GLIBC_$highest" '$0 ~ "[( ]" v "[) ]" { print $NF }' | sort -u)
        echo "  highest glibc version $highest: $(echo $users)"
        newest=$(printf '%s\n%s\n' "$floor" "$highest" | sort -V | tail -1)
        if [ "$newest" != "$floor" ]; then
            for v in $(printf '%s\n' "$versions" | sed -n 's/^GLIBC_//p'); do
                [ "$(printf '%s\n%s\n' "$floor" "$v" | sort -V | tail -1)" = "$floor" ] && continue
                fail "GLIBC_$v (above $floor): $(printf '%s\n' "$table" | awk -v v="GLIBC_$v" '$0 ~ "[( ]" v "[) ]" { print $NF }' | sort -u | tr '\n' ' ')"
            done
        fi
    fi
    needed=$(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    echo "  needs: $(echo $needed)"
    stray=$(printf '%s\n' "$needed" |
        grep -Ev '^(libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|ld-linux-x86-64\.so\.2|libmdlink\.so|libkelvobase\.so)$' || true)
    [ -z "$stray" ] || fail "needs more than glibc: $(echo $stray)"
done

echo "exports:"
bash "$here/../tests/abi/check_mdlink_exports.sh" "$dir/lib/libmdlink.so" | sed 's/^/  libmdlink.so: /' || status=1
bash "$here/../tests/base/check_exports.sh" "$dir/lib/libkelvobase.so" | sed 's/^/  libkelvobase.so: /' || status=1
# The programs export nothing of the runtime they carry (glibc's stdout and
# stderr are there as copies the program holds for glibc). mdcli builds the
# redundant client itself, so it holds a copy of the interface's type
# information, which libmdlink exports too: the linker exports the program's
# copy so that the type keeps one identity in the process.
for p in mdfront mdcli mdcap; do
    leaked=$(nm -D --defined-only "$dir/bin/$p" | awk '{ print $3 }' |
        grep -Ev '^(_IO_stdin_used|__data_start|_edata|_end|__bss_start|data_start|_init|_fini)$|@GLIBC_' |
        grep -Ev '^_ZT[IS]15CThostFtdcMdApi$' || true)
    [ -z "$leaked" ] || fail "$p exports: $(echo $leaked | cut -c1-200)"
done
[ "$status" -eq 0 ] && echo "release check passed: glibc $floor or older, no C++ runtime needed, exports as published"
exit $status
