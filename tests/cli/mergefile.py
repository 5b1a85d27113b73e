"""Builds merge files byte by byte, and an independent model of what the
tool must do with one."""
import struct

REPLACE = 2
USAGE = ("Usage:\n\tVorandel.exe [file.mrg]\n\n"
         "With [file.mrg] the file to be merged with the kelvarin level.\n")
PRESS_ENTER = "Press Enter to close this window.\n"


def xxh():
    """xxHash, from Debian's python3-xxhash: only what fingerprints needs it."""
    import xxhash
    return xxhash


def fingerprint(content):
    """A level's size and XXH3-128, as the tool writes them."""
    return len(content), xxh().xxh3_128(content).digest()


def rewrite_mark(name, backup, merged, first_change=None):
    """The mark a run leaves beside the level `name` while it rewrites it,
    for a backup holding `backup`, from which it makes `merged`, first
    changing it at `first_change` (None: a mark of 1.1.0, which doesn't say)."""
    return ("Vorandel is rewriting the level %s.\n"
            "If this file is still here once no run is going on, a run was stopped before "
            "it finished: the next run on this level finds %s finished, or first puts it "
            "back from %s.bak. Leave this file where it is.\n"
            "backup size: %d\nbackup xxh3-128: %s\nmerged size: %d\nmerged xxh3-128: %s\n"
            % (name, name, name, len(backup), xxh().xxh3_128_hexdigest(backup),
               len(merged), xxh().xxh3_128_hexdigest(merged))
            + ("" if first_change is None else "first change at: %d\n" % first_change)
            ).encode()


def level_record(source, result):
    """The record of both levels that follows the name's NUL in its field."""
    head = b"\x7fVLR" + bytes([1, 50])
    for content in (source, result):
        size, digest = fingerprint(content)
        head += struct.pack("<I", size) + digest
    return head + struct.pack("<I", xxh().xxh3_64_intdigest(head) & 0xFFFFFFFF)


def name_field(name, field_length=None, pad=b"\xAA", tail=b""):
    """The nameLength and levelName fields; tail follows the name's NUL in
    the field, and field_length pads the field."""
    field = (name.encode() if isinstance(name, str) else name) + b"\0" + tail
    if field_length is not None:
        field = field.ljust(field_length, pad)
    return struct.pack("<I", len(field)) + field


def record(offset, remove, data=b"", code=REPLACE, insert_length=None):
    length = len(data) if insert_length is None else insert_length
    return struct.pack("<HIII", code, offset, remove, length) + data


def merge_file(name, actions=(), field_length=None, tail=b""):
    """actions: (offset, removeLength, data) triples, in file order; tail:
    bytes after the name's NUL, such as a level_record."""
    return name_field(name, field_length, tail=tail) + b"".join(
        record(offset, remove, data) for offset, remove, data in actions)


def expected_run(merge, level):
    """What a run must print and leave as the level, from the rules of the
    format alone: (stdout, status, new level or None when unchanged)."""
    if len(merge) < 4:
        return "Invalid level name in the merge file.\n", 255, None
    (name_length,) = struct.unpack_from("<I", merge, 0)
    field = merge[4:4 + name_length]
    if not 1 <= name_length <= 128 or len(field) < name_length or b"\0" not in field:
        return "Invalid level name in the merge file.\n", 255, None
    name = field[:field.index(b"\0")]
    if not 1 <= len(name) <= 123:
        return "Invalid level name in the merge file.\n", 255, None
    name = name.decode("latin-1")
    if name.startswith("/") or ".." in name.split("/"):
        return "Unsafe level name %s in the merge file.\n" % name, 255, None

    said = "Backuping %s to %s.bak\nProcessing level: %s\n" % (name, name, name)
    out, kept, pos = [], 0, 4 + name_length
    while pos < len(merge):
        fault = None
        if len(merge) - pos < 2:
            fault = "Truncated action at offset %d parsing the merge file !\n"
        else:
            (code,) = struct.unpack_from("<H", merge, pos)
            if code != REPLACE:
                return (said + "Unknown action (%d) at offset %d parsing the merge file !\n"
                        % (code, pos), 255, None)
        if fault is None and len(merge) - pos < 14:
            fault = "Truncated action at offset %d parsing the merge file !\n"
        if fault is None:
            _, offset, remove, insert = struct.unpack_from("<HIII", merge, pos)
            if pos + 14 + insert > len(merge):
                fault = "Truncated action at offset %d parsing the merge file !\n"
            elif offset < kept:
                fault = "Misplaced action at offset %d parsing the merge file !\n"
            elif offset + remove > len(level):
                fault = "Action at offset %d reaches past the end of the level !\n"
        if fault:
            return said + fault % pos, 255, None
        out.append(level[kept:offset])
        out.append(merge[pos + 14:pos + 14 + insert])
        kept = offset + remove
        pos += 14 + insert
    out.append(level[kept:])
    return said + "Done !\n", 0, b"".join(out)


# The history beside a level (LEVEL.history), by its layout alone: see "The
# history beside a level" in docs/format.md.
HISTORY_MARKER = b"\x7fVLH"
HISTORY_HEADER = 30
ENTRY_NAME_AT = 86
ENTRY_MIN = ENTRY_NAME_AT + 2 + 4
ENTRY_NAME_MAX = 1024
SIZE_MAX = 0xFFFFFFFE  # levels and histories stay below 4 GiB - 1 byte


class HistoryDamaged(ValueError):
    """A history that no run would have written."""


class LaterHistory(ValueError):
    """A whole header of a version this reader doesn't know."""


def short_check(data):
    """The low 32 bits of XXH3-64, the check of headers and entries."""
    return xxh().xxh3_64_intdigest(data) & 0xFFFFFFFF


def stored_print(content):
    """A level's fingerprint as the history stores it: size, then XXH3-128."""
    size, digest = fingerprint(content)
    return struct.pack("<I", size) + digest


def apply_actions(level, actions):
    """The level that (offset, removeLength, data) actions, in order, make of
    `level`."""
    out, kept = [], 0
    for offset, remove, data in actions:
        out += [level[kept:offset], data]
        kept = offset + remove
    return b"".join(out) + level[kept:]


def undo_actions(level, actions):
    """The actions that turn what `actions` make of `level` back into it, as a
    run records them: an action that neither removes nor inserts has none."""
    undo, shift = [], 0
    for offset, remove, data in actions:
        if remove or data:
            undo.append((offset + shift, len(data), level[offset:offset + remove]))
            shift += len(data) - remove
    return undo


def history_entry(before, after, merge, undo, name, time=0, pack=0, pack_name=b""):
    """One entry: the levels before and after the mod, its merge file, and the
    undo actions that turn `after` into `before`."""
    name, pack_name = bytes(name, "utf-8") if isinstance(name, str) else name, pack_name
    names = (struct.pack("<H", len(name)) + name
             + struct.pack("<H", len(pack_name)) + pack_name)
    undo_at = ENTRY_NAME_AT - 2 + len(names)
    undo_bytes = b"".join(record(offset, remove, data) for offset, remove, data in undo)
    head = (struct.pack("<II", undo_at + len(undo_bytes) + 4, undo_at) + stored_print(before)
            + stored_print(after) + stored_print(merge) + struct.pack("<qQ", time, pack)
            + names + undo_bytes)
    return head + struct.pack("<I", short_check(head))


def history_file(original, mods):
    """The history of `mods` put in on `original` one after another, and the
    level they make. mods: (name, actions) or (name, actions, time, pack,
    pack_name), each one's actions (offset, removeLength, data) for the level
    the ones before it made."""
    head = HISTORY_MARKER + bytes([1, HISTORY_HEADER]) + stored_print(original)
    out, level = [head + struct.pack("<I", short_check(head))], original
    for name, actions, *rest in mods:
        after = apply_actions(level, actions)
        out.append(history_entry(level, after, merge_file(name, actions),
                                 undo_actions(level, actions), name, *rest))
        level = after
    return b"".join(out), level


def _print_at(data, at):
    size, digest = struct.unpack_from("<I", data, at)[0], data[at + 4:at + 20]
    if size > SIZE_MAX:
        raise HistoryDamaged("a size of 4 GiB - 1 byte or more at %d" % at)
    return size, digest


def _undo_of(entry, undo_at, end, level_size):
    """An entry's undo actions, each whole, of the one code, in order, inside
    the level after and doing something."""
    undo, at, kept = [], undo_at, 0
    while at < end:
        if end - at < 14:
            raise HistoryDamaged("an undo action cut short")
        code, offset, remove, insert = struct.unpack_from("<HIII", entry, at)
        if code != REPLACE or insert > end - at - 14:
            raise HistoryDamaged("an undo action of code %d or cut short" % code)
        if offset < kept or offset + remove > level_size or remove == insert == 0:
            raise HistoryDamaged("an undo action out of place or doing nothing")
        undo.append((offset, remove, entry[at + 14:at + 14 + insert]))
        kept, at = offset + remove, at + 14 + insert
    return undo


def _entry_at(data, at, level):
    """The entry at `at`, whose level before must be `level`, and its length."""
    if len(data) - at < ENTRY_MIN:
        raise HistoryDamaged("an entry cut short at %d" % at)
    length, undo_at = struct.unpack_from("<II", data, at)
    if not ENTRY_MIN <= length <= len(data) - at:
        raise HistoryDamaged("an entry's length of %d at %d" % (length, at))
    entry, check_at = data[at:at + length], length - 4
    if struct.unpack_from("<I", entry, check_at)[0] != short_check(entry[:check_at]):
        raise HistoryDamaged("the check of the entry at %d" % at)
    (name_length,) = struct.unpack_from("<H", entry, ENTRY_NAME_AT - 2)
    pack_name_at = ENTRY_NAME_AT + name_length + 2
    if name_length > ENTRY_NAME_MAX or pack_name_at > check_at:
        raise HistoryDamaged("a name past its entry at %d" % at)
    (pack_name_length,) = struct.unpack_from("<H", entry, pack_name_at - 2)
    if pack_name_at + pack_name_length > check_at:
        raise HistoryDamaged("a pack name past its entry at %d" % at)
    if undo_at != pack_name_at + pack_name_length:
        raise HistoryDamaged("the undo not right after the names at %d" % at)
    time, pack = struct.unpack_from("<qQ", entry, 68)
    # The pack field: the pack's name, then a NUL before each other level's.
    pack_field = entry[pack_name_at:pack_name_at + pack_name_length].split(b"\0")
    if pack_name_length and (not all(pack_field) or len(pack_field[0]) > ENTRY_NAME_MAX):
        raise HistoryDamaged("an empty name in the pack field at %d" % at)
    found = {"name": entry[ENTRY_NAME_AT:ENTRY_NAME_AT + name_length],
             "pack_name": pack_field[0], "pack_levels": pack_field[1:],
             "time": time, "pack": pack, "before": _print_at(entry, 8),
             "after": _print_at(entry, 28), "merge": _print_at(entry, 48)}
    if pack == 0 and pack_name_length:
        raise HistoryDamaged("a pack name without a pack at %d" % at)
    if found["before"] != level:
        raise HistoryDamaged("the entry at %d is not from the level before it" % at)
    found["undo"] = _undo_of(entry, undo_at, check_at, found["after"][0])
    if (found["after"][0] - sum(remove for _, remove, _ in found["undo"])
            + sum(len(data) for _, _, data in found["undo"]) != found["before"][0]):
        raise HistoryDamaged("the undo at %d doesn't give the size before" % at)
    return found, length


def read_history(data):
    """The history in `data`: (original, entries), original a (size, hash)
    fingerprint, entries oldest first, each a dict of name, pack_name, pack,
    time, before, after, merge (fingerprints) and undo ((offset,
    removeLength, data) actions that turn the level after into the one
    before). Raises LaterHistory for a whole header of a later version,
    HistoryDamaged for anything else a run would not have written."""
    if len(data) > SIZE_MAX or len(data) < 6 or data[:4] != HISTORY_MARKER:
        raise HistoryDamaged("no history marker")
    header_length = data[5]
    if not 10 <= header_length <= len(data):
        raise HistoryDamaged("a header length of %d" % header_length)
    check_at = header_length - 4
    if struct.unpack_from("<I", data, check_at)[0] != short_check(data[:check_at]):
        raise HistoryDamaged("the header's check")
    if data[4] > 1:
        raise LaterHistory("version %d" % data[4])
    if data[4] != 1 or header_length != HISTORY_HEADER:
        raise HistoryDamaged("version %d with a header of %d" % (data[4], header_length))
    original = _print_at(data, 6)
    entries, at, level = [], HISTORY_HEADER, original
    while at < len(data):
        entry, length = _entry_at(data, at, level)
        entries.append(entry)
        level, at = entry["after"], at + length
    return original, entries


def unwind(level, data):
    """The original that `level`, the level the history in `data` ends at,
    came from, and the history's entries: each level met on the way back is
    checked against its fingerprint. Raises HistoryDamaged where one is not
    what the history says."""
    original, entries = read_history(data)
    if fingerprint(level) != (entries[-1]["after"] if entries else original):
        raise HistoryDamaged("the level is not the one the history ends at")
    for entry in reversed(entries):
        level = apply_actions(level, entry["undo"])
        if fingerprint(level) != entry["before"]:
            raise HistoryDamaged("an undo doesn't give the level before it")
    return level, entries


def timeless(data):
    """A history without the times of its entries, nor the pack ids made of
    them, for comparing what runs at other moments made; bytes that are no
    whole history stay as they are."""
    try:
        original, entries = read_history(data)
    except (HistoryDamaged, LaterHistory):
        return data
    return repr((original, [dict({k: v for k, v in e.items() if k != "time"},
                                 pack=bool(e["pack"])) for e in entries])).encode()
