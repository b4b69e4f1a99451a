#!/bin/sh
# run.sh BUILD_DIR SOURCE_DIR CC CXX CMAKE [TOOL] - installs BUILD_DIR into a temporary prefix and moves
# that prefix elsewhere (the installed files must not depend on where they were installed),
# checks the installed files, then builds and runs against it: a C consumer and the legacy
# version program through pkg-config, and a C++ consumer through find_package(TSKQDL32), none of
# them with LD_LIBRARY_PATH; and find_package requests that must be refused, each with its
# reason. Each consumer works in a machine of its own (TSKQDL32_PREFIX). Exit 0 when everything
# works. TOOL 0: the build has no qdlcfg (its header libraries were missing), so none is looked for.
set -eu
build=$1 src=$2 cc=$3 cxx=$4 cmake=$5 tool=${6:-1}
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install test: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/staged" >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "cmake --install failed"
}
mv "$work/staged" "$prefix"
pcdir=$(dirname "$(find "$prefix" -name tskqdl32.pc)")
libdir=$(dirname "$pcdir")
tool_files=
[ "$tool" = 0 ] || tool_files="bin/qdlcfg share/man/man1/qdlcfg.1"
for f in include/tskqdl32.h $tool_files; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
for f in libtskqdl32.so.3 tskqdl32-legacy/libtskqdl32.so.1 cmake/TSKQDL32/TSKQDL32Config.cmake \
         cmake/TSKQDL32/TSKQDL32ConfigVersion.cmake pkgconfig/tskqdl32-legacy.pc; do
    [ -e "$libdir/$f" ] || fail "$libdir/$f is not installed"
done

# The installed tool finds the installed library by itself (no LD_LIBRARY_PATH).
[ "$tool" = 0 ] || TSKQDL32_PREFIX=$work/machine-tool "$prefix/bin/qdlcfg" version |
    grep -q "QDL Version 3.00" || fail "the installed qdlcfg does not run"

# C through pkg-config.
export PKG_CONFIG_PATH="$pcdir"
pkg-config --exact-version=3.0.0 tskqdl32 || fail "pkg-config does not know tskqdl32 3.0.0"
pkg-config --exact-version=1.1.0 tskqdl32-legacy || fail "pkg-config does not know tskqdl32-legacy 1.1.0"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -o "$work/consumer_c" "$src/consumer.c" \
    $(pkg-config --cflags --libs tskqdl32)
TSKQDL32_PREFIX=$work/machine-c "$work/consumer_c" || fail "C consumer failed"
[ -f "$work/machine-c/windows/tsk_cfg.ini" ] || fail "the C consumer wrote no configuration file"

# shellcheck disable=SC2046
"$cc" -o "$work/legacy_c" "$src/legacy_version.c" $(pkg-config --cflags --libs tskqdl32-legacy)
[ "$(TSKQDL32_PREFIX=$work/machine-l "$work/legacy_c")" = "QDL Version 1.01 (03a1)" ] ||
    fail "tskqdl32-legacy.pc does not give the legacy library"

# C++ through find_package.
"$cmake" -S "$src/cxx" -B "$work/cxx" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >"$work/cxx.log" 2>&1 || {
    cat "$work/cxx.log" >&2
    fail "find_package(TSKQDL32) failed"
}
"$cmake" --build "$work/cxx" >>"$work/cxx.log" 2>&1 || {
    cat "$work/cxx.log" >&2
    fail "C++ build failed"
}
TSKQDL32_PREFIX=$work/machine-cxx "$work/cxx/consumer" || fail "C++ consumer failed"
[ "$(TSKQDL32_PREFIX=$work/machine-cxx "$work/cxx/legacy_version")" = "QDL Version 1.01 (03a1)" ] ||
    fail "TSKQDL32::tskqdl32_legacy does not give the legacy library"

# find_package requests that must fail, and the reason each must give.
refused() {
    args=$1 reason=$2
    if "$cmake" -S "$src/find" -B "$work/find" -DCMAKE_PREFIX_PATH="$prefix" \
            "-DQDL_FIND_ARGS=$args" >"$work/find.log" 2>&1; then
        fail "find_package(TSKQDL32 $args) was accepted"
    fi
    tr -s ' \n' ' ' <"$work/find.log" | grep -qF "$reason" || {
        cat "$work/find.log" >&2
        fail "find_package(TSKQDL32 $args) failed without saying: $reason"
    }
    rm -rf "$work/find"
}
refused "1" "find_package(TSKQDL32 3 CONFIG COMPONENTS legacy)"
refused "1.1 COMPONENTS legacy" "find_package(TSKQDL32 3 CONFIG COMPONENTS legacy)"
refused "3.1" "compatible with requested version \"3.1\""
refused "3 COMPONENTS legacy serial" "TSKQDL32 has no component \"serial\""
echo "install test: all consumers built and ran"
