#!/usr/bin/env bash
# Builds the library and qdlcfg, then runs qdlcfg in a fresh demonstration prefix: imports the
# demonstration configuration (examples/demo.json), lists it and shows one record of each kind.
set -euo pipefail
# Installs what is missing first (scripts/deps.sh). BUILD_DIR chooses the build directory
# (default: build, shared with test-all.sh: both build Release, and the options test-all.sh sets
# there need nothing that deps.sh has not installed by then).
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target qdlcfg
prefix=$(cd "$build" && pwd)/demo-prefix
rm -rf "$prefix"
export TSKQDL32_PREFIX="$prefix"
qdlcfg=$build/tools/qdlcfg/qdlcfg

step() { printf '\n$ qdlcfg %s\n' "$*"; "$qdlcfg" "$@"; }
step where
step import examples/demo.json
step list
step show port LineA
step show device Gateway2
step show modem DialNorth
step show global
printf '\nThe file itself: %s\n' "$prefix/windows/tsk_cfg.ini"
