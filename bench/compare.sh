#!/usr/bin/env bash
# compare.sh - the record operations of the Linux library beside the Win32 profile functions.
#
# Builds bench/records_bench twice from the same source (Release, -O2): against the Linux
# library, and against the x64 TSKQDL32.dll, which runs under wine64 over Wine's own profile
# functions. Then runs both on the same workload sizes (100, 1,000 and 10,000 serial ports),
# one case after the other for both builds, so that the load of a shared machine falls on both
# alike, and prints:
#   - operations per second of each build, and the ratio Linux / Windows-under-Wine, per
#     operation and N (medians of the repetitions, real time);
#   - each operation's cost at 10,000 over its cost at 100;
#   - the peak resident size of the Linux library working on a 100,000-port file;
#   - the targets, each met or missed.
#
# Usage: bench/compare.sh [--repetitions N] [--min-time SECONDS] [--filter REGEX]
#                         [--memory-records N] [--skip-build] [--keep-json DIR]
# Build directories: QDL_BENCH_LINUX_DIR (default /tmp/build-bench) and QDL_BENCH_WIN64_DIR
# (default /tmp/build-bench-win64); the wine prefix lives in the Windows one.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux_dir=${QDL_BENCH_LINUX_DIR:-/tmp/build-bench}
win_dir=${QDL_BENCH_WIN64_DIR:-/tmp/build-bench-win64}
repetitions=5
min_time=0.1
filter=.
memory_records=100000
build=1
keep_json=

while [[ $# -gt 0 ]]; do
  case $1 in
    --repetitions) repetitions=$2; shift 2 ;;
    --min-time) min_time=$2; shift 2 ;;
    --filter) filter=$2; shift 2 ;;
    --memory-records) memory_records=$2; shift 2 ;;
    --skip-build) build=0; shift ;;
    --keep-json) keep_json=$2; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "compare.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$win_dir/wineprefix-bench
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

log() { echo "compare.sh: $*" >&2; }

# ---- Build ---------------------------------------------------------------------------------

configure() {  # configure <dir> [cmake arguments...]
  local dir=$1
  shift
  [[ -f $dir/build.ninja ]] && grep -q '^QDL_BUILD_BENCH:BOOL=ON' "$dir/CMakeCache.txt" && return
  cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DQDL_BUILD_BENCH=ON -DQDL_BUILD_TESTS=OFF -DQDL_BUILD_TOOLS=OFF "$@" >/dev/null
}

if [[ $build == 1 ]]; then
  log "building $linux_dir"
  configure "$linux_dir"
  ninja -C "$linux_dir" records_bench >/dev/null
  log "building $win_dir"
  configure "$win_dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake"
  ninja -C "$win_dir" records_bench >/dev/null
fi
linux_bench=$linux_dir/bench/records_bench
win_bench=$win_dir/bench/records_bench.exe
[[ -x $linux_bench && -f $win_bench ]] || { log "records_bench is not built"; exit 1; }

# ---- Wine ----------------------------------------------------------------------------------

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  log "making the wine prefix $WINEPREFIX"
  "$wine64" wineboot --init >/dev/null 2>&1
  "$wineserver" -w
fi
# One server for the whole run: no program pays for starting it.
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null || true' EXIT

# ---- Runs ----------------------------------------------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/records-compare.XXXXXX")
export TSKQDL32_PREFIX=$linux_dir/records-bench-machine
bench_args=(--benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time"
            --benchmark_out_format=json)

cases=$("$linux_bench" --benchmark_list_tests | sed 's|/n:.*||' | uniq | grep -E -- "$filter" || true)
[[ -n $cases ]] || { log "no case matches $filter"; exit 1; }
run() {  # run <log> <command...>: quiet unless it fails
  local out=$1
  shift
  if ! "$@" >"$out" 2>&1; then
    cat "$out" >&2
    log "failed: $*"
    exit 1
  fi
}
for case in $cases; do
  log "$case: Linux"
  (cd "$linux_dir" && run "$work/linux-$case.log" "$linux_bench" --benchmark_filter="^$case/" \
     "${bench_args[@]}" --benchmark_out="$work/linux-$case.json")
  log "$case: Windows under Wine"
  (cd "$win_dir/bench" && run "$work/wine-$case.log" "$wine64" ./records_bench.exe \
     --benchmark_filter="^$case/" "${bench_args[@]}" --benchmark_out="$work/wine-$case.json")
done

memory_line=
time_rss=
if [[ $memory_records -gt 0 ]]; then
  log "memory: $memory_records ports"
  memory_line=$(cd "$linux_dir" && /usr/bin/time -v -o "$work/time.txt" \
                  "$linux_bench" --memory_records="$memory_records")
  time_rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
fi

# ---- Report --------------------------------------------------------------------------------

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores, $cpu;" \
     "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Wine: $("$wine64" --version 2>/dev/null); repetitions: $repetitions;" \
     "minimum time per repetition: ${min_time} s"
echo

python3 - "$work" "$memory_line" "$time_rss" <<'PY'
import glob, json, os, re, statistics, sys

work, memory_line, time_rss = sys.argv[1], sys.argv[2], sys.argv[3]
SIZES = (100, 1000, 10000)

def load(platform):
    times = {}
    for path in sorted(glob.glob(os.path.join(work, platform + "-*.json"))):
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            m = re.match(r"BM_(\w+)/n:(\d+)", b["name"])
            scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
            times.setdefault((m.group(1), int(m.group(2))), []).append(b["real_time"] * scale)
    return {k: statistics.median(v) for k, v in times.items()}

linux, wine = load("linux"), load("wine")
ops = []
for op, _ in sorted(set(linux) | set(wine), key=lambda k: k[0]):
    if op not in ops:
        ops.append(op)
order = ["add", "get", "get_after_write", "delete", "list",
         "ref_read", "ref_read_scan", "ref_rewrite", "ref_rewrite_unflushed"]
ops.sort(key=lambda o: order.index(o) if o in order else len(order))

def rate(us):
    return 1e6 / us if us else float("nan")

def fmt(x, digits=0):
    if x != x:
        return "-"
    return f"{x:,.{digits}f}"

print("Operations per second (median real time of the repetitions)")
print()
print(f"| {'operation':<22} | {'N':>6} | {'Linux ops/s':>12} | {'Wine ops/s':>11} | "
      f"{'Linux/Wine':>10} | {'Linux us/op':>11} | {'Wine us/op':>11} |")
print(f"|{'-'*24}|{'-'*8}:|{'-'*13}:|{'-'*12}:|{'-'*11}:|{'-'*12}:|{'-'*12}:|")
for op in ops:
    for n in SIZES:
        l, w = linux.get((op, n)), wine.get((op, n))
        ratio = w / l if l and w else float("nan")
        print(f"| {op:<22} | {n:>6,} | {fmt(rate(l) if l else float('nan')):>12} | "
              f"{fmt(rate(w) if w else float('nan')):>11} | {fmt(ratio, 1):>10} | "
              f"{fmt(l if l else float('nan'), 1):>11} | {fmt(w if w else float('nan'), 1):>11} |")
print()
print("Cost at 10,000 over cost at 100")
print()
print(f"| {'operation':<22} | {'Linux':>7} | {'Wine':>7} |")
print(f"|{'-'*24}|{'-'*8}:|{'-'*8}:|")
def growth(t, op):
    a, b = t.get((op, 100)), t.get((op, 10000))
    return b / a if a and b else float("nan")
for op in ops:
    print(f"| {op:<22} | {fmt(growth(linux, op), 2):>7} | {fmt(growth(wine, op), 2):>7} |")
print()

memory = {}
if memory_line:
    memory = dict(kv.split("=") for kv in memory_line.split()[1:])
    file_bytes = int(memory["file_bytes"])
    peak = int(memory["peak_rss_bytes"])
    mib = lambda key: int(memory[key]) / 2**20
    print(f"Memory: {int(memory['records']):,} ports, file {file_bytes / 2**20:.1f} MiB; "
          f"peak resident {peak / 2**20:.1f} MiB = {peak / file_bytes:.2f}x the file "
          f"(/usr/bin/time -v: {int(time_rss) / 1024:.1f} MiB); peak before the first call "
          f"{mib('peak_rss_before_bytes'):.1f} MiB, after the gets "
          f"{mib('peak_rss_after_get_bytes'):.1f} MiB, after the writes "
          f"{mib('peak_rss_after_write_bytes'):.1f} MiB, after the list {peak / 2**20:.1f} MiB")
    print()

def ratio(op, n):
    l, w = linux.get((op, n)), wine.get((op, n))
    return w / l if l and w else float("nan")

def verdict(ok):
    return "met" if ok else "MISSED"

checks = []
for op in ("get", "get_after_write"):
    rs = [ratio(op, n) for n in SIZES]
    checks.append((f"{op}: >= 100x Wine at every N",
                   ", ".join(fmt(r, 0) + "x" for r in rs), all(r >= 100 for r in rs)))
    g = growth(linux, op)
    checks.append((f"{op}: cost at 10,000 <= 2x cost at 100", fmt(g, 2) + "x", g <= 2))
r = ratio("add", 10000)
checks.append(("add: >= 200x Wine at 10,000", fmt(r, 0) + "x", r >= 200))
rs = [linux.get(("add", n), float("nan")) / linux.get(("ref_rewrite", n), float("nan"))
      for n in SIZES]
checks.append(("add: <= 3x the whole-file rewrite at every N",
               ", ".join(fmt(x, 2) + "x" for x in rs), all(x <= 3 for x in rs)))
r = ratio("delete", 10000)
checks.append(("delete: >= 50x Wine at 10,000", fmt(r, 1) + "x", r >= 50))
rs = [linux.get(("list", n), float("nan")) / linux.get(("ref_read_scan", n), float("nan"))
      for n in SIZES]
checks.append(("list: <= 2x whole-file read + line scan at every N",
               ", ".join(fmt(x, 2) + "x" for x in rs), all(x <= 2 for x in rs)))
if memory:
    x = int(memory["peak_rss_bytes"]) / int(memory["file_bytes"])
    checks.append((f"memory: peak resident <= 4x the file ({int(memory['records']):,} ports)",
                   fmt(x, 2) + "x", x <= 4))

print("Targets (ratios from this run)")
print()
print(f"| {'target':<55} | {'measured':<28} | {'':6} |")
print(f"|{'-'*57}|{'-'*30}|{'-'*8}|")
for name, measured, ok in checks:
    print(f"| {name:<55} | {measured:<28} | {verdict(ok):6} |")
PY

if [[ -n $keep_json ]]; then
  mkdir -p "$keep_json"
  cp "$work"/*.json "$keep_json"/
fi
rm -rf "$work"
