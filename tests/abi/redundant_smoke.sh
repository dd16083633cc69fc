#!/usr/bin/env bash
# The application smoke test with two fronts serving the same numbered feed
# (the second 20 ms behind), run with MDLINK_LINKS=2: the leading front's
# process is killed while records flow and started again later. The
# application, which knows nothing of redundant links, must see every record
# once and in order and no disconnection; the redundant client's records
# must be in its log.
#   redundant_smoke.sh APP MDFRONT
set -euo pipefail
app=$1
mdfront=$2
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

feed=(--shared-feed --seed 5 --rate 40 --instruments au2612,ag2612)
# Waits (up to a minute) for a line matching $2 in file $1.
await() {
    for _ in $(seq 600); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "timed out waiting for '$2' in $1" >&2
    cat "$1" >&2 || true
    return 1
}
port_of() {
    await "$work/$1.out" "listening"
    sed -n 's/^mdfront listening on [0-9.]*:\([0-9]*\)$/\1/p' "$work/$1.out"
}

"$mdfront" "${feed[@]}" --port 0 >"$work/lead.out" 2>&1 &
lead=$!
"$mdfront" "${feed[@]}" --port 0 --delay-ms 20 >"$work/lag.out" 2>&1 &
lead_port=$(port_of lead)
lag_port=$(port_of lag)

(cd "$work" && MDLINK_LINKS=2 "$app" "tcp://127.0.0.1:$lead_port" "tcp://127.0.0.1:$lag_port" 400 \
    >"$work/app.out" 2>&1; echo "exit $?" >>"$work/app.out") &
await "$work/app.out" "^records 100$"
kill -9 "$lead"
await "$work/app.out" "^records 200$"
"$mdfront" "${feed[@]}" --port "$lead_port" >"$work/lead.out" 2>&1 &
await "$work/app.out" "^exit "
cat "$work/app.out"
grep -q "^exit 0$" "$work/app.out"
grep -q "KVMDLinks\].*link 0 \[tcp://127.0.0.1:$lead_port\] lost" "$work"/KVMDLog/*.log || {
    echo "no record of the lost link in the log" >&2
    exit 1
}
echo "redundant links: the application saw nothing of the killed front"
