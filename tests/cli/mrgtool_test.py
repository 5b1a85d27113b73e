"""Black-box tests of the built mrgtool, alongside the built Vorandel: each
case lays out files in a scratch folder, runs the tool there and checks its
standard output and error, exit status and the files it left.

Run: python3 mrgtool_test.py PATH/TO/mrgtool PATH/TO/Vorandel [unittest arguments]"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

from mergefile import expected_run, merge_file, name_field, record

MRGTOOL = None
VORANDEL = None
LEVEL = b"0123456789"


class ToolCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="mrgtool-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def put(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content)

    def content(self, name):
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def mrgtool(self, *args):
        """(stdout, stderr, status) of one run in the scratch folder."""
        done = subprocess.run([MRGTOOL] + list(args), cwd=self.folder,
                              capture_output=True, timeout=120)
        return done.stdout.decode("latin-1"), done.stderr.decode("latin-1"), done.returncode

    def vorandel(self, merge_name):
        done = subprocess.run([VORANDEL, merge_name], cwd=self.folder,
                              capture_output=True, timeout=120)
        return done.stdout.decode("latin-1"), done.returncode

    def files(self):
        return sorted(os.listdir(self.folder))


class Usage(ToolCase):
    # arguments, exit status, text expected in stdout (status 0) or stderr
    CASES = [
        ([], 2, "a command is missing"),
        (["frobnicate"], 2, "unknown command 'frobnicate'"),
        (["--help"], 0, "Usage: mrgtool COMMAND"),
        (["--version"], 0, "mrgtool 1."),
        (["make", "--help"], 0, "Usage: mrgtool make ORIGINAL MODIFIED -o OUT.mrg"),
        (["show", "-h"], 0, "Usage: mrgtool show FILE.mrg [--json]"),
        (["check", "--help"], 0, "Usage: mrgtool check FILE.mrg [LEVEL]"),
        (["invert", "--help"], 0, "Usage: mrgtool invert"),
        (["combine", "--help"], 0, "Usage: mrgtool combine"),
        (["make", "a"], 2, "make: too few arguments"),
        (["make", "a", "b"], 2, "the output file is missing"),
        (["make", "a", "b", "c", "-o", "x"], 2, "make: too many arguments"),
        (["make", "a", "b", "-o"], 2, "-o needs a file name"),
        (["make", "a", "b", "-o", "x", "--output=y"], 2, "-o given twice"),
        (["make", "a", "b", "-o", "x", "--json"], 2, "unknown option '--json'"),
        (["show"], 2, "show: too few arguments"),
        (["show", "a", "-o", "x"], 2, "unknown option '-o'"),
        (["check", "a", "b", "c"], 2, "check: too many arguments"),
        (["invert", "a.mrg", "-o", "u.mrg"], 2, "invert: too few arguments"),
        (["combine", "-o", "out.mrg"], 2, "combine: too few arguments"),
        (["make", "a", "b", "-o", "x", "--name", "../up"], 2, "leads out of the current folder"),
        (["make", "a", "b", "-o", "x", "--name="], 2, "it is empty"),
        (["make", "a", "b", "-o", "x", "--name", "n" * 124], 2, "more than 123 characters"),
        (["make", "a", "b", "-o", "x", "--name", "a\x1bb"], 2, "a\\x1Bb': it holds a control"),
    ]

    def test_command_lines(self):
        for args, status, text in self.CASES:
            with self.subTest(args=args):
                out, err, code = self.mrgtool(*args)
                self.assertEqual(code, status)
                self.assertIn(text, out if status == 0 else err)
                self.assertEqual(out if status else err, "")
                self.assertEqual(self.files(), [])


class Show(ToolCase):
    def test_table_and_json(self):
        self.put("m.mrg", merge_file("l.lvl", [(2, 3, b"Gold\x00\xff"), (8, 0, b"0123456789"),
                                               (9, 1, b"")]))
        out, err, code = self.mrgtool("show", "m.mrg")
        self.assertEqual((err, code), ("", 0))
        self.assertEqual(out.splitlines(), [
            "Merge file:   m.mrg",
            "Level:        l.lvl",
            "Actions:      3",
            "Removed:      4 bytes",
            "Inserted:     16 bytes",
            "Size change:  +12 bytes",
            "",
            "    record     offset     remove     insert  data",
            "        10          2          3          6  47 6f 6c 64 00 ff" + " " * 10 +
            "|Gold..|",
            "        30          8          0         10  30 31 32 33 34 35 36 37..."
            " |01234567|...",
            "        54          9          1          0" + " " * 29 + "||",
        ])
        out, err, code = self.mrgtool("show", "--json", "m.mrg")
        self.assertEqual((err, code), ("", 0))
        shown = json.loads(out)
        self.assertEqual({k: shown[k] for k in ("level", "actions", "removed", "inserted",
                                                "sizeChange", "levelNameSafe")},
                         {"level": "l.lvl", "actions": 3, "removed": 4, "inserted": 16,
                          "sizeChange": 12, "levelNameSafe": True})
        self.assertEqual(shown["records"][0], {
            "record": 10, "offset": 2, "removeLength": 3, "insertLength": 6,
            "dataHex": "476f6c6400ff", "dataText": "Gold.."})
        self.assertEqual(shown["records"][1]["dataHex"], "3031323334353637")

    def test_no_actions_and_unsafe_names_are_shown(self):
        # Names are judged by both systems' rules; no control byte is printed.
        everywhere = "  (unsafe: the merge tool refuses this name)"
        for name, unsafe_on, level_line in [
                ("l.lvl", None, "l.lvl"),
                ("../l.lvl", "every system", "../l.lvl" + everywhere),
                ('q"\\\x01.lvl', "every system", 'q"\\\\x01.lvl' + everywhere),
                ("CON", "Windows", "CON  (unsafe on Windows: the merge tool refuses this name "
                                   "there)")]:
            with self.subTest(name):
                self.put("m.mrg", merge_file(name))
                out, err, code = self.mrgtool("show", "--json", "m.mrg")
                self.assertEqual((err, code), ("", 0))
                shown = json.loads(out)
                self.assertEqual((shown["level"], shown["levelNameSafe"],
                                  shown["levelNameUnsafeOn"], shown["records"]),
                                 (name, unsafe_on is None, unsafe_on, []))
                out, err, code = self.mrgtool("show", "m.mrg")
                self.assertEqual(out.splitlines()[1], "Level:        " + level_line)

    def test_broken_merge_files_are_refused_with_the_merge_tools_message(self):
        for merge, message in [
                (b"", "Invalid level name in the merge file."),
                (name_field("l.lvl") + record(0, 0, b"ab")[:-1],
                 "Truncated action at offset 10 parsing the merge file !"),
                (name_field("l.lvl") + record(5, 1) + record(2, 0),
                 "Misplaced action at offset 24 parsing the merge file !")]:
            with self.subTest(message):
                self.put("m.mrg", merge)
                self.assertEqual(self.mrgtool("show", "m.mrg"),
                                 ("", "mrgtool: m.mrg: %s\n" % message, 1))
        self.assertEqual(self.mrgtool("show", "none.mrg"),
                         ("", "mrgtool: can't open none.mrg: file not found (error 2)\n", 1))

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_lost_output_is_a_failure(self):
        self.put("m.mrg", merge_file("l.lvl", [(0, 0, b"x")]))
        with open("/dev/full", "wb") as full:
            done = subprocess.run([MRGTOOL, "show", "m.mrg"], cwd=self.folder, stdout=full,
                                  stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((done.stderr, done.returncode),
                         (b"mrgtool: can't write to standard output\n", 1))


# What a broken merge file is, and the message both tools give for it.
BROKEN = [
    ("short header", b"\x05\x00\x00", "Invalid level name in the merge file.\n"),
    ("no NUL", b"\x05\0\0\0l.lvl", "Invalid level name in the merge file.\n"),
    ("unsafe name", merge_file("../l.lvl"), "Unsafe level name ../l.lvl in the merge file.\n"),
    ("terminal escapes in the name", merge_file("a\x1b]0;x\x07\x1b[2J"),
     "Unsafe level name a\\x1B]0;x\\x07\\x1B[2J in the merge file.\n"),
    ("truncated", name_field("l.lvl") + record(0, 0, b"abc")[:-1],
     "Truncated action at offset 10 parsing the merge file !\n"),
    ("unknown code", name_field("l.lvl") + record(0, 0, code=7),
     "Unknown action (7) at offset 10 parsing the merge file !\n"),
    ("misplaced", name_field("l.lvl") + record(4, 2, b"a") + record(5, 0, b"b"),
     "Misplaced action at offset 25 parsing the merge file !\n"),
    ("past the end", name_field("l.lvl") + record(8, 3, b"x"),
     "Action at offset 10 reaches past the end of the level !\n"),
]


class Check(ToolCase):
    def test_good_merge_file_gives_the_new_size(self):
        self.put("l.lvl", LEVEL)
        self.put("other.lvl", LEVEL * 2)
        self.put("m.mrg", merge_file("l.lvl", [(0, 4, b""), (9, 1, b"abc")]))
        for args, level, now, change in [([], "l.lvl", 10, "-2"),
                                         (["other.lvl"], "other.lvl", 20, "-2")]:
            with self.subTest(level):
                out, err, code = self.mrgtool("check", "m.mrg", *args)
                self.assertEqual((err, code), ("", 0))
                self.assertEqual(out, "m.mrg applies to %s: 2 actions, nothing wrong found.\n"
                                      "The level would have %d bytes (now %d, %s).\n"
                                 % (level, now + int(change), now, change))
        self.assertEqual(self.content("l.lvl"), LEVEL)
        self.assertEqual(self.files(), ["l.lvl", "m.mrg", "other.lvl"])

    def test_each_fault_is_the_merge_tools_message(self):
        self.put("l.lvl", LEVEL)
        for title, merge, message in BROKEN:
            with self.subTest(title):
                self.put("m.mrg", merge)
                self.assertEqual(self.mrgtool("check", "m.mrg"), (message, "", 1))
        self.assertEqual(self.content("l.lvl"), LEVEL)
        self.assertEqual(self.files(), ["l.lvl", "m.mrg"])

    def test_unreadable_files_are_errors(self):
        self.put("m.mrg", merge_file("absent.lvl", [(0, 0, b"x")]))
        self.assertEqual(self.mrgtool("check", "m.mrg"),
                         ("", "mrgtool: can't open absent.lvl: file not found (error 2)\n", 1))
        self.assertEqual(self.mrgtool("check", "none.mrg", "l.lvl"),
                         ("", "mrgtool: can't open none.mrg: file not found (error 2)\n", 1))

    def test_names_unsafe_on_windows_only_are_faults(self):
        # Vorandel on POSIX merges them; a player on Windows can't.
        for name in [b"CON", b"keep.lvl:x", b"COM\xb9"]:  # COM with a superscript 1
            with self.subTest(name):
                self.put("m.mrg", merge_file(name))
                self.assertEqual(self.mrgtool("check", "m.mrg"), (
                    "Unsafe level name %s in the merge file.\nThe name is unsafe on Windows "
                    "only, where Vorandel.exe refuses it.\n" % name.decode("latin-1"), "", 1))

    def test_vorandel_gives_the_same_message(self):
        for title, merge, message in BROKEN:
            with self.subTest(title):
                self.put("l.lvl", LEVEL)
                self.put("m.mrg", merge)
                out, _, code = self.mrgtool("check", "m.mrg")
                said, status = self.vorandel("m.mrg")
                self.assertEqual((out, code), (message, 1))
                self.assertEqual(said.splitlines(True)[-1], out)
                self.assertEqual(status, 255)


class Invert(ToolCase):
    # actions applied to LEVEL, as (offset, removeLength, data)
    CASES = [
        ("no actions", []),
        ("replace", [(4, 2, b"abc")]),
        ("insert at both ends", [(0, 0, b"<<"), (10, 0, b">>")]),
        ("delete everything", [(0, 10, b"")]),
        ("two inserts at one offset", [(5, 0, b"A"), (5, 0, b"BB")]),
        ("mixed", [(0, 1, b"xyz"), (3, 3, b""), (6, 0, b"-"), (7, 2, b"Q")]),
    ]

    def test_undo_turns_the_merged_level_back(self):
        for title, actions in self.CASES:
            with self.subTest(title):
                self.put("l.lvl", LEVEL)
                self.put("m.mrg", merge_file("l.lvl", actions))
                out, err, code = self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "undo.mrg")
                self.assertEqual((err, code), ("", 0))
                self.assertTrue(out.startswith("Wrote undo.mrg: "))
                _, _, merged = expected_run(self.content("m.mrg"), LEVEL)
                _, status, back = expected_run(self.content("undo.mrg"), merged)
                self.assertEqual((status, back), (0, LEVEL))

    def test_merge_file_that_does_not_fit_the_original(self):
        self.put("l.lvl", LEVEL)
        self.put("m.mrg", merge_file("l.lvl", [(8, 5, b"")]))
        self.assertEqual(self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "undo.mrg"), (
            "", "mrgtool: m.mrg does not fit l.lvl: "
                "Action at offset 10 reaches past the end of the level !\n", 1))
        self.assertEqual(self.files(), ["l.lvl", "m.mrg"])


class Combine(ToolCase):
    # title, actions of each file, combined actions or the error
    CASES = [
        ("disjoint", [[(0, 1, b"A")], [(5, 2, b"B")], [(9, 1, b"")]],
         [(0, 1, b"A"), (5, 2, b"B"), (9, 1, b"")]),
        ("adjacent", [[(2, 2, b"A")], [(4, 0, b"B")]], [(2, 2, b"A"), (4, 0, b"B")]),
        ("overlap", [[(0, 1, b"A")], [(2, 4, b"")], [(5, 1, b"C")]],
         "mrgtool: b.mrg and c.mrg change overlapping ranges: level offsets 2 to 6 "
         "(record at 10) and 5 to 6 (record at 10); nothing written\n"),
        ("inserts at one offset", [[(3, 0, b"A")], [(3, 0, b"B")]],
         "mrgtool: a.mrg and b.mrg both insert at level offset 3 (records at 10 and 10); "
         "their order is unclear; nothing written\n"),
    ]

    def test_combined_or_refused(self):
        for title, parts, expected in self.CASES:
            with self.subTest(title):
                names = []
                for i, actions in enumerate(parts):
                    names.append("abc"[i] + ".mrg")
                    self.put(names[-1], merge_file("l.lvl", actions))
                out, err, code = self.mrgtool("combine", *names, "-o", "all.mrg")
                if isinstance(expected, str):
                    self.assertEqual((out, err, code), ("", expected, 1))
                    self.assertIsNone(self.content("all.mrg"))
                else:
                    self.assertEqual((err, code), ("", 0))
                    self.assertEqual(self.content("all.mrg"), merge_file("l.lvl", expected))
                self.assertEqual(self.files(), sorted(names + ["all.mrg"] * (code == 0)))
                for name in self.files():
                    os.remove(self.path(name))

    def test_files_for_other_levels_are_refused(self):
        self.put("a.mrg", merge_file("l.lvl"))
        self.put("b.mrg", merge_file("k.lvl"))
        self.assertEqual(self.mrgtool("combine", "a.mrg", "b.mrg", "-o", "all.mrg"), (
            "", "mrgtool: b.mrg is for the level k.lvl, but a.mrg is for l.lvl; "
                "nothing written\n", 1))


class Make(ToolCase):
    def pair(self, rng, kind):
        a = rng.randbytes(rng.choice([0, 1, 100, 5000, 70000]))
        if kind == "identical":
            return a, a
        if kind == "unrelated":
            return a, rng.randbytes(rng.randrange(3000))
        b = bytearray(a)
        for _ in range(rng.randrange(1, 30)):
            at = rng.randrange(len(b) + 1)
            b[at:at + rng.randrange(20)] = rng.randbytes(rng.randrange(20))
        return a, bytes(b)

    def test_vorandel_applies_what_make_and_invert_write(self):
        rng = random.Random(11)
        for round, kind in enumerate(["identical", "edited", "unrelated"] * 4):
            with self.subTest(round=round, kind=kind):
                original, modified = self.pair(rng, kind)
                self.put("l.lvl", original)
                self.put("new.bin", modified)
                out, err, code = self.mrgtool("make", "l.lvl", "new.bin", "-o", "m.mrg")
                self.assertEqual((err, code), ("", 0))
                self.assertTrue(out.startswith("Wrote m.mrg: "))
                self.assertEqual(self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "u.mrg")[2], 0)
                self.assertEqual(self.vorandel("m.mrg")[1], 0)
                self.assertEqual(self.content("l.lvl"), modified)
                self.assertEqual(self.vorandel("u.mrg")[1], 0)
                self.assertEqual(self.content("l.lvl"), original)

    def test_level_name_from_the_original_or_given(self):
        os.mkdir(self.path("maps"))
        self.put("maps/keep.lvl", LEVEL)
        self.put("new.bin", LEVEL + b"!")
        # A name outside plain ASCII is written as given, with a warning.
        not_ascii = ("mrgtool: warning: the level name 'k\xe9ep.lvl' is not plain ASCII: "
                     "Vorandel.exe reads its bytes in each player's code page, where they may "
                     "name another file\n")
        for args, name, warned in [([], "keep.lvl", ""),
                                   (["--name", "maps/keep.lvl"], "maps/keep.lvl", ""),
                                   (["--name", b"k\xe9ep.lvl"], "k\xe9ep.lvl", not_ascii)]:
            with self.subTest(name):
                out, err, code = self.mrgtool("make", "maps/keep.lvl", "new.bin", "-o", "m.mrg",
                                              *args)
                self.assertEqual((out, err, code), (
                    "Wrote m.mrg: 1 action, %d bytes, for the level %s.\n"
                    % (4 + len(name) + 1 + 14 + 1, name), warned, 0))
                self.assertEqual(self.content("m.mrg"),
                                 merge_file(name.encode("latin-1"), [(10, 0, b"!")]))

    def test_failure_writes_nothing_and_keeps_the_old_output(self):
        self.put("l.lvl", LEVEL)
        self.put("m.mrg", b"older merge file")
        os.mkdir(self.path("folder"))
        for args, err in [
                (["l.lvl", "none.bin", "-o", "m.mrg"],
                 "mrgtool: can't open none.bin: file not found (error 2)\n"),
                (["l.lvl", "l.lvl", "-o", "folder"],
                 "mrgtool: can't replace folder: access denied (error 5)\n"),
                (["l.lvl", "l.lvl", "-o", "nowhere/m.mrg"],
                 "mrgtool: can't write nowhere/m.mrg: file not found (error 2)\n")]:
            with self.subTest(args=args):
                self.assertEqual(self.mrgtool("make", *args), ("", err, 1))
                self.assertEqual(self.files(), ["folder", "l.lvl", "m.mrg"])
                self.assertEqual(self.content("m.mrg"), b"older merge file")


if __name__ == "__main__":
    MRGTOOL = os.path.abspath(sys.argv.pop(1))
    VORANDEL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
