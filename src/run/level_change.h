// One level's change, as every run that changes a level makes it, Vorandel's
// merge and mrgtool's removals alike: the level copied to its backup, put on
// the disk and proven to hold the level the run read; the new history written
// beside it; the mark; the level rewritten in place; then the commit: the new
// history in its place and the mark gone. A stop anywhere leaves what the
// next run needs to put the level, its backup and its history back in step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "journal/pack_journal.h"
#include "journal/rewrite_mark.h"
#include "journal/run_names.h"
#include "level_history.h"
#include "rewrite_level.h"
#include "write_whole.h"

struct LevelChange {
  const RunNames* names;
  LevelImage level;  // as the run read it: what the backup must hold
  // The level's fingerprint (backup), what the change makes of it (merged),
  // where it first changes it, and the pack's journal, if any.
  RewriteMark mark;
  ContentWriter write;  // writes the new level into the level's file
  const void* content;
  // The history once the change is in, as the ContentWriter and its content
  // that write it; null where the run keeps none.
  ContentWriter writeHistory;
  const void* history;
  // The history to keep under another name first, as a new one starts: empty
  // for none; and the history as the run found it, which says why.
  char setAside[JOURNAL_NAME_MAX];
  const LevelHistory* oldHistory;
};

// Copies the level over its backup, as every run that gets that far does,
// between the first two lines it prints. STATUS_OK, or STATUS_FAILED after
// the copy's message.
int CopyBackup(const RunNames& names);

// The backup copied (CopyBackup), on the disk and proven to hold the level.
// STATUS_OK, or STATUS_FAILED after saying why, with the level untouched.
int BackUpLevel(const LevelChange& change);

// The history set aside where asked, the new history's draft, and the mark:
// only after all that may the level be emptied. STATUS_OK, or STATUS_FAILED
// after saying why, with the level untouched and no mark left.
int MarkChange(const LevelChange& change);

// BackUpLevel, then MarkChange.
int PrepareChange(const LevelChange& change);

// The level rewritten (RewriteInPlace).
RewriteOutcome WriteChange(const LevelChange& change);

// The commit, for a level `written` as WriteChange says: the new history in
// place and the mark gone, on the disk; for a level left UNCHANGED, the
// history stays and the mark goes. STATUS_OK only once a MERGED level counts;
// else STATUS_FAILED after saying why, where WriteChange did not.
int CommitChange(const LevelChange& change, RewriteOutcome written);

// All of it: STATUS_OK once the change counts; the caller says so.
int MakeChange(const LevelChange& change);

// Several levels changed as one, a pack: every level backed up and proven,
// then the pack's journal `journal` (which each change's mark names), then
// every level marked and rewritten, and the commit, once: the journal gone.
// A level that can't be written puts every level back from memory and says
// so; a stop anywhere leaves what the next run needs to put every level back
// (ActOnMark), or, once the journal is gone, to finish them all. STATUS_OK
// once the pack counts.
int ChangeLevels(const std::vector<LevelChange>& changes, const std::string& journal,
                 const PackJournal& content);
