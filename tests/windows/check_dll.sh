#!/usr/bin/env bash
# check_dll.sh <objdump> <file.dll|file.exe> [exact <name>... | kelvo]
# Fails when the file imports a DLL that Windows does not ship (other than
# ours), or when its exports are not exactly the names given ("exact") or not
# all within the base-services API ("kelvo").
set -euo pipefail
objdump=$1 file=$2
shift 2
dump=$("$objdump" -p "$file")

imports=$(sed -n 's/^\tDLL Name: //p' <<<"$dump")
system='^(kernel32|ws2_32|mswsock|msvcrt|advapi32|user32|api-ms-win-[a-z0-9-]+|KelvoBaseV64|mdlink64)\.dll$'
if stray=$(grep -Eiv "$system" <<<"$imports"); then
    echo "$(basename "$file") needs DLLs that Windows does not ship:" $stray
    exit 1
fi
[ $# -gt 0 ] || { echo "imports only system DLLs:" $imports; exit 0; }

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' <<<"$dump" | sort)
mode=$1
shift
case "$mode" in
exact)
    expected=$(printf '%s\n' "$@" | sort)
    if [ "$exports" != "$expected" ]; then
        echo "exports differ (< expected, > actual):"
        diff <(printf '%s\n' "$expected") <(printf '%s\n' "$exports") || true
        exit 1
    fi ;;
kelvo)
    # g++ names of Kelvo_* members, tables and type information, and the
    # extern "C" Kelvo_* functions.
    [ -n "$exports" ] || { echo "no exports"; exit 1; }
    if stray=$(grep -Ev '^(_ZN?K?[0-9]+Kelvo_|_ZT[VI][0-9]+Kelvo_|Kelvo_)' <<<"$exports"); then
        echo "exported outside the base-services API:"
        printf '%s\n' "$stray"
        exit 1
    fi ;;
*)
    echo "unknown mode $mode"; exit 2 ;;
esac
echo "$(wc -l <<<"$exports") exports as expected; imports only system DLLs:" $imports
