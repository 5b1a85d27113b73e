// The mark a run leaves beside the level while it rewrites it in place. It
// says what the backup must hold for the level to be put back from it, so that
// a run killed midway, or cut off by a power failure, loses nothing: the next
// run finds the mark, restores the level from the backup, and goes on.
//
// The mark is a short text, for a player who finds it, ending in three lines
// that a run reads back:
//   backup size: DECIMAL
//   backup sha256, first half: 64 LOWER-CASE HEX DIGITS
//   backup sha256, second half: 64 LOWER-CASE HEX DIGITS
// The first half is the first size / 2 bytes, rounded down: a run works out
// both digests at once, on two processors. A mark is whole or damaged:
// anything but the exact text the run wrote is damaged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "merge_format.h"
#include "sha256.h"

// LEVEL.merging; it is written as LEVEL.merging.new and renamed into place,
// so that under its own name it is always whole.
constexpr char MARK_SUFFIX[] = ".merging";
constexpr char MARK_DRAFT_SUFFIX[] = ".merging.new";
constexpr size_t MARK_NAME_MAX = NAME_CHARS_MAX + sizeof MARK_DRAFT_SUFFIX;

// The names a run works with, all derived from the level name.
struct RunNames {
  char level[NAME_FIELD_MAX];
  char backup[NAME_FIELD_MAX];
  char mark[MARK_NAME_MAX];
  char markDraft[MARK_NAME_MAX];
  char folder[NAME_FIELD_MAX];  // the level's folder, "." for the current one
};

// For a level name of at most NAME_CHARS_MAX characters.
void NameRun(const char* levelName, bool windowsPaths, RunNames* names);

constexpr size_t MARK_HALVES = 2;

struct RewriteMark {
  uint32_t backupSize;
  uint8_t backupSha256[MARK_HALVES][SHA256_BYTES];
};

// The digest of one half of `size` bytes.
void HashHalf(const uint8_t* bytes, uint32_t size, size_t half,
              uint8_t digest[SHA256_BYTES]);

// The mark for a backup holding `size` bytes, both halves worked out in turn.
RewriteMark MarkFor(const uint8_t* level, uint32_t size);

// A mark's text is never longer.
constexpr size_t MARK_TEXT_MAX = 1024;

// The mark's text into `text`; returns its length.
size_t FormatMark(const RunNames& names, const RewriteMark& mark, char* text,
                  size_t size);

// False for a damaged mark.
bool ReadMark(const RunNames& names, const uint8_t* bytes, size_t size,
              RewriteMark* mark);

bool BackupMatches(const RewriteMark& mark, const uint8_t* backup, uint32_t size);

// What a run says about a mark it found, and about one it could not remove.
enum class MarkMessage {
  RESTORED,           // the level was put back from the backup
  RESTORE_FAILED,     // writing it back failed: error
  BACKUP_UNREADABLE,  // the backup can't be read: error
  BACKUP_CHANGED,     // the backup is not what the mark says
  MARK_UNREADABLE,    // the mark can't be read: error
  MARK_DAMAGED,
  MARK_KEPT,  // the mark could not be removed: error
};

// Room for any of them.
constexpr size_t MARK_MESSAGE_MAX = 512 + 5 * MARK_NAME_MAX;

// The message, line end included.
void FormatMarkMessage(MarkMessage message, const RunNames& names, unsigned long error,
                       char* text, size_t size);
