#include "rewrite_level.h"

#include <atomic>

#include "apply_actions.h"
#include "platform.h"
#include "report.h"
#include "staged_output.h"
#include "write_whole.h"

namespace {

// Large enough that a merge file of a million tiny actions costs a few hundred
// write calls instead of two million; small enough to stay in the cache.
constexpr uint32_t kStagingSize = 256 * 1024;

std::atomic<bool> levelInPieces{false};

// Windows calls this on a thread of its own, and ends the process as soon as
// it returns from a closed console, a logoff or a shutdown: it returns only
// once the level is whole again. TRUE: the run goes on and ends as it would
// have.
BOOL WINAPI FinishTheLevelFirst(DWORD) {
  while (levelInPieces.load()) Sleep(10);
  return TRUE;
}

// Failing to hold interruptions leaves the run as exposed as it always was,
// not worse: it goes on.
void HoldInterruptions() {
  levelInPieces.store(true);
  (void)SetConsoleCtrlHandler(FinishTheLevelFirst, TRUE);
}

void ReleaseInterruptions() {
  levelInPieces.store(false);
  (void)SetConsoleCtrlHandler(FinishTheLevelFirst, FALSE);
}

// Writes `count` bytes as the whole content of the file `name`, recreated,
// and puts them on the disk. Returns NO_ERROR, or the error of the step that
// failed.
DWORD WriteDurably(const char* name, const uint8_t* bytes, uint32_t count) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  bool written = WriteWhole(file, bytes, count) && FlushFileBuffers(file);
  DWORD error = written ? NO_ERROR : GetLastError();
  if (!CloseHandle(file) && written) {
    written = false;
    error = GetLastError();
  }
  if (written) return NO_ERROR;
  return error != NO_ERROR ? error : ERROR_GEN_FAILURE;  // a short write
}

}  // namespace

bool RewriteLevel(const char* levelName, const char* backupName, const LevelImage& level,
                  const MergeImage& merge, uint32_t firstActionAt) {
  HoldInterruptions();
  HANDLE out = CreateFileA(levelName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    ReleaseInterruptions();
    // Recreating failed, so the level was never emptied.
    Report("Can't write the level %s (error %ld); the level is unchanged.\n", levelName,
           static_cast<long>(error));
    return false;
  }

  static uint8_t staging[kStagingSize];
  StagedOutput output = {out, staging, kStagingSize, 0};
  bool written = ApplyActions(level, merge, firstActionAt, StageSlice, &output) &&
                 FlushStaged(&output) && FlushFileBuffers(out);
  DWORD error = written ? NO_ERROR : GetLastError();
  if (!CloseHandle(out) && written) {
    written = false;
    error = GetLastError();
  }
  if (!written && error == NO_ERROR) error = ERROR_GEN_FAILURE;  // a short write
  if (written) {
    ReleaseInterruptions();
    Report("Done !\n");
    return true;
  }

  // The level now holds a beginning of the merged level at best: the old
  // one is still whole in memory.
  DWORD restoreError = WriteDurably(levelName, level.buffer, level.size);
  ReleaseInterruptions();
  if (restoreError == NO_ERROR)
    Report("Can't write the level %s (error %ld); the level is unchanged.\n", levelName,
           static_cast<long>(error));
  else
    Report(
        "Can't write the level %s (error %ld), nor restore it (error %ld): copy %s over "
        "it before you run a merge again.\n",
        levelName, static_cast<long>(error), static_cast<long>(restoreError), backupName);
  return false;
}
