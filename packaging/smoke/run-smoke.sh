#!/usr/bin/env bash
# Runs on the target system (inside its userland), in a folder holding the
# unpacked release (DIST) and ReleaseSmoke.cpp: builds the application with
# the system's own g++ against include/MdApi.h only, starts the release's
# mdfront, and has the application and mdcli receive depth records from it.
#   run-smoke.sh DIST
set -euo pipefail
dist=$(cd "$1" && pwd)
here=$(pwd)
echo "system: $(. /etc/os-release && echo "$PRETTY_NAME"), $(ldd --version | head -1), $(g++ --version | head -1)"

g++ -std=c++11 -O2 -Wall -Wextra -Werror -I "$dist/include" ReleaseSmoke.cpp -o release_smoke \
    -L "$dist/lib" -lmdlink -Wl,-rpath,"$dist/lib" -pthread
echo "release_smoke needs: $(readelf -d release_smoke | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"

front_pid=""
stop_front() {
    [ -z "$front_pid" ] || kill "$front_pid" 2>/dev/null || true
    [ -z "$front_pid" ] || wait "$front_pid" 2>/dev/null || true
    front_pid=""
}
trap stop_front EXIT
# Text depth records: the library reads their numbers, mdfront writes them.
# --duration: the front ends by itself even if this script is killed.
"$dist/bin/mdfront" --port 0 --form text --rate 50 --instruments au2612,IF2612 \
    --duration 300 >front.out 2>&1 &
front_pid=$!
port=""
for _ in $(seq 300); do
    port=$(sed -n 's/^mdfront listening on [0-9.]*:\([0-9]*\)$/\1/p' front.out)
    [ -n "$port" ] && break
    kill -0 "$front_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$port" ] || { cat front.out; echo "FAILED: mdfront did not start"; exit 1; }
echo "mdfront listening on port $port"

mkdir -p app cli
# The application: its first depth callback throws; 20 records must follow.
(cd app && "$here/release_smoke" "tcp://127.0.0.1:$port" au2612 20) ||
    { echo "FAILED: the application (exit status $?)"; exit 1; }
# The library's log names the callback and the exception's text, read across
# the two C++ runtimes.
grep -h "OnRtnDepthMarketData threw: thrown by the application's depth callback" app/KVMDLog/*.log ||
    { echo "FAILED: no record of the exception in the library's log"; exit 1; }

(cd cli && "$dist/bin/mdcli" --front "tcp://127.0.0.1:$port" --instruments au2612,IF2612 \
    --csv ticks.csv --duration 3 --quiet) || { echo "FAILED: mdcli (exit status $?)"; exit 1; }
rows=$(($(wc -l <cli/ticks.csv) - 1))
[ "$rows" -ge 2 ] || { echo "FAILED: mdcli wrote $rows depth records"; exit 1; }
echo "mdcli wrote $rows depth records to CSV"
stop_front
echo "smoke passed"
