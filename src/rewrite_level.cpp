#include "rewrite_level.h"

#include "apply_actions.h"
#include "platform.h"
#include "report.h"

namespace {

bool WriteSlice(void* file, const uint8_t* bytes, uint32_t count) {
  DWORD written = 0;
  return WriteFile(*static_cast<HANDLE*>(file), bytes, count, &written, nullptr) &&
         written == count;
}

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

  bool written = ApplyActions(level, merge, firstActionAt, WriteSlice, &out);
  DWORD error = written ? NO_ERROR : GetLastError();
  if (!CloseHandle(out) && written) {
    written = false;
    error = GetLastError();
  }
  if (!written) return ReportWriteFailure(levelName, backupName, error);
  Report("Done !\n");
  return true;
}
