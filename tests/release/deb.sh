#!/bin/sh
# deb.sh DIST CACHE_TAR - the Debian packages of a release (DIST/*.deb), as a user of a clean
# Debian 12 meets them:
#   - lintian finds no error in any of them (its warnings are printed);
#   - in a fresh `debootstrap --variant=minbase bookworm` system (with a compiler, CMake,
#     pkg-config and man-db added), `apt-get install ./*.deb` resolves and installs all four at
#     the project's version; `qdlcfg` runs, writes and reads a record, and `man qdlcfg` opens;
#     a C++ program built with find_package(TSKQDL32) and C programs built with pkg-config
#     (tskqdl32, tskqdl32-legacy) run without LD_LIBRARY_PATH, each reaching its library;
#   - purging the packages leaves no file behind that was not there before.
# The system is made from the mirror that this machine's apt uses, once per CACHE_TAR: the
# first call makes it and keeps it there as a tarball, later calls unpack it (scripts/test-all.sh
# removes the tarball before each run, so a run never uses an older run's system).
# Needs root (chroot, mount). Exit 0 when all hold.
set -eu
dist=$(cd "$1" && pwd)
cache=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-deb.XXXXXX")
root=$work/root
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "deb test: $*" >&2; [ -f "$work/out" ] && tail -40 "$work/out" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "needs root (debootstrap, chroot)"
version=$(sed -n 's/^project(TSKQDL32 VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
debs=$(ls "$dist"/*_"$version"_*.deb 2>/dev/null | wc -l)
[ "$debs" = 4 ] || fail "$debs packages of version $version in $dist, not 4"

# lintian: errors fail; warnings are shown (packaging/debian/rules lists the known ones).
lintian --fail-on error --tag-display-limit 0 "$dist"/*_"$version"_*.deb >"$work/out" 2>&1 ||
    fail "lintian reports errors"
grep -v 'running with root privileges' "$work/out" || true

# The mirror this machine's apt uses for bookworm (deb822 .sources or one-line lists).
mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
    /^$/ { if (uri != "" && suites ~ /(^| )bookworm( |$)/) { print uri; exit } uri = ""; suites = "" }
    /^URIs:/ { uri = $2 }
    /^Suites:/ { suites = $0; sub(/^Suites: */, "", suites) }
    END { if (uri != "" && suites ~ /(^| )bookworm( |$)/) print uri }' | head -1)
[ -n "$mirror" ] || mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) bookworm .*/\2/p' | head -1)
mirror=${mirror:-http://deb.debian.org/debian}

mkdir "$root"
if [ -f "$cache" ]; then
    tar -xf "$cache" -C "$root"
else
    echo "deb test: making a clean bookworm system from $mirror"
    timeout 1200 debootstrap --variant=minbase --include=g++,cmake,make,pkg-config,man-db \
        bookworm "$root" "$mirror" >"$work/out" 2>&1 || fail "debootstrap failed"
    mkdir -p "$(dirname "$cache")"
    tar -cf "$cache.new" -C "$root" . && mv "$cache.new" "$cache"
fi
mount -t proc proc "$root/proc" 2>/dev/null || true

mkdir -p "$root/tmp/debs" "$root/tmp/src"
cp "$dist"/*_"$version"_*.deb "$root/tmp/debs/"
cp -r "$src/tests/install/consumer.c" "$src/tests/install/legacy_version.c" \
      "$src/tests/install/cxx" "$root/tmp/src/"
inroot() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
               LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive /bin/sh -euc "$1" >"$work/out" 2>&1; }
# Everything of the system but the package database, logs, caches and scratch space.
snapshot='find / -xdev \( -path /proc -o -path /tmp -o -path /dev -o -path /root -o -path /run \
    -o -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache -o -path /var/log \) -prune \
    -o -print | sort'
inroot "$snapshot >/tmp/before" || fail "snapshot failed"

inroot 'apt-get install -y ./tmp/debs/*.deb' || fail "apt-get install ./*.deb failed"
for p in libtskqdl32-3 libtskqdl32-legacy1 libtskqdl32-dev qdlcfg; do
    inroot "dpkg-query -W -f='\${Status} \${Version}' $p" || fail "$p is not installed"
    grep -qx "install ok installed $version" "$work/out" || fail "$p: $(cat "$work/out")"
done

inroot 'export TSKQDL32_PREFIX=/tmp/machine-tool
    qdlcfg --version
    qdlcfg add port LineA --type kwt-serial --port COM1 --baudrate 9600
    qdlcfg get port LineA baudrate' || fail "qdlcfg does not run"
grep -q "QDL Version 3.00" "$work/out" && grep -q "$version" "$work/out" &&
    [ "$(tail -1 "$work/out")" = 9600 ] || fail "qdlcfg: unexpected output"
inroot 'MANPAGER=cat MANWIDTH=80 man qdlcfg' || fail "man qdlcfg does not open"
grep -q '^NAME' "$work/out" && grep -q 'qdlcfg' "$work/out" || fail "man qdlcfg shows no page"

inroot 'cd /tmp && cmake -S src/cxx -B cxx && cmake --build cxx
    TSKQDL32_PREFIX=/tmp/machine-cxx ./cxx/consumer
    TSKQDL32_PREFIX=/tmp/machine-cxx ./cxx/legacy_version' ||
    fail "the find_package consumer does not build or run"
[ "$(tail -1 "$work/out")" = "QDL Version 1.01 (03a1)" ] ||
    fail "TSKQDL32::tskqdl32_legacy does not reach the legacy library"
inroot 'cd /tmp
    pkg-config --exact-version='"$version"' tskqdl32
    cc -std=c99 -Wall -Werror -o consumer_c src/consumer.c $(pkg-config --cflags --libs tskqdl32)
    cc -o legacy_c src/legacy_version.c $(pkg-config --cflags --libs tskqdl32-legacy)
    TSKQDL32_PREFIX=/tmp/machine-c ./consumer_c
    test -f /tmp/machine-c/windows/tsk_cfg.ini
    TSKQDL32_PREFIX=/tmp/machine-c ./legacy_c' ||
    fail "the pkg-config consumers do not build or run"
[ "$(tail -1 "$work/out")" = "QDL Version 1.01 (03a1)" ] ||
    fail "tskqdl32-legacy.pc does not reach the legacy library"

inroot 'apt-get purge -y libtskqdl32-3 libtskqdl32-legacy1 libtskqdl32-dev qdlcfg' ||
    fail "apt-get purge failed"
inroot "$snapshot >/tmp/after; diff /tmp/before /tmp/after" ||
    fail "purging the packages left files behind (> lines):"
echo "deb test: lintian clean of errors; installed, used and purged on a clean Debian 12"
