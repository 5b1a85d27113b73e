"""The folders a crash of the tool can leave, found from its own system calls,
and what the next run makes of each.

The runs explored are Vorandel's merges, on a level with no history and on
one whose history holds an earlier mod, and mrgtool's removals (remove,
original) from a level with two mods in its history. The run's command
runs under strace in a scratch folder, which records its calls on
the folder's files. Each call that changes a file or a name, flushes one, or
prints a line is a crash point. The tool is run again, killed on entering
that call (strace counts `when` per system call, not over the set traced),
and the folder it leaves holds every file as it was at that point. From
these come the folders a crash may leave:

kill: the process dies, the system goes on: the folder as the kill left it.
power cut, harsher than ext4's default data=ordered:
  - a file holds what it held at its last fsync or fdatasync (a file there
    before the run counts as flushed; one created since, as empty), or what
    it held after any call since then, up to the crash. The levels here fit
    in a page, so a write reaches the disk whole or not at all; --deep adds
    larger levels, with each write torn at a 4 KiB page as well.
    sync_file_range flushes nothing;
  - each name created, renamed, linked or removed since the last fsync of
    the folder may or may not be on the disk, each on its own (a rename
    whole or not at all), where ext4's journal keeps them in order and
    commits them with any later fsync.
After a kill the system goes on, and what the run had not made durable
still isn't: a power cut during the re-run may undo the killed run's names
and contents not yet flushed, with the re-run's own.
Files are named by their history in the trace (the name they had first, and
#n for the n-th file created under a name), never by inode. File modes and
writes through memory mappings are not followed.

Each distinct folder then gets the natural re-run, the same command:
  - crash before its line of success ("Done !", "Took ... out"): the re-run
    ends with 0, the level changed once and the backup the level before
    the run (by changing it, or finding the change already made), or in a
    message and a status of failure with the level before the run whole in
    the level or its backup;
  - crash after that line: the folder holds the changed level and the
    backup of the level before, and unless it is the folder a finished run
    leaves, a re-run keeps the level before in one of them.
In every folder, crashed or re-run, the level's history, if there is one,
must read back whole (mergefile.py's reader) and end at the level, or,
while a mark stands, at the level its run started from, in the backup; and
the level before any mod must be in the level or the backup, or come back by
unwinding the history from there.
The lock's file, l.lvl.lock, that a kill may leave is harmless, but no
re-run may leave it. A re-run that lost nothing but wrote some file more
often than a plain run does (it put the level back first, say), or that
follows a kill which left a rename, link or unlink not yet flushed with its
folder, is crashed in turn at each of its own points, under both models
(--deep: every re-run), and one more run must lose nothing either. Anything
else is a lost state: the test prints the states explored per model and
fails with a description of each lost one, and fails too where the recorded
run shows no call it understands, since it would then explore nothing.

Run: python3 crash_test.py PATH/TO/Vorandel [--mrgtool PATH/TO/mrgtool] [--deep]
         [unittest arguments]
Without --mrgtool, mrgtool's removals are left out. The runs go WORKERS at a
time, each in a folder of its own."""
import ast
import collections
import concurrent.futures
import functools
import itertools
import os
import queue
import re
import shutil
import subprocess
import sys
import unittest

import cli_test
from fault_test import STRACE, TracedCase, merged, traced_env
from mergefile import (HistoryDamaged, LaterHistory, fingerprint, history_file, merge_file,
                       read_history, timeless, unwind)

DEEP = False
MRGTOOL = None
LEVEL, BACKUP, MERGE, LOCK = "l.lvl", "l.lvl.bak", "m.mrg", "l.lvl.lock"
HISTORY, MARK = "l.lvl.history", "l.lvl.merging"
# Runs at once, each in a scratch folder of its own: a run waits on its
# flushes and on strace as much as it computes.
WORKERS = 3
PAGE = 4096
# The calls that change, flush or name a file; "?" lets an older strace
# that lacks one go on. Reads, closes and sync_file_range change nothing that
# a crash can see.
CALLS = ",".join("?" + c for c in (
    "open openat openat2 creat write pwrite64 writev pwritev pwritev2 ftruncate truncate "
    "fallocate copy_file_range sendfile splice fsync fdatasync sync syncfs rename renameat "
    "renameat2 unlink unlinkat link linkat fchmod chmod fchmodat").split())
LINE = re.compile(r"^(?:(\d+)\s+)?(.*)$")
CALL = re.compile(r"^(\w+)\((.*)\)\s+= (-?\d+|\?)(?:<(.*)>)?")
ARG = re.compile(r'(?:"(?:\\.|[^"\\])*"(?:\.\.\.)?|<[^>]*>|\[[^\]]*\]|\{[^}]*\}|[^,"<\[{])+')
FD = re.compile(r"\s*(-?\d+|AT_FDCWD)(?:<(.*)>)?$")
# What a call did: ("change" | "flush" | "mode", file), ("out",) for a line
# printed, ("dirflush",) and ("sync",), or a change of names: ("create" |
# "unlink", name, file), ("rename" | "link", old, new, file), ("exchange", a,
# b, file of a, file of b).
NAME_OPS = {"create", "rename", "exchange", "link", "unlink"}
# Where the file or path a call changes is among its arguments: (descriptor,
# path; None where absent). Descriptors are shown with their path (-y).
TARGET = {"copy_file_range": (2, None), "splice": (2, None), "truncate": (None, 0),
          "chmod": (None, 0), "fchmodat": (0, 1), "unlink": (None, 0), "unlinkat": (0, 1)}
# rename and link: (descriptor, path) of the old name and of the new one.
MOVES = {"rename": (None, 0, None, 1), "link": (None, 0, None, 1)}
MOVES.update(dict.fromkeys(["renameat", "renameat2", "linkat"], (0, 1, 2, 3)))
Run = collections.namedtuple("Run", "events out status files")
# durable: file -> the contents its last flush may have left on the disk.
Point = collections.namedtuple("Point", "label files out contents durable since names pending")
# What a killed run had not yet made durable, for the next run: the names on
# the disk and those changed since, each file's possible contents on the
# disk, and what each held when killed.
Unsettled = collections.namedtuple("Unsettled", "names pending held contents")
# Where an op of NAME_OPS holds files.
FILES_AT = {"create": (2,), "unlink": (2,), "rename": (3,), "link": (3,), "exchange": (3, 4)}


def parse(text):
    """strace's lines as (call, arguments, result, path of the result)."""
    calls, pending = [], {}
    for line in text.splitlines():
        found = LINE.match(line)
        if not found:
            continue
        pid, rest = found.groups()
        if rest.endswith("<unfinished ...>"):
            pending[pid] = rest[:-len("<unfinished ...>")]
            continue
        resumed = re.match(r"<\.\.\. \w+ resumed>(.*)", rest)
        if resumed:
            rest = pending.pop(pid, "") + resumed.group(1)
        found = CALL.match(rest)
        if found:
            name, args, result, path = found.groups()
            calls.append((name, [a.strip() for a in ARG.findall(args)], result, path))
    return calls


def move(names, op):
    """Applies a change of names to a folder's names (name -> file)."""
    kind, a = op[0], op[1]
    if kind == "create":
        names[a] = op[2]
    elif kind == "unlink":
        if names.get(a) == op[2]:
            del names[a]
    elif kind == "exchange":
        names[a], names[op[2]] = op[4], op[3]
    else:  # rename, link; the file goes along even where its first name never reached the disk
        if kind == "rename" and names.get(a) == op[3]:
            del names[a]
        names[op[2]] = op[3]


@functools.lru_cache(maxsize=None)
def torn(before, after):
    """A write that reached the disk up to a page in the middle of its change."""
    same = next((i for i in range(0, min(len(before), len(after)), PAGE)
                 if before[i:i + PAGE] != after[i:i + PAGE]), min(len(before), len(after)))
    cut = (same + len(after)) // 2 // PAGE * PAGE
    return after[:cut] + before[cut:len(after)] if cut > same else None


def lay_out(folder, files):
    """Makes `folder` anew, holding `files` (name -> content)."""
    shutil.rmtree(folder, True)
    os.mkdir(folder)
    for name, content in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)


def folder_files(folder):
    """The files in `folder`: name -> content (None for a folder)."""
    left = {}
    for entry in os.scandir(folder):
        if entry.is_dir(follow_symlinks=False):
            left[entry.name] = None
            continue
        with open(entry.path, "rb") as f:
            left[entry.name] = f.read()
    return left


class Explorer:
    """Runs a command in one scratch folder, recorded or killed at a call:
    by default the tool with the merge file."""

    def __init__(self, root, command=None):
        self.root = os.path.realpath(root)
        self.folder = os.path.join(self.root, "run")
        self.command = command or [cli_test.TOOL, MERGE]
        self.helpers, self.pool = None, None

    def each(self, job, items):
        """[job(explorer, item) for each item], run WORKERS at a time, each
        with an explorer of its own, in a folder of its own."""
        if self.pool is None:
            self.helpers, self.pool = queue.Queue(), concurrent.futures.ThreadPoolExecutor(WORKERS)
            for number in range(WORKERS):
                root = os.path.join(self.root, "w%d" % number)
                os.makedirs(root, exist_ok=True)
                self.helpers.put(Explorer(root, self.command))

        def one(item):
            helper = self.helpers.get()
            try:
                return job(helper, item)
            finally:
                self.helpers.put(helper)

        return list(self.pool.map(one, items))

    def close(self):
        if self.pool is not None:
            self.pool.shutdown()

    def run(self, files, kill=None, command=None):
        lay_out(self.folder, files)
        trace, out = os.path.join(self.root, "trace"), os.path.join(self.root, "out")
        inject = ["-e", "inject=%s:signal=SIGKILL:when=%d" % kill] if kill else []
        with open(out, "wb") as stdout:
            done = subprocess.run(
                [STRACE, "-f", "-qq", "-y", "-s", "0", "-o", trace, "-e", "trace=" + CALLS]
                + inject + (command or self.command), cwd=self.folder, stdin=subprocess.DEVNULL,
                stdout=stdout, stderr=subprocess.PIPE, timeout=120, env=traced_env())
        with open(trace, encoding="latin-1") as f, open(out, "rb") as o:
            events, printed = self.events(parse(f.read()), files), o.read().decode("latin-1")
        return Run(events, printed, done.returncode, folder_files(self.folder))

    def name(self, path):
        """A path's name in the folder, "." for the folder itself, else None."""
        path = os.path.normpath(path or "/")
        if path == self.folder:
            return "."
        return os.path.basename(path) if os.path.dirname(path) == self.folder else None

    def path_arg(self, args, at, i):
        """The name in the folder of argument i, a path relative to argument at."""
        if not args[i].startswith('"'):
            return None
        base = FD.match(args[at]).group(2) if at is not None else self.folder
        return self.name(os.path.join(base or self.folder, ast.literal_eval(args[i])))

    def events(self, calls, files):
        """The crash points of a run: (call, its number among its kind, what it did)."""
        names, found = {n: n for n in files}, []
        made, count = collections.Counter(), collections.Counter()
        for call, args, result, path in calls:
            count[call] += 1
            if result == "?" or result.startswith("-"):
                continue  # failed, or killed on entering: nothing changed
            op = self.effect(call, args, path, names, made)
            if op:
                found.append((call, count[call], op))
                if op[0] in NAME_OPS:
                    move(names, op)
        return found

    def effect(self, call, args, path, names, made):
        if call in ("open", "openat", "openat2", "creat"):
            name, flags = self.name(path), " ".join(args)
            if name in (None, "."):
                return None
            if name not in names and ("O_CREAT" in flags or call == "creat"):
                made[name] += 1
                return ("create", name, "%s#%d" % (name, made[name]))
            return ("change", names[name]) if "O_TRUNC" in flags or call == "creat" else None
        if call == "sync" or call == "syncfs":
            return ("sync",)
        if call in MOVES:
            at_old, old_at, at_new, new_at = MOVES[call]
            old, new = self.path_arg(args, at_old, old_at), self.path_arg(args, at_new, new_at)
            if old not in names:  # a file moved in from elsewhere
                return ("create", new, new + "#in") if new is not None else None
            if new is None:  # moved out
                return ("unlink", old, names[old])
            if "RENAME_EXCHANGE" in args[-1]:
                return ("exchange", old, new, names[old], names[new])
            return ("rename" if call.startswith("rename") else "link", old, new, names[old])
        fd, at_path = TARGET.get(call, (0, None))
        if call.startswith("unlink"):
            name = self.path_arg(args, fd, at_path)
            return ("unlink", name, names[name]) if name in names else None
        if at_path is not None:
            name = self.path_arg(args, fd, at_path)
        else:
            number, fd_path = FD.match(args[fd]).groups()
            if number == "1":
                return ("out",)
            name = self.name(fd_path)
        if name == "." and call in ("fsync", "fdatasync"):
            return ("dirflush",)
        if name not in names:
            return None
        kind = "flush" if call in ("fsync", "fdatasync") else \
            "mode" if "chmod" in call else "change"
        return (kind, names[name])

    @staticmethod
    def same_names(snap, run):
        """A run with the names it made (random temporary ones, say) changed to
        those the recorded run made at the same calls."""
        made = {a[2][1]: b[2][1] for a, b in zip(snap.events, run.events)
                if a[2][0] == b[2][0] == "create"}

        def same(value):
            name, mark, number = value.partition("#")
            return made.get(name, name) + mark + number

        return snap._replace(
            events=[(c, n, tuple(map(same, op))) for c, n, op in snap.events],
            files={same(name): content for name, content in snap.files.items()})

    def points(self, start, run, unsettled=None, upto=None):
        """Every crash point of a run from the folder `start` (up to its call
        `upto`), with what each file held there, at its last flush, and the
        names the disk may hold; after a kill, `unsettled` tells what the
        killed run had not made durable."""
        names = {n: n for n in start}
        durable, since, known = {n: (c,) for n, c in start.items()}, {n: 0 for n in start}, {}
        disk_names, pending, points = dict(names), [], []
        if unsettled:
            # The killed run's files take their names here; one it had unlinked
            # keeps a name of its own, which only the disk may still hold.
            current, known = dict(unsettled.names), dict(unsettled.contents)
            for op in unsettled.pending:
                move(current, op)
            ids = {f: n for n, f in current.items()}
            here = {f: ids.get(f, f + "~") for f in known}
            durable = {here[f]: held for f, held in unsettled.held}
            known = {here[f]: content for f, content in known.items()}
            disk_names = {n: here[f] for n, f in unsettled.names}
            pending = [tuple(here[x] if i in FILES_AT[op[0]] else x for i, x in enumerate(op))
                       for op in unsettled.pending]
        last = len(run.events) if upto is None else min(upto, len(run.events))
        killed = self.each(lambda helper, event: helper.run(start, event[:2]),
                           run.events[:last + 1])
        # A history's times, and the pack ids made of them, are the moment's:
        # histories that differ in them alone are the recorded run's.
        same = {timeless(content): content for content in run.files.values()}
        for p in range(last + 1):
            snap = run if p == len(run.events) else self.same_names(killed[p], run)
            snap = snap._replace(files={n: same.setdefault(timeless(c), c)
                                        for n, c in snap.files.items()})
            if snap.events != run.events[:p]:
                raise AssertionError("killed at call %d, the run went another way: %s"
                                     % (p + 1, snap.events[p:]))
            if set(snap.files) != set(names):
                raise AssertionError("after call %d the folder holds %s, the trace tells %s"
                                     % (p, sorted(snap.files), sorted(names)))
            known.update({names[n]: content for n, content in snap.files.items()})
            label = "after call %d/%d (%s)" % (p, len(run.events), describe(
                *run.events[p - 1][::2])) if p else "before any change"
            points.append(Point(label, snap.files, snap.out, dict(known), dict(durable),
                                dict(since), dict(disk_names), list(pending)))
            if p == last:
                return points
            op = run.events[p][2]
            if op[0] == "flush":
                durable[op[1]], since[op[1]] = (known[op[1]],), p
            elif op[0] in ("dirflush", "sync"):
                disk_names, pending = dict(names), []
                if op[0] == "sync":
                    durable, since = {f: (c,) for f, c in known.items()}, {f: p for f in known}
            elif op[0] in NAME_OPS:
                move(names, op)
                pending.append(op)
                if op[0] == "create":
                    durable[op[2]], since[op[2]] = (b"",), p + 1

    def crash_states(self, start, run, unsettled=None, said="Done !", upto=None):
        """(model, crash point, whether the line `said` of a change made was
        printed, folder, and for a kill what it left unsettled), up to the
        run's call `upto`."""
        points = self.points(start, run, unsettled, upto)
        for p, point in enumerate(points):
            done = said in point.out

            def held(f):  # what the disk may hold of the file f
                found = list(point.durable.get(f, (b"",))) + [
                    q.contents[f] for q in points[point.since.get(f, p):p + 1]
                    if f in q.contents]
                if DEEP:
                    found += [torn(a, b) for a, b in zip(found, found[1:])]
                return tuple(dict.fromkeys(h for h in found if h is not None))

            yield "kill", point.label, done, point.files, Unsettled(
                tuple(sorted(point.names.items())), tuple(point.pending),
                tuple(sorted((f, held(f)) for f in point.contents)),
                tuple(sorted(point.contents.items())))
            for chosen in itertools.product((False, True), repeat=len(point.pending)):
                names = dict(point.names)
                for op, on in zip(point.pending, chosen):
                    if on:
                        move(names, op)
                files = sorted(set(names.values()))
                for contents in itertools.product(*map(held, files)):
                    content = dict(zip(files, contents))
                    yield "power", point.label, done, {
                        n: content[f] for n, f in names.items()}, None


def describe(call, op):
    kind = op[0]
    if kind in ("out", "dirflush", "sync"):
        return "%s of %s" % (call, "stdout" if kind == "out" else "the folder")
    if kind in ("rename", "link", "exchange"):
        return "%s %s -> %s" % (call, op[1], op[2])
    return "%s %s" % (call, op[2] if kind == "create" else op[1])


def rolled_back(run):
    """The call of a run that printed its line of a pack put back, or None."""
    lines = run.out.splitlines()
    said = next((i for i, line in enumerate(lines) if "was stopped midway: every level" in line),
                None)
    outs = [i for i, (_, _, op) in enumerate(run.events) if op[0] == "out"]
    return outs[said] + 1 if said is not None and len(outs) == len(lines) else None


def changes(run):
    """How many times a run writes or flushes each file, by the file's name."""
    return collections.Counter(op[1].split("#")[0] for _, _, op in run.events
                               if op[0] in ("change", "flush"))


# A run to explore: the folder it starts from, its command (the program and
# its arguments), the level and backup a whole run leaves, the level before
# any mod (which must stay recoverable), the line that says the change is
# made, the statuses of a refusal or failure, and names for known contents.
# A pack's run adds its levels (Pack), and leaves want and original None.
Scenario = collections.namedtuple("Scenario", "title start command want original done failed "
                                              "known pack", defaults=(None,))
# A pack of parts, one a level, named `name`, put in (or taken out) by the
# command: each level's content with the pack in and without it, the part
# Vorandel is given alone as the other re-run, and whether the command puts
# the pack in.
Pack = collections.namedtuple("Pack", "name parts within without alone puts_in")
LEVEL_A = "a.lvl"  # the first of a pack's levels in the lock order
JOURNAL = LEVEL_A + ".pack"


def history_fault(files, original, name=LEVEL):
    """What a folder lost of the history of the level `name`, or None: the
    history, if there is one, must read back whole and end at the level (or,
    while a run's mark is there, at the level that run started from, in the
    backup); the original must be in the level or the backup, or come back by
    unwinding the history from there."""
    level, backup, history = (files.get(name + suffix) for suffix in ("", ".bak", ".history"))
    levels = [c for c in (level, backup if name + ".merging" in files else None)
              if c is not None]
    if history is not None:
        try:
            first, entries = read_history(history)
        except (HistoryDamaged, LaterHistory) as damage:
            return "the history is damaged (%s)" % damage
        end = entries[-1]["after"] if entries else first
        if end not in map(fingerprint, levels):
            return "the history doesn't end at the level"
    if original in (level, backup):
        return None
    for content in levels if history is not None else ():
        try:
            if unwind(content, history)[0] == original:
                return None
        except HistoryDamaged:
            pass
    return "the original is lost"


def pack_fault(files, pack, done=False):
    """What a folder lost of a pack's levels and their histories, or None:
    each level's history as history_fault wants it; where the change counts
    as made (`done`), every level changed, the backups the levels before,
    and no journal."""
    for level in pack.within:
        fault = history_fault(files, pack.without[level], level)
        if fault:
            return "%s: %s" % (level, fault)
    target, source = (pack.within, pack.without) if pack.puts_in else (pack.without, pack.within)
    if done and (JOURNAL in files or any(
            (files.get(level), files.get(level + ".bak")) != (target[level], source[level])
            for level in target)):
        return "the change said made is not in every level, or the journal is left"
    return None


def pack_lock(scenario):
    """The lock of the level a pack's command is given: the one it always takes."""
    return scenario.pack.alone + ".lock"


def unlocked(files):
    return {name: content for name, content in files.items() if not name.endswith(".lock")}


def pack_entries(files, level):
    """The entries of a level's history, each (its pack's name or None, the
    pack's other levels)."""
    return [(e["pack_name"] if e["pack"] else None, sorted(e["pack_levels"]))
            for e in read_history(files[level + ".history"])[1]]


def finished_mark(files, level):
    """Whether the level's mark says it makes what the level holds: a
    finished run's, or none at all."""
    mark = files.get(level + ".merging")
    if mark is None:
        return True
    said = dict(line.split(": ", 1) for line in mark.decode("latin-1").splitlines()
                if line.startswith("merged "))
    size, digest = fingerprint(files.get(level, b""))
    return said.get("merged size") == str(size) and said.get("merged xxh3-128") == digest.hex()


def pack_side(files, pack, levels):
    """"in" where all these levels hold the pack, "out" where none does, else None."""
    sides = {"in" if files.get(level) == pack.within[level] else
             "out" if files.get(level) == pack.without[level] else None for level in levels}
    return sides.pop() if len(sides) == 1 else None


def pack_rerun_fault(after, pack, state):
    """What the same command run again lost of a pack, or None: it ends with
    0, every level changed with the backups the levels before, each history
    holding the pack once (or none of it), and nothing of a run left. Once
    the journal is gone the pack is in; a removal that then finds nothing to
    take out of its level leaves the other levels' finished marks, their
    files as the killed run left them, to the next run on each: their drafts
    are their histories."""
    files = after.files
    target, source = (pack.within, pack.without) if pack.puts_in else (pack.without, pack.within)

    def finishing(level):
        return (not pack.puts_in and level != pack.alone and JOURNAL not in state
                and level + ".merging" in files and finished_mark(files, level))

    kept = {level + suffix for level in target if finishing(level)
            for suffix in (".merging", ".history.new")}
    if not pack.puts_in and JOURNAL not in state:  # the killed run's lock files
        kept |= {level + ".lock" for level in target if level != pack.alone}
    left = sorted(n for n in files if n.endswith((".lock", ".pack", ".merging", ".new"))
                  and not (n in kept and files[n] == state.get(n)))
    if after.status != 0:
        return "the re-run failed"
    if left:
        return "the re-run left %s" % ", ".join(left)
    fault = pack_fault(files, pack, True)
    if fault:
        return fault + " after the re-run"
    for level in target:
        others = sorted(bytes(o, "latin-1") for o in target if o != level)
        want = [(bytes(pack.name, "latin-1"), others)] if pack.puts_in else []
        draft = finishing(level) and level + ".history.new" in files
        history = files.get(level + (".history.new" if draft else ".history"))
        got = pack_entries({level + ".history": history}, level)
        if got != want:
            return "%s's history holds %s after the re-run, not %s" % (level, got, want)
    return None


def pack_alone_fault(alone, pack, state):
    """What Vorandel given one part alone lost of a pack, or None. Its level
    ends holding the part, merged by this run alone or by the pack (as its
    history says). Where the level's mark names the journal, the whole pack
    goes back first: nothing of it stays. Where the journal stands but the
    pack never marked the level, the other levels are left as they are, for
    the run that finds their marks. Else the other levels hold the pack all
    or none of them, and only a finished run's mark may stay on them."""
    files, others = alone.files, [level for level in pack.within if level != pack.alone]
    mine = [pack.alone + suffix for suffix in (".lock", ".merging", ".history.new")]
    # A mark's draft is never read: the next mark is written anew.
    left = sorted(n for n in files if n.endswith((".pack", ".merging", ".history.new")))
    side = pack_side(files, pack, others)
    if alone.status != 0:
        return "it failed"
    if files.get(pack.alone) != pack.within[pack.alone]:
        return "%s doesn't hold its part" % pack.alone
    # Where the pack never marked the level, the history's draft it wrote
    # first is the pack's, for the run that rolls the pack back.
    # Without the journal, a draft without its mark is nobody's: the next
    # history written replaces it.
    unmarked = JOURNAL in state and pack.alone + ".merging" not in state
    stray = [n for n in mine if n in files and not (
        pack.alone + ".merging" not in state and n.endswith(".new") and files[n] == state.get(n))]
    if stray:
        return "it left %s" % ", ".join(stray)
    if JOURNAL in state and not unmarked:
        # The stopped pack goes back: a removal's leaves the pack in.
        if left or side != ("out" if pack.puts_in else "in"):
            return "the pack it put back left %s" % (", ".join(left) or "a level changed")
    elif JOURNAL in state:
        changed = sorted(n for n in set(state) | set(files) if n.startswith(tuple(others))
                         and not n.endswith(".lock") and state.get(n) != files.get(n))
        if changed:
            return "it changed %s, of levels the pack never reached it by" % ", ".join(changed)
        return pack_fault(files, pack)
    elif side is None:
        return "the other levels hold the pack in part"
    elif JOURNAL in files or not all(finished_mark(files, o) for o in others):
        return "it left a mark of a run not finished, or the journal"
    fault = pack_fault(files, pack)
    if fault:
        return fault
    last = pack_entries(files, pack.alone)[-1][0]
    if (last == bytes(pack.name, "latin-1")) != (side == "in"):
        return "%s's history ends at a mod %s the pack" % (
            pack.alone, "of" if last else "outside")
    return None


class CrashStates(TracedCase):
    BASE = bytes(range(32, 132))
    BIG = bytes(range(256)) * 1024
    # Vorandel's merges: title, level, actions (offset, removeLength, data),
    # and the actions of a mod that went in before, in the level's history
    SCENARIOS = [
        ("grows", BASE, [(10, 2, b"+" * 30)], None),
        ("shrinks", BASE, [(10, 40, b"-")], None),
        ("same size", BASE, [(10, 2, b""), (50, 0, b"==")], None),
        ("empty level", b"", [(0, 0, b"new")], None),
        ("after an earlier mod", BASE, [(80, 5, b"-")], [(10, 2, b"+" * 30)]),
    ]
    DEEP_SCENARIOS = [
        ("grows 256 KiB", BIG, [(0, 0, b"<"), (100000, 10, b"+" * 20000)], None),
        ("shrinks 256 KiB", BIG, [(5000, 150000, b"")], None),
        ("emptied", BASE, [(0, 100, b"")], None),
    ]
    # mrgtool's removals from a level with two mods, e.mrg then m.mrg, in its
    # history: title, arguments
    REMOVALS = [("remove the earlier mod", ["remove", "e.mrg", LEVEL]),
                ("original", ["original", LEVEL])]

    # A pack of three parts, one a level: title, level, merge file, actions
    PACK = [("grows", LEVEL_A, "a.mrg", [(10, 2, b"+" * 30)]),
            ("shrinks", "b.lvl", "b.mrg", [(10, 40, b"-")]),
            ("same size", "c.lvl", "c.mrg", [(10, 2, b""), (50, 0, b"==")])]

    def pack_scenarios(self):
        """mrgtool apply of a pack of three levels, and remove taking it out,
        given the second level's part."""
        parts = {level: merge for _, level, merge, _ in self.PACK}
        without = {level: self.BASE for level in parts}
        within = {level: merged(self.BASE, actions) for _, level, _, actions in self.PACK}
        start = dict(without, **{merge: merge_file(level, actions)
                                 for _, level, merge, actions in self.PACK})
        # Given out of the lock order, which the run sorts.
        apply = [MRGTOOL, "apply", "b.mrg", "c.mrg", "a.mrg", "--name", "p"]
        pack = Pack("p", parts, within, without, "b.lvl", True)
        yield Scenario("a pack of three levels", start, apply, None, None, "The pack p is in",
                       (), {}, pack)
        folder = os.path.join(self.folder, "pack")
        lay_out(folder, start)
        subprocess.run(apply, cwd=folder, check=True, capture_output=True, timeout=120)
        yield Scenario("the pack taken out", folder_files(folder), [MRGTOOL, "remove", "b.mrg"],
                       None, None, "Took the pack p out", (1, 6), {},
                       pack._replace(puts_in=False))

    def scenarios(self):
        for title, level, actions, earlier in self.SCENARIOS + (
                self.DEEP_SCENARIOS if DEEP else []):
            merge, start = merge_file(LEVEL, actions), {LEVEL: level}
            if earlier:
                start[HISTORY], start[LEVEL] = history_file(level, [("e.mrg", earlier)])
                start[BACKUP] = level
            want = merged(start[LEVEL], actions)
            yield Scenario(title, dict(start, **{MERGE: merge}), [cli_test.TOOL, MERGE],
                           (want, start[LEVEL]), level, "Done !\n", (255,),
                           {merged(want, actions): "merged twice", merge: "merge file"})
        if MRGTOOL is None:
            return
        earlier, later = [(10, 2, b"+" * 30)], [(80, 5, b"-")]
        history, level = history_file(self.BASE, [("e.mrg", earlier), ("m.mrg", later)])
        start = {LEVEL: level, BACKUP: merged(self.BASE, earlier), HISTORY: history}
        for title, args in self.REMOVALS:
            want = self.BASE if args[0] == "original" else merged(self.BASE, [(52, 5, b"-")])
            yield Scenario(title, start, [MRGTOOL] + args, (want, level), self.BASE,
                           "out of l.lvl" if args[0] == "remove" else "again: took",
                           (1, 6), {})
        yield from self.pack_scenarios()

    def test_no_crash_loses_the_original(self):
        figures, lost, total = [], [], collections.Counter()
        for scenario in self.scenarios():
            explorer = Explorer(self.folder, scenario.command)
            try:
                points, tally = self.explore(explorer, scenario, lost)
            finally:
                explorer.close()
            figures.append("%s: %d crash points" % (scenario.title, points))
            for model, (keys, bad) in sorted(tally.items()):
                figures.append("  %-20s %5d states %5d lost" % (model, len(keys), bad))
                total[model, "states"] += len(keys)
                total[model, "lost"] += bad
        figures += ["all: %-20s %5d states %5d lost" % (model, total[model, "states"], n)
                    for (model, what), n in sorted(total.items()) if what == "lost"]
        print("\nCrash states (%s):\n%s" % ("deep" if DEEP else "CI", "\n".join(figures)))
        self.assertEqual(len(lost), 0, "%d lost states:\n%s" % (len(lost), "\n".join(lost)))

    def explore(self, explorer, scenario, lost):
        title, start, pack = scenario.title, scenario.start, scenario.pack
        plain = explorer.run(start)
        self.assertEqual((scenario.done in plain.out, plain.status), (True, 0),
                         "%s: %s" % (title, plain.out))
        if pack:
            self.assertIsNone(pack_fault(plain.files, pack, True), title)
            want = before = None
        else:
            want, before = scenario.want
            self.assertEqual((plain.files[LEVEL], plain.files.get(BACKUP)), scenario.want,
                             title)
            self.assertIsNone(history_fault(plain.files, scenario.original), title)
        seen = {op[0] for _, _, op in plain.events}
        self.assertTrue({"create", "change", "flush", "out"} <= seen, "%s: the recorded run "
                        "creates, writes, flushes or prints nothing the explorer understands "
                        "(%s): it would explore no state" % (title, sorted(seen)))
        known = {}
        for content, said in [(scenario.original, "original"), (before, "level before"),
                              (want, "level after"), (b"", "empty"),
                              (start.get(HISTORY), "history before"),
                              (plain.files.get(HISTORY), "history after"),
                              *scenario.known.items()]:
            known.setdefault(content, said)
        for level in pack.within if pack else ():
            for content, said in [(pack.within[level], "with the pack"),
                                  (pack.without[level], "without the pack"),
                                  (start.get(level + ".history"), "history before"),
                                  (plain.files.get(level + ".history"), "history after")]:
                known.setdefault(content, "%s %s" % (level, said))

        def show(files):  # the merge files, unchanged, go without saying
            return ", ".join("%s: %s" % (n, known.get(c, "%d other bytes" % len(c)))
                             for n, c in sorted(files.items())
                             if not n.endswith(".mrg") or c != start.get(n)) or "nothing"

        verdicts, tally = {}, collections.defaultdict(lambda: [set(), 0])

        def key(state, done, finished):
            return tuple(sorted(state.items())), done, tuple(sorted(finished.items()))

        def judge(model, label, done, state, finished, before=""):
            seen = key(state, done, finished)
            if seen not in verdicts:
                verdicts[seen] = self.judged(explorer, state, done, finished, scenario)
            fault, after = verdicts[seen]
            if seen in tally[model][0]:
                return after
            tally[model][0].add(seen)
            if fault:
                tally[model][1] += 1
                lost.append("[%s] %s, %s%s, %s %r: %s\n    held: %s" % (
                    title, model, label, before, "after" if done else "before",
                    scenario.done, fault, show(state))
                    + ("" if after is None else "\n    re-run said %r (status %d), "
                       "left: %s" % (after.out, after.status, show(after.files))))
            return after

        def judge_all(states):
            """The verdicts on (state, done, finished), the re-runs made at once."""
            todo = {}
            for state, done, finished in states:
                todo.setdefault(key(state, done, finished), (state, done, finished))
            for seen in list(todo):
                if seen in verdicts:
                    del todo[seen]
            for seen, found in zip(todo, explorer.each(
                    lambda helper, s: self.judged(helper, *s, scenario), todo.values())):
                verdicts[seen] = found

        labels, crashed, again, shapes = set(), set(), [], set()
        player = b"the player's own level, put back after the kill " * 4
        known[player] = "the player's level"
        states = list(explorer.crash_states(start, plain, said=scenario.done))
        judge_all((state, done, plain.files) for _, _, done, state, _ in states)
        replaced, first_level = {}, LEVEL_A if pack else LEVEL
        for model, label, done, state, _ in states:
            if model == "kill" and not done:
                replaced.setdefault(tuple(sorted(dict(state, **{first_level: player}).items())),
                                    label)
        for (seen, label), after in zip(replaced.items(), explorer.each(
                lambda helper, s: helper.run(dict(s)), replaced)):
            self.judge_replaced(scenario, label, dict(seen), after, player, tally, lost, show)
        for model, label, done, state, unsettled in states:
            labels.add(label)
            after = judge(model, label, done, state, plain.files)
            # A re-run that lost nothing is crashed in turn where it wrote more
            # than a plain one, and after each kill that left a name changed or
            # removed but not yet on the disk.
            first = key(state, done, plain.files)
            renamed = unsettled and any(op[0] != "create" for op in unsettled.pending)
            if after and not done and not verdicts[first][0] and (
                    (first, unsettled) not in crashed if renamed else
                    (first not in crashed and (DEEP or changes(after) - changes(plain)))):
                crashed.update([first, (first, unsettled)])
                # A pack's re-run that puts every level back then goes as a
                # plain run does: outside --deep it is crashed until the pack
                # is back, and once for each way it goes there.
                upto = rolled_back(after) if pack and not DEEP else None
                shape = (bool(renamed), tuple(describe(c, tuple(x.split("#")[0] for x in op))
                                              for c, _, op in after.events[:upto]))
                if pack and not DEEP and shape in shapes:
                    continue
                shapes.add(shape)
                again += [(model2 + ", second crash", label2, done2, state2, after.files,
                           " of the re-run after (%s, %s, held: %s)" % (model, label, show(state)))
                          for model2, label2, done2, state2, _ in explorer.crash_states(
                              state, after, unsettled, said=scenario.done, upto=upto)]
        judge_all((state, done, finished) for _, _, done, state, finished, _ in again)
        for second in again:
            judge(*second)
        return len(labels), tally

    @staticmethod
    def judge_replaced(scenario, label, state, after, player, tally, lost, show):
        """A level put in place after a kill, as a reinstall or the game's
        check of its files does: the re-run keeps it, changed or as it is."""
        keys, model = tally["kill, level replaced"], "kill, level replaced"
        keys[0].add(tuple(sorted(state.items())))
        level = LEVEL_A if scenario.pack else LEVEL
        # A pack's re-run that finds nothing to do takes only its own level's
        # lock: the killed run's other lock files, which hold nothing, stay.
        locks = [n for n in after.files if n.endswith(".lock")
                 and not (scenario.pack and n in state and n != pack_lock(scenario))]
        fault = ("the re-run crashed" if after.status not in (0,) + scenario.failed else
                 "the re-run left %s" % locks[0] if locks else
                 "the player's level is gone" if player not in (
                     after.files.get(level), after.files.get(level + ".bak")) else None)
        if fault:
            keys[1] += 1
            lost.append("[%s] %s, %s: %s\n    held: %s\n    re-run said %r (status %d), left: %s"
                        % (scenario.title, model, label, fault, show(state), after.out,
                           after.status, show(after.files)))

    @classmethod
    def judged(cls, explorer, state, done, finished, scenario):
        """verdict, or pack_verdict for a pack's run."""
        return (cls.pack_verdict if scenario.pack else cls.verdict)(
            explorer, state, done, finished, scenario)

    @staticmethod
    def pack_verdict(explorer, state, done, finished, scenario):
        """(what was lost or None, the re-run or None), for a pack: after the
        same command again, the pack must be in (out) of every level; after
        Vorandel given one part, all or none of the other levels must hold it."""
        pack = scenario.pack
        fault = pack_fault(state, pack, done)
        if fault:
            return fault, None
        # A kill may leave the locks' files, which hold nothing.
        if done and unlocked(state) == unlocked(finished):
            return None, None
        after = explorer.run(state)
        fault = pack_rerun_fault(after, pack, state)
        if fault:
            return fault, after
        alone = explorer.run(state, command=[cli_test.TOOL, pack.parts[pack.alone]])
        fault = pack_alone_fault(alone, pack, state)
        if fault:
            return "Vorandel %s: %s" % (pack.parts[pack.alone], fault), alone
        return None, after

    @staticmethod
    def verdict(explorer, state, done, finished, scenario):
        """(what was lost or None, the re-run or None)."""
        want, before = scenario.want
        if done and (state.get(LEVEL), state.get(BACKUP)) != (want, before):
            return "the change it reported done is not in the folder", None
        fault = history_fault(state, scenario.original)
        if fault:
            return fault, None
        # A kill may leave the lock's file, which holds nothing.
        if done and dict(state, **{LOCK: None}) == dict(finished, **{LOCK: None}):
            return None, None
        after = explorer.run(state)
        kept = before in (after.files.get(LEVEL), after.files.get(BACKUP))
        if after.status not in (0,) + scenario.failed:
            return "the re-run crashed", after
        if LOCK in after.files:
            return "the re-run left %s" % LOCK, after
        fault = history_fault(after.files, scenario.original)
        if fault:
            return fault + " after the re-run", after
        if done or after.status != 0:
            return (None if kept else "the level before the run is gone"), after
        if (after.files.get(LEVEL), after.files.get(BACKUP)) == (want, before):
            return None, after
        return ("not changed once" if kept else "the level before the run is gone"), after

if __name__ == "__main__":
    cli_test.TOOL = os.path.abspath(sys.argv.pop(1))
    if "--mrgtool" in sys.argv:
        at = sys.argv.index("--mrgtool")
        MRGTOOL = os.path.abspath(sys.argv[at + 1])
        del sys.argv[at:at + 2]
    if "--deep" in sys.argv:
        sys.argv.remove("--deep")
        DEEP = True
    unittest.main()
