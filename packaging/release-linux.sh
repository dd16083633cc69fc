#!/usr/bin/env bash
# The Linux release: libmdlink.so, libkelvobase.so, mdfront and mdcli built in
# a Debian 11 userland (glibc 2.31, GCC 10) with the C++ runtime linked in,
# checked (glibc symbols 2.28 or older, no C++ runtime needed, the published
# exports only) and packed as dist/mdlink-VERSION-linux-x86_64.tar.gz. Then
# tried in that userland, and on this machine: an application built with the
# system's own g++ against include/MdApi.h, and mdcli, receive depth records
# from mdfront.
#
#   packaging/release-linux.sh             build, check, try
#   packaging/release-linux.sh --no-smoke  build and check only
#
# Runs as root (debootstrap, chroot, mount). The userland is made once with
# debootstrap from Debian's mirror (MDLINK_DEBIAN_MIRROR) and kept in
# MDLINK_CHROOT (default /var/tmp/mdlink-bullseye, never inside the
# repository); later runs reuse it and its build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
target=$(realpath -m "${MDLINK_CHROOT:-/var/tmp/mdlink-bullseye}")
mirror=${MDLINK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bullseye
# What the userland needs to build and to build the application; libzstd.a
# of libzstd-dev goes whole into the programs that write or read captures.
target_packages=(g++ cmake ninja-build binutils libzstd-dev)
# Headers the build takes from this machine, the same as the developer build
# uses: Asio (newer than Debian 11's), fast_float and CLI11 (not in Debian 11),
# {fmt}.
host_packages=(debootstrap binutils libasio-dev libcli11-dev libfast-float-dev libfmt-dev)
version=$(sed -n 's/^project(mdlink VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=mdlink-$version-linux-x86_64
smoke=1
case "${1:-}" in
    "") ;;
    --no-smoke) smoke=0 ;;
    *) echo "usage: $0 [--no-smoke]" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "$0 needs root (debootstrap, chroot, mount)" >&2; exit 1; }
case "$target" in
    / | "$root" | "$root"/*) echo "MDLINK_CHROOT must lie outside the repository: $target" >&2; exit 1 ;;
esac
started=$(date +%s)
say() { echo "--- $* ($(( $(date +%s) - started )) s)"; }

missing=()
for p in "${host_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# One run at a time per userland: the machine's cores are shared.
mkdir -p "$(dirname "$target")"
exec 9>"$target.lock"
flock 9

# Whatever this script mounted inside the userland is unmounted, and its
# temporary folders removed, on any exit.
temporaries=()
unmount_target() {
    local m
    for m in $(awk -v t="$target/" 'index($2, t) == 1 { print $2 }' /proc/mounts | sort -r); do
        umount "$m" 2>/dev/null || umount -l "$m"
    done
}
clean_up() {
    unmount_target
    [ ${#temporaries[@]} -eq 0 ] || rm -rf "${temporaries[@]}"
}
trap clean_up EXIT
unmount_target

in_target() {
    chroot "$target" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root \
        LANG=C.UTF-8 "$@"
}

ready=$target/.mdlink-packages
if [ ! -f "$ready" ]; then
    # Absent, or left half made by an interrupted run.
    say "making a Debian 11 userland in $target"
    rm -rf --one-file-system "$target"
    debootstrap --variant=minbase --include="$(IFS=,; echo "${target_packages[*]}")" \
        "$suite" "$target" "$mirror" >"$target.debootstrap.log" 2>&1 ||
        { tail -20 "$target.debootstrap.log"; echo "debootstrap failed"; exit 1; }
    echo "${target_packages[*]}" >"$ready"
elif [ "$(cat "$ready")" != "${target_packages[*]}" ]; then
    say "adding packages to the Debian 11 userland"
    in_target apt-get update -qq
    in_target env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${target_packages[@]}" >/dev/null
    echo "${target_packages[*]}" >"$ready"
else
    say "reusing the Debian 11 userland in $target"
fi

say "building in the Debian 11 userland"
work=$target/mdlink
rm -rf "$work/src" "$work/deps" "$work/stage" "$work/smoke"
mkdir -p "$work/src" "$work/deps/include" "$work/stage"
# The sources as they are in the working tree (modification times kept, so
# the kept build folder rebuilds only what changed).
sources=(CMakeLists.txt cmake include base src bus recordkey capture tools)
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- "${sources[@]}" |
        while read -r f; do [ -e "$f" ] && echo "$f"; done | tar -cf - -T - | tar -xf - -C "$work/src"
else
    tar -cf - "${sources[@]}" | tar -xf - -C "$work/src"
fi
cp -a /usr/include/asio /usr/include/asio.hpp /usr/include/CLI /usr/include/fast_float /usr/include/fmt \
    "$work/deps/include/"
in_target cmake -S /mdlink/src -B /mdlink/build -G Ninja --no-warn-unused-cli \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMDLINK_STATIC_RUNTIME=ON -DMDLINK_WERROR=ON \
    -DMDLINK_TESTS=OFF -DMDLINK_BENCH=OFF -DMDLINK_PYTHON=OFF \
    -DMDLINK_ASIO_HEADER=/mdlink/deps/include -DMDLINK_CLI11_HEADER=/mdlink/deps/include \
    "-DCMAKE_CXX_FLAGS=-isystem /mdlink/deps/include" >/dev/null
in_target cmake --build /mdlink/build -j2
in_target cmake --install /mdlink/build --prefix "/mdlink/stage/$name" --strip >/dev/null

mkdir -p "$root/dist"
tarball=$root/dist/$name.tar.gz
tar -czf "$tarball" -C "$work/stage" --sort=name --owner=0 --group=0 --numeric-owner "$name"
say "packed $tarball ($(du -k "$tarball" | cut -f1) KiB)"

say "checking the release's symbols"
check=$(mktemp -d)
temporaries+=("$check")
tar -xzf "$tarball" -C "$check"
packaging/check-release.sh "$check/$name"

if [ "$smoke" -eq 1 ]; then
    say "trying the release in the Debian 11 userland"
    mkdir -p "$work/smoke"
    tar -xzf "$tarball" -C "$work/smoke"
    cp packaging/smoke/ReleaseSmoke.cpp packaging/smoke/run-smoke.sh "$work/smoke/"
    mount -t proc proc "$target/proc"
    in_target /bin/bash -c "cd /mdlink/smoke && ./run-smoke.sh $name"
    # And on this machine: a newer C++ runtime and unwinder in the application
    # than in the libraries.
    say "trying the release on this machine"
    host_smoke=$(mktemp -d)
    temporaries+=("$host_smoke")
    tar -xzf "$tarball" -C "$host_smoke"
    cp packaging/smoke/ReleaseSmoke.cpp packaging/smoke/run-smoke.sh "$host_smoke/"
    (cd "$host_smoke" && ./run-smoke.sh "$name")
fi
say "done: $tarball"
