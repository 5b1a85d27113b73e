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
