#!/usr/bin/env bash
# Builds the benchmarks in Release with the peer libraries from Debian (inih, SimpleIni,
# zlib), runs them in rounds and prints one table: Vellix beside its peers on the same
# inputs (10,000 groups x 100 items and 1 group x 1,000,000 items), as ratios.
#
#   scripts/bench.sh              3 rounds, about five minutes on two quiet cores
#   scripts/bench.sh --rounds N   N rounds
#   scripts/bench.sh --quick      1 round of short runs: checks that everything works
#   scripts/bench.sh --large      also one group of 10,000,000 items (a minute more)
#   scripts/bench.sh --keep DIR   also keeps the raw JSON results in DIR
#   scripts/bench.sh --process    only the whole-process section (below): under a minute
#
# Each round runs every program once, in an order that turns from round to round, and
# within a program each operation runs for Vellix and then at once for its peers: compared
# figures are taken side by side, so a machine that gets busier or quieter shifts both.
# Every operation runs a fixed number of timed iterations after an untimed one (warm), and
# the main ones also once alone in a fresh process (cold: the first load a user feels);
# bench/bench_util.h says how. A harness that runs for a fixed time instead settles for one
# cold iteration when the machine is busy and compares it with a warm one.
# Figures are medians over the rounds. Ratios are of CPU time (a shared machine takes wall
# time away from whichever program it likes); where waiting for the disk is part of the
# cost (saves), the wall-time ratio is shown beside it. The load average taken before each
# run is printed beside the table: above the number of cores, the figures are not to be
# trusted, ratios less so than times but still.
# A last section times whole processes, as a game that loads its file at start pays for
# them: vellix-run loading a plain file at its object's creation, less vellix-run with an
# empty object, against a process of inih parsing the same file alone (bench/process_bench.py
# says how: CPU time of the child from wait4, medians of 5 runs a round).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=3
quick=0
process_only=0
keep=""
sizes='10000|1000000'
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift ;;
    --quick) rounds=1; quick=1 ;;
    --keep) keep=$2; shift ;;
    --large) sizes='10000|1000000|10000000' ;;
    --process) process_only=1 ;;
    *) echo "bench.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
  shift
done
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "bench.sh: --rounds needs a positive number" >&2; exit 2; }

"$root/scripts/deps.sh" bench
dir="$root/build-bench"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVELLIX_BENCH=ON -DVELLIX_TESTS=OFF \
  >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The whole-process section: vellix-run, its module, the text writer and inih's program.
process_targets=(vellix-run vellix write_ini_text)
grep -q '^INIH_FOUND:INTERNAL=1' "$dir/CMakeCache.txt" && process_targets+=(inih_process)
process_section() {
  cmake --build "$dir" -j2 --target "${process_targets[@]}" >/dev/null
  echo "whole processes: $(( rounds * 5 )) runs of each" >&2
  python3 "$root/bench/process_bench.py" "$dir/bin" "$out/process" $(( rounds * 5 ))
  rm -rf "$out/process"
}
if [ "$process_only" = 1 ]; then
  process_section
  exit 0
fi
cmake --build "$dir" -j2 --target bench_text bench_files bench_store bench_undo >/dev/null
cut -d' ' -f1-3 /proc/loadavg >"$out/load-start"
export VELLIX_BENCH_QUICK=$quick

# program and the benchmarks of it that the table uses (names end in /iterations:N)
programs=(text files store undo)
declare -A filters=(
  [text]='^(parse|write_warm|write_cold)/'
  [files]='^(Files_Save/(both|compressed)|Layer_WriteTextRC4|Files_Load|Layer_Deflate/level:6/enciphered:0|Layer_RC4/)'
  [store]="^BM_OneGroup(Parse|SetItem)/($sizes)/"
  [undo]='^BM_SetUndoRedo/0'
)
# program:benchmark of each cold row, each run alone in a fresh process
cold=(text:parse/{vellix,inih,inih_map,simpleini}/{common,onegroup} files:Files_Load
  files:Files_Save/both)
# Runs one program with its JSON into $out/$2.json, the load average before it into loads.
run() {
  local program=$1 file=$2 filter=$3
  cut -d' ' -f1 /proc/loadavg >>"$out/loads"
  "$dir/bin/bench_$program" --benchmark_filter="$filter" --benchmark_format=json \
    --benchmark_out="$out/$file.json" --benchmark_out_format=json >/dev/null
}
for round in $(seq 1 "$rounds"); do
  # Turn the order: program k starts round r at position (k + r) mod n.
  for i in "${!programs[@]}"; do
    name=${programs[$(( (i + round) % ${#programs[@]} ))]}
    echo "round $round/$rounds: bench_$name" >&2
    run "$name" "warm-$name-$round" "${filters[$name]}"
  done
  echo "round $round/$rounds: ${#cold[@]} cold runs, each in a fresh process" >&2
  for k in "${!cold[@]}"; do
    entry=${cold[$k]}
    VELLIX_BENCH_COLD=1 run "${entry%%:*}" "cold-$k-$round" "^${entry#*:}(/|\$)"
  done
done
# Memory is not noisy: measured once.
for shape in common onegroup; do
  for lib in vellix inih_map simpleini; do
    "$dir/bin/bench_text" --memory=$lib --shape=$shape >>"$out/memory.txt" 2>/dev/null || true
  done
done
"$dir/bin/bench_files" --memory=both >>"$out/memory.txt"
# One load of the compressed, enciphered 10,000 x 100 file in a fresh process: its peak above
# the document it makes.
"$dir/bin/bench_files" --write=both:"$out/document.dat" >/dev/null
"$dir/bin/bench_files" --load-memory=both:"$out/document.dat" >>"$out/memory.txt"
rm -f "$out/document.dat"
cut -d' ' -f1-3 /proc/loadavg >"$out/load-end"
[ -n "$keep" ] && mkdir -p "$keep" && cp "$out"/* "$keep"/
process=$(process_section)

python3 - "$out" "$rounds" <<'EOF'
import glob, json, os, re, statistics, sys

out, rounds = sys.argv[1], int(sys.argv[2])
# "warm" or "cold" -> benchmark name -> list of (cpu ms, wall ms, counters)
all_runs = {"warm": {}, "cold": {}}
for path in sorted(glob.glob(os.path.join(out, "*.json"))):
    mode = os.path.basename(path).split("-")[0]
    with open(path) as f:
        for b in json.load(f)["benchmarks"]:
            name = re.sub(r"/(real_time|iterations:\d+)$", "", b["name"])
            name = re.sub(r"/(real_time|iterations:\d+)$", "", name)
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            all_runs[mode].setdefault(name, []).append((b["cpu_time"] * scale, b["real_time"] * scale, b))
runs = all_runs["warm"]

def med(name, what, mode="warm"):
    runs = all_runs[mode]
    if name not in runs:
        return None
    if what == "cpu":
        return statistics.median(r[0] for r in runs[name])
    if what == "wall":
        return statistics.median(r[1] for r in runs[name])
    return statistics.median(r[2][what] for r in runs[name])

rows = []
def row(what, shape, ours, peer, peer_name, mode="warm"):
    rows.append((what, shape, ours, peer, peer_name, mode))

shapes = {"common": "10,000 x 100", "onegroup": "1 x 1,000,000"}
for shape, label in shapes.items():
    v = f"parse/vellix/{shape}"
    for mode in ("warm", "cold"):
        for peer, peer_label in (("inih", "inih, parse alone"), ("inih_map", "inih into std::map"),
                                 ("simpleini", "SimpleIni LoadData")):
            row(f"parse, {mode}", label, v, f"parse/{peer}/{shape}", peer_label, mode)
    row("write, warm (buffer reused)", label, f"write_warm/vellix/{shape}",
        f"write_warm/simpleini/{shape}", "SimpleIni Save")
    row("write, fresh memory", label, f"write_cold/vellix/{shape}",
        f"write_cold/simpleini/{shape}", "SimpleIni Save")
row("RC4 in place", "34 MB", "Layer_RC4/vellix", "Layer_RC4/openssl", "OpenSSL RC4()")

def fmt_ms(x):
    return "-" if x is None else (f"{x:.1f}" if x < 100 else f"{x:.0f}")

def ratio(peer, ours):
    return "-" if peer is None or ours is None or ours == 0 else f"{peer / ours:.2f}"

loads = [float(x) for x in open(os.path.join(out, "loads")).read().split()]
cpus = os.cpu_count()
load_note = (f"load average (1 min) before the {len(loads)} runs: min {min(loads):.2f}, median "
             f"{statistics.median(loads):.2f}, max {max(loads):.2f} on {cpus} CPUs")
if max(loads) > cpus:
    load_note += ": BUSY, figures unreliable"

print()
print(f"Vellix beside its peers: medians of {rounds} round(s), times in ms of CPU (wall in brackets);")
print(load_note + ".")
print("'warm': a fixed number of iterations after an untimed one; 'cold': the first run in a fresh")
print("process. 'x' = peer time / Vellix time: above 1, Vellix is faster by that factor.")
print()
header = f"{'operation':30} {'shape':14} {'Vellix':>14} {'peer':22} {'peer time':>14} {'x CPU':>6} {'x wall':>6}"
print(header)
print("-" * len(header))
for what, shape, ours, peer, peer_name, mode in rows:
    oc, ow = med(ours, "cpu", mode), med(ours, "wall", mode)
    pc, pw = med(peer, "cpu", mode), med(peer, "wall", mode)
    if oc is None and pc is None:
        continue
    vt = f"{fmt_ms(oc)} ({fmt_ms(ow)})"
    pt = f"{fmt_ms(pc)} ({fmt_ms(pw)})"
    print(f"{what:30} {shape:14} {vt:>14} {peer_name:22} {pt:>14} {ratio(pc, oc):>6} {ratio(pw, ow):>6}")

# Saves: against the same text's WriteText + RC4 (the goal: at most 1.3 times) and the
# compressed plain save against zlib's compress() of the text at its default level.
print()
save, ref = "Files_Save/both", "Layer_WriteTextRC4"
if save in runs and ref in runs:
    print("Saves of 10,000 x 100 (34 MB of text), to a file with its flush, times in ms:")
    sc, sw, rc, rw = med(save, "cpu"), med(save, "wall"), med(ref, "cpu"), med(ref, "wall")
    print(f"  compressed + enciphered save   {fmt_ms(sc)} CPU ({fmt_ms(sw)} wall)")
    print(f"  WriteText + RC4 of that text   {fmt_ms(rc)} CPU ({fmt_ms(rw)} wall)")
    print(f"  save / (WriteText + RC4)       {sc / rc:.2f} CPU, {sw / rw:.2f} wall   (goal: at most 1.30)")
    comp, z = "Files_Save/compressed", "Layer_Deflate/level:6/enciphered:0"
    if comp in runs and z in runs:
        cc, cw, zc, zw = med(comp, "cpu"), med(comp, "wall"), med(z, "cpu"), med(z, "wall")
        print(f"  compressed plain save (level 4) {fmt_ms(cc)} CPU; zlib compress() of the text (level 6) "
              f"{fmt_ms(zc)} CPU: x {zc / cc:.2f}")
    load = "Files_Load"
    if load in runs:
        print(f"  load of the compressed + enciphered file   {fmt_ms(med(load, 'cpu'))} CPU ({fmt_ms(med(load, 'wall'))} wall) warm", end="")
        if load in all_runs["cold"]:
            print(f", {fmt_ms(med(load, 'cpu', 'cold'))} CPU ({fmt_ms(med(load, 'wall', 'cold'))} wall) cold", end="")
        print()
    if save in all_runs["cold"]:
        print(f"  compressed + enciphered save, cold          {fmt_ms(med(save, 'cpu', 'cold'))} CPU ({fmt_ms(med(save, 'wall', 'cold'))} wall)")

# One large group: time per item from 10,000 items up (the goal: within 2 times up to
# 10,000,000, which --large adds). The kernel's part is the page faults of memory the
# process gets fresh from the system: a small document reuses the memory of the run before.
print()
print("One group of n items, warm, ns per item (CPU; in brackets the kernel's part):")
for op in ("Parse", "SetItem"):
    # The counter is a rate inverted: seconds per item.
    small = med(f"BM_OneGroup{op}/10000", "ns_per_item")
    if small is None:
        continue
    small *= 1e9
    line = f"  {op:8} 1e4: {small:6.1f}"
    for n, label in ((1000000, "1e6"), (10000000, "1e7")):
        large = med(f"BM_OneGroup{op}/{n}", "ns_per_item")
        if large is not None:
            large *= 1e9
            sys_ns = med(f"BM_OneGroup{op}/{n}", "sys_ns_per_item")
            line += f"   {label}: {large:6.1f} ({sys_ns:.0f})  {label} / 1e4: {large / small:.2f}"
    print(line)

undo = "BM_SetUndoRedo/0"
if undo in runs:
    print()
    print("SetItem creating items, 1,000,000 calls (ns per call, CPU):")
    print(f"  without undo {med(undo, 'set_ns_no_undo'):.0f}; with unlimited undo "
          f"{med(undo, 'set_ns_per_call'):.0f}, of which {med(undo, 'set_sys_ns_per_call'):.0f} in the kernel "
          f"giving the records fresh pages ({med(undo, 'undo_bytes_per_record'):.0f} bytes per record)")

# Resident memory of one loaded document, and the peak of a save over the memory before it.
documents = {}
save_peak = None
load_peak = None
with open(os.path.join(out, "memory.txt")) as f:
    for line in f:
        m = re.match(r"(\w+) (\w+): text [\d.]+ MB, document ([\d.]+) MB resident", line)
        if m:
            documents[(m.group(1), m.group(2))] = float(m.group(3))
        m = re.match(r"save both: document ([\d.]+) MiB resident, peak during the save ([-+\d.]+) MiB", line)
        if m:
            save_peak = (float(m.group(1)), float(m.group(2)))
        m = re.match(r"load: ([\d.]+) ms, document ([\d.]+) MiB resident, peak above the document ([-+\d.]+) MiB", line)
        if m:
            load_peak = (float(m.group(1)), float(m.group(2)), float(m.group(3)))
print()
print("Resident memory of one loaded document, MB ('x' = Vellix / peer: below 1, Vellix is smaller):")
for shape, label in shapes.items():
    ours = documents.get(("vellix", shape))
    for peer, peer_label in (("inih_map", "inih into std::map"), ("simpleini", "SimpleIni")):
        theirs = documents.get((peer, shape))
        if ours is not None and theirs is not None:
            print(f"  {label:14} Vellix {ours:7.1f}   {peer_label:20} {theirs:7.1f}   x {ours / theirs:.2f}")
if save_peak is not None:
    print(f"Compressed + enciphered save of 10,000 x 100: the peak stays {save_peak[1]:+.2f} MiB over the "
          f"{save_peak[0]:.1f} MiB before it (goal: within 8 MiB)")
if load_peak is not None:
    print(f"Load of the same file in a fresh process: {load_peak[0]:.0f} ms; the peak stays "
          f"{load_peak[2]:+.2f} MiB over the {load_peak[1]:.1f} MiB document (goal: within 8 MiB)")

start = open(os.path.join(out, "load-start")).read().split()
end = open(os.path.join(out, "load-end")).read().split()
print()
print(f"Load average (1, 5, 15 min) at the start: {' '.join(start)}; at the end: {' '.join(end)}"
      f" ({cpus} CPUs); {load_note}.")
EOF
echo "$process"
