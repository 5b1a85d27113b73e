"""Writes the fuzz target's seed corpus: small valid and broken merge files,
each after one byte that gives the size of the level they are applied to.
Findings of the fuzzer are added to the corpus as they are, beside these.

Run: python3 make_seeds.py [folder]  (default: corpus/ beside this file)"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from mergefile import merge_file, name_field, record  # noqa: E402

HEAD = name_field("l.lvl")

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
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, (level_size, merge) in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(bytes([level_size]) + merge)


if __name__ == "__main__":
    main()
