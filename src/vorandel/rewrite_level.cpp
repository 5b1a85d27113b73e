#include "rewrite_level.h"

#include "apply_actions.h"
#include "durable_write.h"
#include "platform.h"
#include "report.h"
#include "staged_output.h"
#include "write_whole.h"

namespace {

// Large enough that a merge file of a million tiny actions costs a few hundred
// write calls instead of two million; small enough to stay in the cache.
constexpr uint32_t kStagingSize = 256 * 1024;

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

}  // namespace

RewriteOutcome RewriteLevel(const char* levelName, const char* backupName,
                            const LevelImage& level, const MergeImage& merge,
                            uint32_t firstActionAt) {
  HoldInterruptions();
  Merge merged = {&level, &merge, firstActionAt};
  bool emptied = false;
  DWORD error = WriteDurably(levelName, WriteMerged, &merged, &emptied);
  // A level that was emptied holds a beginning of the merged level at best:
  // the old one is still whole in memory.
  DWORD restoreError = NO_ERROR;
  if (error != NO_ERROR && emptied) {
    Bytes old = {level.buffer, level.size};
    restoreError = WriteDurably(levelName, WriteBytes, &old, &emptied);
  }
  ReleaseInterruptions();

  if (error == NO_ERROR) {
    Report("Done !\n");
    return RewriteOutcome::MERGED;
  }
  if (restoreError == NO_ERROR) {
    Report("Can't write the level %s (error %ld); the level is unchanged.\n", levelName,
           static_cast<long>(error));
    return RewriteOutcome::UNCHANGED;
  }
  Report(
      "Can't write the level %s (error %ld), nor restore it (error %ld); the next run "
      "restores it from %s first.\n",
      levelName, static_cast<long>(error), static_cast<long>(restoreError), backupName);
  return RewriteOutcome::IN_PIECES;
}
