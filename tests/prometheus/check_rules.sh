#!/bin/sh
# The alert rules under promtool: the file is valid, and its unit tests
# (each rule firing, and not firing where it should not) pass. Without
# promtool: skipped (exit 77), or failed where MDLINK_REQUIRE_PROMETHEUS=1.
set -e
rules=$1
tests=$2
if ! command -v promtool >/dev/null 2>&1; then
    echo "promtool not found (Debian package prometheus)"
    [ "${MDLINK_REQUIRE_PROMETHEUS:-}" = 1 ] && exit 1
    exit 77
fi
promtool check rules "$rules"
promtool test rules "$tests"
