// The lock of a level, LEVEL.lock: one run at a time on a level, from before
// it looks for a mark until its own is gone, so that another run's live mark
// never looks like a dead one's.
#pragma once

#include "journal/run_names.h"
#include "system.h"

enum class LockTaken {
  HELD,      // this run holds it
  UNLOCKED,  // the level's folder can take no file: nor a backup, nor a mark,
             // so the run can't empty the level; it goes on to say why in
             // its usual words
  REFUSED,   // another run holds it, or it can't be taken: said; nothing changed
};

// Takes the lock of the level `names` names, and says why not where it can't.
LockTaken TakeLevelLock(const RunNames& names, RunLock* lock);

// Lets go of a lock that TakeLevelLock took (HELD): a lock file that can't be
// deleted is harmless, the next run takes it over.
void ReleaseLevelLock(LockTaken taken, RunLock* lock);
