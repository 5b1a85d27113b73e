// The mark a run leaves beside the level while it rewrites it in place: the
// journal of the rewrite. It describes the backup, from which the level can
// be put back, and the level the run makes, so that a run killed midway, or
// cut off by a power failure, loses nothing: the next run finds the mark and
// either finds the level finished or puts it back from the backup first.
//
// The mark is a short text, for a player who finds it, that names the level
// and ends in the lines that a run reads back:
//   backup size: DECIMAL
//   backup xxh3-128: 32 LOWER-CASE HEX DIGITS
//   merged size: DECIMAL
//   merged xxh3-128: 32 LOWER-CASE HEX DIGITS
//   first change at: DECIMAL
//   pack journal: NAME         (only for a run that is part of a pack)
// A mark is whole or damaged: anything but the exact text a run writes is
// damaged, but that the level may be named under any of its spellings. Vorandel
// 1.1.0 wrote the first four lines only; Vorandel 1.0.0 wrote another text,
// with SHA-256 digests of the backup's halves, which is still recognised, and
// the run says what to do.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/merge_format.h"
#include "identity/fingerprint.h"
#include "journal/run_names.h"

struct RewriteMark {
  Fingerprint backup;  // what LEVEL.bak holds, and the level held before the run
  Fingerprint merged;  // what the run writes into the level
  // Below this position the run writes the backup's bytes: a level the run
  // left in pieces agrees with the backup up to here. 0 in a mark of 1.1.0.
  uint32_t firstChange;
  char pack[JOURNAL_NAME_MAX];  // the pack's journal, empty for a run alone
  int version;                  // 3; 2 for a mark of 1.1.0, which FormatMark writes too
};

// A mark's text is never longer.
constexpr size_t MARK_TEXT_MAX = 1024;

// The mark's text into `text`; returns its length, or 0 where it doesn't fit.
size_t FormatMark(const RunNames& names, const RewriteMark& mark, char* text,
                  size_t size);

enum class MarkRead { WHOLE, DAMAGED, OF_VERSION_1_0 };

// WHOLE, with the mark in *mark; OF_VERSION_1_0 for a whole mark of Vorandel
// 1.0.0, with only the backup's size in *mark; else DAMAGED.
MarkRead ReadMark(const RunNames& names, const uint8_t* bytes, size_t size,
                  RewriteMark* mark);

// A file, as a front end found it on its disk.
enum class FileState { MISSING, UNREADABLE, TOO_LARGE, LOADED };
struct FoundFile {
  FileState state;
  unsigned long error;  // the Windows error number, for UNREADABLE
  const uint8_t* bytes;
  uint32_t size;
};

// What a run says about a mark it found, and about one it could not remove.
enum class MarkMessage {
  RESTORED,           // the level was put back from the backup
  RESTORE_FAILED,     // writing it back failed: error
  BACKUP_UNREADABLE,  // the backup can't be read: error
  BACKUP_CHANGED,     // the backup is not what the mark says
  MARK_UNREADABLE,    // the mark can't be read: error
  MARK_DAMAGED,
  MARK_KEPT,         // the mark could not be removed after a restore: error
  MARK_OF_1_0,       // a mark of Vorandel 1.0.0, whose backup has the size it names
  STOPPED_RESTORED,  // interrupted during the restore, which was finished first
  MERGED_MARK_KEPT,  // merged, but the mark could not be removed: error
  LEVEL_KEPT,        // the level was put in place since: kept, and the mark goes
};

// What a run does about the mark, before anything else.
enum class MarkPlan {
  NOTHING,     // no mark: the run goes on
  CLEAR_MARK,  // the level is what the stopped run made: the mark goes, the run goes on
  RESTORE,     // put the level back from the backup, clear the mark, say RESTORED
  REFUSE,      // touch nothing, say `message`, end with -1
  // The level is none that the stopped run, or a restore after it, can have
  // left: it was put in place since. It is kept, the mark goes, the run says
  // `message` and goes on as one without a mark.
  KEEP_LEVEL,
};

struct MarkDecision {
  MarkPlan plan;
  MarkMessage message;  // for REFUSE
  unsigned long error;  // for the message
  // The mark as read, where it was whole: a mark of 1.1.0 (version 2) had no
  // history beside it, and one of a pack names the pack's journal.
  RewriteMark mark;
};

// The decision on the files a front end found: every front end, Vorandel
// and the page alike, acts on this one. Where the mark is MISSING, neither
// the level nor the backup is looked at, so a front end need not load them.
// `packOpen`: the mark names a pack's journal that is still there, so the
// pack never went in, and the level goes back even where it is finished.
MarkDecision DecideOnMark(const RunNames& names, const FoundFile& mark,
                          const FoundFile& level, const FoundFile& backup,
                          bool packOpen = false);
