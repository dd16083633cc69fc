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
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

feed=(--shared-feed --seed 5 --rate 40 --instruments au2612,ag2612)
start_front() { # name, extra flags...
    local name=$1
    shift
    "$mdfront" "${feed[@]}" "$@" >"$work/$name.out" 2>&1 &
    pids+=($!)
    echo $!
}
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
    sed -n 's/^mdfront listening on [0-9.]*:\([0-9]*\)$/\1/p' "$work/$1.out"
}

lead=$(start_front lead --port 0)
start_front lag --port 0 --delay-ms 20 >/dev/null
await "$work/lead.out" "listening"
await "$work/lag.out" "listening"
lead_port=$(port_of lead)
lag_port=$(port_of lag)

(cd "$work" && MDLINK_LINKS=2 "$app" "tcp://127.0.0.1:$lead_port" "tcp://127.0.0.1:$lag_port" 400 \
    >"$work/app.out" 2>&1; echo "exit $?" >>"$work/app.out") &
pids+=($!)
await "$work/app.out" "^records 100$"
kill -9 "$lead"
await "$work/app.out" "^records 200$"
start_front lead --port "$lead_port" >/dev/null
await "$work/app.out" "^exit "
cat "$work/app.out"
grep -q "^exit 0$" "$work/app.out"
log=$(cat "$work"/KVMDLog/*.log)
grep -q "KVMDLinks\].*link 0 \[tcp://127.0.0.1:$lead_port\] lost" <<<"$log" || {
    echo "no record of the lost link in the log" >&2
    exit 1
}
echo "redundant links: the application saw nothing of the killed front"
