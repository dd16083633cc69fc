#!/usr/bin/env bash
# Quick start on a Debian machine:
#   ./run.sh demo   the bundled front simulator and the command-line client
#                   streaming live ticks for about ten seconds (Ctrl-C stops it)
#   ./run.sh test   build and run every test
#   ./run.sh release  the Linux release tarball in dist/, built and tried in
#                   a Debian 11 userland (root; packaging/release-linux.sh)
# Missing build packages are installed with apt-get when run as root;
# otherwise the command to install them is printed.
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${MDLINK_BUILD_DIR:-build}
PACKAGES=(cmake ninja-build g++ libasio-dev libcli11-dev libgtest-dev googletest libbenchmark-dev libfast-float-dev
          libfmt-dev pybind11-dev python3-dev python3-numpy python3-pytest python3-pandas pkg-config
          nats-server libnats-dev tzdata python3-prometheus-client libzstd-dev python3-dask python3-distributed)

install_missing() {
    command -v dpkg-query >/dev/null 2>&1 || return 0
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

configure_and_build() {
    # shellcheck disable=SC2086
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${MDLINK_CMAKE_ARGS:-} >/dev/null
    cmake --build "$BUILD_DIR" -j 2 "$@"
}

FRONT_PID=""
PORT_FILE=""
stop_front() {
    if [ -n "$FRONT_PID" ]; then
        kill "$FRONT_PID" 2>/dev/null || true
        wait "$FRONT_PID" 2>/dev/null || true
        FRONT_PID=""
    fi
    [ -z "$PORT_FILE" ] || rm -f "$PORT_FILE"
}

demo() {
    configure_and_build --target mdfront mdcli
    local bin="$BUILD_DIR/bin" port=""
    PORT_FILE=$(mktemp)
    trap stop_front EXIT
    "$bin/mdfront" --port 0 --instruments au2612,ag2612,cu2601,rb2605,IF2612 --rate 4 >"$PORT_FILE" &
    FRONT_PID=$!
    for _ in $(seq 100); do
        port=$(sed -n 's/^mdfront listening on [0-9.]*:\([0-9]*\)$/\1/p' "$PORT_FILE")
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "mdfront did not start" >&2; exit 1; }
    echo "mdfront is serving on 127.0.0.1:$port; mdcli streams its ticks:"
    # The client writes its log under ./KVMDLog of its working directory.
    mkdir -p "$BUILD_DIR/demo"
    local status=0
    (cd "$BUILD_DIR/demo" && "../bin/mdcli" --front "tcp://127.0.0.1:$port" \
        --instruments au2612,ag2612,cu2601,rb2605,IF2612 --duration "${DEMO_SECONDS:-10}") || status=$?
    stop_front
    echo "The client's log: $BUILD_DIR/demo/KVMDLog/"
    return $status
}

run_tests() {
    configure_and_build
    ctest --test-dir "$BUILD_DIR" -j 2 --output-on-failure
}

case "${1:-}" in
    demo) install_missing; demo ;;
    test) install_missing; run_tests ;;
    release) shift; exec packaging/release-linux.sh "$@" ;;
    *) echo "usage: $0 demo|test|release" >&2; exit 2 ;;
esac
