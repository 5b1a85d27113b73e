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

  if (error == NO_ERROR) return RewriteOutcome::MERGED;
  if (restoreError == NO_ERROR) {
    Say(VorandelSays::WRITE_FAILED, {levelName, {}, error});
    return RewriteOutcome::UNCHANGED;
  }
  Say(VorandelSays::NOR_RESTORED, {levelName, backupName, error, restoreError});
  return RewriteOutcome::IN_PIECES;
}
