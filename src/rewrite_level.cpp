#include "rewrite_level.h"

#include "platform.h"
#include "report.h"

namespace {

bool WriteSlice(HANDLE file, const uint8_t* bytes, uint32_t count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
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

  // The checks guarantee levelCursor <= offset, offset + removeLength <=
  // level.size and every record inside the merge file, so no sum wraps.
  bool written = true;
  uint32_t levelCursor = 0;
  uint32_t actionCursor = firstActionAt;
  while (written && actionCursor < merge.size) {
    const uint8_t* record = merge.buffer + actionCursor;
    uint32_t offset = ReadU32(record + OFFSET_AT);
    uint32_t removeLength = ReadU32(record + REMOVE_LENGTH_AT);
    uint32_t insertLength = ReadU32(record + INSERT_LENGTH_AT);
    written = WriteSlice(out, level.buffer + levelCursor, offset - levelCursor) &&
              WriteSlice(out, record + DATA_AT, insertLength);
    levelCursor = offset + removeLength;
    actionCursor += RECORD_HEAD_SIZE + insertLength;
  }
  if (written && levelCursor < level.size)
    written = WriteSlice(out, level.buffer + levelCursor, level.size - levelCursor);

  DWORD error = written ? NO_ERROR : GetLastError();
  if (!CloseHandle(out) && written) {
    written = false;
    error = GetLastError();
  }
  if (!written) return ReportWriteFailure(levelName, backupName, error);
  Report("Done !\n");
  return true;
}
