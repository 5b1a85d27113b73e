"""Black-box tests of the built tool. Each case lays out files in a scratch
folder, runs the tool there, and checks what it printed, its exit status,
the level and the backup, and that nothing else appeared.

Run: python3 cli_test.py PATH/TO/Vorandel [--windows] [--runner WORD]...
         [--holder PATH/TO/hold_file] [--mrgtool PATH/TO/mrgtool]
         [unittest arguments]
--windows: the tool is a Windows build; cases whose results differ between
the systems say so where they are written. --runner: the command that runs
the tool and the holder (Wine, for a Windows build on another system), one
word at a time. --holder: the helper that holds a file open as another
program would; the cases that need it are skipped without it. --mrgtool:
mrgtool, for the cases it has a part in."""
import argparse
import contextlib
import functools
import os
import re
import resource
import select
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import unittest

from mergefile import (PRESS_ENTER, USAGE, expected_run, level_record, merge_file, name_field,
                       record, rewrite_mark)
from tool_run import run_captured

TOOL = None
WINDOWS = False  # the tool is a Windows build
RUNNER = []  # words put before the tool's path to run it
HOLDER = None  # path of the hold_file helper
MRGTOOL = None  # path of mrgtool, built beside the tool
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
LEVEL = b"0123456789"
SAME = "the level as it was"  # expected content: the original level
NOBODY = 65534


def said(name="l.lvl"):
    return "Backuping %s to %s.bak\nProcessing level: %s\n" % (name, name, name)


def per_system(posix, windows):
    """The expectation on the system the tool was built for."""
    return windows if WINDOWS else posix


def posix_only(reason):
    """Marks a case that a Windows build skips, and why."""
    def mark(test):
        @functools.wraps(test)
        def run(self):
            if WINDOWS:
                self.skipTest("POSIX only: " + reason)
            test(self)
        return run
    return mark


RESTORED = "Restored l.lvl from l.lvl.bak: a run was stopped while it rewrote the level.\n"
ALREADY = "l.lvl already holds what this merge file makes: nothing to do, nothing changed.\n"
NOT_ITS_LEVEL = ("l.lvl is not the level this merge file was made for, nor the one it makes: "
                 "nothing changed. Use the merge file made for this version of the level.\n")


def outrun(set_aside="l.lvl.history.1"):
    """What a run says of a level changed behind its history."""
    return ("l.lvl changed since l.lvl.history was written, by a game update, an editor or "
            "another tool: that history is kept as %s, and a new one starts with this run.\n"
            % set_aside)


def forget_history(case):
    """Removes the level's histories, as a fresh player's folder has none."""
    for name in os.listdir(case.folder):
        if name.startswith("l.lvl.history"):
            os.remove(case.path(name))


def write_failure(name="l.lvl", error=223):
    return "Can't write the level %s (error %d); the level is unchanged.\n" % (name, error)


class ToolCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="vorandel-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def put(self, name, content, mode=None):
        with open(self.path(name), "wb") as f:
            f.write(content)
        if mode is not None:
            os.chmod(self.path(name), mode)

    def content(self, name):
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except (FileNotFoundError, NotADirectoryError):
            return None

    def run_tool(self, *args, prefix=(), preexec=None, env=None):
        return run_captured(list(prefix) + RUNNER + [TOOL] + list(args), self.folder,
                            windows=WINDOWS, env=env, preexec=preexec)

    def hold_once(self, name, mode):
        """The helper's answer when it tries to hold the file and lets go at once."""
        if HOLDER is None:
            self.skipTest("no hold_file helper given")
        return run_captured(RUNNER + [HOLDER, name, mode], self.folder, windows=WINDOWS)

    @contextlib.contextmanager
    def held(self, name, mode="", kill=False):
        """Another program holding the file open: without sharing, or
        sharing it with readers (mode "read"), or holding a run's lock on it
        (mode "lock"); killed at the end (kill) instead of letting go."""
        if HOLDER is None:
            self.skipTest("no hold_file helper given")
        # Under Wine a program now and then fails to start at all and says
        # nothing: only that is tried again.
        for attempt in range(3):
            errors = tempfile.TemporaryFile()
            holder = subprocess.Popen(RUNNER + [HOLDER, name] + ([mode] if mode else []),
                                      cwd=self.folder, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=errors)
            answer = holder.stdout.readline()
            if answer or attempt == 2:
                break
            holder.stdin.close()
            holder.stdout.close()
            holder.wait(timeout=120)
            errors.close()
        try:
            errors.seek(0)
            self.assertEqual(answer.strip(), b"held", errors.read().decode("latin-1"))
            yield
        finally:
            if kill:
                holder.kill()
            holder.stdin.close()
            holder.stdout.close()
            holder.wait(timeout=120)
            errors.close()

    def check(self, args, stdout, status, level=SAME, backup=None, name="l.lvl",
              original=LEVEL, backup_name=None, **run):
        """Runs the tool and checks everything it left; level and backup are
        the expected contents (SAME for the original level, None for absent)."""
        backup_name = backup_name or name + ".bak"
        before = set(os.listdir(self.folder))
        out, code = self.run_tool(*args, **run)
        self.assertEqual(out, stdout)
        self.assertEqual(code, status)
        self.assertEqual(self.content(name), original if level is SAME else level)
        self.assertEqual(self.content(backup_name), original if backup is SAME else backup)
        appeared = set(os.listdir(self.folder)) - before - {name, backup_name}
        # A run that changed the level records it in the level's history.
        history = name + ".history"
        if "Done !" in stdout and os.path.dirname(name) == "":
            self.assertTrue(os.path.isfile(self.path(history)), "no history of the merge")
        kept = set(re.findall(r"is kept as (\S+), and a new one", stdout))
        self.assertEqual(appeared - {history} - kept, set())


class Usage(ToolCase):
    def test_no_argument_prints_usage_and_touches_nothing(self):
        self.put("l.lvl", LEVEL)
        self.check([], USAGE, 0)

    def test_only_the_first_argument_counts_even_if_it_looks_like_an_option(self):
        self.put("l.lvl", LEVEL)
        self.check(["--help", "m.mrg"], "File --help not found.\n", 255)
        self.put("m.mrg", merge_file("l.lvl", [(0, 1, b"X")]))
        self.check(["m.mrg", "--help", "other"], said() + "Done !\n", 0,
                   level=b"X123456789", backup=SAME)


class Merges(ToolCase):
    # name, level, actions (offset, removeLength, data), expected new level
    CASES = [
        ("no actions", LEVEL, [], LEVEL),
        ("no actions on an empty level", b"", [], b""),
        ("replace in the middle", LEVEL, [(4, 2, b"abc")], b"0123abc6789"),
        ("insert before the first byte", LEVEL, [(0, 0, b"<<")], b"<<0123456789"),
        ("append after the last byte", LEVEL, [(10, 0, b">>")], b"0123456789>>"),
        ("remove up to the end", LEVEL, [(7, 3, b"end")], b"0123456end"),
        ("pure deletion", LEVEL, [(2, 5, b"")], b"01789"),
        ("remove everything", LEVEL, [(0, 10, b"")], b""),
        ("empty level gets data", b"", [(0, 0, b"new")], b"new"),
        ("adjacent actions", LEVEL, [(2, 2, b"A"), (4, 2, b"B")], b"01AB6789"),
        ("two inserts at one offset", LEVEL, [(5, 0, b"A"), (5, 0, b"B")], b"01234AB56789"),
        ("insert then replace at its offset", LEVEL, [(5, 0, b"A"), (5, 1, b"B")],
         b"01234AB6789"),
        ("data with NULs and every byte value", LEVEL, [(1, 1, bytes(range(256)))],
         b"0" + bytes(range(256)) + b"23456789"),
    ]

    def test_merges(self):
        for title, level, actions, expected in self.CASES:
            with self.subTest(title):
                self.put("l.lvl", level)
                self.put("m.mrg", merge_file("l.lvl", actions))
                self.check(["m.mrg"], said() + "Done !\n", 0, level=expected,
                           backup=SAME, original=level)
                os.remove(self.path("l.lvl.bak"))
                os.remove(self.path("l.lvl.history"))

    def test_name_field_longer_than_the_name(self):
        # A 16-byte field: "lev.dat", its NUL, 8 further bytes ignored.
        self.put("lev.dat", LEVEL)
        self.put("m.mrg", merge_file("lev.dat", [(0, 1, b"X")], field_length=16))
        self.check(["m.mrg"], said("lev.dat") + "Done !\n", 0, level=b"X123456789",
                   backup=SAME, name="lev.dat")

    def test_longest_name_and_names_with_folders_and_dots(self):
        os.mkdir(self.path("maps"))
        for name in ["n" * 123, "maps/a.lvl", "a..b.lvl", "..a"]:
            with self.subTest(name):
                self.put(name, LEVEL)
                self.put("m.mrg", merge_file(name, [(9, 1, b"!")]))
                self.check(["m.mrg"], said(name) + "Done !\n", 0, level=b"012345678!",
                           backup=SAME, name=name)

    def test_second_run(self):
        """The same merge file run again changes nothing where the level is
        what it makes: by its record, or, without one, because it makes the
        level of the backup. A level changed since is merged again."""
        merged = b"+" + LEVEL
        # title, bytes after the name's NUL, the level before the second run,
        # what it says, the level and backup it leaves
        cases = [
            ("no record", b"", merged, ALREADY, merged, LEVEL),
            ("record", level_record(LEVEL, merged), merged, ALREADY, merged, LEVEL),
            ("no record, level changed since", b"", merged + b"!",
             said() + outrun() + "Done !\n", b"+" + merged + b"!", merged + b"!"),
            ("record, level changed since", level_record(LEVEL, merged), merged + b"!",
             NOT_ITS_LEVEL, merged + b"!", LEVEL),
        ]
        for title, tail, level, message, left, backup in cases:
            with self.subTest(title):
                forget_history(self)
                self.put("l.lvl", LEVEL)
                self.put("l.lvl.bak", b"an old backup")
                self.put("m.mrg", merge_file("l.lvl", [(0, 0, b"+")], tail=tail))
                self.check(["m.mrg"], said() + "Done !\n", 0, level=merged, backup=SAME)
                self.put("l.lvl", level)
                ok = message != NOT_ITS_LEVEL
                self.check(["m.mrg"], message, 0 if ok else 255, level=left, backup=backup,
                           original=level)

    def test_merge_file_that_is_its_own_level(self):
        merge = merge_file("m.mrg", [(0, 4, b"")])
        self.put("m.mrg", merge)
        self.check(["m.mrg"], said("m.mrg") + "Done !\n", 0, level=merge[4:],
                   backup=SAME, name="m.mrg", original=merge)


class BadMergeFiles(ToolCase):
    INVALID = [
        ("empty file", b""),
        ("three bytes", b"\x05\x00\x00"),
        ("nameLength 0", b"\0\0\0\0" + b"l.lvl\0"),
        ("nameLength 129", name_field("l.lvl", 129)),
        ("field past the end", name_field("l.lvl")[:-1]),
        ("nameLength far past the end", b"\x80\0\0\0l.lvl\0"),
        ("no NUL in the field", b"\x05\0\0\0l.lvl"),
        ("empty name", name_field("")),
        ("name of 124 characters", name_field("n" * 124)),
        ("huge nameLength", b"\xff\xff\xff\xffl.lvl\0"),
    ]

    UNSAFE = ["/tmp/l.lvl", "/", "../l.lvl", "..", "maps/../../l.lvl", "maps/..",
              "a/../l.lvl", "//server/l.lvl"]

    def test_invalid_level_names_touch_nothing(self):
        self.put("l.lvl", LEVEL)
        for title, merge in self.INVALID:
            with self.subTest(title):
                self.put("m.mrg", merge)
                self.check(["m.mrg"], "Invalid level name in the merge file.\n", 255)

    def test_unsafe_level_names_touch_nothing(self):
        self.put("l.lvl", LEVEL)
        # Control characters are refused everywhere, and printed escaped: a
        # terminal would set its title and clear the screen for these.
        for name, shown in [(name, name) for name in self.UNSAFE] + [
                ("l\x1b]0;pwned\x07\x1b[2J.lvl", "l\\x1B]0;pwned\\x07\\x1B[2J.lvl"),
                ("tab\tand\x7fdel", "tab\\x09and\\x7Fdel")]:
            with self.subTest(name):
                self.put("m.mrg", merge_file(name, [(0, 10, b"")]))
                self.check(["m.mrg"], "Unsafe level name %s in the merge file.\n" % shown, 255)

    # title, records after the name field, message (%d: the record's position)
    ACTION_FAULTS = [
        ("one stray byte", record(0, 0, b"x") + b"\x02",
         "Truncated action at offset %d parsing the merge file !\n", 15),
        ("unknown code", record(0, 0, b"", code=3),
         "Unknown action (3) at offset %d parsing the merge file !\n", 0),
        ("unknown code in a short tail", record(1, 1, b"ab") + b"\xff\xff\x00",
         "Unknown action (65535) at offset %d parsing the merge file !\n", 16),
        ("head cut short", record(0, 0)[:13],
         "Truncated action at offset %d parsing the merge file !\n", 0),
        ("data cut short", record(0, 0, b"abc")[:-1],
         "Truncated action at offset %d parsing the merge file !\n", 0),
        ("insertLength that would wrap", record(0, 0, b"abc", insert_length=0xFFFFFFFF),
         "Truncated action at offset %d parsing the merge file !\n", 0),
        ("offset below the previous removed range", record(4, 2, b"a") + record(5, 0, b"b"),
         "Misplaced action at offset %d parsing the merge file !\n", 15),
        ("second action before the first", record(8, 0) + record(2, 0),
         "Misplaced action at offset %d parsing the merge file !\n", 14),
        ("removed range past the end", record(8, 3, b"x"),
         "Action at offset %d reaches past the end of the level !\n", 0),
        ("offset past the end", record(11, 0, b"x"),
         "Action at offset %d reaches past the end of the level !\n", 0),
        ("offset plus removeLength that would wrap", record(0xFFFFFFF0, 0x20),
         "Action at offset %d reaches past the end of the level !\n", 0),
        ("good records before the bad one", record(0, 1, b"A") + record(5, 1) + record(9, 2),
         "Action at offset %d reaches past the end of the level !\n", 29),
    ]

    def test_faulty_actions_leave_the_level_and_back_it_up(self):
        self.put("l.lvl", LEVEL)
        header = name_field("l.lvl")  # 10 bytes: records start at 10
        for title, records, message, at in self.ACTION_FAULTS:
            with self.subTest(title):
                self.put("m.mrg", header + records)
                self.check(["m.mrg"], said() + message % (len(header) + at), 255,
                           backup=SAME)

    def test_unknown_action_reported_at_its_record_position(self):
        # A 7-character name and its NUL: the first record is at byte 12.
        self.put("lev.dat", LEVEL)
        self.put("m.mrg", merge_file("lev.dat") + record(0, 0, code=7))
        self.check(["m.mrg"], said("lev.dat") +
                   "Unknown action (7) at offset 12 parsing the merge file !\n", 255,
                   backup=SAME, name="lev.dat")

    def test_merge_file_of_4_gib_is_too_large(self):
        for size in [0xFFFFFFFF, 1 << 32, (1 << 32) + 20]:
            with self.subTest(size):
                with open(self.path("big.mrg"), "wb") as f:
                    f.write(name_field("l.lvl"))
                    f.truncate(size)  # sparse: nothing of it is written
                self.put("l.lvl", LEVEL)
                self.check(["big.mrg"], "File big.mrg is too large.\n", 255)


class Restores(ToolCase):
    """A run stopped while it rewrote the level left its mark beside it: the
    next run puts the level back from the backup first, or, where the backup
    is not what the mark says, touches nothing and keeps the mark."""
    MERGED = b"0123abc6789"
    MARK = rewrite_mark("l.lvl", LEVEL, MERGED)
    KEEP = ("put the level back from a copy of your own, then delete l.lvl.merging.\n")
    CHANGED = ("A run was stopped while it rewrote l.lvl, and l.lvl.bak no longer holds the "
               "level as it was: " + KEEP)
    MISSING = ("A run was stopped while it rewrote l.lvl, and l.lvl.bak can't be read "
               "(error 2): " + KEEP)
    DAMAGED = ("l.lvl.merging, the mark of a run that was stopped while it rewrote l.lvl, is "
               "damaged: copy l.lvl.bak over the level if it holds the level as it was, then "
               "delete the mark.\n")
    UNREADABLE = ("Can't read l.lvl.merging (error 5), the mark of a run that was stopped "
                  "while it rewrote l.lvl: copy l.lvl.bak over the level if it holds the "
                  "level as it was, then delete the mark.\n")
    HALF = b"0123a"
    KEPT = ("l.lvl was put in place after a run was stopped while it rewrote the level: it is "
            "kept as it is, and the stopped run's mark l.lvl.merging is deleted.\n")
    PUT_BACK = b"0123456789, the player's own"
    OF_1_0 = ("Vorandel is rewriting the level l.lvl.\nIf this file is still here once no run "
              "is going on, a run was stopped before it finished: the next run on this level "
              "first puts l.lvl back from l.lvl.bak. Leave this file where it is.\nbackup "
              "size: 10\nbackup sha256, first half: %s\nbackup sha256, second half: %s\n"
              % ("a" * 64, "b" * 64)).encode()
    # title, files laid out (None: a folder), what the run says, the files
    # left (SAME: as laid out)
    CASES = [
        ("half-written level", {"l.lvl": HALF, "l.lvl.bak": LEVEL, "l.lvl.merging": MARK},
         RESTORED + said() + "Done !\n", {"l.lvl": MERGED, "l.lvl.bak": LEVEL}),
        ("level gone", {"l.lvl.bak": LEVEL, "l.lvl.merging": MARK},
         RESTORED + said() + "Done !\n", {"l.lvl": MERGED, "l.lvl.bak": LEVEL}),
        ("level as it was", {"l.lvl": LEVEL, "l.lvl.bak": LEVEL, "l.lvl.merging": MARK},
         RESTORED + said() + "Done !\n", {"l.lvl": MERGED, "l.lvl.bak": LEVEL}),
        # Stopped once the level was finished: the mark goes, and the level
        # is found merged already.
        ("merged level, mark left", {"l.lvl": MERGED, "l.lvl.bak": LEVEL,
                                     "l.lvl.merging": MARK}, ALREADY,
         {"l.lvl": MERGED, "l.lvl.bak": LEVEL}),
        # Under another spelling of its level, the mark is the same.
        ("mark of ./l.lvl", {"l.lvl": HALF, "l.lvl.bak": LEVEL,
                             "l.lvl.merging": rewrite_mark("./l.lvl", LEVEL, MERGED, 4)},
         RESTORED + said() + "Done !\n", {"l.lvl": MERGED, "l.lvl.bak": LEVEL}),
        # A level no run can have left was put in place since: it stays, and
        # the run goes on with it.
        ("level put in place since", {"l.lvl": PUT_BACK, "l.lvl.bak": LEVEL,
                                      "l.lvl.merging": MARK}, KEPT + said() + "Done !\n",
         {"l.lvl": PUT_BACK[:4] + b"abc" + PUT_BACK[6:], "l.lvl.bak": PUT_BACK}),
        ("level put in place, backup gone", {"l.lvl": PUT_BACK, "l.lvl.merging": MARK},
         KEPT + said() + "Done !\n",
         {"l.lvl": PUT_BACK[:4] + b"abc" + PUT_BACK[6:], "l.lvl.bak": PUT_BACK}),
        ("level other before the first change",
         {"l.lvl": b"9123456789", "l.lvl.bak": LEVEL,
          "l.lvl.merging": rewrite_mark("l.lvl", LEVEL, MERGED, 4)},
         KEPT + said() + "Done !\n", {"l.lvl": b"9123abc6789", "l.lvl.bak": b"9123456789"}),
        ("draft of a mark only", {"l.lvl": LEVEL, "l.lvl.merging.new": MARK[:20]},
         said() + "Done !\n", {"l.lvl": MERGED, "l.lvl.bak": LEVEL}),
        ("backup changed", {"l.lvl": HALF, "l.lvl.bak": LEVEL[:-1] + b"!",
                            "l.lvl.merging": MARK}, CHANGED, SAME),
        ("backup missing", {"l.lvl": HALF, "l.lvl.merging": MARK}, MISSING, SAME),
        ("backup grown", {"l.lvl": HALF, "l.lvl.bak": LEVEL + b"!", "l.lvl.merging": MARK},
         CHANGED, SAME),
        ("damaged mark", {"l.lvl": HALF, "l.lvl.bak": LEVEL, "l.lvl.merging": MARK[:-2]},
         DAMAGED, SAME),
        ("mark of another backup", {"l.lvl": HALF, "l.lvl.bak": LEVEL,
                                    "l.lvl.merging": rewrite_mark("k.lvl", LEVEL, MERGED)},
         DAMAGED, SAME),
        ("mark that is a folder", {"l.lvl": HALF, "l.lvl.bak": LEVEL, "l.lvl.merging": None},
         UNREADABLE, SAME),
        ("mark of Vorandel 1.0.0", {"l.lvl": HALF, "l.lvl.bak": LEVEL, "l.lvl.merging": OF_1_0},
         "l.lvl.merging is the mark of a run of Vorandel 1.0.0 that was stopped while it "
         "rewrote l.lvl: copy l.lvl.bak over the level if it holds the level as it was, then "
         "delete the mark and run the merge file again.\n", SAME),
        ("mark of 1.0.0, backup grown", {"l.lvl": HALF, "l.lvl.bak": LEVEL + b"!",
                                         "l.lvl.merging": OF_1_0}, CHANGED, SAME),
    ]

    def test_restores(self):
        for title, files, message, left in self.CASES:
            with self.subTest(title):
                fresh = tempfile.mkdtemp(prefix="vorandel-")
                self.addCleanup(shutil.rmtree, fresh, True)
                self.folder = fresh
                self.put("m.mrg", merge_file("l.lvl", [(4, 2, b"abc")]))
                for name, content in files.items():
                    if content is None:
                        os.mkdir(self.path(name))
                    else:
                        self.put(name, content)
                out, code = self.run_tool("m.mrg")
                ok = message.endswith("Done !\n") or message == ALREADY
                self.assertEqual((out, code), (message, 0 if ok else 255))
                left = files if left is SAME else left
                # A run that merges records it in the level's history.
                history = ["l.lvl.history"] if message.endswith("Done !\n") else []
                self.assertEqual(sorted(os.listdir(self.folder)),
                                 sorted(["m.mrg", *left, *history]))
                for name, content in left.items():
                    if content is not None:
                        self.assertEqual(self.content(name), content, name)


def as_nobody():
    """A command prefix that runs the tool as an unprivileged user, or None."""
    if os.geteuid() != 0:
        return ()
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        return None
    return (setpriv, "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups")


def unprivileged_env(prefix):
    """The environment of runs as another user. Wine refuses a prefix that
    another user owns: under Wine that user gets one of its own beside the
    build's, made on first use."""
    if not prefix or not RUNNER or "WINEPREFIX" not in os.environ:
        return None
    wine_prefix = os.environ["WINEPREFIX"] + "-nobody"
    env = dict(os.environ, WINEPREFIX=wine_prefix, HOME=wine_prefix)
    if not os.path.isdir(wine_prefix):
        os.mkdir(wine_prefix)
        os.chown(wine_prefix, NOBODY, NOBODY)
    if subprocess.run(list(prefix) + ["test", "-w", wine_prefix]).returncode != 0:
        raise unittest.SkipTest("the unprivileged user can't reach its Wine prefix: a folder "
                                "above the build folder is closed to others")
    if not os.path.isfile(os.path.join(wine_prefix, "system.reg")):
        subprocess.run(list(prefix) + RUNNER + ["wineboot", "--init"], env=env, check=True,
                       timeout=300, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    return env


def file_size_limit(limit):
    def limit_file_size():
        # Wine does not ignore the signal of a write past the limit itself.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return limit_file_size


class SystemPaths(ToolCase):
    """Level names that Windows reads as paths of its own: '\\' separates
    folders, a drive letter or a leading separator roots the path, and a
    name's trailing dots and spaces fall away, and device names open devices.
    On POSIX systems each is a plain file name in the current folder, merged
    as any other."""

    # name; on Windows the level file and backup file it names, or None
    # where the name leads out of the current folder and is refused. A name
    # that ends in a dot or a space is refused on both systems: Windows would
    # open the level under another name than its backup's.
    CASES = [
        ("maps\\a.lvl", ("maps/a.lvl", "maps/a.lvl.bak")),
        ("maps.\\a.lvl", ("maps/a.lvl", "maps/a.lvl.bak")),
        ("a..", None),
        ("a. .", None),
        ("b.lvl ", None),
        ("C:l.lvl", None),
        ("c:\\l.lvl", None),
        ("a:b", None),
        ("keep.lvl:x", None),
        ("\\l.lvl", None),
        ("\\\\server\\share\\l.lvl", None),
        ("maps\\..\\..\\l.lvl", None),
        ("maps\\..", None),
        ("...", None),
        (". .", None),
        ("con", None),
        ("Nul.lvl", None),
        ("maps\\COM1", None),
    ]

    def test_windows_paths_in_level_names(self):
        os.mkdir(self.path("maps"))
        for name, on_windows in self.CASES:
            with self.subTest(name):
                # Two names of one file share its history on Windows: each
                # case starts without one.
                for folder in (self.folder, self.path("maps")):
                    for left in os.listdir(folder):
                        if ".history" in left:
                            os.remove(os.path.join(folder, left))
                self.put("m.mrg", merge_file(name, [(0, 1, b"X")]))
                refused = name.endswith((".", " "))
                level, backup = per_system((name, None if refused else name + ".bak"),
                                           on_windows or (name, None))
                self.put(level, LEVEL)
                if backup is None:
                    self.check(["m.mrg"], "Unsafe level name %s in the merge file.\n" % name,
                               255, name=level)
                else:
                    self.check(["m.mrg"], said(name) + "Done !\n", 0, level=b"X123456789",
                               backup=SAME, name=level, backup_name=backup)


class FileSystem(ToolCase):
    def setUp(self):
        super().setUp()
        self.put("l.lvl", LEVEL)
        self.put("m.mrg", merge_file("l.lvl", [(4, 2, b"abc")]))

    # level name, error number on POSIX, on Windows: POSIX tells a missing
    # folder from a missing file only where a path runs through a file
    MISSING_LEVELS = [
        ("absent.lvl", 2, 2),
        ("absent/l.lvl", 2, 3),
        ("l.lvl/x", 3, 3),
    ]

    def test_missing_level_is_reported_by_the_copy(self):
        for name, posix_error, windows_error in self.MISSING_LEVELS:
            with self.subTest(name):
                self.put("m.mrg", merge_file(name, [(0, 0, b"x")]))
                self.check(["m.mrg"], "Backuping %s to %s.bak\n"
                           "Can't copy the file %s to %s.bak (error %d)"
                           % (name, name, name, name, per_system(posix_error, windows_error)),
                           255, name=name, original=None)

    def test_missing_or_unreadable_merge_files(self):
        os.mkdir(self.path("folder.mrg"))
        for path in ["nope.mrg", "folder.mrg", "l.lvl/m.mrg", ""]:
            with self.subTest(path):
                self.check([path], "File %s not found.\n" % path, 255)

    @posix_only("FIFOs and device files")
    def test_fifos_and_devices_are_not_files(self):
        # Neither is read nor waited on: each is refused as a folder is.
        os.mkfifo(self.path("pipe"))
        os.symlink("/dev/zero", self.path("zero.lvl"))
        copy_failure = "Backuping %s to %s.bak\nCan't copy the file %s to %s.bak (error 5)"
        for merge_path, level, said_now in [
                ("pipe", None, "File pipe not found.\n"),
                ("/dev/zero", None, "File /dev/zero not found.\n"),
                ("m.mrg", "pipe", copy_failure % (("pipe",) * 4)),
                ("m.mrg", "zero.lvl", copy_failure % (("zero.lvl",) * 4))]:
            with self.subTest(merge=merge_path, level=level):
                if level:
                    self.put("m.mrg", merge_file(level, [(0, 0, b"x")]))
                self.assertEqual(self.run_tool(merge_path), (said_now, 255))
                self.assertFalse(os.path.exists(self.path("%s.bak" % level)))

    def test_level_that_is_a_folder(self):
        os.mkdir(self.path("d"))
        self.put("m.mrg", merge_file("d", []))
        out, code = self.run_tool("m.mrg")
        self.assertEqual((out, code), ("Backuping d to d.bak\n"
                                       "Can't copy the file d to d.bak (error 5)", 255))

    def test_level_held_by_another_program(self):
        with self.held("l.lvl"):
            self.check(["m.mrg"], "Backuping l.lvl to l.lvl.bak\n"
                       "Can't copy the file l.lvl to l.lvl.bak (error 32)", 255)

    def test_level_read_by_another_program_copies_but_does_not_load(self):
        with self.held("l.lvl", "read"):
            self.check(["m.mrg"], said() + "File l.lvl not found.\n", 255, backup=SAME)

    def test_merge_file_held_by_another_program(self):
        with self.held("m.mrg"):
            self.check(["m.mrg"], "File m.mrg not found.\n", 255)

    def test_run_lock_is_held_once_and_leaves_no_file(self):
        # A second taker is refused at once; a holder killed leaves at most a
        # file that the next one takes; a release leaves nothing.
        with self.held("l.lvl.lock", "lock"):
            self.assertEqual(self.hold_once("l.lvl.lock", "lock"), ("error 32\n", 1))
        self.assertIsNone(self.content("l.lvl.lock"))
        with self.held("l.lvl.lock", "lock", kill=True):
            pass
        self.assertEqual(self.hold_once("l.lvl.lock", "lock"), ("held\n", 0))
        self.assertIsNone(self.content("l.lvl.lock"))

    def test_failed_write_restores_the_level_and_a_second_run_merges_once(self):
        # The disk "fills up" halfway; once space is freed the player simply
        # runs the merge file again. Under Wine the file size limit stands in
        # for the full disk, and its failure has no error number of its own.
        level = bytes(range(256)) * 400
        self.put("l.lvl", level)
        self.put("m.mrg", merge_file("l.lvl", [(1000, 0, b"x" * 60000)]))
        self.check(["m.mrg"], said() + write_failure(error=per_system(223, 31)), 255,
                   backup=SAME, original=level, preexec=file_size_limit(150000))
        self.check(["m.mrg"], said() + "Done !\n", 0,
                   level=level[:1000] + b"x" * 60000 + level[1000:], backup=SAME,
                   original=level)

    @posix_only("a file size limit (RLIMIT_FSIZE); Windows has none")
    def test_write_failure_after_many_writes_is_reported_once(self):
        # Megabytes of output, one large slice and then thousands of small
        # ones: the size limit, above the level's size so that the backup is
        # made, falls in the middle of a later write.
        level = bytes(range(256)) * (4 << 10)
        actions = [(5, 1, b"big" * 1200000)]
        actions += [(at, at % 7, b"d" * (at % 11)) for at in range(700, 1 << 20, 700)]
        self.put("m.mrg", merge_file("l.lvl", actions))
        for where, limit in [("large slice", (2 << 20) + 12345),
                             ("small slices", (4 << 20) + 12345)]:
            with self.subTest(where):
                self.put("l.lvl", level)
                self.check(["m.mrg"], said() + write_failure(), 255, backup=SAME,
                           original=level, preexec=file_size_limit(limit))

    @posix_only("an address space limit (RLIMIT_AS); Windows has none")
    def test_file_larger_than_the_memory_to_be_had(self):
        # The address space limit leaves room for the tool but not for the file.
        limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (128 << 20, 128 << 20))
        if self.run_tool(preexec=limit) != (USAGE, 0):
            self.skipTest("this build can't start within the limit (a sanitizer's shadow memory)")
        big = 256 << 20
        with self.subTest("merge file"):
            self.put("m.mrg", merge_file("l.lvl", [(4, 2, b"abc")]))
            os.truncate(self.path("m.mrg"), big)
            self.check(["m.mrg"], "Can't read the data (error 8).\n", 255, preexec=limit)
        with self.subTest("level"):
            self.put("m.mrg", merge_file("l.lvl", [(4, 2, b"abc")]))
            self.put("l.lvl", LEVEL)
            os.truncate(self.path("l.lvl"), big)  # sparse: nothing of it is written
            out, code = self.run_tool("m.mrg", preexec=limit)
            self.assertEqual((out, code), (said() + "Can't read the data (error 8).\n", 255))
            for name in ["l.lvl", "l.lvl.bak"]:
                self.assertEqual(os.path.getsize(self.path(name)), big)
                with open(self.path(name), "rb") as f:
                    self.assertEqual(f.read(len(LEVEL)), LEVEL)

    @posix_only("a file size limit (RLIMIT_FSIZE); Windows has none")
    def test_failed_backup_copy_leaves_the_level_alone(self):
        self.put("l.lvl", b"L" * 4096)
        out, code = self.run_tool("m.mrg", preexec=file_size_limit(1024))
        self.assertEqual(out, "Backuping l.lvl to l.lvl.bak\n"
                         "Can't copy the file l.lvl to l.lvl.bak (error 223)")
        self.assertEqual(code, 255)
        self.assertEqual(self.content("l.lvl"), b"L" * 4096)

    @posix_only("Windows' CopyFileA writes the holes out: 4 GiB of disk")
    def test_level_of_4_gib_is_too_large_and_its_backup_stays_sparse(self):
        size = (1 << 32) + 10
        marks = {0: b"HEAD", 1 << 31: b"MIDDLE", size - 4: b"TAIL"}
        with open(self.path("l.lvl"), "wb") as f:
            f.truncate(size)
            for at, mark in marks.items():
                f.seek(at)
                f.write(mark)
        self.assertEqual(self.run_tool("m.mrg"),
                         (said() + "File l.lvl is too large.\n", 255))
        for name in ["l.lvl", "l.lvl.bak"]:  # compared by their marks, not read whole
            info = os.stat(self.path(name))
            self.assertEqual(info.st_size, size)
            self.assertLess(info.st_blocks * 512, 1 << 20)
            with open(self.path(name), "rb") as f:
                for at, mark in marks.items():
                    f.seek(at)
                    self.assertEqual(f.read(len(mark)), mark)

    @posix_only("4 GiB of memory under Wine")
    def test_merge_whose_result_would_be_4_gib_touches_nothing(self):
        size = (1 << 32) - 256
        with open(self.path("l.lvl"), "wb") as f:
            f.truncate(size)
        self.put("m.mrg", merge_file("l.lvl", [(size, 0, b"+" * 512)]))
        self.assertEqual(self.run_tool("m.mrg"),
                         ("l.lvl would be 4 GiB or larger once merged, more than Vorandel can "
                          "read back: nothing changed.\n", 255))
        self.assertEqual(sorted(os.listdir(self.folder)), ["l.lvl", "m.mrg"])
        self.assertEqual(os.path.getsize(self.path("l.lvl")), size)

    def test_backup_that_is_a_folder(self):
        os.mkdir(self.path("l.lvl.bak"))
        out, code = self.run_tool("m.mrg")
        self.assertEqual((out, code), ("Backuping l.lvl to l.lvl.bak\n"
                                       "Can't copy the file l.lvl to l.lvl.bak (error 5)", 255))
        self.assertEqual(self.content("l.lvl"), LEVEL)

    def test_backup_linked_to_the_level_never_empties_it(self):
        for link in (os.link, os.symlink):
            with self.subTest(link.__name__):
                link(self.path("l.lvl"), self.path("l.lvl.bak"))
                out, code = self.run_tool("m.mrg")
                self.assertEqual((out, code), ("Backuping l.lvl to l.lvl.bak\n"
                                               "Can't copy the file l.lvl to l.lvl.bak (error 32)",
                                               255))
                self.assertEqual(self.content("l.lvl"), LEVEL)
                os.remove(self.path("l.lvl.bak"))

    @posix_only("symbolic links made by the test")
    def test_files_of_the_run_are_never_written_through_a_link(self):
        for name in ["l.lvl.merging.new", "l.lvl.lock", "l.lvl.history.new"]:
            with self.subTest(name):
                self.put("l.lvl", LEVEL)
                self.put("victim", b"not the run's")
                os.symlink("victim", self.path(name))
                self.check(["m.mrg"], said() + "Done !\n", 0, level=b"0123abc6789",
                           backup=SAME)
                self.assertEqual(self.content("victim"), b"not the run's")
                self.assertFalse(os.path.lexists(self.path(name)))
                os.remove(self.path("victim"))
                os.remove(self.path("l.lvl.bak"))
                forget_history(self)

    def test_links_to_the_level_see_the_merged_level(self):
        os.link(self.path("l.lvl"), self.path("hard.lvl"))
        os.symlink("l.lvl", self.path("soft.lvl"))
        self.put("m.mrg", merge_file("soft.lvl", [(4, 2, b"abc")]))
        out, code = self.run_tool("m.mrg")
        self.assertEqual((out, code), (said("soft.lvl") + "Done !\n", 0))
        for name in ["l.lvl", "hard.lvl", "soft.lvl"]:
            self.assertEqual(self.content(name), b"0123abc6789")
        self.assertEqual(self.content("soft.lvl.bak"), LEVEL)

    @posix_only("Windows files have no permission bits; the read-only attribute is "
                "copied, as the read-only level case checks")
    def test_permission_bits_are_copied_to_the_backup(self):
        os.chmod(self.path("l.lvl"), 0o640)
        self.check(["m.mrg"], said() + "Done !\n", 0, level=b"0123abc6789", backup=SAME)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("l.lvl.bak")).st_mode), 0o640)


class Unprivileged(ToolCase):
    """Cases where permissions must hold, run as a user who is not root."""

    def setUp(self):
        super().setUp()
        self.prefix = as_nobody()
        if self.prefix is None:
            self.skipTest("can't run as an unprivileged user here")
        self.env = unprivileged_env(self.prefix)
        os.chmod(self.folder, 0o777)
        self.put("m.mrg", merge_file("l.lvl", [(4, 2, b"abc")]), mode=0o644)

    def run_tool(self, *args, **run):
        return super().run_tool(*args, prefix=self.prefix, env=self.env, **run)

    def own(self, name):
        if os.geteuid() == 0:
            os.chown(self.path(name), NOBODY, NOBODY)

    def test_read_only_level_is_not_written(self):
        self.put("l.lvl", LEVEL, mode=0o444)
        self.own("l.lvl")
        self.check(["m.mrg"], said() + write_failure(error=5), 255, backup=SAME)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("l.lvl.bak")).st_mode), 0o444)

    def test_read_only_backup_of_an_earlier_run_is_replaced(self):
        self.put("l.lvl", LEVEL, mode=0o644)
        self.put("l.lvl.bak", b"old backup", mode=0o444)
        self.own("l.lvl")
        self.own("l.lvl.bak")
        self.check(["m.mrg"], said() + "Done !\n", 0, level=b"0123abc6789", backup=SAME)

    def test_level_in_a_read_only_folder_is_not_backed_up(self):
        os.mkdir(self.path("ro"))
        self.put("ro/l.lvl", LEVEL, mode=0o666)
        os.chmod(self.path("ro"), 0o555)
        self.put("m.mrg", merge_file("ro/l.lvl", [(0, 1, b"")]), mode=0o644)
        self.check(["m.mrg"], "Backuping ro/l.lvl to ro/l.lvl.bak\n"
                   "Can't copy the file ro/l.lvl to ro/l.lvl.bak (error 5)", 255,
                   name="ro/l.lvl")


class Sequences(ToolCase):
    """A player's common mistakes with the example, one after the other, as
    the players' packages ship it: its merge file carries the record of its
    level."""
    def setUp(self):
        super().setUp()
        if MRGTOOL is None:
            self.skipTest("no mrgtool given")
        for name in ["keep.lvl", "keep.mrg"]:
            shutil.copy(os.path.join(EXAMPLES, name), self.path(name))
        self.original = self.content("keep.lvl")
        self.assertEqual(self.run_tool("keep.mrg"), (said("keep.lvl") + "Done !\n", 0))
        self.merged = self.content("keep.lvl")
        self.assertEqual(self.content("keep.lvl.bak"), self.original)

    def mrgtool(self, *args):
        return self.mrgtool_run(*args)[1]

    def mrgtool_run(self, *args):
        return run_captured(RUNNER + [MRGTOOL] + list(args), self.folder, windows=WINDOWS)

    def make(self, name, level, modded, level_name="keep.lvl"):
        """A mod made by mrgtool make, turning `level` into `modded`."""
        self.put("from.lvl", level)
        self.put("to.lvl", modded)
        self.assertEqual(self.mrgtool("make", "from.lvl", "to.lvl", "-o", name, "--name",
                                      level_name), 0)
        os.remove(self.path("from.lvl"))
        os.remove(self.path("to.lvl"))

    def test_mods_come_out_in_any_order_and_the_original_back(self):
        """keep.mrg, then a mod made on top of it: both out at once, or
        keep.mrg alone, the later mod staying in."""
        self.make("b.mrg", self.merged, self.merged + b"# B\n")
        self.assertEqual(self.run_tool("b.mrg"), (said("keep.lvl") + "Done !\n", 0))
        both = self.content("keep.lvl")
        history = self.content("keep.lvl.history")
        self.assertEqual(self.mrgtool_run("original", "keep.lvl"), (
            said("keep.lvl") + "keep.lvl is the level from before its mods again: took "
            "keep.mrg and b.mrg out.\n", 0))
        self.assertEqual((self.content("keep.lvl"), self.content("keep.lvl.bak")),
                         (self.original, both))
        self.put("keep.lvl", both)
        self.put("keep.lvl.history", history)
        self.assertEqual(self.mrgtool_run("remove", "keep.mrg"),
                         (said("keep.lvl") + "Took keep.mrg out of keep.lvl.\n", 0))
        self.assertEqual(self.content("keep.lvl"), self.original + b"# B\n")

    def test_the_original_comes_back_after_a_damaged_mod(self):
        """A damaged merge file run after the mod copies the modded level over
        the backup, as every run does: the history still has the original."""
        self.put("bad.mrg", merge_file("keep.lvl", [(500, 0, b"x")]))
        self.check(["bad.mrg"], said("keep.lvl") + "Action at offset 13 reaches past the end "
                   "of the level !\n", 255, level=self.merged, backup=self.merged,
                   name="keep.lvl")
        self.assertEqual(self.mrgtool_run("original", "keep.lvl"), (
            said("keep.lvl") + "keep.lvl is the level from before its mods again: took "
            "keep.mrg out.\n", 0))
        self.assertEqual(self.content("keep.lvl"), self.original)

    def test_a_combined_mod_without_a_record_over_one_of_its_parts(self):
        """keep.mrg combined with another mod into a file without a record,
        run after keep.mrg: it goes in over keep.mrg's bytes, saying so, and
        the original still comes back."""
        self.make("c.mrg", self.original, self.original.replace(b"@", b"&"))
        self.assertEqual(self.mrgtool("combine", "keep.mrg", "c.mrg", "--no-record", "-o",
                                      "ac.mrg"), 0)
        over = expected_run(self.content("ac.mrg"), self.merged)[2]
        self.check(["ac.mrg"], "This merge file changes bytes that keep.mrg wrote in keep.lvl: "
                   "it goes in over it.\n" + said("keep.lvl") + "Done !\n", 0, level=over,
                   backup=self.merged, name="keep.lvl", original=self.merged)
        self.assertEqual(self.mrgtool_run("original", "keep.lvl"), (
            said("keep.lvl") + "keep.lvl is the level from before its mods again: took "
            "keep.mrg and ac.mrg out.\n", 0))
        self.assertEqual(self.content("keep.lvl"), self.original)

    def test_the_same_mod_run_twice_merges_once(self):
        self.check(["keep.mrg"], ALREADY.replace("l.lvl", "keep.lvl"), 0, level=self.merged,
                   backup=self.original, name="keep.lvl")

    def test_a_mod_for_another_version_is_refused(self):
        other = self.original.replace(b"gold: 100", b"gold: 120")
        self.put("other.lvl", other)
        self.put("other-modded.lvl", other + b"# rich\n")
        self.assertEqual(self.mrgtool("make", "other.lvl", "other-modded.lvl", "-o", "other.mrg",
                                      "--name", "keep.lvl"), 0)
        for name in ["other.lvl", "other-modded.lvl"]:
            os.remove(self.path(name))
        self.put("keep.lvl", self.original)
        os.remove(self.path("keep.lvl.bak"))
        self.check(["other.mrg"], NOT_ITS_LEVEL.replace("l.lvl", "keep.lvl"), 255, name="keep.lvl",
                   original=self.original, backup=None)

    def test_an_undo_made_from_the_modded_level_is_refused(self):
        self.assertEqual(self.mrgtool("invert", "keep.mrg", "keep.lvl", "-o", "undo.mrg"), 1)
        self.assertIsNone(self.content("undo.mrg"))
        self.assertEqual(self.mrgtool("invert", "keep.mrg", "keep.lvl.bak", "-o", "undo.mrg"), 0)
        for again in [False, True]:
            with self.subTest(again=again):
                self.check(["undo.mrg"], ALREADY.replace("l.lvl", "keep.lvl") if again
                           else said("keep.lvl") + "Done !\n", 0, level=self.original,
                           backup=self.merged, name="keep.lvl", original=self.original)

    def test_a_mod_of_three_merge_files_goes_in_whole_or_not_at_all(self):
        """A mod of three levels, its third merge file made for another
        version of that level. Run one by one, two levels change and the
        third is refused: the mod is half in. Put in as one pack, nothing
        changes until the third is the right one; then mods lists the pack,
        and remove given any one part takes all three out."""
        os.mkdir(self.path("castle"))
        levels = {name: self.original.replace(b"Old Keep", title) for name, title in [
            ("keep.lvl", b"Old Keep"), ("other.lvl", b"Other Keep"),
            ("third.lvl", b"Third Keep")]}
        modded = {"keep.lvl": self.merged, "other.lvl": levels["other.lvl"] + b"# B\n",
                  "third.lvl": levels["third.lvl"].replace(b"E#", b"EE")}
        shutil.copy(self.path("keep.mrg"), self.path("castle/keep.mrg"))
        self.make("castle/other.mrg", levels["other.lvl"], modded["other.lvl"], "other.lvl")
        another_version = levels["third.lvl"].replace(b"gold: 100", b"gold: 120")
        self.make("castle/third.mrg", another_version, another_version.replace(b"E#", b"EE"),
                  "third.lvl")
        parts = ["castle/keep.mrg", "castle/other.mrg", "castle/third.mrg"]
        refused = ("castle/third.mrg: " + NOT_ITS_LEVEL.replace("l.lvl", "third.lvl")
                   + "The pack castle can't go in whole: nothing changed.\n")
        put_in = ("".join(said(name) for name in sorted(levels))
                  + "The pack castle is in: 3 levels changed.\n")

        def fresh_levels():
            for name in os.listdir(self.folder):
                if name.endswith((".bak", ".history")):
                    os.remove(self.path(name))
            for name, content in levels.items():
                self.put(name, content)
            return {name: self.content(name) for name in os.listdir(self.folder)
                    if os.path.isfile(self.path(name))}

        fresh_levels()
        for part, said_now, status in [
                (parts[0], said("keep.lvl") + "Done !\n", 0),
                (parts[1], said("other.lvl") + "Done !\n", 0),
                (parts[2], NOT_ITS_LEVEL.replace("l.lvl", "third.lvl"), 255)]:
            self.assertEqual(self.run_tool(part), (said_now, status), part)
        self.assertEqual({name: self.content(name) for name in levels},
                         dict(modded, **{"third.lvl": levels["third.lvl"]}))

        files = fresh_levels()
        self.assertEqual(self.mrgtool_run("apply", *parts), (refused, 1))
        self.assertEqual({name: self.content(name) for name in os.listdir(self.folder)
                          if os.path.isfile(self.path(name))}, files)

        self.make("castle/third.mrg", levels["third.lvl"], modded["third.lvl"], "third.lvl")
        # title, command, what it says and its status, the levels it leaves
        for title, args, said_now, left in [
                ("the right third part", ["apply"] + parts, (put_in, 0), modded),
                ("the mods of a level", ["mods", "other.lvl"], (
                    "Mods in other.lvl, oldest first (other.lvl.history):\n"
                    "  1. castle/other.mrg (pack castle), TIME: 0 bytes out, 4 in\n", 0),
                 modded),
                ("one part given", ["remove", parts[1]], (
                    "".join(said(name) for name in sorted(levels))
                    + "Took the pack castle out of 3 levels.\n", 0), levels)]:
            with self.subTest(title):
                out, status = self.mrgtool_run(*args)
                out = re.sub(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC", "TIME", out)
                self.assertEqual((out, status), said_now)
                self.assertEqual({name: self.content(name) for name in levels}, left)


def console_text(shown):
    """The text a terminal shows. Wine's console hides the cursor while it
    writes, moves it over blanks, and expands tabs."""
    shown = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m[1] or 1), shown)
    shown = re.sub(rb"\x1b\[[0-?]*[ -/]*[@-~]", b"", shown).replace(b"\r\n", b"\n")
    return shown.decode("utf-8", "surrogateescape").expandtabs()


def windows_path(path):
    """The path as a Windows program under Wine names it: the Unix root is Z:."""
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


class Console(ToolCase):
    """Runs on a console: a pseudo-terminal (script). Under Wine a program
    started on one has that console to itself, as one that Explorer starts
    has; started by a Command Prompt (cmd /c), it shares it, as from a
    script. Natively every such run is a plain terminal run."""

    def setUp(self):
        super().setUp()
        if shutil.which("script") is None:
            self.skipTest("no script (util-linux) to give the tool a terminal")
        os.mkdir(self.path("mod"))
        os.mkdir(self.path("elsewhere"))
        os.mkdir(self.path("bare"))
        self.put("mod/l.lvl", LEVEL)
        self.put("mod/m.mrg", merge_file("l.lvl", [(0, 1, b"X")]))
        self.put("bare/m.mrg", merge_file("l.lvl", [(0, 1, b"X")]))

    def on_console(self, program, args, cwd, by_command_prompt=False):
        """What the console shows, as the terminal gets it (UTF-8), the
        status, and whether the program waited: still there a second after
        it asked for Enter, and ended once given it."""
        if by_command_prompt and WINDOWS:
            args = ["cmd", "/c", windows_path(program)] + args
        else:
            args = [program] + args
        # The terminal is raw from the start, so that Enter reaches the
        # program as the console's Enter, and wide enough for a line to stay
        # one; a locale fixes Wine's code page, 1252.
        console = subprocess.Popen(
            ["script", "-qec", "stty raw -echo cols 250; exec " + shlex.join(RUNNER + args),
             "/dev/null"],
            cwd=self.path(cwd), env=dict(os.environ, LC_ALL="C.UTF-8"),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        shown, waited = b"", False
        try:
            while True:
                asking = not waited and console_text(shown).endswith(PRESS_ENTER)
                if not select.select([console.stdout], [], [], 1 if asking else 120)[0]:
                    self.assertTrue(asking, "the console stayed silent for two minutes")
                    console.stdin.write(b"\r")
                    console.stdin.flush()
                    waited = True
                    continue
                output = os.read(console.stdout.fileno(), 4096)
                if not output:
                    break
                if not waited:  # after Enter, only its echo
                    shown += output
        finally:
            console.kill()  # ends the program with its terminal, if it is still there
            console.stdin.close()
            console.stdout.close()
        return console_text(shown), console.wait(timeout=120), waited

    def test_double_click_and_dropped_mod(self):
        """Under Wine, on a console of its own: the usage text, or the merge
        in the merge file's folder, then the prompt, and it waits for Enter.
        By a Command Prompt, or natively: as from a script."""
        mod = windows_path(self.path("mod/m.mrg"))
        gone = windows_path(self.path("gone"))
        missing = ("Backuping l.lvl to l.lvl.bak\n"
                   "Can't copy the file l.lvl to l.lvl.bak (error 2)")
        # title, by a Command Prompt, arguments, what shows, status, the level
        cases = [
            ("double-click", False, [], per_system(USAGE, USAGE + PRESS_ENTER), 0, LEVEL),
            ("dropped from a folder gone since", False,
             [gone + per_system("/m.mrg", "\\m.mrg")],
             per_system("File %s/m.mrg not found.\n" % gone,
                        "Can't enter the folder %s of the merge file (error 2).\n%s"
                        % (gone, PRESS_ENTER)), 255, LEVEL),
            ("mod in another folder, by a Command Prompt", True, [mod], missing, 255, LEVEL),
            ("dropped mod", False, [mod], per_system(missing, said() + "Done !\n" + PRESS_ENTER),
             per_system(255, 0), per_system(LEVEL, b"X123456789")),
            # The copy's message has no line end: the prompt still begins a line.
            ("dropped mod without its level", False, [windows_path(self.path("bare/m.mrg"))],
             per_system(missing, missing + "\n" + PRESS_ENTER), 255,
             per_system(LEVEL, b"X123456789")),
        ]
        for title, by_command_prompt, args, shown, status, level in cases:
            with self.subTest(title):
                self.assertEqual(self.on_console(TOOL, args, "elsewhere", by_command_prompt),
                                 (shown.expandtabs(), status, shown.endswith(PRESS_ENTER)))
                self.assertEqual(self.content("mod/l.lvl"), level)
                self.assertEqual(os.listdir(self.path("elsewhere")), [])

    def test_names_show_as_typed(self):
        """A name's bytes are in the ANSI code page on Windows: a console
        shows the character they stand for, the one of the file's name; a
        file gets the bytes. Natively the bytes go unchanged either way."""
        name = per_system(os.fsdecode(b"\xe9.lvl"), "\xe9.lvl")  # as the file is named
        self.put("mod/" + name, LEVEL)
        self.put("mod/e.mrg", merge_file(b"\xe9.lvl", [(0, 1, b"X")]))
        self.assertEqual(self.on_console(TOOL, ["e.mrg"], "mod", by_command_prompt=True),
                         (said(name) + "Done !\n", 0, False))
        redirected = run_captured(RUNNER + [TOOL, "e.mrg"], self.path("mod"), windows=WINDOWS)
        self.assertEqual(redirected, (ALREADY.replace("l.lvl", "\xe9.lvl"), 0))

    def test_mrgtool_double_click_shows_its_help(self):
        if MRGTOOL is None:
            self.skipTest("no mrgtool given")
        missing = ("mrgtool: a command is missing\nTry 'mrgtool --help'.\n", 2, False)
        self.assertEqual(self.on_console(MRGTOOL, [], "elsewhere", by_command_prompt=True),
                         missing)
        shown, status, waited = self.on_console(MRGTOOL, [], "elsewhere")
        if WINDOWS:
            self.assertEqual((shown[:36], shown[-len(PRESS_ENTER):], status, waited),
                             ("Usage: mrgtool COMMAND ARGUMENTS...\n", PRESS_ENTER, 0, True))
        else:
            self.assertEqual((shown, status, waited), missing)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--windows", action="store_true")
    parser.add_argument("--runner", action="append", default=[])
    parser.add_argument("--holder")
    parser.add_argument("--mrgtool")
    options, sys.argv[1:] = parser.parse_known_args()  # the rest is unittest's
    WINDOWS, RUNNER = options.windows, options.runner
    HOLDER = options.holder and os.path.abspath(options.holder)
    MRGTOOL = options.mrgtool and os.path.abspath(options.mrgtool)
    unittest.main()
