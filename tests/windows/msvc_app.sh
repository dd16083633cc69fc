#!/usr/bin/env bash
# msvc_app.sh <emulator command...> -- <mdfront.exe> <work dir> <program.exe> [rounds]
# Runs a Visual C++ ABI test program against three mdfront.exe, one per body
# form, after a dead front (nothing listens on port 1).
set -euo pipefail
emulator=()
while [ "$1" != "--" ]; do emulator+=("$1"); shift; done
shift
front=$1 work=$2 program=$3
shift 3
mkdir -p "$work"
cd "$work"

pids=()
stop_fronts() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -f front-*.fifo
}
trap stop_fronts EXIT

addresses=()
for form in binary text joined; do
    fifo=front-$form.fifo
    rm -f "$fifo"
    mkfifo "$fifo"
    "${emulator[@]}" "$front" --form "$form" --rate 50 --instruments au2612@SHFE,ag2612@SHFE \
        --duration 600 >"$fifo" &
    pids+=($!)
    exec {fd}<"$fifo"
    line=
    read -r -t 120 line <&"$fd" || true
    # The front's later output is not needed; a reader that goes away would
    # end it with a broken pipe, so keep draining it.
    cat <&"$fd" >/dev/null &
    exec {fd}<&-
    port=$(sed -n 's/^mdfront listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' <<<"${line%$'\r'}")
    [ -n "$port" ] || { echo "mdfront --form $form did not start: '$line'"; exit 1; }
    addresses+=("tcp://127.0.0.1:$port")
done

"${emulator[@]}" "$program" tcp://127.0.0.1:1 "${addresses[@]}" "$@"
