"""Times the tool against the copy floors and `xdelta3 -d` on the scenarios
of scenarios.py, and prints a Markdown table of the medians. Run through
bench/run, which installs what is missing and builds the tool first.

Two floors: the plain one copies the files as the tool does; the durable one
also waits for the backup and the new level to reach the disk, as the tool
does. The tool also reads both files into fresh memory, which no floor does:
what that memory costs in a run is timed by the fresh-memory helper, and the
goal is set against the durable floor plus that cost.

With --mrgtool, the tool is also timed on the same merge file with the
record of its level added (`mrgtool stamp`): a run then fingerprints the
level and what it makes before it touches anything.

Every command runs on the same restored files, after `sync`, with the
restore and the sync outside the timed region; the commands alternate, run
after run, each run in another order. A run counts only once
its result has been compared with the expected level, byte for byte.
"""
import argparse
import datetime
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import scenarios

MiB = 1 << 20
WRITE_BLOCK = 64 * 1024
WRITE_HANDFUL = 16
MEMORY_SLACK = 16 * MiB
GOAL = 1.15  # tool / (durable floor + fresh memory) at most, in every scenario


def same_bytes(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x = fa.read(MiB)
            if x != fb.read(MiB):
                return False
            if not x:
                return True


def run(argv, cwd, stdout_path):
    """Runs argv and returns (seconds, exit status, peak memory in bytes, CPU
    seconds of it and its children)."""
    with open(stdout_path, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen(argv, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    return seconds, child.returncode, usage.ru_maxrss * 1024, usage.ru_utime + usage.ru_stime


def cpu_pressure():
    """Share of the last minute in which some task waited for a CPU, or None."""
    try:
        with open("/proc/pressure/cpu") as f:
            return float(f.readline().split()[2].split("=")[1])
    except (OSError, IndexError, ValueError):
        return None


def make_vcdiff(paths):
    """The same change as the merge file, as a VCDIFF made by `xdelta3 -e`."""
    vcdiff = paths.merge[:-len(".mrg")] + ".vcdiff"
    if os.path.exists(vcdiff) and os.path.getmtime(vcdiff) >= os.path.getmtime(paths.expected):
        return vcdiff
    window = 1 << max(26, (os.path.getsize(paths.original) - 1).bit_length())
    subprocess.run(["xdelta3", "-e", "-f", "-B", str(window), "-s", paths.original,
                    paths.expected, vcdiff], check=True)
    return vcdiff


def stamp(paths, mrgtool):
    """The merge file with the record of its level, made once by mrgtool."""
    if not mrgtool:
        return None
    stamped = paths.merge[:-len(".mrg")] + "-record.mrg"
    if not os.path.exists(stamped) or os.path.getmtime(stamped) < os.path.getmtime(paths.merge):
        subprocess.run([mrgtool, "stamp", paths.merge, paths.original, "-o", stamped],
                       check=True, capture_output=True)
    return stamped


class Scenario:
    def __init__(self, name, paths, vcdiff, work, tool, fresh_memory, baseline=None,
                 recorded=None):
        self.name, self.paths, self.vcdiff, self.work, self.tool = name, paths, vcdiff, work, tool
        self.fresh_memory, self.baseline, self.recorded = fresh_memory, baseline, recorded
        self.level = os.path.join(work, paths.level_name)
        self.backup = self.level + ".bak"
        self.xdelta_out = os.path.join(work, "xdelta.out")
        self.stdout = os.path.join(work, "stdout")
        self.said = ("Backuping {0} to {0}.bak\nProcessing level: {0}\nDone !\n"
                     .format(paths.level_name)).encode()

    def restore(self):
        # Each run is a player's first mod on the level: no history before it.
        for path in (self.backup, self.xdelta_out, self.level + ".history"):
            if os.path.exists(path):
                os.remove(path)
        shutil.copyfile(self.paths.original, self.level)
        os.sync()

    def commands(self):
        """name: (argv, file that must equal the expected level after it)"""
        p = self.paths
        floor = "cp {0} {0}.bak && cat {1} > /dev/null && cp {2} {0}".format(
            p.level_name, p.merge, p.expected)
        durable = ("cp {0} {0}.bak && sync {0}.bak && cat {1} > /dev/null && cp {2} {0} "
                   "&& sync {0}".format(p.level_name, p.merge, p.expected))
        images = [str(os.path.getsize(p.original)), str(os.path.getsize(p.merge))]
        commands = {"tool": ([self.tool, p.merge], self.level)}
        if self.recorded:
            commands["tool, record"] = ([self.tool, self.recorded], self.level)
        if self.baseline:
            commands["baseline"] = ([self.baseline, p.merge], self.level)
        commands.update({
            "floor": (["sh", "-c", floor], self.level),
            "durable floor": (["sh", "-c", durable], self.level),
            "fresh memory": ([self.fresh_memory] + images, None),
            "xdelta3": (["xdelta3", "-d", "-f", "-s", self.level, self.vcdiff,
                         self.xdelta_out], self.xdelta_out),
        })
        return commands

    def check(self, what, status, result):
        problems = []
        if status != 0:
            problems.append("exit status %d" % status)
        if result is not None and not same_bytes(result, self.paths.expected):
            problems.append("result differs from the expected level")
        if what in ("tool", "tool, record", "baseline"):
            with open(self.stdout, "rb") as f:
                said = f.read()
            if said != self.said:
                problems.append("printed %r" % said)
            if not same_bytes(self.backup, self.paths.original):
                problems.append("backup differs from the original level")
        if problems:
            sys.exit("%s, %s: %s" % (self.name, what, "; ".join(problems)))

    def write_calls(self):
        """write(2) calls of one run of the tool, counted by strace (untimed)."""
        self.restore()
        with tempfile.NamedTemporaryFile("r", dir=self.work) as counts:
            argv, result = self.commands()["tool"]
            _, status, _, _ = run(["strace", "-f", "-c", "-e", "trace=write", "-o", counts.name]
                               + argv, self.work, self.stdout)
            self.check("tool under strace", status, result)
            for line in counts.read().splitlines():
                fields = line.split()
                if fields and fields[-1] == "write":
                    return int(fields[3])
        return 0

    def measure(self, runs, seed):
        figures = {"writes": self.write_calls()}
        times = {what: [] for what in self.commands()}
        cpu = {what: [] for what in self.commands()}
        peaks = {what: 0 for what in self.commands()}
        order = random.Random(seed)
        for i in range(runs):
            # Memory freed by one command comes back warm to the next and cold
            # to later ones: each run takes the commands in another order, so
            # that none keeps the same place or the same neighbour.
            commands = list(self.commands().items())
            order.shuffle(commands)
            for what, (argv, result) in commands:
                self.restore()
                seconds, status, peak, cpu_seconds = run(argv, self.work, self.stdout)
                self.check(what, status, result)
                times[what].append(seconds)
                cpu[what].append(cpu_seconds)
                peaks[what] = max(peaks[what], peak)
            print("  run %d: %s" % (i + 1, "  ".join(
                "%s %.3f s" % (what, t[-1]) for what, t in times.items())), flush=True)
        for what, t in times.items():
            figures[what] = statistics.median(t)
            figures[what + " cpu"] = statistics.median(cpu[what])
        figures["peak"] = peaks["tool"]
        figures["xdelta3 peak"] = peaks["xdelta3"]
        return figures


def goal_base(f):
    """What the goal is set against: the durable floor plus fresh memory."""
    return f["durable floor"] + f["fresh memory"]


def table(rows):
    head = ("| Scenario | Tool | Floor | Durable floor | Fresh memory | `xdelta3 -d` "
            "| Tool / (durable + fresh) | Tool/floor | Tool/xdelta3 "
            "| Peak memory (budget) | Write calls (budget) | Goals |\n"
            "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n")
    lines = []
    for name, f in rows:
        level = os.path.getsize(f["paths"].original)
        merge = os.path.getsize(f["paths"].merge)
        output = os.path.getsize(f["paths"].expected)
        budget_memory = level + merge + MEMORY_SLACK
        budget_writes = -(-output // WRITE_BLOCK) + WRITE_HANDFUL
        to_goal = f["tool"] / goal_base(f)
        to_floor = f["tool"] / f["floor"]
        to_xdelta = f["tool"] / f["xdelta3"]
        missed = []
        if to_goal > GOAL:
            missed.append("tool / (durable + fresh) > %.2f" % GOAL)
        if name == "S2" and to_xdelta >= 1:
            missed.append("not faster than xdelta3")
        if f["peak"] > budget_memory:
            missed.append("memory")
        if name == "S2" and f["writes"] > budget_writes:
            missed.append("write calls")
        lines.append(
            "| %s: %s | %.3f s | %.3f s | %.3f s | %.3f s | %.3f s | %.2f | %.2f | %.2f "
            "| %.0f MiB (%.0f) | %d (%d) | %s |"
            % (name, scenarios.DESCRIPTIONS[name], f["tool"], f["floor"], f["durable floor"],
               f["fresh memory"], f["xdelta3"], to_goal, to_floor, to_xdelta,
               f["peak"] / MiB, budget_memory / MiB, f["writes"], budget_writes,
               "met" if not missed else "missed: " + ", ".join(missed)))
    return head + "\n".join(lines) + "\n"


def record_table(rows):
    """The same merge file with the record of its level, timed in the same runs."""
    head = ("| Scenario | Without record | With record | With / without "
            "| With record / (durable + fresh) |\n|---|---:|---:|---:|---:|\n")
    return head + "".join(
        "| %s | %.3f s | %.3f s | %.2f | %.2f |\n"
        % (name, f["tool"], f["tool, record"], f["tool, record"] / f["tool"],
           f["tool, record"] / goal_base(f))
        for name, f in rows)


def baseline_table(rows):
    """The earlier build against the same floors, timed in the same runs."""
    head = ("| Scenario | Before | After | Before / (durable + fresh) "
            "| After / (durable + fresh) | Before/floor | After/floor |\n"
            "|---|---:|---:|---:|---:|---:|---:|\n")
    return head + "".join(
        "| %s | %.3f s | %.3f s | %.2f | %.2f | %.2f | %.2f |\n"
        % (name, f["baseline"], f["tool"], f["baseline"] / goal_base(f),
           f["tool"] / goal_base(f), f["baseline"] / f["floor"], f["tool"] / f["floor"])
        for name, f in rows)


def cpu_table(rows):
    """CPU time (user + system, children included): less swayed than wall time
    by other programs competing for the cores, blind to waiting for the disk."""
    head = ("| Scenario | Tool | Floor | Durable floor | Fresh memory | `xdelta3 -d` "
            "| Tool / (durable + fresh) | Tool/floor | Tool/xdelta3 |\n"
            "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n")
    return head + "".join(
        "| %s | %.3f s | %.3f s | %.3f s | %.3f s | %.3f s | %.2f | %.2f | %.2f |\n"
        % (name, f["tool cpu"], f["floor cpu"], f["durable floor cpu"],
           f["fresh memory cpu"], f["xdelta3 cpu"],
           f["tool cpu"] / (f["durable floor cpu"] + f["fresh memory cpu"]),
           f["tool cpu"] / f["floor cpu"], f["xdelta3 cpu"] and f["tool cpu"] / f["xdelta3 cpu"])
        for name, f in rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True, help="the Vorandel executable to time")
    parser.add_argument("--baseline", help="an earlier Vorandel executable, timed alongside")
    parser.add_argument("--mrgtool", help="mrgtool, to time the merge files with a record too")
    parser.add_argument("--fresh-memory", required=True,
                        help="the helper that faults in memory as the tool gets its images")
    parser.add_argument("--scratch", required=True, help="folder for inputs and runs")
    parser.add_argument("--runs", type=int, default=5, help="timed runs of each command")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--scenarios", default="S1,S2,S3")
    parser.add_argument("--command", default="bench/run", help="shown in the results")
    args = parser.parse_args()
    names = args.scenarios.split(",")
    tool = os.path.abspath(args.tool)
    baseline = args.baseline and os.path.abspath(args.baseline)
    fresh_memory = os.path.abspath(args.fresh_memory)
    inputs = os.path.join(args.scratch, "inputs")

    # Inputs still to be made, and the scratch copies of the largest scenario:
    # the level, its backup and xdelta3's output.
    stamped = lambda name: os.path.exists(os.path.join(inputs, name.lower() + ".stamp"))
    needed = sum(scenarios.disk_needed(n) for n in names if not stamped(n))
    needed += max(3 * scenarios.disk_needed(n) // 2 for n in names)
    os.makedirs(args.scratch, exist_ok=True)
    free = shutil.disk_usage(args.scratch).free
    if free < needed:
        sys.exit("%s needs about %.1f GiB of free disk, has %.1f GiB"
                 % (args.scratch, needed / (1 << 30), free / (1 << 30)))

    pressure_before = cpu_pressure()
    rows = []
    for name in names:
        print("%s: %s" % (name, scenarios.DESCRIPTIONS[name]), flush=True)
        # Made by another process: this one must stay small, since a child
        # started from it inherits its peak memory figure.
        made = subprocess.run([sys.executable, scenarios.__file__, name, str(args.seed), inputs],
                              check=True, capture_output=True, text=True).stdout.split("\n")
        paths = scenarios.Paths(*made[:4])
        paths = scenarios.Paths(*[os.path.abspath(p) for p in paths[:3]], paths.level_name)
        vcdiff = make_vcdiff(paths)
        work = os.path.abspath(os.path.join(args.scratch, "work"))
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        recorded = stamp(paths, args.mrgtool and os.path.abspath(args.mrgtool))
        figures = Scenario(name, paths, vcdiff, work, tool, fresh_memory,
                           baseline, recorded).measure(args.runs, args.seed)
        figures["paths"] = paths
        rows.append((name, figures))
        shutil.rmtree(work, ignore_errors=True)

    cores = os.cpu_count()
    pressure = [p for p in (pressure_before, cpu_pressure()) if p is not None]
    busy = ("" if not pressure else
            " Tasks waited for a CPU %s of the time (CPU pressure over the minute before "
            "the start and before the end); above a few percent, wall times are inflated "
            "and ratios are noisy." % " and ".join("%.0f%%" % p for p in pressure))
    result = ("Measured %s on %s, %d cores, Linux %s; medians of %d alternating runs, "
              "warm page cache, seed %d.%s\n\nWall time:\n\n%s\nCPU time (user + system):\n\n%s"
              "%s\nReproduce: `%s`\n"
              % (datetime.date.today().isoformat(), platform.machine(), cores,
                 platform.release(), args.runs, args.seed, busy, table(rows), cpu_table(rows),
                 ("\nWith the record of the level, wall time:\n\n" + record_table(rows)
                  if args.mrgtool else "")
                 + ("\nBefore and after, wall time:\n\n" + baseline_table(rows)
                    if baseline else ""),
                 args.command))
    print()
    print(result)
    with open(os.path.join(args.scratch, "results.md"), "w") as f:
        f.write(result)


if __name__ == "__main__":
    main()
