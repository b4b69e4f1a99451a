#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. the Linux build (both libraries, tests, tools, examples) and its test suite;
#   2. the Linux test suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows DLLs (x86_64 and i686, cross-built), the x86_64 test suite under wine64 and
#      the i686 one under 32-bit wine in qemu-user (scripts/windows.sh installs those two), then
#      the export-table checks of all libraries and the differential check against both;
#   4. short fuzzing runs of every libFuzzer target (when clang is there).
# Usage: scripts/test-all.sh [--quick]   (--quick: Linux build and tests only)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}
quick=0
[ "${1:-}" = "--quick" ] && quick=1

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake g++ libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev nlohmann-json3-dev pkg-config; do
  have_pkg "$p" || need+=("$p")
done
if [ "$quick" = 0 ]; then
  for p in mingw-w64 wine64 clang libclang-rt-14-dev; do have_pkg "$p" || need+=("$p"); done
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${need[@]}"
fi

echo "== Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDL_BUILD_BENCH=ON -DQDL_EXPECT_WINDOWS=$([ "$quick" = 1 ] && echo OFF || echo ON) >/dev/null
cmake --build build -j"$jobs"

if [ "$quick" = 0 ]; then
  echo "== Windows builds and the x86_64 suite under wine64"
  scripts/windows.sh
fi

ctest --test-dir build -j"$jobs" --output-on-failure --timeout 600

if [ "$quick" = 0 ]; then
  echo "== Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQDL_SANITIZE=ON -DQDL_BUILD_TOOLS=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 900

  if command -v clang++ >/dev/null; then
    echo "== fuzzing (about 60 seconds per target)"
    scripts/fuzz.sh 60
  fi
fi
echo "== all tests passed"
