#!/usr/bin/env bash
# Builds the library and runs the example program in a fresh demonstration prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"${JOBS:-2}" --target port_demo
prefix=$(pwd)/build/demo-prefix
rm -rf "$prefix"
TSKQDL32_PREFIX="$prefix" build/examples/port_demo
