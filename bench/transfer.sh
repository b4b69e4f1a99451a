#!/usr/bin/env bash
# transfer.sh - qdlcfg import and apply beside what they cannot avoid (bench/transfer_bench.cpp).
#
# Builds bench/transfer_bench (Release, -O2, with the tools), runs every case with repetitions
# in random interleaving, so that the load of a shared machine falls on all cases alike, and
# prints:
#   - the median, lowest and highest real time of each case and N, and its median CPU time;
#   - the targets: import within 3x (document parse + one flushed rewrite), apply that changes
#     nothing within 2x (one read of the file + the parse), each met or missed.
#
# Usage: bench/transfer.sh [--repetitions N] [--min-time SECONDS] [--filter REGEX]
#                          [--skip-build] [--keep-json FILE]
# Build directory: QDL_BENCH_TRANSFER_DIR (default /tmp/build-bench-transfer), built with JOBS
# jobs (default 2). The machines the program makes live in its transfer-bench-machines
# directory and are removed at the end.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QDL_BENCH_TRANSFER_DIR:-/tmp/build-bench-transfer}
repetitions=9
min_time=0.1
filter=.
build=1
keep_json=

while [[ $# -gt 0 ]]; do
  case $1 in
    --repetitions) repetitions=$2; shift 2 ;;
    --min-time) min_time=$2; shift 2 ;;
    --filter) filter=$2; shift 2 ;;
    --skip-build) build=0; shift ;;
    --keep-json) keep_json=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "transfer.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

log() { echo "transfer.sh: $*" >&2; }

if [[ $build == 1 ]]; then
  if ! grep -qs '^QDL_BUILD_BENCH:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    log "configuring $build_dir"
    cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DQDL_BUILD_BENCH=ON -DQDL_BUILD_TESTS=OFF -DQDL_BUILD_TOOLS=ON >/dev/null
  fi
  log "building $build_dir"
  ninja -C "$build_dir" -j"${JOBS:-2}" transfer_bench >/dev/null
fi
bench=$build_dir/bench/transfer_bench
[[ -x $bench ]] || { log "transfer_bench is not built"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/transfer-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
log "running $repetitions repetitions of every case"
if ! (cd "$build_dir" && "$bench" --benchmark_filter="$filter" \
        --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
        --benchmark_enable_random_interleaving=true --benchmark_out_format=json \
        --benchmark_out="$work/transfer.json" >"$work/run.log" 2>&1); then
  cat "$work/run.log" >&2
  log "the benchmark failed"
  exit 1
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores, $cpu;" \
     "file system of the build directory:" \
     "$(findmnt -n -o FSTYPE -T "$build_dir" 2>/dev/null || stat -f -c %T "$build_dir")"
echo "Load average before: $load_before; after: $load_after; repetitions: $repetitions" \
     "(randomly interleaved); minimum time per repetition: ${min_time} s"
echo

python3 - "$work/transfer.json" <<'PY'
import json, re, statistics, sys

with open(sys.argv[1]) as f:
    data = json.load(f)
real, cpu, errors = {}, {}, []
for b in data["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    m = re.match(r"BM_(\w+)/n:(\d+)", b["name"])
    if b.get("error_occurred"):
        errors.append(f"{b['name']}: {b.get('error_message', '')}")
        continue
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    key = (m.group(1), int(m.group(2)))
    real.setdefault(key, []).append(b["real_time"] * scale)
    cpu.setdefault(key, []).append(b["cpu_time"] * scale)
for e in errors:
    print("ERROR", e)

order = ["import", "apply_unchanged", "ref_parse", "ref_rewrite", "ref_read"]
keys = sorted(real, key=lambda k: (order.index(k[0]) if k[0] in order else 99, k[1]))
med = {k: statistics.median(v) for k, v in real.items()}

def fmt(x):
    return "-" if x is None or x != x else f"{x:,.2f}" if x < 100 else f"{x:,.0f}"

print("Real time in ms (median, lowest and highest of the repetitions), median CPU time")
print()
print(f"| {'case':<16} | {'N':>6} | {'median':>8} | {'lowest':>8} | {'highest':>8} | {'CPU':>8} |")
print(f"|{'-'*18}|{'-'*7}:|{'-'*9}:|{'-'*9}:|{'-'*9}:|{'-'*9}:|")
for k in keys:
    print(f"| {k[0]:<16} | {k[1]:>6,} | {fmt(med[k]):>8} | {fmt(min(real[k])):>8} | "
          f"{fmt(max(real[k])):>8} | {fmt(statistics.median(cpu[k])):>8} |")
print()

def m(op, n):
    return med.get((op, n), float("nan"))

print("Targets (ratios of the medians)")
print()
print(f"| {'target':<62} | {'N':>6} | {'ratio':>6} | {'':6} |")
print(f"|{'-'*64}|{'-'*7}:|{'-'*7}:|{'-'*8}|")
sizes = sorted({k[1] for k in keys})
def verdict(r, limit, binding=True):
    if r != r:
        return "-"  # a case was not run (--filter)
    if not binding:
        return "(info)"
    return "met" if r <= limit else "MISSED"

for n in sizes:
    r = m("import", n) / (m("ref_parse", n) + m("ref_rewrite", n))
    print(f"| {'import <= 3x (document parse + one flushed rewrite)':<62} | {n:>6,} | "
          f"{fmt(r):>6} | {verdict(r, 3, n == 10000):6} |")
for n in sizes:
    r = m("apply_unchanged", n) / (m("ref_read", n) + m("ref_parse", n))
    print(f"| {'apply that changes nothing <= 2x (one read of the file + parse)':<62} | "
          f"{n:>6,} | {fmt(r):>6} | {verdict(r, 2):6} |")
PY

if [[ -n $keep_json ]]; then
  cp "$work/transfer.json" "$keep_json"
fi
