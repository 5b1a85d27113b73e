#include "run_lock.h"

#include "report.h"

LockTaken TakeLevelLock(const RunNames& names, RunLock* lock) {
  DWORD error = TakeRunLock(names.lock, lock);
  if (error == NO_ERROR) return LockTaken::HELD;
  if (error == ERROR_SHARING_VIOLATION) {
    Say(VorandelSays::RUN_LOCKED, {names.level});
    return LockTaken::REFUSED;
  }
  // Only the folder itself may let a run in without the lock: the lock's own
  // error can't tell a folder that takes no file from a lock file that is in
  // the way.
  if (CanCreateIn(names.folder) != NO_ERROR) return LockTaken::UNLOCKED;
  Say(VorandelSays::LOCK_FAILED, {names.lock, names.level, error});
  return LockTaken::REFUSED;
}

void ReleaseLevelLock(LockTaken taken, RunLock* lock) {
  if (taken == LockTaken::HELD) (void)ReleaseRunLock(lock);
}
