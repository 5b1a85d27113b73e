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

// Writes a file's whole content into an open handle; returns false when a
// write failed, GetLastError then telling why.
using ContentWriter = bool (*)(HANDLE file, const void* content);

struct Merge {
  const LevelImage* level;
  const MergeImage* merge;
  uint32_t firstActionAt;
};

bool WriteMerged(HANDLE file, const void* content) {
  const auto* merged = static_cast<const Merge*>(content);
  static uint8_t staging[kStagingSize];
  StagedOutput output = {file, staging, kStagingSize, 0};
  return ApplyActions(*merged->level, *merged->merge, merged->firstActionAt, StageSlice,
                      &output) &&
         FlushStaged(&output);
}

bool WriteImage(HANDLE file, const void* content) {
  const auto* level = static_cast<const LevelImage*>(content);
  return WriteWhole(file, level->buffer, level->size);
}

// Recreates the file `name`, writes its content and puts it on the disk.
// Returns NO_ERROR, or the error of the step that failed; *emptied tells
// whether the file was recreated, and so no longer holds what it held.
DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  *emptied = file != INVALID_HANDLE_VALUE;
  if (!*emptied) return GetLastError();
  bool written = write(file, content) && FlushFileBuffers(file);
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
  Merge merged = {&level, &merge, firstActionAt};
  bool emptied = false;
  DWORD error = WriteDurably(levelName, WriteMerged, &merged, &emptied);
  // A level that was emptied holds a beginning of the merged level at best:
  // the old one is still whole in memory.
  DWORD restoreError = NO_ERROR;
  if (error != NO_ERROR && emptied)
    restoreError = WriteDurably(levelName, WriteImage, &level, &emptied);
  ReleaseInterruptions();

  if (error == NO_ERROR) {
    Report("Done !\n");
    return true;
  }
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
