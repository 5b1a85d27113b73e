// The mark beside the level while it is rewritten (journal/rewrite_mark.h),
// on the disk, and what the next run does about one it finds.
#pragma once

#include <vector>

#include "journal/rewrite_mark.h"
#include "platform.h"
#include "whole_file.h"

// Writes the mark and puts it, and its name, on the disk; the level may be
// recreated only after this succeeded. Returns NO_ERROR or the error of the
// step that failed, and then leaves no mark behind.
DWORD LeaveMark(const RunNames& names, const RewriteMark& mark);

// Deletes the mark, and puts the deletion on the disk.
DWORD ClearMark(const RunNames& names);

// A run's new history, LEVEL.history.new, is what the level holds once the
// run finished it: it takes the history's place before the mark goes.
// Missing, it took it already. The folder is flushed after the rename.
// Returns NO_ERROR or the error of the rename or the flush.
DWORD CommitHistoryDraft(const RunNames& names);

enum class MarkOutcome {
  GO_ON,    // no mark, or one of a run that had finished the level: it is gone
  STOPPED,  // the level was put back, and then an interruption came: stop
  FAILED,   // said why; nothing more may be done
};

// Where an earlier run left a mark, acts on DecideOnMark: puts the level back
// from the backup that the mark describes and says so, with the history the
// level had; or finds the level finished, with its new history; or finds a
// level put in place since and keeps it, saying so; and clears the mark. Or,
// where that can't be done safely, touches nothing, says why and what to do,
// and keeps the mark. `level` is the level as the run loaded it, with how
// that went: after a restore it holds the backup's bytes, which the level now
// holds too. Interruptions wait while the level is written. `held` names the
// other levels whose locks the run holds already (a pack's): a pack rolled
// back takes the lock of each level it names but these and `names`'s.
MarkOutcome ActOnMark(const RunNames& names, WholeFile* level, LoadFailure* loaded,
                      const std::vector<const char*>& held = {});
