"""Writes the fuzz targets' seed corpora: for merge_fuzz, small valid and
broken merge files, each after one byte that gives the size of the level they
are applied to (corpus/); for diff_fuzz, pairs of related strings in its
input's terms (diff_corpus/, see diff_fuzz.cpp). Findings of the fuzzers are
added to the corpora as they are, beside these.

Run: python3 make_seeds.py [folder]  (default: beside this file)"""
import os
import random
import struct
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



def diff_input(repeats, part, edits):
    """repeats: 1 to 64; edits: (kind, share of B in 1/65536, first, second,
    bytes put in for an even kind)."""
    out = bytes([repeats - 1]) + struct.pack("<H", len(part)) + part
    for kind, where, first, second, data in edits:
        out += bytes([kind]) + struct.pack("<H", where) + bytes([first, second]) + data
    return out


def diff_seeds():
    rng = random.Random(1)
    text = b"gold: 100\ndoor: closed\nname: Old Keep\n" * 6
    noise = rng.randbytes(1024)
    return {
        "equal": diff_input(1, text, []),
        "replaced-word": diff_input(1, text, [(0, 20000, 3, 4, b"5000")]),
        "small-alphabet": diff_input(4, bytes(rng.choice(b"ab") for _ in range(300)),
                                     [(0, 9000, 2, 1, b"b"), (2, 40000, 0, 2, b"aa")]),
        "scattered-edits": diff_input(1, noise, [(2 * k, 3000 * k, k % 5, 3, noise[k:k + 3])
                                                 for k in range(20)]),
        "copied-block": diff_input(8, noise, [(1, 1000, 128, 100, b"")]),
        "repeats-far": diff_input(64, noise[:512] * 4, [(0, 200, 255, 0, b""),
                                                         (1, 30000, 200, 255, b""),
                                                         (0, 60000, 40, 8, noise[:8])]),
    }


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else here
    for folder, seeds in (("corpus", {name: bytes([level_size]) + merge
                                      for name, (level_size, merge) in SEEDS.items()}),
                          ("diff_corpus", diff_seeds())):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(root, folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
