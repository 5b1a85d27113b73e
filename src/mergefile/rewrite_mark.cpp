#include "rewrite_mark.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char SIZE_LINE[] = "backup size: ";
constexpr const char* SHA_LINES[MARK_HALVES] = {"\nbackup sha256, first half: ",
                                                "\nbackup sha256, second half: "};
constexpr size_t SIZE_DIGITS_MAX = 10;

void Join(char* out, size_t size, const char* name, const char* suffix) {
  snprintf(out, size, "%s%s", name, suffix);
}

void HexOf(const uint8_t* bytes, size_t count, char* hex) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; ++i) {
    hex[2 * i] = digits[bytes[i] >> 4];
    hex[2 * i + 1] = digits[bytes[i] & 0xF];
  }
  hex[2 * count] = '\0';
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void NameRun(const char* levelName, bool windowsPaths, RunNames* names) {
  Join(names->level, sizeof names->level, levelName, "");
  Join(names->backup, sizeof names->backup, levelName, BACKUP_SUFFIX);
  Join(names->mark, sizeof names->mark, levelName, MARK_SUFFIX);
  Join(names->markDraft, sizeof names->markDraft, levelName, MARK_DRAFT_SUFFIX);
  size_t folderEnd = 0;
  for (size_t i = 0; levelName[i] != '\0'; ++i)
    if (levelName[i] == '/' || (windowsPaths && levelName[i] == '\\')) folderEnd = i;
  bool inFolder = levelName[folderEnd] == '/' || levelName[folderEnd] == '\\';
  if (!inFolder) {
    Join(names->folder, sizeof names->folder, ".", "");
  } else {
    // A name never starts with a separator: the root is refused before this.
    memcpy(names->folder, levelName, folderEnd);
    names->folder[folderEnd] = '\0';
  }
}

void HashHalf(const uint8_t* bytes, uint32_t size, size_t half,
              uint8_t digest[SHA256_BYTES]) {
  uint32_t start = half == 0 ? 0 : size / 2;
  uint32_t end = half == 0 ? size / 2 : size;
  Sha256(bytes + start, end - start, digest);
}

RewriteMark MarkFor(const uint8_t* level, uint32_t size) {
  RewriteMark mark{size, {}};
  for (size_t half = 0; half < MARK_HALVES; ++half)
    HashHalf(level, size, half, mark.backupSha256[half]);
  return mark;
}

size_t FormatMark(const RunNames& names, const RewriteMark& mark, char* text,
                  size_t size) {
  char hex[MARK_HALVES][2 * SHA256_BYTES + 1];
  for (size_t half = 0; half < MARK_HALVES; ++half)
    HexOf(mark.backupSha256[half], SHA256_BYTES, hex[half]);
  int length = snprintf(
      text, size,
      "Vorandel is rewriting the level %s.\n"
      "If this file is still here once no run is going on, a run was stopped before "
      "it finished: the next run on this level first puts %s back from %s. Leave this "
      "file where it is.\n"
      "%s%lu%s%s%s%s\n",
      names.level, names.level, names.backup, SIZE_LINE,
      static_cast<unsigned long>(mark.backupSize), SHA_LINES[0], hex[0], SHA_LINES[1],
      hex[1]);
  return length < 0 ? 0 : static_cast<size_t>(length);
}

bool ReadMark(const RunNames& names, const uint8_t* bytes, size_t size,
              RewriteMark* mark) {
  if (size > MARK_TEXT_MAX) return false;
  // The last lines give the size and the digests; the rest must then be
  // exactly what a run writes for them.
  size_t tail = 1;
  for (const char* line : SHA_LINES) tail += strlen(line) + 2 * SHA256_BYTES;
  if (size < tail + 1) return false;
  const uint8_t* digitsEnd = bytes + size - tail;
  const uint8_t* at = digitsEnd;
  for (size_t half = 0; half < MARK_HALVES; ++half) {
    at += strlen(SHA_LINES[half]);
    for (size_t i = 0; i < SHA256_BYTES; ++i, at += 2) {
      int high = HexDigit(at[0]);
      int low = HexDigit(at[1]);
      if (high < 0 || low < 0) return false;
      mark->backupSha256[half][i] = static_cast<uint8_t>(high << 4 | low);
    }
  }
  // Walk back over the size's digits to the line that names it.
  const uint8_t* digits = digitsEnd;
  while (digits > bytes && digits[-1] >= '0' && digits[-1] <= '9') --digits;
  if (digits == digitsEnd || digitsEnd - digits > static_cast<ptrdiff_t>(SIZE_DIGITS_MAX))
    return false;
  uint64_t backupSize = 0;
  for (const uint8_t* d = digits; d != digitsEnd; ++d)
    backupSize = backupSize * 10 + (*d - '0');
  if (backupSize > UINT32_MAX) return false;
  mark->backupSize = static_cast<uint32_t>(backupSize);

  char expected[MARK_TEXT_MAX + 1];
  size_t length = FormatMark(names, *mark, expected, sizeof expected);
  return length == size && memcmp(expected, bytes, size) == 0;
}

bool BackupMatches(const RewriteMark& mark, const uint8_t* backup, uint32_t size) {
  if (size != mark.backupSize) return false;
  RewriteMark found = MarkFor(backup, size);
  return memcmp(found.backupSha256, mark.backupSha256, sizeof found.backupSha256) == 0;
}

void FormatMarkMessage(MarkMessage message, const RunNames& names, unsigned long error,
                       char* text, size_t size) {
  const char* level = names.level;
  const char* backup = names.backup;
  const char* mark = names.mark;
  switch (message) {
    case MarkMessage::RESTORED:
      snprintf(text, size,
               "Restored %s from %s: a run was stopped while it rewrote the level.\n",
               level, backup);
      break;
    case MarkMessage::RESTORE_FAILED:
      snprintf(text, size,
               "Can't restore %s from %s (error %lu); the next run tries again.\n", level,
               backup, error);
      break;
    case MarkMessage::BACKUP_UNREADABLE:
      snprintf(text, size,
               "A run was stopped while it rewrote %s, and %s can't be read (error %lu): "
               "put the level back from a copy of your own, then delete %s.\n",
               level, backup, error, mark);
      break;
    case MarkMessage::BACKUP_CHANGED:
      snprintf(
          text, size,
          "A run was stopped while it rewrote %s, and %s no longer holds the level as "
          "it was: put the level back from a copy of your own, then delete %s.\n",
          level, backup, mark);
      break;
    case MarkMessage::MARK_UNREADABLE:
      snprintf(text, size,
               "Can't read %s (error %lu), the mark of a run that was stopped while it "
               "rewrote %s: copy %s over the level if it holds the level as it was, then "
               "delete the mark.\n",
               mark, error, level, backup);
      break;
    case MarkMessage::MARK_DAMAGED:
      snprintf(text, size,
               "%s, the mark of a run that was stopped while it rewrote %s, is damaged: "
               "copy %s over the level if it holds the level as it was, then delete the "
               "mark.\n",
               mark, level, backup);
      break;
    case MarkMessage::MARK_KEPT:
      snprintf(text, size,
               "Can't delete %s (error %lu): until it is gone, each run first puts %s "
               "back from %s.\n",
               mark, error, level, backup);
      break;
  }
}
