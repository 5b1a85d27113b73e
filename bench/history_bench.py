#!/usr/bin/env python3
"""Taking a mod out of a level under later mods, on S2's level: five mods go
in one after another, each by Vorandel, and `mrgtool remove` then takes the
first of them out, under the four others. Each mod has ACTIONS small actions
(inserts, deletes and replaces of 1 to 16 bytes), one in each of ACTIONS
equal strides of the level, in a place of the stride of its own, so that no
two mods touch the same bytes.

Timed, as medians of --runs runs on a fresh copy of the modded folder each
(the copies are made outside the timed region, and `sync` runs before
each): `mrgtool remove` of the first mod and of the last, `mrgtool original`,
and beside them `cp` of the level and the history and the durable floor, the
same copy with `sync` of the level. Each result is checked against the
level the four remaining mods make of the original, put together here by
the format's rules, and the history left must read back to the original
(tests/cli/mergefile.py). Reported too: the history's size, the bytes the
five mods removed and their actions, and one Vorandel run's time for each
mod as it went in.

Run: python3 bench/history_bench.py --vorandel PATH --mrgtool PATH
                                    [--folder DIR] [--runs N] [--actions N]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "cli"))
import scenarios  # noqa: E402
from mergefile import apply_actions, merge_file, read_history, unwind  # noqa: E402

MODS = 5
NAME = "s2.lvl"


def mods_of(level_size, actions, seed):
    """Each mod's actions on the original, (offset, remove, data): mod k acts in
    the k-th fifth of each stride, so no two touch the same bytes."""
    rng = random.Random("history-%d" % seed)
    stride = level_size // actions
    slot = stride // MODS
    mods = [[] for _ in range(MODS)]
    for i in range(actions):
        for k in range(MODS):
            shape = rng.randrange(3)
            remove = 0 if shape == 0 else rng.randint(1, 16)
            insert = 0 if shape == 1 else rng.randint(1, 16)
            # A byte of the slot's own stays between this action and the next slot.
            at = i * stride + k * slot + rng.randrange(slot - remove - 1) + 1
            mods[k].append((at, remove, rng.randbytes(insert)))
    return mods


def in_turn(mods):
    """Each mod's actions as it goes in after the ones before it: moved by
    the change in length they made before each action."""
    placed = []
    for k, actions in enumerate(mods):
        earlier = sorted(((at, len(data) - remove) for m in mods[:k] for at, remove, data in m))
        moved, shift, j = [], 0, 0
        for at, remove, data in actions:
            while j < len(earlier) and earlier[j][0] < at:
                shift += earlier[j][1]
                j += 1
            moved.append((at + shift, remove, data))
        placed.append(moved)
    return placed


def timed(argv, cwd):
    os.sync()
    start = time.perf_counter()
    done = subprocess.run(argv, cwd=cwd, capture_output=True)
    return time.perf_counter() - start, done


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--vorandel", required=True)
    parser.add_argument("--mrgtool", required=True)
    parser.add_argument("--folder", default="build/bench")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--actions", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    vorandel, mrgtool = os.path.abspath(args.vorandel), os.path.abspath(args.mrgtool)
    paths = scenarios.generate("S2", args.seed, os.path.join(args.folder, "inputs"))
    with open(paths.original, "rb") as f:
        original = f.read()
    mods = mods_of(len(original), args.actions, args.seed)
    placed = in_turn(mods)

    modded = os.path.join(args.folder, "history", "modded")
    shutil.rmtree(os.path.dirname(modded), ignore_errors=True)
    os.makedirs(modded)
    shutil.copyfile(paths.original, os.path.join(modded, NAME))
    went_in = []
    for k, actions in enumerate(placed):
        with open(os.path.join(modded, "mod%d.mrg" % (k + 1)), "wb") as f:
            f.write(merge_file(NAME, actions))
        seconds, done = timed([vorandel, "mod%d.mrg" % (k + 1)], modded)
        if not done.stdout.endswith(b"Done !\n"):
            sys.exit("mod %d did not go in: %r" % (k + 1, done.stdout))
        went_in.append(seconds)
    history = os.path.join(modded, NAME + ".history")
    # What the level must be without the first mod: the others, in turn.
    want = original
    for actions in in_turn(mods[1:]):
        want = apply_actions(want, actions)

    commands = {
        "remove the first of five": ([mrgtool, "remove", "mod1.mrg"], want),
        "remove the last of five": ([mrgtool, "remove", "mod5.mrg"], None),
        "original": ([mrgtool, "original", NAME], original),
        "cp level and history": (["sh", "-c", "cp %s x && cp %s.history y" % (NAME, NAME)],
                                 None),
        "durable floor": (["sh", "-c", "cp %s x && sync x" % NAME], None),
    }
    times = {name: [] for name in commands}
    run = os.path.join(args.folder, "history", "run")
    for _ in range(args.runs):
        for name, (argv, expected) in commands.items():
            shutil.rmtree(run, ignore_errors=True)
            shutil.copytree(modded, run)
            seconds, done = timed(argv, run)
            if done.returncode != 0:
                sys.exit("%s failed: %r %r" % (name, done.stdout, done.stderr))
            if expected is not None:
                with open(os.path.join(run, NAME), "rb") as f:
                    level = f.read()
                if level != expected:
                    sys.exit("%s left another level" % name)
                with open(os.path.join(run, NAME + ".history"), "rb") as f:
                    if unwind(level, f.read())[0] != original:
                        sys.exit("%s left a history that doesn't lead to the original" % name)
            times[name].append(seconds)
    shutil.rmtree(run, ignore_errors=True)

    with open(history, "rb") as f:
        _, entries = read_history(f.read())
    removed = sum(remove for m in mods for _, remove, _ in m)
    print("S2's level, %d MiB; five mods of %d actions each, %d bytes removed in all;"
          " the history %d bytes (%d entries)" % (
              len(original) >> 20, args.actions, removed, os.path.getsize(history),
              len(entries)))
    print("each mod went in by Vorandel in: %s s" % ", ".join("%.3f" % t for t in went_in))
    print("\n| Command | median | min | max |\n|---|---:|---:|---:|")
    for name, values in times.items():
        print("| %s | %.3f s | %.3f s | %.3f s |" % (
            name, statistics.median(values), min(values), max(values)))


if __name__ == "__main__":
    main()
