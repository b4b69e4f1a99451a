#!/usr/bin/env bash
# Installs the Debian packages that the project's scripts need, only those that are missing
# (apt-get update, then apt-get install --no-install-recommends). Used by demo.sh and
# test-all.sh; run it by hand the same way.
#
#   always     cmake g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
#              libcli11-dev nlohmann-json3-dev: the Linux build (libraries, qdlcfg, tests,
#              benchmarks)
#   --docs     doxygen: the docs target
#   --windows  mingw-w64 wine wine64: the Windows cross builds and their tests under wine64
#              (scripts/windows.sh)
#   --fuzz     clang libclang-rt-14-dev: the libFuzzer targets (scripts/fuzz.sh)
#
# Needs root, or sudo. Waits for another apt-get or dpkg that holds the package lock.
# Usage: scripts/deps.sh [--docs] [--windows] [--fuzz]
set -euo pipefail

packages=(cmake g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          nlohmann-json3-dev)
for arg in "$@"; do
  case $arg in
    --docs) packages+=(doxygen) ;;
    --windows) packages+=(mingw-w64 wine wine64) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "usage: scripts/deps.sh [--docs] [--windows] [--fuzz]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" != 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "deps.sh: missing ${missing[*]}; as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo "${as_root[@]}")
fi
apt=(apt-get -q -o DPkg::Lock::Timeout=600)
echo "== installing: ${missing[*]}"
"${as_root[@]}" "${apt[@]}" update
"${as_root[@]}" "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
