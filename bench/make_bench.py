#!/usr/bin/env python3
"""`mrgtool make` against `xdelta3 -e -s ORIGINAL MODIFIED` on pairs of files
of the kinds mod authors diff (bench/make_pairs.py: tar, sqlite, builds,
scattered, map, records, zeros) or on the merge benchmark's level pairs (bench/scenarios.py: S1,
S2, S3, the level and the level its merge file makes).

Each pair's commands run alternately, run after run, each run in the other
order; the table gives the medians of their wall and CPU times (user plus
system, of the process and its children), the time `cat` takes to read both
files (the floor of any differ), both outputs' sizes, make's speed (the two
files' bytes over its wall time) and its peak memory beyond the two files,
which it maps and reads whole. Every output is checked by applying
it: the merge file by the format's rules here, the VCDIFF by `xdelta3 -d`,
each result compared with MODIFIED byte for byte.
Where the generator knows the edits that made the pair, the in-order bound is
the least an in-order merge file can cost around them (bench/page_bound.cpp,
built here with g++), with the name field of make's merge file.

Goals: make at most half of xdelta3's time; the merge file at most 1.25 times
the VCDIFF where the change is made in place, and at most 1.25 times the
in-order bound; make's memory at most both files and 64 MiB.

Run: python3 bench/make_bench.py [--mrgtool PATH] [--seed N] [--folder DIR]
                                 [--runs N] [PAIR ...]
"""
import argparse
import mmap
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_pairs  # noqa: E402
import scenarios  # noqa: E402
from bench import cpu_pressure  # noqa: E402

MiB = 1 << 20
MB = 1000 * 1000
GOAL_TIME = 0.5
GOAL_MEMORY = 64 * MiB
GOAL_BOUND = 1.25


# Each command is started by a fresh interpreter of its own, so that the
# peak memory the system reports for it does not hold this script's (only
# the few megabytes of a bare interpreter, for a command that needs less).
MEASURE = """
import os, sys, time
start = time.perf_counter()
pid = os.posix_spawnp(sys.argv[1], sys.argv[1:], os.environ,
                      file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
_, status, usage = os.wait4(pid, 0)
print(time.perf_counter() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024,
      os.waitstatus_to_exitcode(status))
"""


def run_measured(command):
    """Runs `command`; returns (wall seconds, CPU seconds, peak resident bytes)."""
    done = subprocess.run([sys.executable, "-c", MEASURE] + command, capture_output=True,
                          text=True, check=True)
    seconds, cpu, peak, code = done.stdout.split()
    if int(code) != 0:
        sys.exit("%s failed (%s): %s" % (" ".join(command), code, done.stderr))
    return float(seconds), float(cpu), int(peak)


def same_as(chunks, path):
    """Whether the byte chunks, in order, are the file at path."""
    with open(path, "rb") as f:
        for chunk in chunks:
            if f.read(len(chunk)) != chunk:
                return False
        return f.read(1) == b""


def merged_chunks(merge_path, original_path):
    """The level a merge file makes of ORIGINAL, by the format's rules, in
    chunks; fails loudly on a merge file that breaks them."""
    with open(merge_path, "rb") as mf, open(original_path, "rb") as of:
        merge = mf.read()
        level = mmap.mmap(of.fileno(), 0, access=mmap.ACCESS_READ) if os.path.getsize(
            original_path) else b""
        (name_length,) = struct.unpack_from("<I", merge, 0)
        at = 4 + name_length
        kept = 0
        while at < len(merge):
            code, offset, removed, inserted = struct.unpack_from("<HIII", merge, at)
            if code != 2 or offset < kept or offset + removed > len(level) or \
                    at + 14 + inserted > len(merge):
                sys.exit("%s breaks the format at record %d" % (merge_path, at))
            yield level[kept:offset]
            yield merge[at + 14:at + 14 + inserted]
            kept = offset + removed
            at += 14 + inserted
        for start in range(kept, len(level), 16 * MiB):
            yield level[start:min(len(level), start + 16 * MiB)]


def check_outputs(pair, merge, delta, scratch):
    if not same_as(merged_chunks(merge, pair.original), pair.modified):
        sys.exit("%s does not turn %s into %s" % (merge, pair.original, pair.modified))
    decoded = os.path.join(scratch, "decoded")
    subprocess.run(["xdelta3", "-d", "-f", "-s", pair.original, delta, decoded], check=True)
    with open(decoded, "rb") as f:
        ok = same_as(iter(lambda: f.read(16 * MiB), b""), pair.modified)
    os.remove(decoded)
    if not ok:
        sys.exit("%s does not turn %s into %s" % (delta, pair.original, pair.modified))


def page_bound(folder):
    """bench/page_bound.cpp built in folder, unless it is there and newer."""
    source = os.path.join(HERE, "page_bound.cpp")
    program = os.path.join(folder, "page_bound")
    if not os.path.exists(program) or os.path.getmtime(program) < os.path.getmtime(source):
        subprocess.run(["g++", "-O2", "-std=c++17", "-o", program, source], check=True)
    return program


def in_order_bound(pair, merge, folder):
    """The least an in-order merge file can cost around the edits that made
    the pair, with the name field of `merge`; None where they aren't known."""
    edits = pair.original + ".edits"
    if not os.path.exists(edits):
        return None
    done = subprocess.run([page_bound(folder), pair.original, pair.modified, "--edits",
                           edits], capture_output=True, text=True, check=True)
    with open(merge, "rb") as f:
        (name_length,) = struct.unpack("<I", f.read(4))
    return 4 + name_length + int(done.stdout)


def get_pair(name, seed, folder):
    if name in make_pairs.NAMES:
        return make_pairs.generate(name, seed, os.path.join(folder, "make"))
    paths = scenarios.generate(name, seed, os.path.join(folder, "inputs"))
    return make_pairs.Pair(paths.original, paths.expected, scenarios.DESCRIPTIONS[name])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mrgtool", default=os.path.join(HERE, "..", "build", "release",
                                                          "mrgtool"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--folder", default=os.path.join(HERE, "..", "build", "bench"))
    parser.add_argument("--runs", type=int, default=5, help="timed runs of each command")
    parser.add_argument("names", nargs="*", default=list(make_pairs.NAMES),
                        help="pairs: %s, or S1 S2 S3" % " ".join(make_pairs.NAMES))
    args = parser.parse_args()
    if shutil.which("xdelta3") is None:
        sys.exit("xdelta3 is missing (apt-get install xdelta3)")
    if not os.access(args.mrgtool, os.X_OK):
        sys.exit("no mrgtool at %s: build the release preset, or give --mrgtool" % args.mrgtool)

    os.makedirs(args.folder, exist_ok=True)
    pressure_before = cpu_pressure()
    rows = []
    with tempfile.TemporaryDirectory(dir=args.folder) as scratch:
        for name in args.names:
            pair = get_pair(name, args.seed, args.folder)
            merge = os.path.join(scratch, name + ".mrg")
            delta = os.path.join(scratch, name + ".vcdiff")
            make = [args.mrgtool, "make", pair.original, pair.modified, "-o", merge,
                    "--name", name + ".lvl"]
            xdelta = ["xdelta3", "-e", "-f", "-s", pair.original, pair.modified, delta]
            read = ["cat", pair.original, pair.modified]
            timed = {"make": [], "xdelta3": [], "read": []}
            for run in range(args.runs):
                order = [("make", make), ("xdelta3", xdelta), ("read", read)]
                for tool, command in order if run % 2 == 0 else reversed(order):
                    timed[tool].append(run_measured(command))
            check_outputs(pair, merge, delta, scratch)
            both = os.path.getsize(pair.original) + os.path.getsize(pair.modified)
            rows.append({
                "name": name, "what": pair.what, "both": both,
                "make": [statistics.median(r[k] for r in timed["make"]) for k in (0, 1)],
                "xdelta3": [statistics.median(r[k] for r in timed["xdelta3"]) for k in (0, 1)],
                "read": statistics.median(r[0] for r in timed["read"]),
                "extra": max(r[2] for r in timed["make"]) - both,
                "mrg": os.path.getsize(merge), "vcdiff": os.path.getsize(delta),
                "bound": in_order_bound(pair, merge, args.folder)})
    pressure_after = cpu_pressure()

    print("| pair | both files | make wall | make CPU | `xdelta3 -e` wall | `xdelta3 -e` CPU "
          "| make / xdelta3 | reading both | make MB/s | .mrg | VCDIFF | .mrg / VCDIFF "
          "| in-order bound | .mrg / bound | make's memory beyond both files |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        bound = ("%s B | %.2f" % (format(r["bound"], ","), r["mrg"] / r["bound"])
                 if r["bound"] else "– | –")
        print("| %s | %.0f MB | %.3f s | %.3f s | %.3f s | %.3f s | %.2f | %.3f s | %.0f | %s B "
              "| %s B | %.2f | %s | %.1f MiB |" % (
                  r["name"], r["both"] / MB, r["make"][0], r["make"][1], r["xdelta3"][0],
                  r["xdelta3"][1], r["make"][0] / r["xdelta3"][0], r["read"],
                  r["both"] / MB / r["make"][0], format(r["mrg"], ","),
                  format(r["vcdiff"], ","), r["mrg"] / r["vcdiff"], bound,
                  r["extra"] / MiB))
    print()
    for r in rows:
        print("- %s: %s" % (r["name"], r["what"]))
    print("\nMedians of %d alternating runs; CPU pressure (share of the last minute some "
          "task waited for a CPU) %s before, %s after." % (
              args.runs, pressure_before, pressure_after))
    missed = [r["name"] for r in rows if r["make"][0] > GOAL_TIME * r["xdelta3"][0]]
    if missed:
        print("make took more than half of xdelta3's time on: %s" % ", ".join(missed))
    loose = [r["name"] for r in rows if r["bound"] and r["mrg"] > GOAL_BOUND * r["bound"]]
    if loose:
        print("the merge file was more than %.2f times the in-order bound on: %s"
              % (GOAL_BOUND, ", ".join(loose)))
    heavy = [r["name"] for r in rows if r["extra"] > GOAL_MEMORY]
    if heavy:
        print("make needed more than both files and 64 MiB on: %s" % ", ".join(heavy))


if __name__ == "__main__":
    main()
