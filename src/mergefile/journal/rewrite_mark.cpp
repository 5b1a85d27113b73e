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
constexpr char MARK_TAIL[] =
    "backup size: %" PRIu64 "\nbackup xxh3-128: %s\nmerged size: %" PRIu64
    "\nmerged xxh3-128: %s\n";
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
  int head = snprintf(text, size, MARK_HEAD, names.level, names.level, names.backup);
  if (head < 0 || static_cast<size_t>(head) >= size) return 0;
  int tail = snprintf(text + head, size - static_cast<size_t>(head), MARK_TAIL,
                      mark.backup.size, backupHex, mark.merged.size, mergedHex);
  if (tail < 0 || static_cast<size_t>(tail) >= size - static_cast<size_t>(head)) return 0;
  return static_cast<size_t>(head) + static_cast<size_t>(tail);
}

MarkRead ReadMark(const RunNames& names, const uint8_t* bytes, size_t size,
                  RewriteMark* mark) {
  if (size > MARK_TEXT_MAX) return MarkRead::DAMAGED;
  const auto* text = reinterpret_cast<const char*>(bytes);
  const char* tail = TailOf(text, size);
  if (tail == nullptr) return MarkRead::DAMAGED;
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
    size_t length = FormatMark(names, *mark, expected, sizeof expected);
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
  int length = snprintf(expected, sizeof expected, MARK_1_0, names.level, names.level,
                        names.backup, backupSize, firstHex, secondHex);
  if (!Matches(expected, length, bytes, size)) return MarkRead::DAMAGED;
  mark->backup.size = backupSize;
  return MarkRead::OF_VERSION_1_0;
}

MarkDecision DecideOnMark(const RunNames& names, const FoundFile& mark,
                          const FoundFile& level, const FoundFile& backup) {
  auto refuse = [](MarkMessage message, unsigned long error = 0) {
    return MarkDecision{MarkPlan::REFUSE, message, error};
  };
  switch (mark.state) {
    case FileState::MISSING: return {MarkPlan::NOTHING, MarkMessage::RESTORED, 0};
    case FileState::UNREADABLE: return refuse(MarkMessage::MARK_UNREADABLE, mark.error);
    case FileState::TOO_LARGE: return refuse(MarkMessage::MARK_DAMAGED);
    case FileState::LOADED: break;
  }
  RewriteMark read;
  MarkRead kind = ReadMark(names, mark.bytes, mark.size, &read);
  if (kind == MarkRead::DAMAGED) return refuse(MarkMessage::MARK_DAMAGED);
  // The run that left the mark finished the level and was stopped before it
  // could remove the mark.
  if (kind == MarkRead::WHOLE && level.state == FileState::LOADED &&
      SameFingerprint(FingerprintOf(level.bytes, level.size), read.merged))
    return {MarkPlan::CLEAR_MARK, MarkMessage::RESTORED, 0};
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
  return {MarkPlan::RESTORE, MarkMessage::RESTORED, 0};
}
