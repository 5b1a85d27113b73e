"""Black-box tests of the built mrgtool, alongside the built Vorandel: each
case lays out files in a scratch folder, runs the tool there and checks its
standard output and error, exit status and the files it left.

Run: python3 mrgtool_test.py PATH/TO/mrgtool PATH/TO/Vorandel [--holder PATH/TO/hold_file]
         [unittest arguments]
--holder: the helper that holds a run's lock on a level; the cases that need
it are skipped without it."""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import cli_test
from mergefile import (apply_actions, expected_run, fingerprint, level_record, merge_file,
                       name_field, read_history, record, unwind)

MRGTOOL = None
VORANDEL = None
LEVEL = b"0123456789"
SAID = "Backuping l.lvl to l.lvl.bak\nProcessing level: l.lvl\n"  # a run's first lines
STRACE = shutil.which("strace")


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
        (["stamp", "--help"], 0, "Usage: mrgtool stamp FILE.mrg LEVEL -o OUT.mrg"),
        (["stamp", "a.mrg", "l.lvl"], 2, "the output file is missing"),
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
        (["combine", "a.mrg", "-o", "x", "--level", "l", "--no-record"], 2,
         "--level and --no-record exclude each other"),
        (["combine", "a.mrg", "-o", "x", "--level"], 2, "--level needs a file name"),
        (["combine", "a.mrg", "-o", "x", "--allow-empty"], 2, "unknown option '--allow-empty'"),
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
            "Record:       none",
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


    def test_record_whole_none_or_damaged(self):
        whole = level_record(LEVEL, LEVEL + b"!")
        damaged = whole[:-1] + bytes([whole[-1] ^ 1])
        source = {"size": 10, "xxh3_128": fingerprint(LEVEL)[1].hex()}
        result = {"size": 11, "xxh3_128": fingerprint(LEVEL + b"!")[1].hex()}
        for title, tail, lines, shown in [
                ("whole", whole, ["Made for:     10 bytes, XXH3-128 " + source["xxh3_128"],
                                  "Makes:        11 bytes, XXH3-128 " + result["xxh3_128"]],
                 {"madeFor": source, "makes": result}),
                ("none", b"\x7fVL", ["Record:       none"], None),
                ("damaged", damaged,
                 ["Record:       damaged: the merge tool refuses this merge file"], "damaged")]:
            with self.subTest(title):
                self.put("m.mrg", merge_file("l.lvl", [(10, 0, b"!")], tail=tail))
                out, err, code = self.mrgtool("show", "m.mrg")
                self.assertEqual((err, code), ("", 0))
                self.assertEqual(out.splitlines()[2:2 + len(lines)], lines)
                out, err, code = self.mrgtool("show", "--json", "m.mrg")
                self.assertEqual(json.loads(out)["record"], shown)


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
    def test_verdicts_as_vorandel_gives_them(self):
        """check's status and line for each verdict, and Vorandel's own."""
        merged = LEVEL + b"!"
        record = level_record(LEVEL, merged)
        already = ("l.lvl already holds what this merge file makes: nothing to do, nothing "
                   "changed.\n")
        not_its = ("l.lvl is not the level this merge file was made for, nor the one it "
                   "makes: nothing changed. Use the merge file made for this version of the "
                   "level.\n")
        applies = ("m.mrg applies to l.lvl: 1 action, nothing wrong found.\n"
                   "The level would have 11 bytes (now 10, +1).\n")
        disagree = ("The actions of this merge file don't make of l.lvl the level its record "
                    "describes: the merge file is damaged, nothing changed.\n")
        applies_again = ("m.mrg applies to l.lvl: 1 action, nothing wrong found.\n"
                         "The level would have 12 bytes (now 11, +1).\n")
        # title, bytes after the name's NUL, level, backup (None: absent),
        # check's output and status; where it is not 0, Vorandel's last line
        # is the same and it changes nothing
        cases = [
            ("record, the level it was made for", record, LEVEL, None, applies, 0),
            ("record, the level it makes", record, merged, None, already, 3),
            ("record, another level", record, b"0123456788", None, not_its, 4),
            ("record, another level of the same size", record, b"x" * 11, LEVEL, not_its, 4),
            ("record the actions don't make", level_record(LEVEL, b"0123456789?"), LEVEL,
             None, disagree, 1),
            ("no record, the backup merged gives the level", b"", merged, LEVEL, already, 3),
            ("no record, no backup", b"", merged, None, applies_again, 0),
            ("no record, another backup", b"", merged, b"0123456788", applies_again, 0),
        ]
        for title, tail, level, backup, said, status in cases:
            with self.subTest(title):
                for name in self.files():
                    os.remove(self.path(name))
                self.put("m.mrg", merge_file("l.lvl", [(10, 0, b"!")], tail=tail))
                self.put("l.lvl", level)
                if backup is not None:
                    self.put("l.lvl.bak", backup)
                self.assertEqual(self.mrgtool("check", "m.mrg"), (said, "", status))
                out, code = self.vorandel("m.mrg")
                if status == 0:
                    self.assertEqual((out.splitlines()[-1], code), ("Done !", 0))
                    continue
                self.assertEqual(out, said)
                self.assertEqual(code, 0 if status == 3 else 255)
                self.assertEqual(self.content("l.lvl"), level)
                self.assertEqual(self.content("l.lvl.bak"), backup)

    @unittest.skipUnless(os.name == "posix", "a sparse level")
    def test_result_of_4_gib_is_refused_with_one_line(self):
        with open(self.path("l.lvl"), "wb") as f:
            f.truncate(4294967040)  # sparse: 256 bytes short of 4 GiB
        self.put("m.mrg", merge_file("l.lvl", [(0, 0, b"x" * 512)]))
        refused = ("mrgtool: l.lvl would be 4 GiB or larger once merged with m.mrg, more than "
                   "Vorandel can read back; nothing written\n")
        for args, said in [
                (["check", "m.mrg"], ("l.lvl would be 4 GiB or larger once merged, more than "
                                      "Vorandel can read back: nothing changed.\n", "", 1)),
                (["stamp", "m.mrg", "l.lvl", "-o", "s.mrg"], ("", refused, 1)),
                (["invert", "m.mrg", "l.lvl", "-o", "s.mrg"], ("", refused, 1))]:
            with self.subTest(args[0]):
                self.assertEqual(self.mrgtool(*args), said)
                self.assertEqual(self.files(), ["l.lvl", "m.mrg"])

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

    NO_RECORD = ("mrgtool: warning: m.mrg has no record of its level, so nothing tells "
                 "whether l.lvl is the level it was made for\n")

    def test_undo_turns_the_merged_level_back(self):
        for title, actions in self.CASES:
            with self.subTest(title):
                self.put("l.lvl", LEVEL)
                self.put("m.mrg", merge_file("l.lvl", actions))
                out, err, code = self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "undo.mrg")
                self.assertEqual((err, code), (self.NO_RECORD, 0))
                self.assertTrue(out.startswith("Wrote undo.mrg: "))
                _, _, merged = expected_run(self.content("m.mrg"), LEVEL)
                undo = self.content("undo.mrg")
                _, status, back = expected_run(undo, merged)
                self.assertEqual((status, back), (0, LEVEL))
                # Its own record: run twice, the undo finds its work done.
                self.assertEqual(undo[4:4 + 6 + 50], b"l.lvl\0" + level_record(merged, LEVEL))

    GIVEN_ITS_RESULT = ("mrgtool: l.lvl is the level m.mrg makes, not the one it was made "
                        "for: give the level as it was before, such as its backup; nothing "
                        "written\n")

    def test_level_the_merge_file_was_not_made_for(self):
        merged = b"0123abc6789"
        record = level_record(LEVEL, merged)
        # title, bytes after the name's NUL, the level given, its backup, what is said
        for title, tail, level, backup, err in [
                ("the level it makes", record, merged, None, Invert.GIVEN_ITS_RESULT),
                ("another level", record, b"9876543210", None,
                 "mrgtool: l.lvl is not the level m.mrg was made for; nothing written\n"),
                ("a record the actions don't make", level_record(LEVEL, merged + b"?"), LEVEL,
                 None, "mrgtool: m.mrg: its actions don't make the level its record describes: "
                 "the merge file is damaged; nothing written\n"),
                ("no record, actions past its end", b"", b"0123", None,
                 "mrgtool: m.mrg does not fit l.lvl: "
                 "Action at offset 10 reaches past the end of the level !\n"),
                ("no record, the level it makes of the backup", b"", merged, LEVEL,
                 Invert.GIVEN_ITS_RESULT),
                ("a record of no change", level_record(LEVEL, LEVEL), LEVEL, None,
                 "mrgtool: l.lvl already holds what m.mrg makes: m.mrg changes nothing in the "
                 "level it was made for; nothing written\n")]:
            with self.subTest(title):
                for name in self.files():
                    os.remove(self.path(name))
                self.put("l.lvl", level)
                if backup is not None:
                    self.put("l.lvl.bak", backup)
                self.put("m.mrg", merge_file("l.lvl", [(4, 2, b"abc")], tail=tail))
                self.assertEqual(self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "undo.mrg"),
                                 ("", err, 1))
                self.assertEqual(self.files(), sorted(["l.lvl", "m.mrg"] +
                                                      ["l.lvl.bak"] * (backup is not None)))

    def test_level_modded_by_a_replacement_of_one_size_is_refused(self):
        """An author inverts the mod on the level Vorandel just merged."""
        actions = [(4, 3, b"abc")]
        for title, tail in [("record", level_record(LEVEL, b"0123abc789")), ("none", b"")]:
            with self.subTest(title):
                for name in self.files():
                    os.remove(self.path(name))
                self.put("l.lvl", LEVEL)
                self.put("m.mrg", merge_file("l.lvl", actions, tail=tail))
                self.assertEqual(self.vorandel("m.mrg")[0].splitlines()[-1], "Done !")
                self.assertEqual(self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "undo.mrg"),
                                 ("", Invert.GIVEN_ITS_RESULT, 1))
                self.assertEqual(self.files(), ["l.lvl", "l.lvl.bak", "l.lvl.history", "m.mrg"])


class Stamp(ToolCase):
    def test_stamped_or_refused(self):
        merged = b"0123abc6789"
        actions = [(4, 2, b"abc")]
        long_name = "n" * 78
        # title, merge file, level, status, what is said on stderr
        for title, merge, level, status, err in [
                ("padded name field", merge_file("l.lvl", actions, field_length=40), LEVEL, 0,
                 ""),
                ("stamped again", merge_file("l.lvl", actions, tail=level_record(LEVEL, merged)),
                 LEVEL, 0, ""),
                ("a level it doesn't fit", merge_file("l.lvl", actions), b"0123", 1,
                 "mrgtool: m.mrg does not fit l.lvl: "
                 "Action at offset 10 reaches past the end of the level !\n"),
                ("the level its record makes",
                 merge_file("l.lvl", actions, tail=level_record(LEVEL, merged)), merged, 1,
                 "mrgtool: l.lvl is the level m.mrg makes, not the one it was made for: give "
                 "the level as it was before, such as its backup; nothing written\n"),
                ("a damaged record", merge_file("l.lvl", actions, tail=b"\x7fVLR\x01\x32"),
                 LEVEL, 1, "mrgtool: m.mrg: Damaged level record in the merge file.\n"),
                ("a name with no room", merge_file(long_name, actions), LEVEL, 1,
                 "mrgtool: m.mrg: the level name '%s' leaves no room for the record of the "
                 "level (77 characters at most); nothing written\n" % long_name)]:
            with self.subTest(title):
                self.put("m.mrg", merge)
                self.put("l.lvl", level)
                out, err_out, code = self.mrgtool("stamp", "m.mrg", "l.lvl", "-o", "s.mrg")
                self.assertEqual((err_out, code), (err, status))
                if status != 0:
                    self.assertIsNone(self.content("s.mrg"))
                    continue
                self.assertEqual(self.content("s.mrg"),
                                 merge_file("l.lvl", actions, tail=level_record(LEVEL, merged)))
                os.remove(self.path("s.mrg"))


class Combine(ToolCase):
    # title, actions of each file, combined actions or the error
    CASES = [
        ("disjoint", [[(0, 1, b"A")], [(5, 2, b"B")], [(9, 1, b"")]],
         [(0, 1, b"A"), (5, 2, b"B"), (9, 1, b"")]),
        ("adjacent", [[(2, 2, b"A")], [(4, 0, b"B")]], [(2, 2, b"A"), (4, 0, b"B")]),
        ("overlap", [[(0, 1, b"A")], [(2, 4, b"")], [(3, 0, b""), (5, 1, b"C")]],
         "mrgtool: b.mrg and c.mrg change overlapping ranges: level offsets 2 to 6 by b.mrg's "
         "action at record position 60, and level offsets 5 to 6 by c.mrg's at record "
         "position 74; nothing written\n"),
        ("inserts at one offset", [[(3, 0, b"A")], [(3, 0, b"B")]],
         "mrgtool: a.mrg and b.mrg both insert at level offset 3: a.mrg's action at record "
         "position 60 and b.mrg's at record position 60; their order is unclear; nothing "
         "written\n"),
    ]

    def test_combined_or_refused(self):
        # Parts with their records: a refusal is the one line, and only
        # --level gives the combined file its record.
        need_level = ("mrgtool: all.mrg would have no record of its level, since what several "
                      "merge files make together is known only from the level: give the "
                      "level they were made for with --level LEVEL, or ask for a file without "
                      "a record with --no-record; nothing written\n")
        self.put("l.lvl", LEVEL)
        for title, parts, expected in self.CASES:
            with self.subTest(title):
                names = []
                for i, actions in enumerate(parts):
                    names.append("abc"[i] + ".mrg")
                    merged = expected_run(merge_file("l.lvl", actions), LEVEL)[2]
                    self.put(names[-1], merge_file("l.lvl", actions,
                                                   tail=level_record(LEVEL, merged)))
                for options, tail in [([], None), (["--level", "l.lvl"], True),
                                      (["--no-record"], b"")]:
                    out, err, code = self.mrgtool("combine", *names, "-o", "all.mrg", *options)
                    if isinstance(expected, str) or tail is None:
                        said = expected if isinstance(expected, str) else need_level
                        self.assertEqual((out, err, code), ("", said, 1))
                        self.assertIsNone(self.content("all.mrg"))
                        continue
                    self.assertEqual((err, code), ("", 0))
                    if tail is True:
                        combined = expected_run(merge_file("l.lvl", expected), LEVEL)[2]
                        tail = level_record(LEVEL, combined)
                    self.assertEqual(self.content("all.mrg"),
                                     merge_file("l.lvl", expected, tail=tail))
                    os.remove(self.path("all.mrg"))
                for name in names:
                    os.remove(self.path(name))

    def test_records_of_the_parts(self):
        merged = b"A123456789"
        one = level_record(LEVEL, merged)
        two = level_record(LEVEL, b"01234B6789")
        both = level_record(LEVEL, b"A1234B6789")
        other = level_record(b"9876543210", merged)
        without = ("mrgtool: all.mrg would have no record of its level, since a.mrg has none: "
                   "give the level it was made for with --level LEVEL, or ask for a file "
                   "without a record with --no-record; nothing written\n")
        level_opts = ["--level", "l.lvl"]
        # title, tails of the parts, options, the level given and its backup,
        # what is said, the combined file's tail (None: nothing written)
        for title, tails, options, level, backup, err, tail in [
                ("one part keeps its record", [one], [], LEVEL, None, "", one),
                ("one part without a record", [b""], [], LEVEL, None, without, None),
                ("a record in a later part only", [b"", two], [], LEVEL, None, without, None),
                ("made for other versions", [one, other], [], LEVEL, None,
                 "mrgtool: a.mrg and b.mrg are made for different versions of the level; "
                 "nothing written\n", None),
                ("a part without a record, with the level", [b"", two], level_opts, LEVEL,
                 None, "", both),
                ("the level a later part makes", [b"", two], level_opts, b"01234B6789", None,
                 "mrgtool: l.lvl is the level b.mrg makes, not the one it was made for: give "
                 "the level as it was before, such as its backup; nothing written\n", None),
                ("no records, the level they make of the backup", [b"", b""], level_opts,
                 b"A1234B6789", LEVEL, "mrgtool: l.lvl is the level all.mrg makes, not the one "
                 "it was made for: give the level as it was before, such as its backup; "
                 "nothing written\n", None)]:
            with self.subTest(title):
                for name in self.files():
                    os.remove(self.path(name))
                self.put("l.lvl", level)
                if backup is not None:
                    self.put("l.lvl.bak", backup)
                names = ["%s.mrg" % "ab"[i] for i in range(len(tails))]
                actions = [(0, 1, b"A"), (5, 1, b"B")][:len(tails)]
                for name, action, part_tail in zip(names, actions, tails):
                    self.put(name, merge_file("l.lvl", [action], tail=part_tail))
                out, got, code = self.mrgtool("combine", *names, "-o", "all.mrg", *options)
                self.assertEqual((got, code), (err, 1 if tail is None else 0))
                self.assertEqual(self.content("all.mrg"),
                                 None if tail is None else merge_file("l.lvl", actions,
                                                                      tail=tail))

    def test_combined_mod_is_refused_after_one_of_its_parts(self):
        """A new author's steps: two mods made, combined with their level, and
        the combined one run after one of them."""
        self.put("l.lvl", LEVEL)
        self.put("gold.lvl", b"0123GOLD89")
        self.put("door.lvl", LEVEL + b"door")
        for mod in ["gold", "door"]:
            self.assertEqual(self.mrgtool("make", "l.lvl", mod + ".lvl", "-o", mod + ".mrg")[2],
                             0)
        out, err, code = self.mrgtool("combine", "gold.mrg", "door.mrg", "-o", "both.mrg",
                                      "--level", "l.lvl")
        self.assertEqual((err, code), ("", 0))
        self.assertEqual(self.vorandel("gold.mrg")[0].splitlines()[-1], "Done !")
        self.assertEqual(self.vorandel("both.mrg"), (
            "l.lvl is not the level this merge file was made for, nor the one it makes: "
            "nothing changed. It was made for the level before gold.mrg went in: take it "
            "out first with mrgtool remove.\n", 255))
        self.assertEqual(self.content("l.lvl"), b"0123GOLD89")

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
                out, err, code = self.mrgtool("make", "l.lvl", "new.bin", "-o", "m.mrg",
                                              "--allow-empty")
                self.assertEqual((err, code), ("", 0))
                self.assertTrue(out.startswith("Wrote m.mrg: "))
                # A merge file that changes nothing has nothing to undo.
                undone = self.mrgtool("invert", "m.mrg", "l.lvl", "-o", "u.mrg")[2]
                self.assertEqual(undone, 1 if kind == "identical" else 0)
                if undone:
                    continue
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
                    % (4 + len(name) + 1 + 50 + 14 + 1, name), warned, 0))
                self.assertEqual(self.content("m.mrg"),
                                 merge_file(name.encode("latin-1"), [(10, 0, b"!")],
                                            tail=level_record(LEVEL, LEVEL + b"!")))

    def test_record_only_where_the_name_leaves_room(self):
        self.put("l.lvl", LEVEL)
        self.put("new.bin", LEVEL + b"!")
        for chars, recorded in [(77, True), (78, False)]:
            with self.subTest(chars):
                name = "n" * chars
                out, err, code = self.mrgtool("make", "l.lvl", "new.bin", "-o", "m.mrg",
                                              "--name", name)
                warning = ("" if recorded else
                           "mrgtool: warning: the level name '%s' leaves no room for the "
                           "record of the level (77 characters at most): Vorandel can't tell "
                           "by this merge file a level already merged, or of another version\n"
                           % name)
                self.assertEqual((err, code), (warning, 0))
                tail = level_record(LEVEL, LEVEL + b"!") if recorded else b""
                self.assertEqual(self.content("m.mrg"),
                                 merge_file(name, [(10, 0, b"!")], tail=tail))

    def test_identical_files_only_on_request(self):
        self.put("m.mrg", b"older merge file")
        for content in [b"", LEVEL]:
            self.put("l.lvl", content)
            self.put("saved.lvl", content)
            with self.subTest(len(content)):
                self.assertEqual(self.mrgtool("make", "l.lvl", "saved.lvl", "-o", "m.mrg"), (
                    "", "mrgtool: l.lvl and saved.lvl are identical, so a merge file of them "
                    "would change nothing (was saved.lvl saved?): give --allow-empty to write "
                    "one anyway; nothing written\n", 5))
                self.assertEqual(self.content("m.mrg"), b"older merge file")
                self.assertEqual(self.mrgtool("make", "l.lvl", "saved.lvl", "-o", "e.mrg",
                                              "--allow-empty")[1:], ("", 0))
                self.assertEqual(self.content("e.mrg"),
                                 merge_file("l.lvl", tail=level_record(content, content)))

    def test_failure_writes_nothing_and_keeps_the_old_output(self):
        self.put("l.lvl", LEVEL)
        self.put("m.mrg", b"older merge file")
        os.mkdir(self.path("folder"))
        for args, err in [
                (["l.lvl", "none.bin", "-o", "m.mrg"],
                 "mrgtool: can't open none.bin: file not found (error 2)\n"),
                (["l.lvl", "l.lvl", "-o", "folder", "--allow-empty"],
                 "mrgtool: can't replace folder: access denied (error 5)\n"),
                (["l.lvl", "l.lvl", "-o", "nowhere/m.mrg", "--allow-empty"],
                 "mrgtool: can't write nowhere/m.mrg: file not found (error 2)\n")]:
            with self.subTest(args=args):
                self.assertEqual(self.mrgtool("make", *args), ("", err, 1))
                self.assertEqual(self.files(), ["folder", "l.lvl", "m.mrg"])
                self.assertEqual(self.content("m.mrg"), b"older merge file")


class Stack:
    """Mods put in one after another on a level, kept as every byte that was
    ever in it, in order: [value, the mod that wrote it (None: the
    original's), the mod that took it out (None: none)]. Each mod's actions
    are kept by the byte each starts at, so that they can be placed in the
    level made without any set of other mods."""

    def __init__(self, original):
        self.original = original
        self.cells = [[b, None, None] for b in original]
        self.mods = []  # per mod: [(first byte's cell, removeLength, data)]

    @staticmethod
    def present(cell, mods):
        return (cell[1] is None or cell[1] in mods) and (cell[2] is None or cell[2] not in mods)

    def view(self, mods):
        """Per byte of the level made by `mods`, its writer; and the points
        between bytes where one of them removed bytes."""
        writers, points = [], set()
        for cell in self.cells:
            if self.present(cell, mods):
                writers.append(cell[1])
            elif cell[2] in mods:
                points.add(len(writers))
        return writers, points

    def add(self, rng):
        """A new mod's actions for the level the mods so far make: inserts,
        removals and same-size changes, at least one byte away from any byte
        an earlier mod wrote and any point where it removed bytes."""
        writers, points = self.view(set(range(len(self.mods))))
        actions, at = [], 0
        for _ in range(rng.randrange(1, 4)):
            for _ in range(50):
                offset = rng.randrange(at, len(writers) + 1)
                kind = rng.choice(["insert", "remove", "same size"])
                remove = 0 if kind == "insert" else rng.randrange(1, 6)
                data = rng.randbytes(remove if kind == "same size" else
                                     rng.randrange(1, 6) if kind == "insert" else 0)
                end = offset + remove
                if end <= len(writers) and not any(
                        writers[i] is not None for i in range(max(offset - 1, 0),
                                                              min(end + 1, len(writers)))) \
                        and not any(offset - 1 <= p <= end + 1 for p in points):
                    actions.append((offset, remove, data))
                    at = end + 2
                    break
            if at > len(writers):
                break
        if not actions:
            return None
        number = len(self.mods)
        present = [i for i, cell in enumerate(self.cells)
                   if self.present(cell, set(range(number)))] + [len(self.cells)]
        placed = []
        for offset, remove, data in reversed(actions):
            first = present[offset]
            for cell in self.cells[first:first + remove]:
                cell[2] = number
            new = [[b, number, None] for b in data]
            self.cells[first + remove:first + remove] = new
            placed.append(((self.cells[first] if remove else new[0]), remove, data))
        self.mods.append(placed[::-1])
        return actions

    def level(self, mods):
        """The original with `mods` replayed in order, each one's actions
        placed in the level the ones before it in `mods` made."""
        level = self.original
        for number in sorted(mods):
            before = {m for m in mods if m < number}
            index = {id(cell): i for i, cell in enumerate(self.cells)}
            actions = [(sum(self.present(cell, before)
                            for cell in self.cells[:index[id(first)]]), remove, data)
                       for first, remove, data in self.mods[number]]
            level = apply_actions(level, actions)
        return level


class Mods(ToolCase):
    """mrgtool mods, remove and original, on levels whose mods Vorandel put
    in, against the history's independent reader."""

    def run_ok(self, *args):
        out, err, code = self.mrgtool(*args)
        self.assertEqual((err, code), ("", 0), args)
        return out

    def history_of(self, level, names):
        """The original the level's history unwinds `level` to, each step
        proven, and the history, which lists the mods `names`, in order."""
        history = self.content("l.lvl.history")
        original, entries = unwind(level, history)
        self.assertEqual([e["name"] for e in entries], [n.encode() for n in names])
        return original, history

    def test_mods_come_out_in_any_order(self):
        rng = random.Random(27)
        for stack_number in range(6):
            with self.subTest(stack=stack_number):
                for name in self.files():
                    os.remove(self.path(name))
                original = rng.randbytes(rng.randrange(20, 120))
                stack = Stack(original)
                self.put("l.lvl", original)
                names = []
                for number in range(rng.randrange(2, 7)):
                    actions = stack.add(rng)
                    if actions is None:
                        break
                    names.append("m%d.mrg" % number)
                    self.put(names[-1], merge_file("l.lvl", actions))
                    self.assertEqual(self.vorandel(names[-1]), (SAID + "Done !\n", 0))
                left = set(range(len(names)))
                level = stack.level(left)
                self.assertEqual(self.content("l.lvl"), level)
                self.assertEqual(self.history_of(level, names)[0], original)
                order = rng.sample(sorted(left), len(left))
                # Every other stack ends with original, before its last two.
                last = len(order) - (2 if stack_number % 2 else 0)
                for number in order[:last]:
                    by_name = rng.random() < 0.3
                    if by_name:
                        os.remove(self.path(names[number]))
                    out = self.run_ok("remove", names[number], *["l.lvl"] * by_name)
                    self.assertEqual(out, SAID + "Took %s out of l.lvl.\n" % names[number])
                    left.discard(number)
                    self.assert_level(stack.level(left), level,
                                      [names[m] for m in sorted(left)], original)
                    level = stack.level(left)
                if left:
                    out = self.run_ok("original", "l.lvl")
                    self.assertEqual(out, SAID + "l.lvl is the level from before its mods "
                                     "again: took %s out.\n" % " and ".join(
                                         names[m] for m in sorted(left)))
                    self.assert_level(original, level, [], original)

    # title, each mod's actions (a.mrg, b.mrg, ...) on the level the ones
    # before make of LONG, the mod taken out, and the mods named as keeping
    # it in, or the level without it
    OVERLAPS = [
        ("a byte it wrote removed", [[(4, 4, b"AAAA")], [(5, 1, b"")]], "a", ["b"]),
        ("an insert strictly inside its bytes", [[(4, 4, b"AAAA")], [(6, 0, b"B")]], "a",
         ["b"]),
        ("an insert right after its bytes", [[(4, 4, b"AAAA")], [(8, 0, b"B")]], "a",
         b"01234567B89abcdefghij"),
        ("an insert right before its bytes", [[(4, 4, b"AAAA")], [(4, 0, b"B")]], "a",
         b"0123B456789abcdefghij"),
        ("an insert where it only removed", [[(4, 3, b"")], [(4, 0, b"B")]], "a", ["b"]),
        ("a removal across where it only removed", [[(4, 3, b"")], [(3, 2, b"")]], "a",
         ["b"]),
        ("a removal ending where it only removed", [[(4, 3, b"")], [(2, 2, b"")]], "a",
         b"01456789abcdefghij"),
        ("a mod in between, changing other bytes",
         [[(4, 4, b"AAAA")], [(5, 1, b"B")], [(15, 1, b"D")], [(5, 1, b"C")]], "a",
         ["b", "d"]),
        ("kept in by the one that keeps a later one in",
         [[(4, 4, b"AAAA")], [(5, 1, b"B")], [(15, 1, b"D")], [(5, 1, b"C")]], "b", ["d"]),
        ("three mods over its bytes",
         [[(4, 4, b"AAAA")], [(4, 1, b"B")], [(6, 1, b"C")], [(7, 1, b"D")]], "a",
         ["b", "c", "d"]),
        ("a later mod over the first's bytes only, the second out",
         [[(4, 4, b"AAAA")], [(5, 1, b"B")], [(7, 1, b"C")]], "b", b"0123AAAC89abcdefghij"),
    ]

    def test_mods_over_a_mods_bytes_keep_it_in(self):
        long_level = b"0123456789abcdefghij"
        for title, mods, taken, kept in self.OVERLAPS:
            with self.subTest(title):
                for name in self.files():
                    os.remove(self.path(name))
                self.put("l.lvl", long_level)
                names = ["abcd"[i] + ".mrg" for i in range(len(mods))]
                for name, actions in zip(names, mods):
                    self.put(name, merge_file("l.lvl", actions))
                    self.assertEqual(self.vorandel(name)[1], 0)
                before = {n: self.content(n) for n in self.files() if n.startswith("l.lvl")}
                for by_name in [False, True]:
                    out, err, code = self.mrgtool("remove", taken + ".mrg",
                                                  *["l.lvl"] * by_name)
                    if isinstance(kept, bytes):
                        break
                    blockers = [k + ".mrg" for k in kept]
                    self.assertEqual((out, err, code), (
                        "%s.mrg can't come out of l.lvl yet: %s changed bytes it wrote. Take "
                        "%s out first; nothing changed.\n" % (
                            taken, ", ".join(blockers[:-1]) + " and " * (len(blockers) > 1)
                            + blockers[-1], "them" if len(blockers) > 1 else "it"), "", 6))
                    self.assertEqual({n: self.content(n) for n in self.files()
                                      if n.startswith("l.lvl")}, before)
                    if not by_name:
                        os.remove(self.path(taken + ".mrg"))
                if isinstance(kept, bytes):
                    self.assertEqual((out, err, code), (SAID + "Took %s.mrg out of l.lvl.\n"
                                                        % taken, "", 0))
                    self.assertEqual(self.content("l.lvl"), kept)
                    self.history_of(kept, [n for n in names if n != taken + ".mrg"])

    def test_mods_listed_and_the_history_as_the_level_stands_to_it(self):
        """mods' text and JSON, remove's refusal where the history doesn't end
        at the level, original, and Vorandel's next run starting a new history."""
        self.put("l.lvl", LEVEL)
        over = "This merge file changes bytes that a.mrg wrote in l.lvl: it goes in over it.\n"
        for name, actions, line in [("a.mrg", [(2, 2, b"AB")], ""),
                                    ("b.mrg", [(3, 1, b"x")], over),
                                    ("c.mrg", [(9, 0, b"!!")], "")]:
            self.put(name, merge_file("l.lvl", actions))
            self.assertEqual(self.vorandel(name), (line + SAID + "Done !\n", 0))
        modded = self.content("l.lvl")
        self.assertEqual(modded, b"01Ax45678!!9")
        history = self.content("l.lvl.history")
        times = [time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(e["time"]))
                 for e in read_history(history)[1]]
        listed = ("Mods in l.lvl, oldest first (l.lvl.history):\n"
                  "  1. a.mrg, %s: 2 bytes out, 2 in%s\n"
                  "  2. b.mrg, %s: 1 byte out, 1 in\n"
                  "  3. c.mrg, %s: 0 bytes out, 2 in\n")
        json_mods = [{"name": name, "pack": None, "time": e["time"], "bytesOut": out,
                      "bytesIn": put_in, "changedLaterBy": later}
                     for name, e, out, put_in, later in zip(
                         ["a.mrg", "b.mrg", "c.mrg"], read_history(history)[1], [2, 1, 0],
                         [2, 1, 2], [["b.mrg"], [], []])]
        unchanged = ": its mods can't be taken out by it; nothing changed.\n"
        # title, the level and history, mods' text, its JSON state (the mods
        # listed where it is not None), remove's line, Vorandel's line
        # setting the old history aside
        for title, level, old, text, state, refused, set_aside in [
                ("mods in", modded, history, listed % (
                    times[0], "; b.mrg changed bytes it wrote", times[1], times[2]),
                 "mods in", None, None),
                ("no history", modded, None,
                 "l.lvl has no history beside it (l.lvl.history): no mod went in by a run that "
                 "keeps one.\n", "no history",
                 "l.lvl has no history beside it (l.lvl.history): no mod in it can be told, "
                 "nothing changed.\n", ""),
                ("the level changed behind it", modded[:-1] + b"?", history, listed % (
                    times[0], "", times[1], times[2]) + "l.lvl changed since l.lvl.history "
                 "was written, by a game update, an editor or another tool: these mods may not "
                 "be in it any more. The next run keeps this history under another name and "
                 "starts a new one.\n", "level changed",
                 "l.lvl changed since l.lvl.history was written, by a game update, an editor "
                 "or another tool" + unchanged,
                 "l.lvl changed since l.lvl.history was written, by a game update, an editor "
                 "or another tool: that history is kept as l.lvl.history.1, and a new one "
                 "starts with this run.\n"),
                ("the level put back by hand", LEVEL, history, listed % (
                    times[0], "", times[1], times[2])
                 + "l.lvl is again the level from before these mods: none of them is in.\n",
                 "original", "l.lvl is the level from before the mods that l.lvl.history "
                 "lists, with none of them in: nothing to do.\n",
                 "l.lvl is again the level from before the mods that l.lvl.history lists, "
                 "with none of them in: that history is kept as l.lvl.history.1, and a new "
                 "one starts with this run.\n"),
                ("a damaged history", modded, history[:40] + b"?" + history[41:],
                 "l.lvl.history is damaged, or of a later version: the mods in l.lvl can't be "
                 "told by it. The next run keeps it under another name and starts a new "
                 "one.\n", "damaged", "l.lvl.history is damaged, or of a later version: no mod "
                 "can be taken out of l.lvl by it; nothing changed.\n",
                 "l.lvl.history is damaged: it is kept as l.lvl.history.1, and a new history "
                 "of l.lvl starts with this run.\n")]:
            with self.subTest(title):
                for name in self.files():
                    if name.startswith("l.lvl.history"):
                        os.remove(self.path(name))
                self.put("l.lvl", level)
                if old is not None:
                    self.put("l.lvl.history", old)
                self.assertEqual(self.mrgtool("mods", "l.lvl"), (text, "", 0))
                shown = json.loads(self.run_ok("mods", "l.lvl", "--json"))
                self.assertEqual(shown, {
                    "level": "l.lvl", "history": "l.lvl.history", "state": state,
                    "mods": json_mods if state == "mods in" else
                    [dict(m, changedLaterBy=[]) for m in json_mods]
                    if old is not None and state != "damaged" else []})
                if refused is None:
                    continue
                files = {n: self.content(n) for n in self.files()}
                # Nothing to do is no failure: a level at its original has no mod in.
                status = 0 if "nothing to do" in refused else 1
                for args in [("remove", "c.mrg"), ("remove", "c.mrg", "l.lvl"),
                             ("original", "l.lvl")]:
                    self.assertEqual(self.mrgtool(*args), (refused, "", status), args)
                    self.assertEqual({n: self.content(n) for n in self.files()}, files)
                # The next run keeps the old history and starts one at the
                # level it found.
                self.put("d.mrg", merge_file("l.lvl", [(0, 0, b"d")]))
                self.assertEqual(self.vorandel("d.mrg"), (SAID + set_aside + "Done !\n", 0))
                self.assertEqual(self.content("l.lvl.history.1"), old)
                self.assertEqual(self.history_of(b"d" + level, ["d.mrg"])[0], level)
        self.put("l.lvl", modded)
        self.put("l.lvl.history", history)
        self.assertEqual(self.run_ok("original", "l.lvl"),
                         SAID + "l.lvl is the level from before its mods again: took a.mrg, "
                         "b.mrg and c.mrg out.\n")
        self.assertEqual(self.content("l.lvl"), LEVEL)
        self.assertEqual(self.run_ok("original", "l.lvl"), "l.lvl has no mod in it: nothing "
                         "to do.\n")

    def assert_level(self, level, before, names, original):
        """The level, its backup (the level before the run) and its history
        after a removal, and no other file of the run's."""
        self.assertEqual(self.content("l.lvl"), level)
        self.assertEqual(self.content("l.lvl.bak"), before)
        self.assertEqual(self.history_of(level, names)[0], original)
        self.assertEqual([n for n in self.files() if n.startswith("l.lvl")],
                         ["l.lvl", "l.lvl.bak", "l.lvl.history"])


def said(level):
    """A run's first lines on `level`."""
    return SAID.replace("l.lvl", level)


class Packs(ToolCase):
    """mrgtool apply: several merge files put in as one pack, every level
    holding all of it afterwards or none of it; mods listing it, remove
    taking it out of every level, and a pack killed midway put back whole by
    the next run."""
    OLD = level_record(b"x" * 10, b"x" * 9 + b"B")  # the record of another version
    PARTS = {"a.mrg": merge_file("a.lvl", [(0, 0, b"AA")]),
             "a2.mrg": merge_file("a.lvl", [(5, 1, b"C")]),
             "over.mrg": merge_file("a.lvl", [(4, 3, b"Z")]),  # over a2.mrg's byte
             "far.mrg": merge_file("a.lvl", [(20, 0, b"F")]),
             "b.mrg": merge_file("b.lvl", [(9, 1, b"B")]),
             "old.mrg": merge_file("b.lvl", [(9, 1, b"B")], tail=OLD)}
    BEFORE = {"a.lvl": LEVEL, "b.lvl": LEVEL}
    IN = {"a.lvl": b"AA" + LEVEL, "b.lvl": b"012345678B"}
    REFUSED = "The pack p can't go in whole: nothing changed.\n"
    ALREADY = "%s already holds what this merge file makes%s: nothing to do, nothing changed.\n"
    OLD_SAID = ("old.mrg: b.lvl is not the level this merge file was made for, nor the one it "
                "makes: nothing changed. Use the merge file made for this version of the "
                "level.\n")

    held = cli_test.ToolCase.held

    def lay_out(self):
        for name in self.files():
            os.remove(self.path(name))
        for name, content in dict(self.BEFORE, **self.PARTS).items():
            self.put(name, content)

    def snapshot(self):
        return {name: self.content(name) for name in self.files()}

    def levels(self):
        return {name: self.content(name) for name in self.BEFORE}

    def run_any(self, args):
        """(stdout, stderr, status) of Vorandel given a merge file, or of mrgtool."""
        if args[0] == "Vorandel":
            out, code = self.vorandel(args[1])
            return out, "", code
        return self.mrgtool(*args)

    def assert_no_run_left(self):
        self.assertEqual([n for n in self.files()
                          if n.endswith((".pack", ".merging", ".lock", ".new"))], [])

    def test_put_in_whole_or_not_at_all(self):
        # title, runs before it, the parts given, what apply says and its
        # status, the levels it leaves (None: every file as it was)
        for title, before, parts, out, status, left in [
                ("a part for another version of its level", [], ["a.mrg", "old.mrg"],
                 self.OLD_SAID + self.REFUSED, 1, None),
                ("every refused part named", [], ["far.mrg", "a.mrg", "old.mrg"],
                 "far.mrg: Action at offset 10 reaches past the end of the level !\n"
                 + self.OLD_SAID + self.REFUSED, 1, None),
                ("a part that can't be read", [], ["a.mrg", "gone.mrg"],
                 "gone.mrg: File gone.mrg not found.\n" + self.REFUSED, 1, None),
                ("two parts of one level, in the order given", [], ["a.mrg", "a2.mrg", "b.mrg"],
                 said("a.lvl") + said("b.lvl") + "The pack p is in: 2 levels changed.\n", 0,
                 {"a.lvl": b"AA01234C6789", "b.lvl": self.IN["b.lvl"]}),
                ("two parts of one level over the same bytes", [],
                 ["a2.mrg", "b.mrg", "over.mrg"], "a2.mrg and over.mrg change the same bytes of "
                 "a.lvl: the pack can't put both in.\n" + self.REFUSED, 1, None),
                ("a part in already", [("Vorandel", "a.mrg")], ["a.mrg", "b.mrg"],
                 "a.mrg: " + self.ALREADY % ("a.lvl", "") + said("b.lvl")
                 + "The pack p is in: 1 level changed.\n", 0, self.IN),
                ("the pack in already", [("apply", "a.mrg", "a2.mrg", "b.mrg", "--name", "p")],
                 ["a.mrg", "a2.mrg", "b.mrg"],
                 "a.mrg: " + self.ALREADY % ("a.lvl", ", with a2.mrg (pack p) put in since")
                 + "a2.mrg: " + self.ALREADY % ("a.lvl", "") + "b.mrg: "
                 + self.ALREADY % ("b.lvl", "") + "The pack p is in already: nothing to do, "
                 "nothing changed.\n", 0, None)]:
            with self.subTest(title):
                self.lay_out()
                for args in before:
                    self.assertEqual(self.run_any(args)[2], 0, args)
                files = self.snapshot()
                self.assertEqual(self.mrgtool("apply", *parts, "--name", "p"), (out, "", status))
                if left is None:
                    self.assertEqual(self.snapshot(), files)
                    continue
                self.assertEqual(self.levels(), left)
                # One backup of each level, made before the pack.
                self.assertEqual({n: self.content(n + ".bak") for n in left}, self.BEFORE)
                self.assert_no_run_left()

    def test_listed_and_taken_out_by_the_packs_name(self):
        self.lay_out()
        self.assertEqual(self.mrgtool("apply", "a.mrg", "a2.mrg", "b.mrg", "--name", "p")[1:],
                         ("", 0))
        out, err, code = self.mrgtool("mods", "a.lvl")
        self.assertEqual((err, code), ("", 0))
        self.assertEqual([line.split(",")[0] for line in out.splitlines()], [
            "Mods in a.lvl", "  1. a.mrg (pack p)", "  2. a2.mrg (pack p)"])
        shown = json.loads(self.mrgtool("mods", "a.lvl", "--json")[0])
        self.assertEqual([(m["name"], m["pack"], m["bytesOut"], m["bytesIn"])
                          for m in shown["mods"]], [("a.mrg", "p", 0, 2), ("a2.mrg", "p", 1, 1)])
        self.assertEqual(self.mrgtool("remove", "p", "a.lvl"), (
            said("a.lvl") + said("b.lvl") + "Took the pack p out of 2 levels.\n", "", 0))
        self.assertEqual(self.levels(), self.BEFORE)
        for level in self.BEFORE:
            self.assertEqual(self.mrgtool("mods", level),
                             ("%s has no mod in it (%s.history).\n" % (level, level), "", 0))
        self.assert_no_run_left()

    def test_a_level_whose_lock_is_held_refuses_at_once(self):
        for level in self.BEFORE:
            with self.subTest(level):
                self.lay_out()
                files = self.snapshot()
                with self.held(level + ".lock", "lock"):
                    self.assertEqual(self.mrgtool("apply", "a.mrg", "b.mrg", "--name", "p"), (
                        "Another run of Vorandel is working on %s: nothing changed; run this "
                        "merge file again once it has ended.\nThe pack p can't go in whole: "
                        "nothing changed.\n" % level, "", 1))
                self.assertEqual(self.snapshot(), files)

    def kill(self, args, on, call, when):
        """mrgtool run with `args`, killed at its `when`th `call` on the file `on`."""
        done = subprocess.run(
            [STRACE, "-qq", "-f", "-o", os.devnull, "-P", on, "-P", self.path(on),
             "-e", "trace=" + call, "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, when),
             MRGTOOL] + args, cwd=self.folder, capture_output=True, timeout=120)
        self.assertIn(done.returncode, (-9, 128 + 9))  # killed, as strace passes it on

    @unittest.skipIf(STRACE is None, "strace is not installed")
    def test_a_pack_killed_midway_is_put_back_by_the_next_run(self):
        put_back = ("Restored a.lvl from a.lvl.bak: a run was stopped while it rewrote the "
                    "level.\n%sA run on the pack p was stopped midway: every level of it is "
                    "as it was before that run, and a.lvl.pack is deleted.\n")
        both_back = put_back % ("Restored b.lvl from b.lvl.bak: a run was stopped while it "
                                "rewrote the level.\n")
        apply = ["apply", "a.mrg", "b.mrg", "--name", "p"]
        # the next run, what it says after putting the pack back, its
        # status, the levels it leaves
        after_apply = [(("Vorandel", "b.mrg"), said("b.lvl") + "Done !\n", 0,
                        {"a.lvl": LEVEL, "b.lvl": self.IN["b.lvl"]}),
                       (tuple(apply), said("a.lvl") + said("b.lvl")
                        + "The pack p is in: 2 levels changed.\n", 0, self.IN),
                       (("remove", "b.mrg"), "b.lvl has no history beside it (b.lvl.history): "
                        "no mod in it can be told, nothing changed.\n", 1, self.BEFORE)]
        # where the kill falls: title, the run before, the run killed, the
        # call, on which file, its count there, the levels as the kill
        # leaves them, what the next run says putting the pack back, the next runs
        for title, before, killed, call, on, when, levels, back, nexts in [
                ("before b.lvl is rewritten", [], apply, "ftruncate", "b.lvl", 1,
                 {"a.lvl": self.IN["a.lvl"], "b.lvl": LEVEL}, both_back, after_apply),
                # The first clears a journal an earlier run may have left.
                ("at the commit", [], apply, "unlink", "a.lvl.pack", 2, self.IN, both_back,
                 after_apply),
                # The part given is the second level's, which the removal
                # had not marked yet: the rollback happens from the first's.
                ("a removal before it marks b.lvl", apply, ["remove", "b.mrg"], "rename",
                 "b.lvl.merging.new", 1, self.IN, put_back % "",
                 [(("remove", "b.mrg"), said("a.lvl") + said("b.lvl")
                   + "Took the pack p out of 2 levels.\n", 0, self.BEFORE)])]:
            for args, out, status, left in nexts:
                with self.subTest(title, next=args):
                    self.lay_out()
                    if before:
                        self.assertEqual(self.mrgtool(*before)[2], 0)
                    self.kill(killed, on, call, when)
                    self.assertEqual(self.levels(), levels)
                    self.assertIsNotNone(self.content("a.lvl.pack"))
                    self.assertEqual(self.run_any(args), (back + out, "", status))
                    self.assertEqual(self.levels(), left)
                    self.assert_no_run_left()


if __name__ == "__main__":
    MRGTOOL = os.path.abspath(sys.argv.pop(1))
    VORANDEL = os.path.abspath(sys.argv.pop(1))
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--holder")
    options, sys.argv[1:] = parser.parse_known_args()  # the rest is unittest's
    cli_test.HOLDER = options.holder and os.path.abspath(options.holder)
    unittest.main()
