#!/bin/sh
# windows.sh DIST - the Windows SDK zips of a release (DIST/tskqdl32-<v>-windows-{x86_64,i686}.zip),
# each unzipped as a user does:
#   - the layout: both DLLs (the legacy one apart), the header, TSKQDL32.lib and libTSKQDL32.dll.a
#     for each, the CMake package, the documents; qdlcfg.exe is checked once the SDK holds it;
#   - the DLLs carry no DWARF sections, and their symbols zip lies beside;
#   - msvc_abi.c, built for the MSVC ABI (clang-cl --target=*-windows-msvc and lld-link, through
#     the SDK's CMake package, which must give the links TSKQDL32.lib; no C runtime; kernel32 and
#     version.dll through llvm-dlltool import libraries), calls every export of the current DLL
#     and, built again, of the legacy DLL, and reads each DLL's version resource: under wine64
#     (x86_64) and under 32-bit wine in qemu-user (i686, cmake/wine32-run.sh), in fresh wine
#     prefixes;
#   - a MinGW consumer (tests/install/cxx: C++ on the current library, C on the legacy one)
#     builds with find_package against the unzipped tree and runs under wine the same way.
# Exit 0 when all hold.
set -eu
dist=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-winsdk.XXXXXX")
wineserver=/usr/lib/wine/wineserver
cleanup() {
    for prefix in "$work"/prefix-*; do
        [ -d "$prefix" ] && WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "windows sdk test: $*" >&2; [ -f "$work/out" ] && tail -40 "$work/out" >&2; exit 1; }
version=$(sed -n 's/^project(TSKQDL32 VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
major=${version%%.*} rest=${version#*.}
minor=${rest%%.*} patch=${rest#*.}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
clang_cl=$(command -v clang-cl || command -v clang-cl-14 || ls /usr/lib/llvm-*/bin/clang-cl | tail -1)
[ -x "$clang_cl" ] || fail "no clang-cl (scripts/deps.sh --release installs clang)"

for arch in x86_64 i686; do
    name=tskqdl32-$version-windows-$arch
    sdk=$work/$arch/$name
    [ -f "$dist/$name.zip" ] || fail "no $name.zip in $dist"
    [ -f "$dist/$name-debug.zip" ] || fail "no $name-debug.zip (the DLLs' symbols) in $dist"
    mkdir -p "$work/$arch"
    unzip -q "$dist/$name.zip" -d "$work/$arch"
    case $arch in
        x86_64) target=x86_64-pc-windows-msvc machine=i386:x86-64 triplet=x86_64-w64-mingw32
                toolchain=toolchain-mingw64.cmake stdcall="" processor=AMD64 ;;
        i686) target=i686-pc-windows-msvc machine=i386 triplet=i686-w64-mingw32
              toolchain=toolchain-mingw32.cmake stdcall=yes processor=X86 ;;
    esac
    for f in bin/TSKQDL32.dll bin/tskqdl32-legacy/TSKQDL32.dll include/tskqdl32.h \
             lib/TSKQDL32.lib lib/libTSKQDL32.dll.a lib/tskqdl32-legacy/TSKQDL32.lib \
             lib/tskqdl32-legacy/libTSKQDL32.dll.a lib/cmake/TSKQDL32/TSKQDL32Config.cmake \
             README.md share/doc/tskqdl32/CHANGELOG.md share/doc/tskqdl32/html/index.html; do
        [ -f "$sdk/$f" ] || fail "$name: no $f"
    done
    for dll in "$sdk"/bin/TSKQDL32.dll "$sdk"/bin/tskqdl32-legacy/TSKQDL32.dll; do
        ! "$triplet-objdump" -h "$dll" | grep -q '\.debug_' || fail "$dll has DWARF sections"
    done

    # Where wine runs this architecture's programs, in a prefix of its own.
    export WINEPREFIX="$work/prefix-$arch"
    if [ "$arch" = x86_64 ]; then
        run() { timeout 300 /usr/lib/wine/wine64 "$@"; }
    else
        run() { timeout 300 "$src/cmake/wine32-run.sh" "$@"; }
        # Under emulation wine makes the prefix and may still fail to start the program.
        run cmd.exe /c exit 0 >/dev/null 2>&1 || true
        "$wineserver" -w
    fi
    if [ -f "$sdk/bin/qdlcfg.exe" ]; then
        run "$sdk/bin/qdlcfg.exe" --version >"$work/out" 2>&1 || fail "$name: qdlcfg.exe fails"
        grep -q "$version" "$work/out" || fail "$name: qdlcfg.exe is not version $version"
    fi

    # The MSVC-ABI program: no C runtime, the system DLLs through llvm-dlltool import libraries
    # (on i686 their functions are __stdcall: decorated in the .def, imported undecorated).
    at=""
    [ -n "$stdcall" ] && at=yes
    printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess%s\nGetStdHandle%s\nWriteFile%s\nGetModuleHandleA%s\nGetModuleFileNameA%s\n' \
        ${at:+@4} ${at:+@4} ${at:+@20} ${at:+@4} ${at:+@12} >"$work/$arch/kernel32.def"
    printf 'LIBRARY version.dll\nEXPORTS\nGetFileVersionInfoSizeA%s\nGetFileVersionInfoA%s\nVerQueryValueA%s\n' \
        ${at:+@8} ${at:+@16} ${at:+@16} >"$work/$arch/version.def"
    for lib in kernel32 version; do
        llvm-dlltool -m "$machine" ${stdcall:+-k} -d "$work/$arch/$lib.def" -l "$work/$arch/$lib.lib" ||
            fail "llvm-dlltool $lib"
    done
    # Built through the SDK's CMake package with clang-cl and lld-link: the link must take
    # TSKQDL32.lib (for either DLL), never MinGW's libTSKQDL32.dll.a.
    cmake -S "$src/tests/release/msvc" -B "$work/$arch/msvc" -DCMAKE_SYSTEM_NAME=Windows \
        -DCMAKE_SYSTEM_PROCESSOR="$processor" -DCMAKE_C_COMPILER="$clang_cl" \
        -DCMAKE_C_COMPILER_TARGET="$target" -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_LINKER=lld-link \
        -DCMAKE_AR="$(command -v llvm-lib)" -DCMAKE_MT="$(command -v llvm-mt)" \
        -DCMAKE_RC_COMPILER="$(command -v llvm-rc)" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$sdk" -DQDL_EXPECT_VERSION="$version" -DQDL_EXPECT_MAJOR="$major" \
        -DQDL_EXPECT_MINOR="$minor" -DQDL_EXPECT_PATCH="$patch" \
        "-DQDL_SYSTEM_LIBS=$work/$arch/kernel32.lib;$work/$arch/version.lib" >"$work/out" 2>&1 ||
        fail "$arch: find_package(TSKQDL32) for the MSVC toolchain failed"
    cmake --build "$work/$arch/msvc" -v >"$work/out" 2>&1 ||
        fail "$arch: the MSVC-ABI program does not build against the SDK"
    [ "$(grep -c "lld-link.* $sdk/lib/TSKQDL32\.lib" "$work/out")" -ge 1 ] &&
        [ "$(grep -c "lld-link.* $sdk/lib/tskqdl32-legacy/TSKQDL32\.lib" "$work/out")" -ge 1 ] &&
        ! grep -q 'lld-link.*libTSKQDL32\.dll\.a' "$work/out" ||
        fail "$arch: the MSVC links did not take TSKQDL32.lib"
    for edition in current legacy; do
        dir=$sdk/bin
        [ "$edition" = legacy ] && dir=$sdk/bin/tskqdl32-legacy
        cp "$work/$arch/msvc/msvc_abi_$edition.exe" "$dir/"
        run "$dir/msvc_abi_$edition.exe" >"$work/out" 2>&1 ||
            fail "$arch $edition: the MSVC-ABI program failed"
        grep -q "all checks hold" "$work/out" ||
            fail "$arch $edition: the MSVC-ABI program said nothing"
    done

    # MinGW through the CMake package of the unzipped tree.
    cmake -S "$src/tests/install/cxx" -B "$work/$arch/mingw" \
        -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DTSKQDL32_DIR="$sdk/lib/cmake/TSKQDL32" \
        >"$work/out" 2>&1 || fail "$arch: find_package(TSKQDL32) in a MinGW build failed"
    cmake --build "$work/$arch/mingw" >"$work/out" 2>&1 || fail "$arch: the MinGW consumer does not build"
    cp "$work/$arch/mingw/consumer.exe" "$sdk/bin/"
    cp "$work/$arch/mingw/legacy_version.exe" "$sdk/bin/tskqdl32-legacy/"
    run "$sdk/bin/consumer.exe" >"$work/out" 2>&1 || fail "$arch: the MinGW consumer failed"
    run "$sdk/bin/tskqdl32-legacy/legacy_version.exe" >"$work/out" 2>&1 ||
        fail "$arch: the MinGW legacy consumer failed"
    grep -q "QDL Version 1.01 (03a1)" "$work/out" || fail "$arch: TSKQDL32::tskqdl32_legacy is not the legacy DLL"
    "$wineserver" -k 2>/dev/null || true
done
echo "windows sdk test: both SDKs complete; MSVC-ABI and MinGW programs run on every DLL"
