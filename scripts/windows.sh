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
# Installs what is missing first (scripts/deps.sh --windows; ninja-build is used when present).
# Usage: scripts/windows.sh [--no-tests]; JOBS sets the build's parallelism (2), QDL_WERROR=ON
# makes warnings errors (as test-all.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

scripts/deps.sh --windows

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
  echo "  install with: scripts/deps.sh --windows" >&2
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
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDL_WERROR="${QDL_WERROR:-OFF}" "$@" >/dev/null
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
