#!/usr/bin/env bash
# Installs what is missing (scripts/deps.sh), builds everything and runs every test:
#   1. the Linux build (Release, both libraries, tests, tools, examples, benchmarks) and its
#      test suite (the Ansible module played against localhost among it), and the docs target;
#   2. the Linux test suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows DLLs (x86_64 and i686, cross-built), the x86_64 test suite under wine64 and
#      the i686 one under 32-bit wine in qemu-user, then the export-table checks of all
#      libraries and the differential check against both Windows builds;
#   4. short fuzzing runs of every libFuzzer target (when clang is there);
#   5. the release (scripts/release.sh: Debian packages, Windows SDKs, Ansible collection into
#      dist/) and the tests of what it built (tests/release/): the packages in a fresh Debian 12
#      made by debootstrap (anew in each run), the SDKs under wine, the collection installed
#      and through ansible-test sanity.
# Every build treats warnings as errors (QDL_WERROR=ON, also passed on to windows.sh and
# fuzz.sh); a user's own build does not.
# Usage: scripts/test-all.sh [--quick]   (--quick: Linux build, tests and docs only)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
quick=0
[ "${1:-}" = "--quick" ] && quick=1
export QDL_WERROR=ON

if [ "$quick" = 1 ]; then
  scripts/deps.sh --docs --ansible
else
  scripts/deps.sh --docs --ansible --windows --fuzz --release
fi

echo "== Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQDL_WERROR=ON -DQDL_BUILD_BENCH=ON \
  -DQDL_EXPECT_WINDOWS=$([ "$quick" = 1 ] && echo OFF || echo ON) >/dev/null
cmake --build build -j"$jobs"
echo "== docs (Doxygen warnings fail)"
cmake --build build --target docs

if [ "$quick" = 0 ]; then
  echo "== Windows builds, the x86_64 suite under wine64 and the i686 suite under wine32"
  scripts/windows.sh
fi

ctest --test-dir build -j"$jobs" --output-on-failure --timeout 600

if [ "$quick" = 0 ]; then
  echo "== Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQDL_SANITIZE=ON -DQDL_BUILD_TOOLS=ON \
    -DQDL_WERROR=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 900

  if command -v clang++ >/dev/null; then
    echo "== fuzzing (about 60 seconds per target)"
    scripts/fuzz.sh 60
  fi

  echo "== release: scripts/release.sh, then its Debian packages, Windows SDKs and collection"
  rm -f build-release/bookworm.tar  # the clean Debian system is made anew in every run
  scripts/release.sh
  (cd dist && sha256sum --quiet -c SHA256SUMS)
  sh tests/release/deb.sh dist build-release/bookworm.tar
  sh tests/release/windows.sh dist
  sh tests/release/ansible.sh dist/tskqdl32-config-*.tar.gz
fi
echo "== all tests passed"
