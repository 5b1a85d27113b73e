#include "journal/rewrite_mark.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "format/merge_checks.h"

namespace {

constexpr char MARK_HEAD[] =
    "Vorandel is rewriting the level %s.\n"
    "If this file is still here once no run is going on, a run was stopped before it "
    "finished: the next run on this level finds %s finished, or first puts it back from "
    "%s. Leave this file where it is.\n";
constexpr char MARK_HEAD_START[] = "Vorandel is rewriting the level ";
constexpr char MARK_TAIL[] =
    "backup size: %" PRIu64 "\nbackup xxh3-128: %s\nmerged size: %" PRIu64
    "\nmerged xxh3-128: %s\n";
// Vorandel 1.2.0 adds where the rewrite first writes bytes other than the
// backup's, and the journal of the pack the run is part of, if any.
constexpr char MARK_FIRST_CHANGE[] = "first change at: %" PRIu64 "\n";
constexpr char MARK_PACK[] = "pack journal: %s\n";
// Vorandel 1.0.0's mark.
constexpr char MARK_1_0[] =
    "Vorandel is rewriting the level %s.\n"
    "If this file is still here once no run is going on, a run was stopped before it "
    "finished: the next run on this level first puts %s back from %s. Leave this file "
    "where it is.\n"
    "backup size: %" PRIu64
    "\nbackup sha256, first half: %s\n"
    "backup sha256, second half: %s\n";
constexpr size_t SHA256_HEX_DIGITS = 64;

// A cursor over a mark's last lines, each "LABEL VALUE\n"; the values are
// read leniently, since the whole text is then compared with what a run
// writes for them.
struct Lines {
  const char* at;
  const char* end;
};

bool Take(Lines* lines, const char* label) {
  size_t length = strlen(label);
  if (static_cast<size_t>(lines->end - lines->at) < length ||
      memcmp(lines->at, label, length) != 0)
    return false;
  lines->at += length;
  return true;
}

bool TakeDecimal(Lines* lines, const char* label, uint64_t* value) {
  if (!Take(lines, label)) return false;
  *value = 0;
  const char* digits = lines->at;
  while (lines->at != lines->end && *lines->at >= '0' && *lines->at <= '9' &&
         lines->at - digits < 19)
    *value = *value * 10 + static_cast<uint64_t>(*lines->at++ - '0');
  return lines->at != digits && Take(lines, "\n");
}

// `count` hex digits, copied with a NUL into `hex`.
bool TakeHex(Lines* lines, const char* label, size_t count, char* hex) {
  if (!Take(lines, label) || static_cast<size_t>(lines->end - lines->at) < count)
    return false;
  memcpy(hex, lines->at, count);
  hex[count] = '\0';
  lines->at += count;
  return Take(lines, "\n");
}

// The rest of a line after `label`, of fewer than `size` bytes, into `value`;
// empty where the line is not there.
void TakeLine(Lines* lines, const char* label, char* value, size_t size) {
  value[0] = '\0';
  Lines at = *lines;
  if (!Take(&at, label)) return;
  const char* end =
      static_cast<const char*>(memchr(at.at, '\n', static_cast<size_t>(at.end - at.at)));
  if (end == nullptr || static_cast<size_t>(end - at.at) >= size) return;
  memcpy(value, at.at, static_cast<size_t>(end - at.at));
  value[end - at.at] = '\0';
  lines->at = end + 1;
}

// The names of the level that a mark's first line names, where that may be
// this run's level under another spelling, or as named from another folder.
bool NamesInHead(const RunNames& names, const char* text, size_t size,
                 RunNames* written) {
  const size_t start = sizeof MARK_HEAD_START - 1;
  const char* end = static_cast<const char*>(memchr(text, '\n', size));
  if (end == nullptr || static_cast<size_t>(end - text) < start + 2 ||
      memcmp(text, MARK_HEAD_START, start) != 0 || end[-1] != '.')
    return false;
  size_t length = static_cast<size_t>(end - text) - start - 1;
  char level[NAME_FIELD_MAX];
  if (length > NAME_CHARS_MAX) return false;
  memcpy(level, text + start, length);
  level[length] = '\0';
  if (memchr(level, '\0', length) != nullptr ||
      !SameFileName(level, names.level, names.windowsPaths))
    return false;
  NameRun(level, names.windowsPaths, written);
  return true;
}

// Where the last lines start: at the last "backup size: " that begins a line.
const char* TailOf(const char* text, size_t size) {
  static const char label[] = "\nbackup size: ";
  const size_t length = sizeof label - 1;
  for (size_t at = size; at-- > 0;)
    if (size - at >= length && memcmp(text + at, label, length) == 0)
      return text + at + 1;
  return nullptr;
}

bool Matches(const char* expected, int length, const uint8_t* bytes, size_t size) {
  return length >= 0 && static_cast<size_t>(length) == size &&
         memcmp(expected, bytes, size) == 0;
}

}  // namespace

size_t FormatMark(const RunNames& names, const RewriteMark& mark, char* text,
                  size_t size) {
  char backupHex[FINGERPRINT_HEX_SIZE];
  char mergedHex[FINGERPRINT_HEX_SIZE];
  HexOfHash(mark.backup, backupHex);
  HexOfHash(mark.merged, mergedHex);
  size_t used = 0;
  // Each piece is written only where all of it fits: a mark cut short would
  // be no mark at all.
  auto put = [&](int length) {
    if (length < 0 || static_cast<size_t>(length) >= size - used) return false;
    used += static_cast<size_t>(length);
    return true;
  };
  bool whole =
      put(snprintf(text, size, MARK_HEAD, names.level, names.level, names.backup)) &&
      put(snprintf(text + used, size - used, MARK_TAIL, mark.backup.size, backupHex,
                   mark.merged.size, mergedHex));
  if (whole && mark.version != 2)
    whole = put(snprintf(text + used, size - used, MARK_FIRST_CHANGE,
                         uint64_t{mark.firstChange}));
  if (whole && mark.version != 2 && mark.pack[0] != '\0')
    whole = put(snprintf(text + used, size - used, MARK_PACK, mark.pack));
  return whole ? used : 0;
}

MarkRead ReadMark(const RunNames& names, const uint8_t* bytes, size_t size,
                  RewriteMark* mark) {
  if (size > MARK_TEXT_MAX) return MarkRead::DAMAGED;
  const auto* text = reinterpret_cast<const char*>(bytes);
  const char* tail = TailOf(text, size);
  // The level as the stopped run's merge file spelled it: any spelling of
  // this run's level will do, and the text must be the one that run wrote.
  RunNames written;
  if (tail == nullptr || !NamesInHead(names, text, size, &written))
    return MarkRead::DAMAGED;
  *mark = {};
  char expected[MARK_TEXT_MAX + 1];

  Lines lines{tail, text + size};
  char backupHex[FINGERPRINT_HEX_SIZE];
  char mergedHex[FINGERPRINT_HEX_SIZE];
  if (TakeDecimal(&lines, "backup size: ", &mark->backup.size) &&
      TakeHex(&lines, "backup xxh3-128: ", 2 * FINGERPRINT_HASH_BYTES, backupHex) &&
      TakeDecimal(&lines, "merged size: ", &mark->merged.size) &&
      TakeHex(&lines, "merged xxh3-128: ", 2 * FINGERPRINT_HASH_BYTES, mergedHex) &&
      HashFromHex(backupHex, &mark->backup) && HashFromHex(mergedHex, &mark->merged)) {
    uint64_t firstChange = 0;
    mark->version = 2;
    if (TakeDecimal(&lines, "first change at: ", &firstChange) &&
        firstChange <= UINT32_MAX) {
      mark->version = 3;
      mark->firstChange = static_cast<uint32_t>(firstChange);
      TakeLine(&lines, "pack journal: ", mark->pack, sizeof mark->pack);
    }
    size_t length = FormatMark(written, *mark, expected, sizeof expected);
    return Matches(expected, static_cast<int>(length), bytes, size) ? MarkRead::WHOLE
                                                                    : MarkRead::DAMAGED;
  }

  lines = {tail, text + size};
  char firstHex[SHA256_HEX_DIGITS + 1];
  char secondHex[SHA256_HEX_DIGITS + 1];
  uint64_t backupSize = 0;
  if (!TakeDecimal(&lines, "backup size: ", &backupSize) ||
      !TakeHex(&lines, "backup sha256, first half: ", SHA256_HEX_DIGITS, firstHex) ||
      !TakeHex(&lines, "backup sha256, second half: ", SHA256_HEX_DIGITS, secondHex) ||
      backupSize > UINT32_MAX)
    return MarkRead::DAMAGED;
  for (const char* hex : {firstHex, secondHex})
    for (const char* c = hex; *c != '\0'; ++c)
      if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f')))
        return MarkRead::DAMAGED;
  int length = snprintf(expected, sizeof expected, MARK_1_0, written.level, written.level,
                        written.backup, backupSize, firstHex, secondHex);
  if (!Matches(expected, length, bytes, size)) return MarkRead::DAMAGED;
  mark->backup.size = backupSize;
  return MarkRead::OF_VERSION_1_0;
}

namespace {

// Whether the level can be what the stopped run, or a restore after it, left:
// a beginning of what the run wrote (the backup's bytes up to the first
// change, then the new ones), or of the backup itself, or either whole. No
// level the run left is longer than both the backup and what it wrote.
bool LeftByRun(const FoundFile& level, const FoundFile& backup, const RewriteMark& mark) {
  uint64_t longest = mark.merged.size > backup.size ? mark.merged.size : backup.size;
  if (level.size > longest) return false;
  uint32_t same = level.size < backup.size ? level.size : backup.size;
  if (mark.firstChange < same) same = mark.firstChange;
  return same == 0 || memcmp(level.bytes, backup.bytes, same) == 0;
}

}  // namespace

MarkDecision DecideOnMark(const RunNames& names, const FoundFile& mark,
                          const FoundFile& level, const FoundFile& backup,
                          bool packOpen) {
  RewriteMark read{};
  auto refuse = [&read](MarkMessage message, unsigned long error = 0) {
    return MarkDecision{MarkPlan::REFUSE, message, error, read};
  };
  auto act = [&read](MarkPlan plan) {
    return MarkDecision{
        plan,
        plan == MarkPlan::KEEP_LEVEL ? MarkMessage::LEVEL_KEPT : MarkMessage::RESTORED, 0,
        read};
  };
  switch (mark.state) {
    case FileState::MISSING: return act(MarkPlan::NOTHING);
    case FileState::UNREADABLE: return refuse(MarkMessage::MARK_UNREADABLE, mark.error);
    case FileState::TOO_LARGE: return refuse(MarkMessage::MARK_DAMAGED);
    case FileState::LOADED: break;
  }
  MarkRead kind = ReadMark(names, mark.bytes, mark.size, &read);
  if (kind == MarkRead::DAMAGED) return refuse(MarkMessage::MARK_DAMAGED);
  // The run that left the mark finished the level and was stopped before it
  // could remove the mark; a pack counts only once its journal is gone.
  if (kind == MarkRead::WHOLE && !packOpen && level.state == FileState::LOADED &&
      SameFingerprint(FingerprintOf(level.bytes, level.size), read.merged))
    return act(MarkPlan::CLEAR_MARK);
  // A level longer than any the run could leave was put there since: a
  // reinstall, the game's check of its files, a copy of the player's own.
  bool longer = level.state == FileState::TOO_LARGE ||
                (level.state == FileState::LOADED && level.size > read.merged.size &&
                 level.size > read.backup.size);
  if (kind == MarkRead::WHOLE && longer) return act(MarkPlan::KEEP_LEVEL);
  switch (backup.state) {
    case FileState::MISSING:
      return refuse(MarkMessage::BACKUP_UNREADABLE, backup.error != 0 ? backup.error : 2);
    case FileState::UNREADABLE:
      return refuse(MarkMessage::BACKUP_UNREADABLE, backup.error);
    case FileState::TOO_LARGE: return refuse(MarkMessage::BACKUP_CHANGED);
    case FileState::LOADED: break;
  }
  if (kind == MarkRead::OF_VERSION_1_0)
    return refuse(backup.size == read.backup.size ? MarkMessage::MARK_OF_1_0
                                                  : MarkMessage::BACKUP_CHANGED);
  if (!SameFingerprint(FingerprintOf(backup.bytes, backup.size), read.backup))
    return refuse(MarkMessage::BACKUP_CHANGED);
  if (level.state == FileState::LOADED && !LeftByRun(level, backup, read))
    return act(MarkPlan::KEEP_LEVEL);
  return act(MarkPlan::RESTORE);
}
