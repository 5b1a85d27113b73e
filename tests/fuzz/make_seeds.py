"""Writes the fuzz targets' seed corpora: for merge_fuzz, small valid and
broken merge files, each after one byte that gives the size of the level they
are applied to, with and without the record of the level; for mark_fuzz,
marks as a run writes them, of 1.0.0, and damaged, each after one byte that
chooses the level and backup beside it; for diff_fuzz, pairs of related
strings in its input's terms (see diff_fuzz.cpp), from byte 1 on after byte
0, how many times the first string repeats its part; for history_fuzz,
histories as a run writes them, after the three bytes and the level its input
starts with (see history_fuzz.cpp). Findings of the fuzzers are added to the
corpora as they are, beside these.

Run: /usr/bin/python3 make_seeds.py [folder]  (default: corpus/ beside this file)"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from mergefile import (history_file, level_record, merge_file, name_field, record,  # noqa: E402
                       rewrite_mark)

HEAD = name_field("l.lvl")


def level(size):
    """The level merge_fuzz makes of a size: its bytes all distinct."""
    return bytes((i * 7 + 1) & 0xFF for i in range(size))


# The level and merged level mark_fuzz gives the decision.
BACKUP, MERGED = b"0123456789", b"0123abc6789"

SEEDS = {
    # level size, merge file
    "valid-no-actions": (10, merge_file("l.lvl")),
    "valid-replace": (10, merge_file("l.lvl", [(4, 2, b"abc")])),
    "valid-insert-and-append": (10, merge_file("l.lvl", [(0, 0, b"<"), (10, 0, b">")])),
    "valid-adjacent-and-delete": (20, merge_file("l.lvl", [(2, 2, b"A"), (4, 3, b""),
                                                           (19, 1, b"Z")])),
    "valid-empty-level": (0, merge_file("l.lvl", [(0, 0, b"new")])),
    "valid-padded-name-field": (8, merge_file("lev.dat", [(7, 1, b"!")], field_length=16)),
    "broken-name-without-nul": (10, b"\x05\0\0\0l.lvl"),
    "broken-name-length-huge": (10, b"\xff\xff\xff\xffl.lvl\0"),
    "broken-truncated-head": (10, HEAD + record(0, 0)[:9]),
    "broken-unknown-code": (10, HEAD + record(0, 0, b"x") + record(1, 1, code=3)),
    "broken-insert-length-wraps": (10, HEAD + record(0, 0, b"abc", insert_length=0xFFFFFFFF)),
    "broken-misplaced": (10, HEAD + record(4, 2, b"a") + record(5, 0, b"b")),
    "broken-remove-wraps": (10, HEAD + record(0xFFFFFFF0, 0x20)),
    "broken-past-level-end": (10, HEAD + record(0, 1, b"A") + record(9, 2)),
    "valid-record": (10, merge_file("l.lvl", [(4, 2, b"abc")], tail=level_record(
        level(10), level(4) + b"abc" + level(10)[6:]))),
    "valid-record-already-merged": (10, merge_file("l.lvl", [(0, 0, b"x")], tail=level_record(
        b"", level(10)))),
    "broken-record-damaged": (10, merge_file("l.lvl", [(4, 2, b"abc")], tail=level_record(
        level(10), level(10))[:-1] + b"\0")),
}

MARK_1_0 = ("Vorandel is rewriting the level maps/l.lvl.\nIf this file is still here once no "
            "run is going on, a run was stopped before it finished: the next run on this level "
            "first puts maps/l.lvl back from maps/l.lvl.bak. Leave this file where it is.\n"
            "backup size: 10\nbackup sha256, first half: %s\nbackup sha256, second half: %s\n"
            % ("a" * 64, "b" * 64)).encode()

MARK_SEEDS = {
    # chooser byte (level, backup), mark
    "whole-level-in-pieces": (0, rewrite_mark("maps/l.lvl", BACKUP, MERGED)),
    "whole-level-finished": (1, rewrite_mark("maps/l.lvl", BACKUP, MERGED)),
    "whole-backup-changed": (8, rewrite_mark("maps/l.lvl", BACKUP, MERGED)),
    "of-1.0.0": (0, MARK_1_0),
    "damaged-cut-short": (0, rewrite_mark("maps/l.lvl", BACKUP, MERGED)[:-3]),
}


def diff_input(repeats, part, edits):
    """The byte before the rest of a diff_fuzz input, and the rest. repeats:
    1 to 64; edits: (kind, share of B in 1/65536, first, second, bytes put in
    for an even kind)."""
    rest = struct.pack("<H", len(part)) + part
    for kind, where, first, second, data in edits:
        rest += bytes([kind]) + struct.pack("<H", where) + bytes([first, second]) + data
    return repeats - 1, rest


RNG = random.Random(1)
TEXT = b"gold: 100\ndoor: closed\nname: Old Keep\n" * 6
NOISE = RNG.randbytes(1024)
DIFF_SEEDS = {
    "equal": diff_input(1, TEXT, []),
    "replaced-word": diff_input(1, TEXT, [(0, 20000, 3, 4, b"5000")]),
    "small-alphabet": diff_input(4, bytes(RNG.choice(b"ab") for _ in range(300)),
                                 [(0, 9000, 2, 1, b"b"), (2, 40000, 0, 2, b"aa")]),
    "scattered-edits": diff_input(1, NOISE, [(2 * k, 3000 * k, k % 5, 3, NOISE[k:k + 3])
                                             for k in range(20)]),
    "copied-block": diff_input(8, NOISE, [(1, 1000, 128, 100, b"")]),
    "repeats-far": diff_input(64, NOISE[:512] * 4, [(0, 200, 255, 0, b""),
                                                     (1, 30000, 200, 255, b""),
                                                     (0, 60000, 40, 8, NOISE[:8])]),
}


def history_input(make_true, taken_out, original, mods, cut=0):
    """A history_fuzz input: whether the history is made true to the level
    first, which entries are taken out (bit k: entry k), and the history of
    `mods` on `original` beside the level they make, less its last `cut`
    bytes."""
    history, level = history_file(original, mods)
    return make_true, bytes([taken_out, len(level)]) + level + history[:len(history) - cut]


KEEP = b"gold: 100\ndoor: closed\nname: Old Keep\n"
HISTORY_SEEDS = {
    "empty": history_input(0, 0, KEEP, []),
    "one-mod": history_input(0, 1, KEEP, [("gold.mrg", [(6, 3, b"5000")])]),
    # The door's mod comes out from under the other two.
    "three-mods": history_input(1, 2, KEEP, [
        ("gold.mrg", [(6, 3, b"5000")]),
        ("door.mrg", [(17, 6, b"open")], 1700000000, 77, b"keep pack"),
        ("name.mrg", [(28, 4, b""), (32, 0, b"New ")], 1700000001, 77, b"keep pack")]),
    # The third mod changes the gold the first one wrote.
    "three-mods-blocked": history_input(1, 1, KEEP, [
        ("gold.mrg", [(6, 3, b"5000")]),
        ("door.mrg", [(17, 6, b"open")]),
        ("more-gold.mrg", [(6, 4, b"9")])]),
    "cut-short": history_input(0, 1, KEEP, [("gold.mrg", [(6, 3, b"5000")])], cut=3),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus")
    for kind, seeds in [("merge", SEEDS), ("mark", MARK_SEEDS), ("diff", DIFF_SEEDS),
                        ("history", HISTORY_SEEDS)]:
        os.makedirs(os.path.join(folder, kind), exist_ok=True)
        for name, (first, content) in seeds.items():
            with open(os.path.join(folder, kind, name), "wb") as f:
                f.write(bytes([first]) + content)


if __name__ == "__main__":
    main()
