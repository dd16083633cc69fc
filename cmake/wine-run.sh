#!/bin/sh
# wine-run.sh <default prefix> <program.exe> [args...]
# Runs a cross-built Windows program under Wine (the emulator of the MinGW
# build's tests): quiet, and in a Wine prefix of its own, never ~/.wine.
# WINEPREFIX, when set, names the prefix (CI gives each run a fresh temporary
# one); otherwise the first argument does.
set -eu
export WINEPREFIX="${WINEPREFIX:-$1}"
shift
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is being created.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64

# Wine's server and background services outlive the first program that
# starts them and would keep its output pipe open, so ctest would wait for
# them: start them here, detached from our output. The first start creates
# the prefix, under a lock so that parallel tests wait for it.
mkdir -p "$WINEPREFIX"
flock "$WINEPREFIX/.start.lock" "$wine" wineboot </dev/null >/dev/null 2>&1
exec "$wine" "$@"
