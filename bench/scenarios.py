"""The benchmark's inputs: a level, a merge file for it and the level the
merge must give, generated deterministically from a seed.

    paths = generate("S2", seed=1, folder="build/bench/inputs")
    paths.original, paths.merge, paths.expected, paths.level_name

The merge file is written here, by the format's own rules (through the
tests' merge file writer), not by any tool, so the inputs do not depend on
what they measure. A folder that already holds a scenario made from the same
seed is reused as it is.
"""
import mmap
import os
import random
import sys
from collections import namedtuple

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests", "cli"))
import mergefile  # noqa: E402

MiB = 1 << 20
GiB = 1 << 30

# name: (level size, number of actions, what an action does)
#   "small": an insert, a delete or a replace of 1 to 16 bytes each way
#   "big":   inserts of equal size, INSERTED bytes in all
INSERTED_S3 = 512 * MiB
SCENARIOS = {
    "S1": (1 * GiB, 1_000, "small"),
    "S2": (256 * MiB, 1_000_000, "small"),
    "S3": (64 * MiB, 8, "big"),
}
DESCRIPTIONS = {
    "S1": "1 GiB level, 1,000 small actions",
    "S2": "256 MiB level, 1,000,000 small actions",
    "S3": "64 MiB level, 8 actions inserting 512 MiB",
}
# Bumped whenever the generator changes, so that older inputs are remade.
GENERATOR_VERSION = 1

Paths = namedtuple("Paths", "original merge expected level_name")

_CHUNK = 16 * MiB


def _actions(rng, level_size, count, kind):
    """(offset, removeLength, insertLength) in file order: one action in each
    of `count` equal strides of the level, so they are scattered over it and
    never overlap."""
    stride = level_size // count
    for i in range(count):
        if kind == "big":
            remove, insert = 0, INSERTED_S3 // count
        else:
            shape = rng.randrange(3)
            remove = 0 if shape == 0 else rng.randint(1, 16)
            insert = 0 if shape == 1 else rng.randint(1, 16)
        offset = i * stride + rng.randrange(stride - remove + 1)
        yield offset, remove, insert


def _write_level(rng, path, size):
    with open(path, "wb") as f:
        for at in range(0, size, _CHUNK):
            f.write(rng.randbytes(min(_CHUNK, size - at)))


def _write_merge_and_expected(rng, level_path, merge_path, expected_path,
                              level_name, actions):
    with open(level_path, "rb") as lf, \
            mmap.mmap(lf.fileno(), 0, access=mmap.ACCESS_READ) as level, \
            open(merge_path, "wb", buffering=_CHUNK) as merge, \
            open(expected_path, "wb", buffering=_CHUNK) as expected:
        merge.write(mergefile.name_field(level_name))
        kept = 0
        for offset, remove, insert in actions:
            data = rng.randbytes(insert)
            merge.write(mergefile.record(offset, remove, data))
            expected.write(level[kept:offset])
            expected.write(data)
            kept = offset + remove
        expected.write(level[kept:])


def generate(name, seed, folder):
    """Makes scenario `name` (S1, S2 or S3) in `folder` unless it is there
    already, and returns its Paths. The merge file names the level
    `level_name`, a bare file name: run the tool in a folder that holds a
    copy of `original` under that name."""
    level_size, count, kind = SCENARIOS[name]
    os.makedirs(folder, exist_ok=True)
    base = os.path.join(folder, name.lower())
    paths = Paths(base + ".orig", base + ".mrg", base + ".expected",
                  name.lower() + ".lvl")
    stamp = base + ".stamp"
    made_from = "%s seed=%d version=%d\n" % (name, seed, GENERATOR_VERSION)
    if os.path.exists(stamp):
        with open(stamp) as f:
            if f.read() == made_from:
                return paths
        os.remove(stamp)

    rng = random.Random("%s-%d" % (name, seed))
    _write_level(rng, paths.original, level_size)
    actions = list(_actions(rng, level_size, count, kind))
    _write_merge_and_expected(rng, paths.original, paths.merge, paths.expected,
                              paths.level_name, actions)
    with open(stamp, "w") as f:
        f.write(made_from)
    return paths


def disk_needed(name):
    """Bytes of disk the scenario's inputs take."""
    level_size, count, kind = SCENARIOS[name]
    inserted = INSERTED_S3 if kind == "big" else count * 8
    merge = 4 + 8 + count * 14 + inserted
    return level_size + merge + level_size + inserted


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: scenarios.py S1|S2|S3 SEED FOLDER")
    print(*generate(sys.argv[1], int(sys.argv[2]), sys.argv[3]), sep="\n")
