#!/usr/bin/env bash
# Builds the Windows DLLs and runs their test suites under wine.
#
#   build-win32  i686 cross build: both DLLs, the GoogleTest programs, the DLL loader test and
#                the calling-convention test; CTest runs the programs single-threaded under
#                Debian's 32-bit wine in qemu-user (cmake/wine32-run.sh: this machine's kernel
#                cannot start 32-bit programs), in a prefix inside build-win32
#   build-win64  x86_64 cross build: both DLLs, the GoogleTest programs, the DLL loader test and
#                the export checks of all four DLLs; CTest runs the programs under wine64 in a
#                prefix inside build-win64 (made by the build, never the user's own)
#
# Installs what is missing with apt-get (install_windows_tools). Usage: scripts/windows.sh
# [--no-tests]; JOBS sets the build's parallelism (2).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

# install_windows_tools: the cross compilers, wine64 and GoogleTest's sources; for the tests
# also qemu-user and Debian's 32-bit wine (the i386 architecture added to dpkg first). Without
# recommends for those two: qemu-user would bring qemu-user-binfmt, which makes wine start its
# helper programs under emulation too (25 s and more each). Runs apt-get only when something is
# missing.
install_windows_tools() {
  local need=() need_i686=() sudo=() add_i386=0
  local p
  command -v cmake >/dev/null || need+=(cmake)
  for p in mingw-w64 wine64 googletest; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
  done
  if [ "$run_tests" = 1 ]; then
    command -v qemu-i386 >/dev/null || need_i686+=(qemu-user)
    [ -x /usr/lib/wine/wine ] || { need_i686+=(wine32:i386); add_i386=1; }
  fi
  [ ${#need[@]} -gt 0 ] || [ ${#need_i686[@]} -gt 0 ] || return 0
  [ "$(id -u)" = 0 ] || sudo=(sudo)
  echo "== installing: ${need[*]}${need[*]:+ }${need_i686[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ "$add_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update -q
  [ ${#need[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y -q "${need[@]}"
  [ ${#need_i686[@]} -eq 0 ] ||
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${need_i686[@]}"
}
install_windows_tools

missing=()
for tool in cmake x86_64-w64-mingw32-gcc i686-w64-mingw32-gcc x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=("/usr/src/googletest")
if [ "$run_tests" = 1 ]; then
  [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || missing+=("wine64")
  command -v qemu-i386 >/dev/null || missing+=("qemu-i386")
  [ -x /usr/lib/wine/wine ] || missing+=("/usr/lib/wine/wine (wine32:i386)")
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows.sh: missing ${missing[*]}" >&2
  echo "  install with: dpkg --add-architecture i386 && apt-get update &&" >&2
  echo "    apt-get install mingw-w64 wine64 googletest cmake &&" >&2
  echo "    apt-get install --no-install-recommends qemu-user wine32:i386" >&2
  exit 2
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# configure <dir> <toolchain> <cmake options...>: a build directory made elsewhere with another
# generator is configured anew.
configure() {
  local dir=$1 toolchain=$2
  shift 2
  if [ -f "$dir/CMakeCache.txt" ] && [ ${#generator[@]} -gt 0 ] &&
     ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

echo "== build-win32 (i686)"
configure build-win32 toolchain-mingw32.cmake -DQDL_BUILD_TESTS=ON
cmake --build build-win32 -j"$jobs"

echo "== build-win64 (x86_64)"
configure build-win64 toolchain-mingw64.cmake -DQDL_BUILD_TESTS=ON
cmake --build build-win64 -j"$jobs"

if [ "$run_tests" = 1 ]; then
  echo "== x86_64 tests under wine64"
  ctest --test-dir build-win64 -j"$jobs" --output-on-failure --timeout 600
  echo "== i686 tests under wine32 in qemu-user"
  ctest --test-dir build-win32 -j"$jobs" --output-on-failure --timeout 600
fi
