#!/usr/bin/env bash
# scale.sh - the library and qdlcfg on large configurations, process by process, each figure
# beside its yardstick and its growth with the number of ports (bench/scale_host.cpp,
# bench/scale_tool_ref.cpp, the built qdlcfg).
#
# Every case is one process, timed from outside (wall clock from its start to its end, the
# median of the repetitions, cases interleaved) with its peak resident size (GNU time's %M, the
# highest of the repetitions). Files are put back between repetitions outside the timing, so
# every process finds them in the page cache.
#   library, at --sizes ports: a host's first get of one port (load + one get) beside reading
#     the file and finding its line breaks; a host's first add beside reading the file plus one
#     flushed rewrite; a warm add and delete (one process, median of 15 each) beside one flushed
#     rewrite; peak memory beside the file
#   qdlcfg, at --tool-sizes ports: import and a no-op apply beside parsing the document plus
#     one flushed rewrite; check beside one read of the file; export beside serialising the
#     same records; list, set and delete; peak memory beside the document plus the file
#   growth: each figure at one size over the one at the size before
#
# Usage: bench/scale.sh [--repetitions N] [--sizes "1000 10000 100000"]
#                       [--tool-sizes "1000 10000 100000"] [--keys 13|18] [--timeout SECONDS]
#                       [--compact] [--skip-build]
# Ports carry --keys keys each (13 by default, so that 1,000,000 ports stay below the 256 MiB
# limit of a configuration file). Documents are indented as qdlcfg export writes them, or with
# --compact without white space (the indented document of 1,000,000 ports, 361 MB, is past
# the tool's 256 MiB limit of a document; the compact one is 239 MB). A process that runs
# longer than --timeout (default 600 s) is stopped and shown as such. Build directory: QDL_BENCH_SCALE_DIR (default
# /tmp/build-bench-scale), built with JOBS jobs (default 2); work files in TMPDIR.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QDL_BENCH_SCALE_DIR:-/tmp/build-bench-scale}
repetitions=5
sizes="1000 10000 100000"
tool_sizes="1000 10000 100000"
keys=13
compact=
timeout=600
build=1

while [[ $# -gt 0 ]]; do
  case $1 in
    --repetitions) repetitions=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --tool-sizes) tool_sizes=$2; shift 2 ;;
    --keys) keys=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --compact) compact=compact; shift ;;
    --skip-build) build=0; shift ;;
    -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
    *) echo "scale.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

log() { echo "scale.sh: $*" >&2; }

if [[ $build == 1 ]]; then
  if [[ ! -f $build_dir/CMakeCache.txt ]]; then
    log "configuring $build_dir"
    cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQDL_BUILD_BENCH=ON \
      -DQDL_BUILD_TESTS=OFF -DQDL_BUILD_TOOLS=ON >/dev/null
  fi
  log "building $build_dir"
  cmake --build "$build_dir" -j"${JOBS:-2}" --target scale_host scale_tool_ref qdlcfg >/dev/null
fi
for program in bench/scale_host bench/scale_tool_ref tools/qdlcfg/qdlcfg; do
  [[ -x $build_dir/$program ]] || { log "$program is not built in $build_dir"; exit 1; }
done
[[ -x /usr/bin/time ]] || { log "GNU time (/usr/bin/time) is needed for peak memory"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/scale-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores, $cpu," \
     "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo);" \
     "work files on $(findmnt -n -o FSTYPE -T "$work" 2>/dev/null || stat -f -c %T "$work")"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg); repetitions: $repetitions;" \
     "ports with $keys keys; documents ${compact:-indented}"
echo

python3 - "$build_dir" "$work" "$repetitions" "$sizes" "$tool_sizes" "$keys" "$timeout" \
  "$compact" <<'PY'
import os, shutil, statistics, subprocess, sys, time

build, work, reps = sys.argv[1], sys.argv[2], int(sys.argv[3])
sizes = [int(n) for n in sys.argv[4].split()]
tool_sizes = [int(n) for n in sys.argv[5].split()]
keys, limit, compact = sys.argv[6], float(sys.argv[7]), sys.argv[8:9] == ["compact"]
host = os.path.join(build, "bench/scale_host")
ref = os.path.join(build, "bench/scale_tool_ref")
tool = os.path.join(build, "tools/qdlcfg/qdlcfg")

def machine(name):
    prefix = os.path.join(work, name)
    os.makedirs(os.path.join(prefix, "windows"), exist_ok=True)
    return prefix, os.path.join(prefix, "windows", "tsk_cfg.ini")

def run(args, prefix, setup=None, out=os.devnull):
    """One process: (seconds, peak KiB); instead of seconds, why it failed or was stopped."""
    if setup:
        setup()
    env = dict(os.environ, TSKQDL32_PREFIX=prefix)
    mem = os.path.join(work, "mem")
    start = time.perf_counter()
    try:
        with open(out, "wb") as so:
            p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", mem] + args, env=env,
                               stdout=so, stderr=subprocess.PIPE, timeout=limit)
    except subprocess.TimeoutExpired:
        return "stopped", 0
    seconds = time.perf_counter() - start
    rc = p.returncode
    if rc != 0:
        lines = p.stderr.decode(errors="replace").strip().splitlines()
        return f"failed ({lines[-1] if lines else 'exit ' + str(rc)})", 0
    try:
        kib = int(open(mem).read().split()[-1])
    except (OSError, ValueError, IndexError):
        kib = 0
    return seconds, kib

def measure(cases, prefix):
    """cases: name -> (args, setup). Interleaved repetitions; name -> (median s, peak KiB)."""
    times = {name: [] for name in cases}
    peak = {name: 0 for name in cases}
    for _ in range(reps):
        for name, (args, setup) in cases.items():
            if times[name] and not isinstance(times[name][-1], float):
                continue  # failed or stopped once: not run again
            t, kib = run(args, prefix, setup)
            times[name].append(t)
            peak[name] = max(peak[name], kib)
    result = {}
    for name, ts in times.items():
        ok = [t for t in ts if isinstance(t, float)]
        result[name] = (statistics.median(ok) if len(ok) == len(ts) else ts[-1], peak[name])
    return result

def restore(src, dst):
    return lambda: shutil.copyfile(src, dst)

def fmt_ms(t):
    return f"{t * 1000:,.1f}" if isinstance(t, float) else str(t)

def ratio(a, b):
    return a / b if isinstance(a, float) and isinstance(b, float) and b > 0 else None

def fmt_ratio(r):
    return f"{r:.2f}x" if r is not None else "-"

def verdict(r, target):
    return "-" if r is None else ("met" if r <= target else "MISSED")

def table(title, rows, header):
    print(title)
    print()
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" if i == 0 else "---:" for i in range(len(header))) + "|")
    for row in rows:
        print("| " + " | ".join(str(c) for c in row) + " |")
    print()

targets = []  # (what, n, ratio, target)
growth = {}   # what -> {n: seconds}

# ---- The library -------------------------------------------------------------------------
lib_rows = []
for n in sizes:
    prefix, cfg = machine(f"lib-{n}")
    pristine = os.path.join(work, f"lib-{n}.ini")
    subprocess.run([host, "file", str(n), pristine, keys], check=True)
    shutil.copyfile(pristine, cfg)
    file_kib = os.path.getsize(pristine) / 1024
    put_back = restore(pristine, cfg)
    r = measure({
        "get": ([host, "get", f"P{n // 2:06d}"], put_back),
        "read+scan": ([host, "read-scan", cfg], put_back),
        "add": ([host, "add", "PNEW"], put_back),
        "read+rewrite": ([host, "read-rewrite", cfg], put_back),
    }, prefix)
    put_back()
    warm = subprocess.run([host, "warm", str(n), "15"], check=True, capture_output=True,
                          text=True, env=dict(os.environ, TSKQDL32_PREFIX=prefix)).stdout.split()
    w = {warm[i]: float(warm[i + 1]) / 1000 for i in range(0, len(warm), 2)}
    for what, case, yard in (("first get", "get", "read+scan"),
                             ("first add", "add", "read+rewrite")):
        t, y = r[case][0], r[yard][0]
        lib_rows.append([what, f"{n:,}", fmt_ms(t), yard, fmt_ms(y), fmt_ratio(ratio(t, y)),
                         f"{r[case][1] / file_kib:.2f}x ({r[case][1] / 1024:.1f} MiB)"])
        growth.setdefault(f"library {what}", {})[n] = t
        growth.setdefault(f"yardstick {yard}", {})[n] = y
        targets.append((f"library {what} <= 1.5x {yard}", n, ratio(t, y), 1.5))
        targets.append((f"library {what}: peak <= 1.5x the file", n, r[case][1] / file_kib, 1.5))
    for what in ("add", "delete"):
        lib_rows.append([f"warm {what}", f"{n:,}", fmt_ms(w[what]), "flushed rewrite",
                         fmt_ms(w["rewrite"]), fmt_ratio(ratio(w[what], w["rewrite"])), ""])
        growth.setdefault(f"library warm {what}", {})[n] = w[what]
        targets.append((f"library warm {what} <= 1.2x one flushed rewrite", n,
                        ratio(w[what], w["rewrite"]), 1.2))
    lib_rows.append(["(file)", f"{n:,}", f"{os.path.getsize(pristine):,} bytes", "", "", "", ""])
    os.remove(pristine)
    shutil.rmtree(prefix)

if sizes:
    table("The library: one process each (ms, median), warm cases in one process",
          lib_rows, ["case", "ports", "ms", "yardstick", "ms", "ratio", "peak / file"])

# ---- qdlcfg ------------------------------------------------------------------------------
tool_rows = []
for n in tool_sizes:
    prefix, cfg = machine(f"tool-{n}")
    doc = os.path.join(work, f"doc-{n}.json")
    subprocess.run([ref, "document", str(n), doc, keys] + (["compact"] if compact else []),
                   check=True)
    empty = os.path.join(work, "empty.ini")
    open(empty, "w").close()
    shutil.copyfile(empty, cfg)
    t, _ = run([tool, "import", doc], prefix)
    if not isinstance(t, float):
        print(f"qdlcfg import of {n:,} ports: {t}; qdlcfg at {n:,} is left out\n")
        continue
    imported = os.path.join(work, f"tool-{n}.ini")
    shutil.copyfile(cfg, imported)
    put_back = restore(imported, cfg)
    middle = f"P{n // 2:06d}"
    r = measure({
        "import": ([tool, "import", doc], restore(empty, cfg)),
        "apply": ([tool, "apply", doc], put_back),
        "parse+rewrite": ([ref, "parse-rewrite", doc, cfg], put_back),
        "check": ([tool, "check"], put_back),
        "read": ([ref, "read", cfg], put_back),
        "export": ([tool, "export"], put_back),
        "serialise": ([ref, "serialise", str(n), keys], None),
        "list": ([tool, "list", "ports"], put_back),
        "set": ([tool, "set", "port", middle, "--baudrate", "9600"], put_back),
        "delete": ([tool, "delete", "port", middle], put_back),
    }, prefix)
    size_kib = (os.path.getsize(doc) + os.path.getsize(imported)) / 1024
    for verb, yard, target in (("import", "parse+rewrite", 2), ("apply", "parse+rewrite", 2),
                               ("check", "read", 3), ("export", "serialise", 2),
                               ("list", None, None), ("set", None, None), ("delete", None, None)):
        t, kib = r[verb]
        y = r[yard][0] if yard else None
        tool_rows.append([verb, f"{n:,}", fmt_ms(t), yard or "", fmt_ms(y) if yard else "",
                          fmt_ratio(ratio(t, y)) if yard else "",
                          f"{kib / size_kib:.2f}x ({kib / 1024:.0f} MiB)"])
        growth.setdefault(f"qdlcfg {verb}", {})[n] = t
        if yard:
            growth.setdefault(f"yardstick {yard}", {})[n] = y
            targets.append((f"qdlcfg {verb} <= {target}x {yard}", n, ratio(t, y), target))
        targets.append((f"qdlcfg {verb}: peak <= 3x document + file", n, kib / size_kib, 3))
    tool_rows.append(["(files)", f"{n:,}", f"document {os.path.getsize(doc):,} bytes",
                      f"file {os.path.getsize(imported):,} bytes", "", "", ""])
    os.remove(doc)
    os.remove(imported)
    shutil.rmtree(prefix)

if tool_sizes:
    table("qdlcfg: one process each (ms, median)", tool_rows,
          ["verb", "ports", "ms", "yardstick", "ms", "ratio", "peak / (document + file)"])

# ---- Growth ------------------------------------------------------------------------------
all_sizes = sorted(set(sizes) | set(tool_sizes))
rows = []
for what, by_n in growth.items():
    cells, prev = [], None
    for n in all_sizes:
        t = by_n.get(n)
        cells.append(fmt_ratio(ratio(t, by_n.get(prev))) if prev is not None and n in by_n else "")
        if n in by_n:
            prev = n
            if what.startswith("qdlcfg") and n == 100000 and 10000 in by_n:
                targets.append((f"{what}: growth 10,000 -> 100,000 <= 12x", n,
                                ratio(t, by_n[10000]), 12))
    rows.append([what] + cells)
table("Growth: time at each size over the time at the size before", rows,
      ["case"] + [f"{n:,}" for n in all_sizes])

def judged(what, n):
    if "warm" in what:
        return n == 10000
    return n == 100000

rows = [[what, f"{n:,}", fmt_ratio(r), verdict(r, target)] for what, n, r, target in targets
        if judged(what, n)]
table("Targets (warm add and delete at 10,000 ports, everything else at 100,000)", rows,
      ["target", "ports", "measured", ""])
PY
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
