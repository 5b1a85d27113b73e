#include "rewrite_level.h"

#include <memory>
#include <new>

#include "durable_write.h"
#include "format/apply_actions.h"
#include "report.h"
#include "staged_output.h"
#include "system.h"
#include "write_whole.h"

namespace {

// Large enough that a merge file of a million tiny actions costs a few hundred
// write calls instead of two million; small enough to stay in the cache.
constexpr uint32_t kStagingSize = 256 * 1024;

struct Merge {
  const LevelImage* level;
  const MergeImage* merge;
  uint32_t firstActionAt;
  uint8_t* staging;  // kStagingSize bytes
};

bool WriteMerged(HANDLE file, const void* content) {
  const auto* merged = static_cast<const Merge*>(content);
  StagedOutput output = {file, merged->staging, kStagingSize, 0};
  return ApplyActions(*merged->level, *merged->merge, merged->firstActionAt, StageSlice,
                      &output) &&
         FlushStaged(&output);
}

}  // namespace

RewriteOutcome RewriteLevel(const char* levelName, const char* backupName,
                            const LevelImage& level, const MergeImage& merge,
                            uint32_t firstActionAt) {
  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[kStagingSize]);
  HoldInterruptions();
  Merge merged = {&level, &merge, firstActionAt, staging.get()};
  bool emptied = false;
  DWORD error = ERROR_NOT_ENOUGH_MEMORY;
  if (staging) error = WriteDurably(levelName, WriteMerged, &merged, &emptied);
  // A level that was emptied holds a beginning of the merged level at best:
  // the old one is still whole in memory.
  DWORD restoreError = NO_ERROR;
  if (error != NO_ERROR && emptied) {
    Bytes old = {level.buffer, level.size};
    restoreError = WriteDurably(levelName, WriteBytes, &old, &emptied);
  }
  // One that came meanwhile lets the run end as it would have.
  (void)ReleaseInterruptions();

  if (error == NO_ERROR) return RewriteOutcome::MERGED;
  if (restoreError == NO_ERROR) {
    Say(VorandelSays::WRITE_FAILED, {levelName, {}, error});
    return RewriteOutcome::UNCHANGED;
  }
  Say(VorandelSays::NOR_RESTORED, {levelName, backupName, error, restoreError});
  return RewriteOutcome::IN_PIECES;
}
