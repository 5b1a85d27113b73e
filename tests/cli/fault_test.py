"""Black-box tests of the built tool against a failing system: a disk that
fills up, writes and closes that fail or are interrupted (injected with
strace), a backup that can't be made, files linked to each other, and a level
close to the tool's size limit. Each failure must give its exact message and
status -1, and leave the backup holding the original level.

Run: python3 fault_test.py PATH/TO/Vorandel [unittest arguments]"""
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import cli_test
from cli_test import SAME, ToolCase, file_size_limit, said, write_failure
from mergefile import merge_file, rewrite_mark

STRACE = shutil.which("strace")
UNSHARE = shutil.which("unshare")
KIB = 1024
MIB = 1024 * KIB
GIB = 1024 * MIB
STOPPED = re.compile(r"^(\d+)\s+--- stopped by SIGSTOP", re.M)


def copy_failure(error, name="l.lvl"):
    return ("Backuping %s to %s.bak\nCan't copy the file %s to %s.bak (error %d)"
            % (name, name, name, name, error))


def restore_failure(error, restore_error, name="l.lvl"):
    return ("Can't write the level %s (error %d), nor restore it (error %d); the next run "
            "restores it from %s.bak first.\n" % (name, error, restore_error, name))


def merged(level, actions):
    """The level after the actions, as the format defines it."""
    out, kept = [], 0
    for offset, remove, data in actions:
        out += [level[kept:offset], data]
        kept = offset + remove
    return b"".join(out + [level[kept:]])


def fresh_folder(case):
    """Gives the test a new, empty scratch folder."""
    case.folder = tempfile.mkdtemp(prefix="vorandel-")
    case.addCleanup(shutil.rmtree, case.folder, True)


def traced_env():
    # LeakSanitizer can't run under a tracer; the tool's images are never
    # freed by design, so there is nothing for it to find anyway.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    return env


def stopped_once(command, folder, trace, stdout, meanwhile):
    """Runs `command`, strace -f writing to `trace` and injecting a SIGSTOP, in
    `folder`; once strace shows the stop, calls meanwhile() and lets the run
    go on: no guessed delay decides anything. Returns (the run's status,
    whether it was stopped)."""
    if os.path.exists(trace):
        os.remove(trace)  # a stop it records must be this run's
    run = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=stdout,
                           stderr=subprocess.DEVNULL, env=traced_env())
    stopped, deadline = None, time.monotonic() + 60
    while run.poll() is None and time.monotonic() < deadline:
        try:
            with open(trace, encoding="latin-1") as f:
                stopped = STOPPED.search(f.read())
        except FileNotFoundError:
            pass
        if stopped:
            meanwhile()
            os.kill(int(stopped.group(1)), signal.SIGCONT)
            break
        time.sleep(0.002)
    return run.wait(timeout=120), stopped is not None


class TracedCase(ToolCase):
    """Runs the tool under strace, limited to the system calls on one file."""

    def setUp(self):
        if STRACE is None:
            self.skipTest("strace is not installed")
        if subprocess.run([STRACE, "-qq", "-o", os.devnull, "true"]).returncode != 0:
            self.skipTest("strace can't trace here")
        super().setUp()

    def trace(self, on, options=(), preexec=None):
        """Runs the tool on m.mrg, tracing the calls on the file `on` (all
        calls for None); returns (stdout, status, strace lines)."""
        # The tool names the file relatively; its descriptors resolve to the full path.
        paths = [] if on is None else ["-P", on, "-P", self.path(on)]
        done = subprocess.run(
            [STRACE, "-qq"] + paths + list(options)
            + [cli_test.TOOL, "m.mrg"],
            cwd=self.folder, capture_output=True, timeout=120, preexec_fn=preexec,
            env=traced_env())
        lines = done.stderr.decode("latin-1").splitlines()
        return done.stdout.decode("latin-1"), done.returncode, lines

    def calls(self, on, syscall):
        """How many `syscall` calls a clean run makes on the file `on`."""
        out, code, lines = self.trace(on, ["-e", "trace=" + syscall])
        self.assertEqual((out, code), (said() + "Done !\n", 0))
        return sum(1 for line in lines if line.startswith(syscall + "("))

    def lay_out(self, level, merge):
        fresh_folder(self)
        self.put("l.lvl", level)
        self.put("m.mrg", merge)


class InjectedFaults(TracedCase):
    # Big enough for several write calls in the backup copy and the rewrite.
    LEVEL = bytes(range(256)) * (12 * KIB)  # 3 MiB
    ACTIONS = [(0, 0, b"<start>"), (1 * MIB, 4, b"1M"), (2 * MIB, 1, b"X" * 70000),
               (3 * MIB, 0, b"<end>")]
    MERGED = merged(LEVEL, ACTIONS)
    MERGE = merge_file("l.lvl", ACTIONS)

    def test_every_failing_write_of_the_backup_stops_before_the_level(self):
        # The backup is copied by the kernel where it can, else written.
        copies = 0
        for call in ["copy_file_range", "sendfile", "write"]:
            self.lay_out(self.LEVEL, self.MERGE)
            count = self.calls("l.lvl.bak", call)
            copies += count
            for k in range(1, count + 1):
                with self.subTest(call=call, when=k):
                    self.lay_out(self.LEVEL, self.MERGE)
                    out, code, _ = self.trace(
                        "l.lvl.bak", ["-e", "trace=" + call,
                                      "-e", "inject=%s:error=ENOSPC:when=%d" % (call, k)])
                    self.assertEqual((out, code), (copy_failure(112), 255))
                    self.assertEqual(self.content("l.lvl"), self.LEVEL)
        self.assertGreater(copies, 0)

    def test_kernel_copy_refused_falls_back_to_the_next_way(self):
        # EXDEV: the file systems differ; ENOSYS: an older kernel.
        for refused in [["copy_file_range:error=EXDEV"],
                        ["copy_file_range:error=ENOSYS", "sendfile:error=EINVAL"]]:
            with self.subTest(refused=refused):
                self.lay_out(self.LEVEL, self.MERGE)
                options = ["-e", "trace=copy_file_range,sendfile"]
                for inject in refused:
                    options += ["-e", "inject=" + inject]
                out, code, _ = self.trace("l.lvl.bak", options)
                self.assertEqual((out, code), (said() + "Done !\n", 0))
                self.assertEqual(self.content("l.lvl.bak"), self.LEVEL)
                self.assertEqual(self.content("l.lvl"), self.MERGED)

    def test_every_failing_write_of_the_level_restores_it(self):
        self.lay_out(self.LEVEL, self.MERGE)
        writes = self.calls("l.lvl", "write")
        self.assertGreater(writes, 0)
        for k in range(1, writes + 1):
            with self.subTest(write=k):
                self.lay_out(self.LEVEL, self.MERGE)
                out, code, _ = self.trace(
                    "l.lvl", ["-e", "trace=write",
                              "-e", "inject=write:error=ENOSPC:when=%d" % k])
                self.assertEqual((out, code), (said() + write_failure(error=112), 255))
                self.assertEqual(self.content("l.lvl.bak"), self.LEVEL)
                self.assertEqual(self.content("l.lvl"), self.LEVEL)

    def test_interruption_at_any_write_of_the_level_waits_for_it(self):
        self.lay_out(self.LEVEL, self.MERGE)
        writes = self.calls("l.lvl", "write")
        for signal in ["SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT"]:
            for k in range(1, writes + 1):
                with self.subTest(signal=signal, write=k):
                    self.lay_out(self.LEVEL, self.MERGE)
                    out, code, _ = self.trace(
                        "l.lvl", ["-e", "trace=write",
                                  "-e", "inject=write:signal=%s:when=%d" % (signal, k)])
                    self.assertEqual((out, code), (said() + "Done !\n", 0))
                    self.assertEqual(self.content("l.lvl"), self.MERGED)
                    self.assertEqual(self.content("l.lvl.bak"), self.LEVEL)

    def test_interruption_during_a_restore_waits_for_it(self):
        # After a failed flush the old level is written back from memory;
        # after a stopped run, from the backup. An interruption at that
        # write waits until the level is whole; after the restore from the
        # backup it then stops the run, before anything else is touched.
        self.lay_out(self.LEVEL, self.MERGE)
        restore_write = self.calls("l.lvl", "write") + 1
        for title, marked, inject, printed, level in [
                ("from memory", False, ["-e", "inject=fsync:error=EIO:when=1", "-e",
                                        "inject=write:signal=SIGINT:when=%d" % restore_write],
                 said() + write_failure(error=1117), self.LEVEL),
                ("from the backup", True, ["-e", "inject=write:signal=SIGINT:when=1"],
                 cli_test.RESTORED + "Stopped: l.lvl was put back from l.lvl.bak first, and "
                 "nothing was merged.\n", self.LEVEL)]:
            with self.subTest(title):
                self.lay_out(b"half", self.MERGE)
                self.put("l.lvl", b"half" if marked else self.LEVEL)
                if marked:
                    self.put("l.lvl.bak", self.LEVEL)
                    self.put("l.lvl.merging", rewrite_mark("l.lvl", self.LEVEL, self.MERGED))
                out, code, _ = self.trace("l.lvl", ["-e", "trace=fsync,write"] + inject)
                self.assertEqual((out, code), (printed, 255))
                self.assertEqual(self.content("l.lvl"), level)
                self.assertFalse(os.path.exists(self.path("l.lvl.merging")))

    def test_interruption_outside_the_rewrite_stops_the_tool_at_once(self):
        # file, call, which of its calls: the backup's copy (level untouched)
        # and the last write, of "Done !" (level complete)
        self.lay_out(self.LEVEL, self.MERGE)
        last_write = self.calls(None, "write")
        for on, call, when, printed, level in [
                ("l.lvl.bak", "copy_file_range", 1, "Backuping l.lvl to l.lvl.bak\n",
                 self.LEVEL),
                (None, "write", last_write, said() + "Done !\n", self.MERGED)]:
            with self.subTest(call=call):
                self.lay_out(self.LEVEL, self.MERGE)
                out, code, _ = self.trace(
                    on, ["-e", "trace=" + call,
                         "-e", "inject=%s:signal=SIGINT:when=%d" % (call, when)])
                self.assertEqual((out, code), (printed, -2))
                self.assertEqual(self.content("l.lvl"), level)

    def test_a_level_written_while_it_is_copied_is_left_alone(self):
        # Another program writes the level while the backup is copied from
        # it: the backup then holds what the run did not read, and the run
        # stops before it empties the level or leaves its mark.
        self.lay_out(self.LEVEL, self.MERGE)
        written = b"written" + self.LEVEL[7:]
        trace, out = self.path("trace"), self.path("out")
        with open(out, "wb") as stdout:
            code, stopped = stopped_once(
                [STRACE, "-f", "-qq", "-o", trace, "-P", "l.lvl.bak", "-P", self.path("l.lvl.bak"),
                 "-e", "trace=copy_file_range",
                 "-e", "inject=copy_file_range:signal=SIGSTOP:when=1", cli_test.TOOL, "m.mrg"],
                self.folder, trace, stdout, lambda: self.put("l.lvl", written))
        self.assertTrue(stopped)
        self.assertEqual((self.content("out").decode(), code), (
            said() + "l.lvl changed while it was copied to l.lvl.bak; the level is unchanged: "
            "run the merge file again once no other program writes to it.\n", 255))
        self.assertEqual(self.content("l.lvl"), written)
        self.assertFalse(os.path.exists(self.path("l.lvl.merging")))

    def test_interrupted_writes_are_retried(self):
        for on, call in [("l.lvl.bak", "copy_file_range"), ("l.lvl.bak", "write"),
                         ("l.lvl", "write"), ("l.lvl.bak", "fsync"), ("l.lvl", "fsync")]:
            self.lay_out(self.LEVEL, self.MERGE)
            for k in range(1, self.calls(on, call) + 1):
                with self.subTest(file=on, call=call, when=k):
                    self.lay_out(self.LEVEL, self.MERGE)
                    out, code, _ = self.trace(
                        on, ["-e", "trace=" + call,
                             "-e", "inject=%s:error=EINTR:when=%d" % (call, k)])
                    self.assertEqual((out, code), (said() + "Done !\n", 0))
                    self.assertEqual(self.content("l.lvl"), self.MERGED)
                    self.assertEqual(self.content("l.lvl.bak"), self.LEVEL)

    def test_every_failing_read_is_reported_before_the_level_is_written(self):
        def read_failure(error):
            return "Can't read the data (error %d).\n" % error
        # file read, how its read fails (a read that ends early: a file cut
        # short since it was sized), the outcomes it may have
        cases = [("m.mrg", "error=EIO", [read_failure(1117)]),
                 ("l.lvl", "error=EIO", [copy_failure(1117), said() + read_failure(1117)]),
                 ("m.mrg", "retval=0", [read_failure(31)]),
                 ("l.lvl", "retval=0", [said() + read_failure(31)])]
        for on, fault, outcomes in cases:
            self.lay_out(self.LEVEL, self.MERGE)
            for k in range(1, self.calls(on, "read") + 1):
                with self.subTest(file=on, fault=fault, read=k):
                    self.lay_out(self.LEVEL, self.MERGE)
                    out, code, _ = self.trace(
                        on, ["-e", "trace=read", "-e", "inject=read:%s:when=%d" % (fault, k)])
                    self.assertIn(out, outcomes)
                    self.assertEqual(code, 255)
                    self.assertEqual(self.content("l.lvl"), self.LEVEL)
                    if out.startswith(said()):
                        self.assertEqual(self.content("l.lvl.bak"), self.LEVEL)
                    elif on == "m.mrg":
                        self.assertIsNone(self.content("l.lvl.bak"))

    # title, file, call, injection (%d: the call's last number in a clean
    # run), what the tool says after said(), the level left
    FLUSH_FAULTS = [
        ("flush of the backup fails", "l.lvl.bak", "fsync", "error=EIO:when=1",
         "Can't copy the file l.lvl to l.lvl.bak (error 1117)", LEVEL),
        ("the backup can't be read back", "l.lvl.bak", "read", "error=EIO:when=1",
         "Can't copy the file l.lvl to l.lvl.bak (error 1117)", LEVEL),
        # A network file system may report a failed write only at the close.
        # The injected failure leaves the file open, and so held: the restore
        # can't open it, and the level stays merged but unconfirmed.
        ("close of the rewritten level fails", "l.lvl", "close", "error=EIO:when=%d",
         restore_failure(1117, 32), MERGED),
        ("flush of the level fails", "l.lvl", "fsync", "error=EIO:when=1",
         write_failure(error=1117), LEVEL),
        ("flush of the level and of its restore fail", "l.lvl", "fsync", "error=EIO",
         restore_failure(1117, 1117), LEVEL),
        ("every write of the level fails", "l.lvl", "write", "error=ENOSPC",
         restore_failure(112, 112), b""),
    ]

    def test_failing_flushes_closes_and_restores(self):
        for title, on, call, inject, message, level in self.FLUSH_FAULTS:
            with self.subTest(title):
                self.lay_out(self.LEVEL, self.MERGE)
                if "%d" in inject:
                    inject %= self.calls(on, call)
                    self.lay_out(self.LEVEL, self.MERGE)
                out, code, _ = self.trace(
                    on, ["-e", "trace=" + call, "-e", "inject=%s:%s" % (call, inject)])
                self.assertEqual((out, code), (said() + message, 255))
                self.assertEqual(self.content("l.lvl.bak"), self.LEVEL)
                self.assertEqual(self.content("l.lvl"), level)
                # Only a level left in pieces keeps the mark, and the next
                # run puts it back before it merges once; or, where the level
                # was finished after all, finds it merged.
                in_pieces = "nor restore" in message
                self.assertEqual(os.path.exists(self.path("l.lvl.merging")), in_pieces)
                if in_pieces:
                    again = (cli_test.ALREADY if level == self.MERGED
                             else cli_test.RESTORED + said() + "Done !\n")
                    self.assertEqual(self.run_tool("m.mrg"), (again, 0))
                    self.assertEqual(self.content("l.lvl"), self.MERGED)

    def test_backup_and_level_reach_the_disk_before_they_are_relied_on(self):
        self.lay_out(self.LEVEL, self.MERGE)
        done = subprocess.run([STRACE, "-qq", "-y", "-e", "trace=openat,fsync,write,rename,unlink",
                               cli_test.TOOL, "m.mrg"], cwd=self.folder,
                              capture_output=True, timeout=120, env=traced_env())
        self.assertEqual(done.returncode, 0)
        calls = done.stderr.decode("latin-1").splitlines()

        def first(pattern):
            found = [i for i, c in enumerate(calls) if re.search(pattern, c)]
            self.assertTrue(found, pattern)
            return found[0]

        # The backup is new: its name in the folder must last too. The mark
        # is whole on the disk before the level is emptied, and is gone from
        # the disk before "Done !".
        level_opened = first(r'^openat\(AT_FDCWD[^,]*, "l\.lvl", O_WRONLY')
        folder_flush = r"^fsync\(\d+<%s>" % re.escape(self.folder)
        self.assertLess(first(r"^fsync\(\d+<[^>]*/l\.lvl\.bak>"), level_opened)
        self.assertLess(first(folder_flush), level_opened)
        self.assertLess(first(r"^fsync\(\d+<[^>]*/l\.lvl\.merging\.new>"), first(r"^rename"))
        marked = [i for i, c in enumerate(calls) if re.search(folder_flush, c)]
        self.assertLess(first(r"^rename"), marked[1])
        self.assertLess(marked[1], level_opened)
        done = first(r'^write\(1.*"Done !')
        self.assertLess(first(r"^fsync\(\d+<[^>]*/l\.lvl>"), done)
        self.assertLess(first(r'^unlink\("l\.lvl\.merging"'), marked[-1])
        self.assertLess(marked[-1], done)


# Calls that change a file, and flags of an open for a change.
CHANGES = re.compile(r"^(write|pwrite|writev|ftruncate|truncate|fallocate|copy_file_range"
                     r"|sendfile|unlink|rename|fchmod|chmod)\(")
FOR_WRITING = re.compile(r"O_WRONLY|O_RDWR|O_TRUNC|O_CREAT")
# A kernel-side copy changes only the file it copies into: the third argument
# of copy_file_range, the first of sendfile (descriptors shown with -y).
COPY_INTO_LEVEL = re.compile(r"^(copy_file_range\([^,]*, [^,]*, |sendfile\()\d+<[^>]*/l\.lvl>")


def changes_level(call):
    if call.startswith(("copy_file_range(", "sendfile(")):
        return COPY_INTO_LEVEL.search(call) is not None
    return CHANGES.search(call) is not None


class FailedBackup(TracedCase):
    """A backup that can't be made: the level is never opened for writing."""

    def hold_backup(self):
        held = open(self.path("l.lvl.bak"), "wb")
        self.addCleanup(held.close)
        fcntl.flock(held, fcntl.LOCK_EX)

    # title, what to do first, limit on the file size, error number. A backup
    # linked to the level is opened for writing to find that out, never written.
    CASES = [
        ("file size limit below the level's size", None, 1024, 223),
        ("backup is a folder", lambda self: os.mkdir(self.path("l.lvl.bak")), None, 5),
        ("backup held by another program", hold_backup, None, 32),
        ("backup is a hard link to the level",
         lambda self: os.link(self.path("l.lvl"), self.path("l.lvl.bak")), None, 32),
        ("backup is a symbolic link to the level",
         lambda self: os.symlink("l.lvl", self.path("l.lvl.bak")), None, 32),
    ]
    LINKED = {"backup is a hard link to the level", "backup is a symbolic link to the level"}

    def test_level_is_not_opened_for_writing(self):
        level = b"L" * 4096
        for title, prepare, limit, error in self.CASES:
            with self.subTest(title):
                self.lay_out(level, merge_file("l.lvl", [(0, 1, b"X")]))
                if prepare is not None:
                    prepare(self)
                out, code, calls = self.trace(
                    "l.lvl", ["-y"], preexec=limit and file_size_limit(limit))
                self.assertEqual((out, code), (copy_failure(error), 255))
                self.assertEqual(self.content("l.lvl"), level)
                self.assertTrue(any(c.startswith("openat(") for c in calls), calls)
                self.assertEqual([c for c in calls if changes_level(c)], [])
                if title not in self.LINKED:
                    self.assertEqual([c for c in calls if FOR_WRITING.search(c)], [])


class DiskFull(ToolCase):
    """The level on a small tmpfs of its own, in a user and mount namespace."""

    DISK = 128 * KIB
    SCRIPT = r"""
mount -t tmpfs -o size=%d vorandel disk || exit 99
cp l.lvl.src disk/l.lvl
cd disk
"$0" ../m.mrg > ../stdout
echo $? > ../status
for f in *; do cp -P "$f" "../out-$f"; done
"""

    def setUp(self):
        super().setUp()
        if UNSHARE is None:
            self.skipTest("unshare is not installed")
        probe = subprocess.run([UNSHARE, "-rm", "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no user and mount namespaces here")

    def run_on_disk(self, level, merge):
        """Runs the tool in a fresh full-size tmpfs; returns (stdout, status,
        files left on it and their content)."""
        fresh_folder(self)
        os.mkdir(self.path("disk"))
        self.put("l.lvl.src", level)
        self.put("m.mrg", merge)
        done = subprocess.run([UNSHARE, "-rm", "sh", "-c", self.SCRIPT % self.DISK,
                               cli_test.TOOL], cwd=self.folder, capture_output=True,
                              timeout=120)
        if done.returncode == 99:
            self.skipTest("tmpfs can't be mounted here: %s" % done.stderr.decode())
        self.assertEqual(done.returncode, 0, done.stderr)
        left = {name[4:]: self.content(name) for name in os.listdir(self.folder)
                if name.startswith("out-")}
        with open(self.path("status")) as f:
            status = int(f.read())
        with open(self.path("stdout"), "rb") as f:
            return f.read().decode("latin-1"), status, left

    # title, level size, actions, message, whether the level is merged
    CASES = [
        ("rewrite fills the disk", 40 * KIB, [(100, 0, b"+" * (64 * KIB))],
         said() + write_failure(error=112), False),
        ("backup does not fit", 80 * KIB, [(0, 1, b"X")], copy_failure(112), None),
        ("shrinking rewrite on an almost full disk", 60 * KIB, [(0, 1024, b"")],
         said() + "Done !\n", True),
    ]

    def test_disk_full(self):
        for title, size, actions, message, done in self.CASES:
            with self.subTest(title):
                level = bytes(range(256)) * (size // 256)
                want = merged(level, actions)
                out, status, left = self.run_on_disk(level, merge_file("l.lvl", actions))
                self.assertEqual((out, status), (message, 0 if done else 255))
                if done is None:  # the copy failed: the level is as it was
                    self.assertEqual(left["l.lvl"], level)
                    continue
                # A merge is recorded in the level's history; a failed one is not.
                self.assertEqual(sorted(left),
                                 ["l.lvl", "l.lvl.bak"] + ["l.lvl.history"] * bool(done))
                self.assertEqual(left["l.lvl.bak"], level)
                self.assertEqual(left["l.lvl"], want if done else level)


class Links(ToolCase):
    def test_merge_file_linked_to_its_level(self):
        # The merge file is read whole before the level is rewritten, so the
        # rewrite can't pull the ground from under the walk.
        for link in (os.link, os.symlink):
            with self.subTest(link.__name__):
                fresh_folder(self)
                actions = [(0, 4, b""), (20, 0, b"appended")]
                merge = merge_file("l.lvl", actions)
                self.put("l.lvl", merge)
                link("l.lvl" if link is os.symlink else self.path("l.lvl"),
                     self.path("m.mrg"))
                self.check(["m.mrg"], said() + "Done !\n", 0, level=merged(merge, actions),
                           backup=SAME, original=merge)
                self.assertEqual(self.content("m.mrg"), merged(merge, actions))


class LargeFiles(ToolCase):
    def test_level_just_under_2_gib_merged_at_its_last_byte(self):
        if shutil.disk_usage(self.folder).free < 6 * GIB:
            self.skipTest("less than 6 GiB free")
        size = 2 * GIB - 1
        marks = {0: b"HEAD", GIB: b"MIDDLE", size - 4: b"TAIL"}
        with open(self.path("l.lvl"), "wb") as f:
            f.truncate(size)  # sparse: the backup copy keeps the holes
            for at, mark in marks.items():
                f.seek(at)
                f.write(mark)
        actions = [(2, 2, b"AD!"), (size - 1, 1, b"LAST BYTE")]
        self.put("m.mrg", merge_file("l.lvl", actions))
        self.assertEqual(self.run_tool("m.mrg"), (said() + "Done !\n", 0))

        # Compared by its marks and a count of its zeros, not held in memory.
        new_size = size + 1 + 8
        want = {0: b"HEAD!", GIB + 1: b"MIDDLE", size - 3: b"TAILAST BYTE"}
        self.assertEqual(os.path.getsize(self.path("l.lvl")), new_size)
        with open(self.path("l.lvl"), "rb") as f:
            for at, mark in want.items():
                f.seek(at)
                self.assertEqual(f.read(len(mark)), mark, at)
            f.seek(0)
            zeros = sum(chunk.count(0) for chunk in iter(lambda: f.read(64 * MIB), b""))
        self.assertEqual(zeros, new_size - sum(len(m) for m in want.values()))
        with open(self.path("l.lvl.bak"), "rb") as f:
            for at, mark in marks.items():
                f.seek(at)
                self.assertEqual(f.read(len(mark)), mark)
        self.assertEqual(os.path.getsize(self.path("l.lvl.bak")), size)


if __name__ == "__main__":
    cli_test.TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
