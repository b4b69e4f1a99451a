#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/CMakeLists.txt) with clang into build-fuzz/ and runs each
# for SECONDS seconds, one after the other. New inputs go to build-fuzz/corpus/<target>/ (the
# checked-in fuzz/corpus/<target>/ is read, never written); a crash stops that target, leaves
# its input in build-fuzz/crashes/<target>/ and makes the script fail once all have run.
# Keep a crash input as a regression case by copying it into fuzz/corpus/<target>/.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${JOBS:-2}
build=build-fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDL_WERROR="${QDL_WERROR:-OFF}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQDL_BUILD_FUZZ=ON -DQDL_BUILD_TESTS=OFF -DQDL_BUILD_TOOLS=OFF -DQDL_BUILD_BENCH=OFF >/dev/null
targets=$(sed -n 's/^qdl_fuzz_target(\([a-z_]*\))$/\1/p' fuzz/CMakeLists.txt)
cmake --build "$build" -j"$jobs" --target $(for t in $targets; do printf '%s_fuzz ' "$t"; done)

failed=()
for t in $targets; do
  mkdir -p "$build/corpus/$t" "$build/crashes/$t"
  echo "== fuzzing $t for $seconds s"
  if ! "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$t/" "$build/corpus/$t" "fuzz/corpus/$t" \
        >"$build/$t.log" 2>&1; then
    failed+=("$t")
    tail -n 40 "$build/$t.log"
  fi
  grep -E '^(stat::number_of_executed_units|Done)' "$build/$t.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found crashes in: ${failed[*]} (inputs in $build/crashes/)"
  exit 1
fi
echo "== fuzzing: no crash in $(echo $targets | wc -w) targets"
