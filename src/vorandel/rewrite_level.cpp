#include "rewrite_level.h"

#include "apply_actions.h"
#include "platform.h"
#include "report.h"
#include "staged_output.h"

namespace {

// Large enough that a merge file of a million tiny actions costs a few hundred
// write calls instead of two million; small enough to stay in the cache.
constexpr uint32_t kStagingSize = 256 * 1024;

bool ReportWriteFailure(const char* levelName, const char* backupName, DWORD error) {
  Report("Can't write the level %s (error %ld); the backup %s holds the original.\n",
         levelName, static_cast<long>(error), backupName);
  return false;
}

}  // namespace

bool RewriteLevel(const char* levelName, const char* backupName, const LevelImage& level,
                  const MergeImage& merge, uint32_t firstActionAt) {
  HANDLE out = CreateFileA(levelName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE)
    return ReportWriteFailure(levelName, backupName, GetLastError());

  static uint8_t staging[kStagingSize];
  StagedOutput output = {out, staging, kStagingSize, 0};
  bool written = ApplyActions(level, merge, firstActionAt, StageSlice, &output) &&
                 FlushStaged(&output);
  DWORD error = written ? NO_ERROR : GetLastError();
  if (!CloseHandle(out) && written) {
    written = false;
    error = GetLastError();
  }
  if (!written) return ReportWriteFailure(levelName, backupName, error);
  Report("Done !\n");
  return true;
}
