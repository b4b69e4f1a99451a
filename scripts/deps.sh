#!/usr/bin/env bash
# Installs the Debian packages that the project's scripts need, only those that are missing
# (apt-get update, then apt-get install --no-install-recommends). Used by demo.sh and
# test-all.sh; run it by hand the same way.
#
#   always     cmake g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
#              libcli11-dev nlohmann-json3-dev: the Linux build (libraries, qdlcfg, tests,
#              benchmarks)
#   --docs     doxygen: the docs target
#   --ansible  ansible-core python3-jsonschema: the tests of the Ansible module (tests/ansible)
#              and of the JSON the tool writes against its schema (docs/json.schema.json)
#   --windows  mingw-w64 wine wine64 qemu-user wine32:i386: the Windows cross builds and their
#              tests (scripts/windows.sh), x86_64 under wine64, i686 under Debian's 32-bit wine
#              in qemu-user (dpkg learns the i386 architecture first). No recommends: qemu-user's
#              would register qemu with binfmt_misc, and wine would start its own helper
#              programs under emulation too (25 s and more each)
#   --fuzz     clang libclang-rt-14-dev: the libFuzzer targets (scripts/fuzz.sh)
#   --release  what scripts/release.sh and tests/release/ need: build-essential debhelper
#              doxygen (the Debian packages), lintian, debootstrap (the clean Debian system the
#              packages are tested in), man-db, zip unzip, clang lld llvm (the Visual Studio
#              import libraries and the MSVC-ABI test program), ansible-core, pylint
#              pycodestyle yamllint python3-voluptuous (ansible-test sanity without PyPI)
#
# Needs root, or sudo. Waits for another apt-get or dpkg that holds the package lock.
# Usage: scripts/deps.sh [--docs] [--ansible] [--windows] [--fuzz] [--release]
set -euo pipefail

packages=(cmake g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          nlohmann-json3-dev)
for arg in "$@"; do
  case $arg in
    --docs) packages+=(doxygen) ;;
    --ansible) packages+=(ansible-core python3-jsonschema) ;;
    --windows) packages+=(mingw-w64 wine wine64 qemu-user wine32:i386) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --release) packages+=(build-essential debhelper doxygen lintian debootstrap man-db zip unzip
                          clang lld llvm ansible-core pylint pycodestyle yamllint
                          python3-voluptuous) ;;
    *) echo "usage: scripts/deps.sh [--docs] [--ansible] [--windows] [--fuzz] [--release]" >&2
       exit 2 ;;
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
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" "${apt[@]}" update
"${as_root[@]}" "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
