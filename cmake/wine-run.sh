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

# Wine's server and background services outlive the program that starts
# them (by some seconds) and would hold its output pipe open, so ctest would
# wait for them. A first, empty program detached from our output starts them
# (and creates the prefix on first use); ours then finds them running. Under
# a lock, so that parallel tests do not create the prefix twice (-o: the
# lock is not handed down to the services, which would hold it).
mkdir -p "$WINEPREFIX"
flock -o "$WINEPREFIX/.start.lock" "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1
exec "$wine" "$@"
