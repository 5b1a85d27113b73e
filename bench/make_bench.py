#!/usr/bin/env python3
"""How well `mrgtool make` finds the edits between a level and its merged
version: on each scenario pair (original level, merge file that made the
expected level), runs `mrgtool make ORIGINAL EXPECTED` and
`xdelta3 -e -s ORIGINAL EXPECTED`, and prints for make its time, peak memory
and merge file size against the merge file that made the pair, and the
time of xdelta3 -e, with the ratios of the goals:

  size   make's merge file / generating merge file   goal <= 1.10
  time   make / xdelta3 -e                           goal <  1
  memory make's peak / (original + expected)         goal <= 3

Run: python3 bench/make_bench.py [--mrgtool PATH] [--seed N] [--folder DIR]
                                 [--runs N] [S1 S2 ...]
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
try:
    import scenarios  # noqa: E402  (the benchmark's generator of level pairs)
except ImportError:
    sys.exit("bench/scenarios.py, the benchmark's generator of level pairs, is missing")

MiB = 1 << 20


def run_measured(command):
    """Runs `command`; returns (seconds, peak resident bytes), failing loudly."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        child = subprocess.Popen(command, stdout=null, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        err = child.stderr.read().decode(errors="replace")
        child.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(command), code, err))
    return seconds, usage.ru_maxrss * 1024


def best_of(runs, command):
    results = [run_measured(command) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mrgtool", default=os.path.join(HERE, "..", "build", "release",
                                                          "mrgtool"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--folder", default=os.path.join(HERE, "..", "build", "bench",
                                                         "inputs"))
    parser.add_argument("--runs", type=int, default=1, help="best time of this many runs")
    parser.add_argument("names", nargs="*", default=["S1", "S2"])
    args = parser.parse_args()
    xdelta = shutil.which("xdelta3")
    if xdelta is None:
        sys.exit("xdelta3 is missing (apt-get install xdelta3)")

    rows = []
    for name in args.names:
        paths = scenarios.generate(name, args.seed, args.folder)
        out = os.path.join(args.folder, name.lower() + ".made.mrg")
        make_time, make_peak = best_of(args.runs, [
            args.mrgtool, "make", paths.original, paths.expected, "-o", out,
            "--name", paths.level_name])
        delta = os.path.join(args.folder, name.lower() + ".xd3")
        xdelta_time, _ = best_of(args.runs, [xdelta, "-e", "-f", "-s", paths.original,
                                             paths.expected, delta])
        inputs = os.path.getsize(paths.original) + os.path.getsize(paths.expected)
        made = os.path.getsize(out)
        generating = os.path.getsize(paths.merge)
        rows.append((name, make_time, xdelta_time, make_peak / MiB, made, generating,
                     made / generating, make_time / xdelta_time, make_peak / inputs))
        os.remove(delta)

    print("| scenario | make s | xdelta3 -e s | time ratio | make peak MiB "
          "| memory / inputs | made bytes | generating bytes | size ratio |")
    print("|---|---|---|---|---|---|---|---|---|")
    for (name, mt, xt, peak, made, gen, size_ratio, time_ratio, memory_ratio) in rows:
        print("| %s | %.2f | %.2f | %.2f | %.0f | %.2f | %d | %d | %.3f |" % (
            name, mt, xt, time_ratio, peak, memory_ratio, made, gen, size_ratio))


if __name__ == "__main__":
    main()
