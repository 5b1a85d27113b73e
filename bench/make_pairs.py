"""The pairs of files `bench/make_bench.py` gives `mrgtool make`, of the kinds
mod authors diff, made on the machine from files every Debian machine with
the project's build tools has, or from a seed; nothing here is checked in.

    pair = generate("tar", seed=1, folder="build/bench/make")
    pair.original, pair.modified, pair.what

  tar        a tar of /usr/share/doc (at most 128 MiB of it), tarred again
             after 3 of its text files were edited
  sqlite     a SQLite database of about 27 MiB, and a copy after a few
             thousand updates, inserts and deletes (Python's sqlite3)
  builds     two builds of one program: GCC's C compiler proper, cc1, for
             Linux and for Windows (the mingw-w64 cross compiler of the same
             GCC release, which the Windows build installs); where that is
             missing, mrgtool built twice (-O2 -g), for two -march targets
  scattered  768 MiB from the seed, and a copy with 200 small edits scattered
             over it
  map        a 9 MiB tile map (rows of floor between walls that run down the
             map, 200 entities), and a copy with 2 KiB of rows cut, one 100-byte run of wall put in
             further on, and 30 entities moved
  records    8 MiB of 32-byte cell records, kinds in stretches, and a copy
             with one field changed in every record of one kind (about one
             in eight)
  zeros      64 MiB of zeros holding 4 KiB blocks of data, and a copy with 8
             blocks rewritten (new data, data where there were zeros, one
             sector of a block)

Where the generator knows the edits that made the pair, it writes them to
ORIGINAL.edits, a line "aAt aLength bAt bLength" each, in order:
bench/page_bound.cpp works out from them the least an in-order merge file
can cost.

A folder that already holds a pair made from the same seed and generator
version reuses it.
"""
import glob
import io
import os
import random
import re
import shutil
import sqlite3
import struct
import subprocess
import sys
import tarfile
from collections import namedtuple

MiB = 1 << 20
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# Bumped whenever a generator changes, so that older pairs are remade.
GENERATOR_VERSION = 2

Pair = namedtuple("Pair", "original modified what")

NAMES = ("tar", "sqlite", "builds", "scattered", "map", "records", "zeros")

TAR_TREE = "/usr/share/doc"
TAR_MOST = 128 * MiB
SCATTERED_SIZE = 768 * MiB
SCATTERED_EDITS = 200
MAP_WIDTH, MAP_HEIGHT = 1024, 9 * 1024
RECORD_SIZE, RECORDS = 32, 8 * MiB // 32
ZEROS_SIZE, ZEROS_BLOCK = 64 * MiB, 4096


def _stamped(folder, name, seed, make):
    """Runs make(original, modified) unless the pair is there from this seed;
    returns the paths and what make said the pair is."""
    os.makedirs(folder, exist_ok=True)
    base = os.path.join(folder, name)
    stamp = base + ".stamp"
    made_from = "%s seed=%d version=%d\n" % (name, seed, GENERATOR_VERSION)
    if os.path.exists(stamp):
        with open(stamp) as f:
            lines = f.read().split("\n", 1)
        if lines[0] + "\n" == made_from and len(lines) == 2:
            original, modified, what = lines[1].rstrip("\n").split("\n", 2)
            return Pair(original, modified, what)
        os.remove(stamp)
    original, modified, what = make(base, random.Random("%s-%d" % (name, seed)))
    with open(stamp, "w") as f:
        f.write(made_from + "\n".join((original, modified, what)) + "\n")
    return Pair(original, modified, what)


def _tar_members(tree):
    """Regular files and symbolic links under tree, in name order, up to TAR_MOST."""
    members, total = [], 0
    for folder, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if os.path.islink(path) or os.path.isfile(path):
                size = 0 if os.path.islink(path) else os.path.getsize(path)
                if total + size > TAR_MOST:
                    return members
                members.append(path)
                total += size + 512
    return members


def _edit_text(rng, text):
    """A few lines changed, one added and one taken out, as an author edits."""
    lines = text.split(b"\n")
    for _ in range(3):
        at = rng.randrange(len(lines))
        lines[at] = lines[at].replace(b" ", b"  ", 1) + b" (revised)"
    lines.insert(rng.randrange(len(lines) + 1),
                 b"Edited by the benchmark: %d" % rng.randrange(10 ** 9))
    if len(lines) > 4:
        del lines[rng.randrange(len(lines))]
    return b"\n".join(lines)


def _write_tar(path, members, edited):
    with tarfile.open(path, "w", format=tarfile.GNU_FORMAT) as tar:
        for member in members:
            info = tar.gettarinfo(member, arcname=member.lstrip("/"))
            if member in edited:
                data = edited[member]
                info.size = len(data)
                info.mtime += 86400
                tar.addfile(info, io.BytesIO(data))
            elif info.isfile():
                with open(member, "rb") as f:
                    tar.addfile(info, f)
            else:
                tar.addfile(info)


def _make_tar(base, rng):
    members = _tar_members(TAR_TREE)
    texts = [m for m in members if not os.path.islink(m) and not m.endswith(".gz") and
             4096 <= os.path.getsize(m) <= 256 * 1024]
    if len(texts) < 3:
        sys.exit("%s holds too few text files for the tar pair" % TAR_TREE)
    edited = {}
    for member in rng.sample(texts, 3):
        with open(member, "rb") as f:
            edited[member] = _edit_text(rng, f.read())
    original, modified = base + ".orig.tar", base + ".edited.tar"
    _write_tar(original, members, {})
    _write_tar(modified, members, edited)
    return original, modified, "a tar of %s re-tarred after editing 3 files" % TAR_TREE


def _words(rng, count):
    return " ".join(rng.choice(("level", "keep", "gold", "door", "tower", "stone",
                                "river", "guard", "north", "bridge", "torch", "map"))
                    for _ in range(count))


def _make_sqlite(base, rng):
    original, modified = base + ".orig.db", base + ".changed.db"
    for path in (original, modified):
        if os.path.exists(path):
            os.remove(path)
    db = sqlite3.connect(original)
    db.executescript("""
        CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, zone INTEGER,
                            weight REAL, notes TEXT);
        CREATE INDEX items_name ON items (name);
        CREATE INDEX items_zone ON items (zone, weight);
    """)
    rows = [(i, "%s-%d" % (_words(rng, 2), rng.randrange(10 ** 6)), rng.randrange(500),
             rng.random() * 100, _words(rng, rng.randrange(10, 40)))
            for i in range(1, 110_001)]
    db.executemany("INSERT INTO items VALUES (?, ?, ?, ?, ?)", rows)
    db.commit()
    db.close()
    shutil.copyfile(original, modified)
    db = sqlite3.connect(modified)
    next_id = len(rows) + 1
    for _ in range(3):  # three batches, each one transaction
        for _ in range(1000):
            db.execute("UPDATE items SET weight = ?, zone = ? WHERE id = ?",
                       (rng.random() * 100, rng.randrange(500), rng.randrange(1, next_id)))
        for _ in range(300):
            db.execute("UPDATE items SET notes = ? WHERE id = ?",
                       (_words(rng, rng.randrange(10, 40)), rng.randrange(1, next_id)))
        for _ in range(500):
            db.execute("INSERT INTO items VALUES (?, ?, ?, ?, ?)",
                       (next_id, "%s-%d" % (_words(rng, 2), rng.randrange(10 ** 6)),
                        rng.randrange(500), rng.random() * 100,
                        _words(rng, rng.randrange(10, 40))))
            next_id += 1
        for _ in range(500):
            db.execute("DELETE FROM items WHERE id = ?", (rng.randrange(1, next_id),))
        db.commit()
    db.close()
    return original, modified, ("a %d MiB SQLite database after 3 batches of 1,300 updates, "
                                "500 inserts and 500 deletes"
                                % round(os.path.getsize(original) / MiB))


def _cc1_pair():
    """GCC's cc1 for Linux and the same GCC release's cc1 for Windows, or None."""
    for native in sorted(glob.glob("/usr/lib/gcc/x86_64-linux-gnu/*/cc1")):
        release = os.path.basename(os.path.dirname(native))
        for cross in sorted(glob.glob("/usr/lib/gcc/x86_64-w64-mingw32/%s*/cc1" % release)):
            if re.fullmatch(r"%s(-posix|-win32)?" % re.escape(release),
                            os.path.basename(os.path.dirname(cross))):
                return native, cross
    return None


def _make_builds(base, rng):
    del rng  # the same builds every time
    found = _cc1_pair()
    if found is not None:
        return found[0], found[1], "GCC's cc1 for Linux and for Windows (one GCC release)"
    outputs = []
    for march in ("x86-64", "x86-64-v3"):
        tree = "%s.%s" % (base, march)
        subprocess.run(["cmake", "-S", ROOT, "-B", tree, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBUILD_TESTING=OFF",
                        "-DCMAKE_CXX_FLAGS=-march=" + march], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", tree, "--target", "mrgtool"], check=True,
                       stdout=subprocess.DEVNULL)
        outputs.append(os.path.join(tree, "mrgtool"))
    return outputs[0], outputs[1], "mrgtool built for -march=x86-64 and for x86-64-v3"


def _make_scattered(base, rng):
    original, modified = base + ".orig", base + ".edited"
    chunk = 16 * MiB
    with open(original, "wb") as f:
        for _ in range(SCATTERED_SIZE // chunk):
            f.write(rng.randbytes(chunk))
    stride = SCATTERED_SIZE // SCATTERED_EDITS
    edits = []
    with open(original, "rb") as src, open(modified, "wb") as dst:
        kept = 0
        for i in range(SCATTERED_EDITS):
            remove = rng.randrange(17)
            at = i * stride + rng.randrange(stride - remove)
            shutil.copyfileobj(_Limited(src, at - kept), dst, chunk)
            src.seek(remove, os.SEEK_CUR)
            data = rng.randbytes(rng.randrange(17))
            edits.append((at, remove, dst.tell(), len(data)))
            dst.write(data)
            kept = at + remove
        shutil.copyfileobj(src, dst, chunk)
    _write_edits(original, edits)
    return original, modified, ("%d MiB with %d small edits scattered over it"
                                % (SCATTERED_SIZE // MiB, SCATTERED_EDITS))


class _Limited:
    """The next `left` bytes of a file, for copyfileobj."""

    def __init__(self, f, left):
        self.f, self.left = f, left

    def read(self, n):
        data = self.f.read(min(n, self.left))
        self.left -= len(data)
        return data


def _write_edits(original, edits):
    with open(original + ".edits", "w") as f:
        f.writelines("%d %d %d %d\n" % edit for edit in edits)


def _write_edited(base, data, changes):
    """Writes data and a copy with changes, (aAt, aLength, new bytes) in
    order and apart, made in it; and the edits that made the copy."""
    original, modified = base + ".orig", base + ".edited"
    with open(original, "wb") as f:
        f.write(data)
    edits, kept = [], 0
    with open(modified, "wb") as f:
        for at, length, new in changes:
            f.write(data[kept:at])
            edits.append((at, length, f.tell(), len(new)))
            f.write(new)
            kept = at + length
        f.write(data[kept:])
    _write_edits(original, edits)
    return original, modified


def _make_map(base, rng):
    """A tile map a row after another: rows of floor between walls that run
    down the whole map, with door gaps and a few entities; then rows cut, a
    run of wall put in and entities moved, as a designer edits."""
    width, height = MAP_WIDTH, MAP_HEIGHT
    floor, wall = b" "[0], b"#"[0]
    tiles = bytearray(bytes([floor]) * (width * height))
    tiles[:width] = bytes([wall]) * width
    tiles[-width:] = bytes([wall]) * width
    columns = [0, width - 1] + rng.sample(range(1, width - 1), 40)
    for row in range(height):
        for column in columns:
            tiles[row * width + column] = wall
    for column in columns[2:]:  # doors through the walls between rooms
        for row in range(rng.randrange(20), height, rng.randrange(30, 60)):
            tiles[row * width + column] = floor
    entities = []
    while len(entities) < 200:
        at = rng.randrange(width, width * (height - 1))
        if tiles[at] == floor:
            tiles[at] = rng.choice(b"gkdt")
            entities.append(at)
    cut = rng.randrange(height // 8, height // 2) * width
    cut_length = 2 * width
    changes = {}
    for at in rng.sample(entities, 30):
        to = at
        while tiles[to] != floor or to in changes or cut <= to < cut + cut_length:
            to = rng.randrange(max(width, at - 20 * width),
                               min(width * (height - 1), at + 20 * width))
        changes[at] = bytes([floor])
        changes[to] = bytes([tiles[at]])
    changes = [(at, 1, new) for at, new in changes.items()
               if not cut <= at < cut + cut_length]
    changes.append((cut, cut_length, b""))
    changes.append((rng.randrange(height // 2, height - 1) * width + rng.randrange(width),
                    0, bytes([wall]) * 100))
    original, modified = _write_edited(base, bytes(tiles), sorted(changes))
    return original, modified, ("a %d MiB tile map with 2 KiB of rows cut, 100 bytes of "
                                "wall put in and 30 entities moved"
                                % (width * height // MiB))


def _make_records(base, rng):
    """A map's cells as records, one after another with no place in them: a
    kind that goes on in stretches, flags, hit points and a level by kind, a
    script now and then, and reserved zeros; then the hit points of one
    kind raised."""
    hit_points = [rng.randrange(20, 200) for _ in range(8)]
    data = bytearray()
    kinds = []
    while len(kinds) < RECORDS:
        kind = rng.randrange(8)
        for _ in range(min(rng.randrange(1, 50), RECORDS - len(kinds))):
            script = rng.randrange(1, 5000) if rng.random() < 0.05 else 0
            data += struct.pack("<BBHHI22x", kind, 0, hit_points[kind], 1 + kind // 2,
                                script)
            kinds.append(kind)
    raised = hit_points[3] + rng.randrange(1, 100)
    changes = [(n * RECORD_SIZE + 2, 2, struct.pack("<H", raised))
               for n, kind in enumerate(kinds) if kind == 3]
    original, modified = _write_edited(base, bytes(data), changes)
    return original, modified, ("%d MiB of %d-byte cell records with one field "
                                "changed in %d of them"
                                % (len(data) // MiB, RECORD_SIZE, len(changes)))


def _make_zeros(base, rng):
    """Zeros with blocks of data here and there, as a disk image or a
    sparse level; then a few blocks rewritten in place."""
    blocks = ZEROS_SIZE // ZEROS_BLOCK
    data = bytearray(ZEROS_SIZE)
    full = sorted(rng.sample(range(blocks), blocks // 64))
    for block in full:
        data[block * ZEROS_BLOCK:(block + 1) * ZEROS_BLOCK] = rng.randbytes(ZEROS_BLOCK)
    empty = sorted(set(range(blocks)) - set(full))
    rewritten = rng.sample(full, 6)
    changes = [(block * ZEROS_BLOCK, ZEROS_BLOCK, rng.randbytes(ZEROS_BLOCK))
               for block in rewritten[:5] + rng.sample(empty, 2)]
    changes.append((rewritten[5] * ZEROS_BLOCK + 512, 512, rng.randbytes(512)))
    changes.sort()
    original, modified = _write_edited(base, bytes(data), changes)
    return original, modified, ("%d MiB of zeros holding %d blocks of %d bytes, %d of "
                                "them rewritten" % (ZEROS_SIZE // MiB, len(full),
                                                    ZEROS_BLOCK, len(changes)))


MAKERS = {"tar": _make_tar, "sqlite": _make_sqlite, "builds": _make_builds,
          "scattered": _make_scattered, "map": _make_map, "records": _make_records,
          "zeros": _make_zeros}


def generate(name, seed, folder):
    return _stamped(folder, name, seed, MAKERS[name])


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in MAKERS:
        sys.exit("usage: make_pairs.py %s SEED FOLDER" % "|".join(NAMES))
    print(*generate(sys.argv[1], int(sys.argv[2]), sys.argv[3]), sep="\n")
