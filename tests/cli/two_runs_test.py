"""Two runs of the tool on one level at once: a run paused at any of its
calls, as a console pauses it while the player selects text in it, and a
second run started during the pause.

Run A is recorded under strace, which then traces and counts only its calls
on the folder, its files and names, and standard output. Each is a pause
point: A runs again, and strace stops it right after that call (an injected
SIGSTOP: the stop ends when we send SIGCONT, once run B has ended, so no
guessed delay decides anything).
B runs whole during the stop, with the same merge file or with another mod
of the same level, or, where the level's history holds an earlier mod, as
mrgtool remove taking that one out; then A goes on. Both end, and:
  - the folder must be one that the two runs leave one after the other, or
    one run alone (the other refused, or finding nothing to do): the same
    build's results on copies of the starting folder, in each order;
  - each run that printed "Done !" (mrgtool: "Took ... out") must have its
    change in the level: an order that explains the folder has that run
    print it too;
  - a run that printed it ends with 0, and no mark is left.
The lock's file may stand in the way before either run starts: a lock file
left by a run of another user, which both runs take over in turn, or one they
may not open, or a folder in its place, where both must refuse. Those runs
are an unprivileged user's, as a player's are.
The failures by kind: a lost merge ("Done !" without its merge in the
level), a lost original (a folder no order explains, the original in
neither the level nor the backup), a false "Done !" (then -1), a mark left,
and any other unexplained state. The merge files are made by mergefile.py,
and by mrgtool make, which may write a record of the levels they were made
for. The test prints the pause points explored, the states checked and the
failures by kind, and fails with a description of each failing point.

Run: python3 two_runs_test.py PATH/TO/Vorandel PATH/TO/mrgtool [unittest arguments]"""
import ast
import collections
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import unittest

import cli_test
from crash_test import BACKUP, FD, LEVEL, MERGE, Explorer, folder_files, lay_out, parse
from fault_test import STRACE, TracedCase, merged, stopped_once, traced_env
from mergefile import history_file, merge_file, timeless
from tool_run import run_captured

MRGTOOL = None
OTHER = "n.mrg"
SPELLED = "s.mrg"  # the other mod, naming the level ./l.lvl
LOCK = LEVEL + ".lock"
NOBODY = 65534
# A waits in a stop, not on the processor: a few at once keep the test short.
WORKERS = 4
Order = collections.namedtuple("Order", "runs files done")
# mrgtool's run as B, taking an earlier mod out of the level A merges into.
REMOVE = ("remove", "e.mrg", LEVEL)
# Packs: A puts m.mrg into l.lvl and k.mrg into k.lvl; B, another pack, puts
# n.mrg into l.lvl and j.mrg into j.lvl.
PACK_A = ("apply", "k.mrg", MERGE, "--name", "p")
PACK_B = ("apply", "j.mrg", OTHER, "--name", "q")
# What a run leaves only while it is going on, or where it was stopped.
RUN_FILES = (".merging", ".merging.new", ".pack", ".history.new")


def did(out):
    """Whether a run says it changed the level: Vorandel's merge, mrgtool's
    removal of one mod or of all, a pack put in."""
    return ("Done !" in out or " out of %s.\n" % LEVEL in out or "again: took" in out
            or " is in: " in out)


def watched(folder, out, names):
    """strace's options that trace only the calls on the folder, on its files
    and names, and on standard output, written to `out`: then only these
    count for `when`, whatever else the run does (AddressSanitizer's runtime
    reads /proc more or less often, for one)."""
    paths = [out, folder, "."] + [p for n in sorted(names) for p in (n, os.path.join(folder, n))]
    return [option for p in paths for option in ("-P", p)]


def lay_out_as(folder, start, lock):
    """The folder `start`, with what stands in the lock's place. Where there is
    anything, the runs are an unprivileged user's, who owns the rest."""
    lay_out(folder, start)
    if lock is None:
        return
    os.chmod(os.path.dirname(folder), 0o755)
    os.chmod(folder, 0o777)
    for name in start:
        os.chown(os.path.join(folder, name), NOBODY, NOBODY)
    if lock == "folder":
        os.mkdir(os.path.join(folder, LOCK))
    else:  # root's, as a killed run under sudo leaves it
        with open(os.path.join(folder, LOCK), "wb"):
            pass
        os.chmod(os.path.join(folder, LOCK), 0o644 if lock == "left" else 0o600)


def as_user(lock):
    """What runs the tool as the user of a run with `lock` in the lock's place."""
    return [] if lock is None else ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                                    "--clear-groups"]


def left_in(folder):
    """The files a run left, the levels' histories without the times."""
    return {name: timeless(content) if name.endswith(".history") else content
            for name, content in folder_files(folder).items()}


def on_folder(explorer, args, path):
    """The first of the folder's files, or "stdout", that a call's arguments
    or result name; None for none."""
    for arg in args + (["0<%s>" % path] if path else []):
        fd = FD.match(arg)
        if fd and fd.group(1) == "1":
            return "stdout"
        if fd and fd.group(1) != "AT_FDCWD" and explorer.name(fd.group(2)) is not None:
            return explorer.name(fd.group(2))
        if arg.startswith('"') and arg.endswith('"') and arg != '""':
            name = ast.literal_eval(arg)
            if not name.startswith("/"):
                return name
            if explorer.name(name) not in (None, "."):
                return explorer.name(name)
    return None


class TwoRuns(TracedCase):
    LEVEL_BYTES = bytes(range(32, 132))
    # Each mod applies to the other's result too, so both orders merge.
    MODS = {MERGE: [(10, 2, b"+" * 30)], OTHER: [(60, 5, b"-")]}
    # title, who makes the merge files, B's merge file, what stands in the
    # lock's place (None: nothing)
    CASES = [("same mod", "mergefile.py", MERGE, None),
             ("another mod", "mergefile.py", OTHER, None),
             ("another mod, the level spelled ./l.lvl", "mergefile.py", SPELLED, None),
             ("same mod", "mrgtool make", MERGE, None),
             ("another mod", "mrgtool make", OTHER, None),
             ("another mod, a lock left by another user", "mergefile.py", OTHER, "left"),
             ("another mod, a lock that may not be opened", "mergefile.py", OTHER, "closed"),
             ("another mod, a folder in the lock's place", "mergefile.py", OTHER, "folder"),
             ("an earlier mod taken out", "mergefile.py, after e.mrg", REMOVE, None)]
    CASES = [case + (MERGE,) for case in CASES] + [
        # A a pack of two levels, B on one of them: Vorandel alone, or another
        # pack that shares it
        ("Vorandel on one of its levels", "a pack", OTHER, None, PACK_A),
        ("a pack sharing a level", "a pack", PACK_B, None, PACK_A)]
    # The pack's other levels, each with its part: (level, merge file, actions)
    PACK_LEVELS = [("k.lvl", "k.mrg", [(20, 1, b"K" * 8)]), ("j.lvl", "j.mrg", [(5, 50, b"")])]
    # The earlier mod of the level that B takes out, in its history: away from
    # the bytes either mod changes.
    EARLIER = [(85, 3, b"E")]
    KINDS = ["lost merge", "lost original", 'false "Done !"', "mark left",
             "unexplained state", "a run crashed", "B waited for A"]

    def start(self, maker):
        """The folder both runs start from: the level, the merge files and,
        where a mod went in before, its history and backup; for packs, their
        other levels with their parts."""
        if maker == "a pack":
            start = {**self.merge_files("mergefile.py"), LEVEL: self.LEVEL_BYTES}
            for level, merge, actions in self.PACK_LEVELS:
                start.update({level: self.LEVEL_BYTES, merge: merge_file(level, actions)})
            return start
        if maker != "mergefile.py, after e.mrg":
            return {**self.merge_files(maker), LEVEL: self.LEVEL_BYTES}
        history, level = history_file(self.LEVEL_BYTES, [("e.mrg", self.EARLIER)])
        return {MERGE: merge_file(LEVEL, self.MODS[MERGE]), LEVEL: level,
                LEVEL + ".bak": self.LEVEL_BYTES, LEVEL + ".history": history}

    def command(self, run):
        """The command of run A, or of a run B with `run`: a merge file's
        name, or mrgtool's arguments."""
        if isinstance(run, str):
            return [cli_test.TOOL, run]
        return [MRGTOOL] + list(run)

    def merge_files(self, maker):
        if maker == "mergefile.py":
            made = {name: merge_file(LEVEL, actions) for name, actions in self.MODS.items()}
            return dict(made, **{SPELLED: merge_file("./" + LEVEL, self.MODS[OTHER])})
        made, folder = {}, os.path.join(self.folder, "make")
        for name, actions in self.MODS.items():
            lay_out(folder, {LEVEL: self.LEVEL_BYTES, "mod.lvl": merged(self.LEVEL_BYTES, actions)})
            subprocess.run([MRGTOOL, "make", LEVEL, "mod.lvl", "-o", name], cwd=folder,
                           check=True, capture_output=True, timeout=120)
            made[name] = folder_files(folder)[name]
        return made

    def pause_points(self, start, lock, a):
        """The names A (with `a`, as command() takes it) uses, and (call, its
        number among its kind, label) for each of its calls on them, after
        which A is stopped."""
        explorer = Explorer(self.folder)
        trace, out = os.path.join(self.folder, "trace"), os.path.join(self.folder, "out")
        user = [] if lock is None else ["-u", "nobody"]

        def record(options):
            lay_out_as(explorer.folder, start, lock)
            with open(out, "wb") as stdout:
                subprocess.run([STRACE, "-f", "-qq", "-y", "-s", "0", "-o", trace] + options
                               + user + self.command(a), cwd=explorer.folder, stdout=stdout,
                               stderr=subprocess.DEVNULL, timeout=120,
                               check=lock in (None, "left"),
                               env=traced_env())
            with open(trace, encoding="latin-1") as f:
                return [(call, on_folder(explorer, args, path))
                        for call, args, _, path in parse(f.read()) if call != "execve"]

        # Every call first, for the names; then the calls on them alone, as
        # strace then counts them.
        names = set(start) | {on for _, on in record([]) if on} - {"stdout", "."}
        points, count = [], collections.Counter()
        for call, on in record(watched(explorer.folder, out, names)):
            count[call] += 1
            points.append((call, count[call], "%s %s #%d" % (call, on, count[call])))
        # A run refused at the lock makes few calls.
        self.assertGreater(len(points), 10 if lock in (None, "left") else 2,
                           "strace recorded only %d calls of the run on its folder: %s"
                           % (len(points), points))
        return names, points

    def orders(self, start, other, lock, a):
        """What each order of the two runs leaves, one after the other."""
        found, folder = [], os.path.join(self.folder, "orders")
        for runs in [("A",), ("B",), ("A", "B"), ("B", "A")]:
            lay_out_as(folder, start, lock)
            done = {r for r in runs if did(run_captured(
                as_user(lock) + self.command(a if r == "A" else other), folder)[0])}
            found.append(Order(runs, left_in(folder), done))
        return found

    def paused(self, folder, start, names, point, other, lock, a):
        """A stopped after the call `point`, B run meanwhile: (files left,
        {run: (stdout, status)}, whether B ended during the stop)."""
        lay_out_as(folder, start, lock)
        call, when, _ = point
        trace, out = folder + ".trace", folder + ".out"
        runs, in_time = {}, [True]

        def run_b():
            try:
                runs["B"] = run_captured(as_user(lock) + self.command(other), folder, timeout=10)
            except subprocess.TimeoutExpired:
                in_time[0], runs["B"] = False, ("(still running after 10 s)", None)

        user = [] if lock is None else ["-u", "nobody"]
        with open(out, "wb") as stdout:
            status, _ = stopped_once(
                [STRACE, "-f", "-qq", "-o", trace] + watched(folder, out, names)
                + ["-e", "trace=" + call, "-e", "inject=%s:signal=SIGSTOP:when=%d" % (call, when)]
                + user + self.command(a), folder, trace, stdout, run_b)
        with open(out, "rb") as f:
            runs["A"] = (f.read().decode("latin-1"), status)
        self.assertIn("B", runs, "A was never stopped after " + point[2])
        return left_in(folder), runs, in_time[0]

    def test_a_run_paused_anywhere_and_a_second_run(self):
        figures, lines, total = [], [], collections.Counter()
        with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
            for maker, lock, a in dict.fromkeys((c[1], c[3], c[4]) for c in self.CASES):
                if lock is not None and (os.geteuid() != 0 or shutil.which("setpriv") is None):
                    continue  # another user's runs need root and setpriv
                start = self.start(maker)
                names, points = self.pause_points(start, lock, a)
                folders = [os.path.join(self.folder, "p%d" % i) for i in range(len(points))]
                for title, _, other, _, _ in (case for case in self.CASES
                                              if (case[1], case[3], case[4]) == (maker, lock, a)):
                    orders = self.orders(start, other, lock, a)
                    states, tally = set(), collections.Counter()
                    n = len(points)
                    outcomes = pool.map(self.paused, folders, [start] * n, [names] * n, points,
                                        [other] * n, [lock] * n, [a] * n)
                    for point, (files, runs, in_time) in zip(points, outcomes):
                        states.add(tuple(sorted(files.items())))
                        faults = self.judge(start, orders, files, runs, in_time)
                        tally.update(faults + ["failing"] * bool(faults))
                        if faults:
                            lines.append(self.describe("%s, %s, A stopped after %s" % (
                                title, maker, point[2]), faults, runs, files, start, orders))
                    tally.update(points=len(points), states=len(states))
                    total.update(tally)
                    figures.append((title + ", " + maker, tally))
        figures.append(("all", total))
        print("\nTwo runs at once:\n" + "\n".join(
            "%-30s %3d pause points %3d states %3d failing%s" % (
                title, n["points"], n["states"], n["failing"],
                "".join(": " * (i == 0) + ", " * (i > 0) + "%d %s" % (n[k], k)
                        for i, k in enumerate(k for k in self.KINDS if n[k])))
            for title, n in figures))
        self.assertEqual(total["failing"], 0, "%d of %d pause points fail:\n%s"
                         % (total["failing"], total["points"], "\n".join(lines)))

    def judge(self, start, orders, files, runs, in_time):
        """The kinds of failure of one outcome."""
        done = {r for r, (out, _) in runs.items() if did(out)}
        rest = {n: c for n, c in files.items() if not n.endswith(RUN_FILES)}
        explaining = [o for o in orders if o.files == rest]
        faults = [] if in_time else ["B waited for A"]
        if any(status not in (0, 1, 6, 255) for _, status in runs.values()):
            faults.append("a run crashed")
        if not explaining:
            faults.append("lost original" if start[LEVEL] not in (
                files.get(LEVEL), files.get(BACKUP)) else "unexplained state")
        elif not any(done <= o.done for o in explaining):
            faults.append("lost merge")
        if any(did(out) and status != 0 for out, status in runs.values()):
            faults.append('false "Done !"')
        if any(n.endswith(RUN_FILES) for n in files):
            faults.append("mark left")
        return faults

    @staticmethod
    def describe(title, faults, runs, files, start, orders):
        known = {start[LEVEL]: "original"}
        for o in orders:
            known.setdefault(o.files.get(LEVEL), "level after " + " then ".join(o.runs))

        def show(content):
            return known.get(content, "%d other bytes" % len(content))

        return "%s: %s\n%s\n    left: %s" % (
            title, ", ".join(faults),
            "\n".join("    %s said %r, status %s" % (r, *runs[r]) for r in "AB"),
            ", ".join("%s: %s" % (n, show(c)) for n, c in sorted(files.items())
                      if n == LEVEL or start.get(n) != c))


if __name__ == "__main__":
    cli_test.TOOL = os.path.abspath(sys.argv.pop(1))
    MRGTOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
