#include "rewrite_level.h"

#include <memory>
#include <new>

#include "durable_write.h"
#include "format/apply_actions.h"
#include "report.h"
#include "staged_output.h"
#include "system.h"

namespace {

constexpr uint32_t kStagingSize = MERGED_STAGING_SIZE;

}  // namespace

bool WriteMergedLevel(HANDLE file, const void* content) {
  const auto* merged = static_cast<const MergedLevel*>(content);
  StagedOutput output = {file, merged->staging, kStagingSize, 0};
  return ApplyActions(*merged->level, *merged->merge, merged->firstActionAt, StageSlice,
                      &output) &&
         FlushStaged(&output);
}

RewriteOutcome RewriteInPlace(const char* levelName, const char* backupName,
                              const LevelImage& level, ContentWriter write,
                              const void* content) {
  HoldInterruptions();
  bool emptied = false;
  DWORD error = WriteDurably(levelName, write, content, &emptied);
  // A level that was emptied holds a beginning of the new level at best: the
  // old one is still whole in memory.
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

RewriteOutcome RewriteLevel(const char* levelName, const char* backupName,
                            const LevelImage& level, const MergeImage& merge,
                            uint32_t firstActionAt) {
  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[kStagingSize]);
  if (!staging) {
    Say(VorandelSays::WRITE_FAILED, {levelName, {}, ERROR_NOT_ENOUGH_MEMORY});
    return RewriteOutcome::UNCHANGED;
  }
  MergedLevel merged = {&level, &merge, firstActionAt, staging.get()};
  return RewriteInPlace(levelName, backupName, level, WriteMergedLevel, &merged);
}
