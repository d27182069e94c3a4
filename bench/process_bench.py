#!/usr/bin/env python3
"""Times whole processes: vellix-run loading a plain file at its object's creation, less
vellix-run with an empty object, against inih parsing the same file alone (scripts/bench.sh's
process section; `scripts/bench.sh --process` runs it alone).

    process_bench.py BIN_DIR WORK_DIR ROUNDS

BIN_DIR holds vellix-run, its module, write_ini_text and (when inih was found) inih_process.
WORK_DIR receives the two texts and the scripts. Each round runs every program once per
shape, in an order that turns from round to round, after one untimed run of each (which
brings the files and programs into the page cache). A process's time is its own CPU time,
user + system, from wait4's rusage, and its wall time; figures are medians over the rounds.
"""
import os
import statistics
import subprocess
import sys
import time

bin_dir, work, rounds = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])
shapes = {"common": "10,000 x 100", "onegroup": "1 x 1,000,000"}
run = os.path.join(bin_dir, "vellix-run")
inih = os.path.join(bin_dir, "inih_process")
have_inih = os.path.exists(inih)

os.makedirs(work, exist_ok=True)
programs = {"empty": [run, "empty.vxs"]}
with open(os.path.join(work, "empty.vxs"), "w") as f:
    f.write("object ini\n")
for shape in shapes:
    subprocess.run([os.path.join(bin_dir, "write_ini_text"), shape, os.path.join(work, f"{shape}.ini")],
                   check=True)
    with open(os.path.join(work, f"load-{shape}.vxs"), "w") as f:
        f.write(f'object ini file="{shape}.ini" loaddefault=1 basefolder=1\n')
    programs[f"load-{shape}"] = [run, f"load-{shape}.vxs"]
    if have_inih:
        programs[f"inih-{shape}"] = [inih, f"{shape}.ini"]


def once(argv):
    """(CPU ms, wall ms, kernel ms, load average) of one whole process, run in WORK_DIR."""
    load = os.getloadavg()[0]
    start = time.perf_counter()
    child = subprocess.Popen(argv, cwd=work, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = (time.perf_counter() - start) * 1e3
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"process_bench: {' '.join(argv)} ended with {child.returncode}")
    return (usage.ru_utime + usage.ru_stime) * 1e3, wall, usage.ru_stime * 1e3, load


names = list(programs)
for name in names:
    once(programs[name])
times = {name: [] for name in names}
loads = []
for r in range(rounds):
    for i in range(len(names)):
        name = names[(i + r) % len(names)]
        cpu, wall, kernel, load = once(programs[name])
        times[name].append((cpu, wall, kernel))
        loads.append(load)


def med(name, k):
    return statistics.median(t[k] for t in times[name])


print()
print(f"Whole processes, medians of {rounds} runs, ms of CPU (user + system; wall in brackets; 'k': the")
print("kernel's part of the CPU, mostly fresh pages);")
load_note = (f"load average (1 min) before the runs: min {min(loads):.2f}, median "
             f"{statistics.median(loads):.2f}, max {max(loads):.2f} on {os.cpu_count()} CPUs")
if max(loads) > os.cpu_count():
    load_note += ": BUSY, figures unreliable"
print(load_note + ".")
print("'x' = (vellix-run load - vellix-run empty) / inih process: at most 1 is the goal.")
print(f"  vellix-run with an empty object   {med('empty', 0):7.1f} ({med('empty', 1):.1f})")
for shape, label in shapes.items():
    lc, lw = med(f"load-{shape}", 0), med(f"load-{shape}", 1)
    dc, dw = lc - med("empty", 0), lw - med("empty", 1)
    line = (f"  {label:14} vellix-run load {lc:6.1f} ({lw:.1f}) k {med(f'load-{shape}', 2):.0f}, "
            f"less empty {dc:6.1f} ({dw:.1f})")
    if have_inih:
        ic, iw = med(f"inih-{shape}", 0), med(f"inih-{shape}", 1)
        line += (f"   inih {ic:6.1f} ({iw:.1f}) k {med(f'inih-{shape}', 2):.0f}"
                 f"   x {dc / ic:.2f} CPU, {dw / iw:.2f} wall")
    print(line)
