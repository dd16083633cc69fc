#!/usr/bin/env bash
# check_msvc_layout.sh <clang++> <include dir> <src dir>
# The interface as Visual C++ lays it out (clang's MSVC ABI): the records'
# sizes and offsets (the static_asserts of wire/RecordLayout.h), a 32-bit
# long, and the slots of CThostFtdcMdApi (15, no destructor) and
# CThostFtdcMdSpi (13) in the published order.
set -euo pipefail
clangxx=$1 include=$2 src=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Only <cstddef> of a C++ library is needed; clang brings <stddef.h>.
mkdir "$work/shim"
printf '#include <stddef.h>\n' >"$work/shim/cstddef"
cat >"$work/layout.cpp" <<'CPP'
#include "wire/RecordLayout.h"
static_assert(sizeof(long) == 4, "long");
CThostFtdcMdSpi* MakeSpi() { return new CThostFtdcMdSpi(); }
CPP
# Built as the library: the class is then exported, and its table emitted.
"$clangxx" --target=x86_64-pc-windows-msvc -fms-extensions -DMDLINK_BUILDING_LIBRARY \
    -std=c++17 -nostdinc++ -isystem "$work/shim" \
    -I"$include" -I"$src" -Xclang -fdump-vtable-layouts -c "$work/layout.cpp" \
    -o "$work/layout.obj" >"$work/dump.txt"

slots() {  # the slots of the class's own table, without its type information
    awk -v head="VFTable for '$1' (" 'index($0, head) == 1 { p = 1; next } /^$/ { p = 0 } p' \
        "$work/dump.txt" | grep -v ' RTTI$' | sed 's/^ *[0-9]* | //; s/ \[pure\]$//; s/^.*::\([A-Za-z]*\)(.*/\1/'
}
expect() {
    local actual
    actual=$(slots "$1")
    if [ "$actual" != "$(printf '%s\n' "${@:2}")" ]; then
        echo "$1's Visual C++ table differs from the published slots:"
        diff <(printf '%s\n' "${@:2}") <(printf '%s\n' "$actual") || true
        exit 1
    fi
}
expect CThostFtdcMdApi Release Init Join GetTradingDay RegisterFront RegisterNameServer \
    RegisterFensUserInfo RegisterSpi SubscribeMarketData UnSubscribeMarketData \
    SubscribeForQuoteRsp UnSubscribeForQuoteRsp ReqUserLogin ReqUserLogout ReqQryMulticastInstrument
expect CThostFtdcMdSpi OnFrontConnected OnFrontDisconnected OnHeartBeatWarning OnRspUserLogin \
    OnRspUserLogout OnRspQryMulticastInstrument OnRspError OnRspSubMarketData OnRspUnSubMarketData \
    OnRspSubForQuoteRsp OnRspUnSubForQuoteRsp OnRtnDepthMarketData OnRtnForQuoteRsp
echo "Visual C++ layout: record sizes and offsets, 15 + 13 slots in the published order"
