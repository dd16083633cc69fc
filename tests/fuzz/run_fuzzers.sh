#!/usr/bin/env bash
# run_fuzzers.sh SECONDS [BUILD_DIR [TARGET...]]
# Runs each libFuzzer target (default: all) for SECONDS, one after the other,
# from its seed corpus in tests/fuzz/corpus/<target>/ (copied: the seeds stay
# as they are), at -max_len 4096. Prints the inputs run and the inputs per
# second of each (per second of the run, and per second of processor time
# it had: on a shared machine the two differ). On a finding: the end of its log, the failing input kept as
# ./<target>-crash-*, and exit status 1.
# BUILD_DIR (default ./build-fuzz) is configured with clang and -DMDLINK_FUZZ=ON.
set -euo pipefail
seconds=${1:?usage: run_fuzzers.sh SECONDS [BUILD_DIR [TARGET...]]}
here=$(cd "$(dirname "$0")" && pwd)
build=${2:-build-fuzz}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(receive_fuzz receive_sequence_fuzz frame_reader_fuzz depth_text_fuzz capture_reader_fuzz)
max_len=4096

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Processor seconds (user and system) of this shell's finished children,
# into $cpu ("times" in a subshell would count the subshell's).
child_cpu() {
    times >"$work/times"
    cpu=$(tail -1 "$work/times" | tr 'ms' '  ' | awk '{ printf "%.2f", $1 * 60 + $2 + $3 * 60 + $4 }')
}
for target in "${targets[@]}"; do
    corpus=$work/$target
    mkdir -p "$corpus"
    cp "$here/corpus/$target/"* "$corpus/"
    log=$work/$target.log
    child_cpu
    cpu_before=$cpu
    if ! "$build/bin/$target" -max_total_time="$seconds" -max_len=$max_len -rss_limit_mb=2048 \
            -timeout=60 -print_final_stats=1 -artifact_prefix="$PWD/$target-" "$corpus" >"$log" 2>&1; then
        tail -60 "$log"
        echo "$target found a failing input"
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    child_cpu
    cpu=$(awk -v a="$cpu_before" -v b="$cpu" 'BEGIN { printf "%.1f", b - a }')
    per_cpu=$(awk -v n="$runs" -v c="$cpu" 'BEGIN { printf "%d", (c > 0 ? n / c : 0) }')
    echo "$target: $runs inputs in $seconds s, $rate a second ($per_cpu per processor second," \
         "$cpu s), corpus $(ls "$corpus" | wc -l) inputs, no finding"
done
