#!/usr/bin/env bash
# cli_smoke.sh <emulator command...> -- <mdfront.exe> <mdcli.exe> <work dir>
# mdcli.exe against mdfront.exe on loopback: depth data must arrive and be
# written to CSV.
set -euo pipefail
emulator=()
while [ "$1" != "--" ]; do emulator+=("$1"); shift; done
shift
front=$1 cli=$2 work=$3
mkdir -p "$work"
cd "$work"
rm -f depth.csv

coproc FRONT { exec "${emulator[@]}" "$front" --rate 20 --instruments au2612,ag2612 --duration 300; }
front_pid=$FRONT_PID
trap 'kill "$front_pid" 2>/dev/null || true; wait "$front_pid" 2>/dev/null || true' EXIT
line=
read -r -t 120 line <&"${FRONT[0]}" || true
port=$(sed -n 's/^mdfront listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' <<<"${line%$'\r'}")
[ -n "$port" ] || { echo "mdfront did not start: '$line'"; exit 1; }

"${emulator[@]}" "$cli" --front "tcp://127.0.0.1:$port" --instruments au2612,ag2612 \
    --duration 10 --quiet --csv depth.csv
rows=$(grep -c 'au2612' depth.csv || true)
[ "$rows" -gt 0 ] || { echo "no au2612 rows in depth.csv"; exit 1; }
echo "mdcli.exe wrote $rows au2612 rows from mdfront.exe"
