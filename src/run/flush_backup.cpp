#include "flush_backup.h"

#include <cstring>
#include <memory>
#include <new>

#include "system.h"
#include "whole_file.h"

namespace {

// The backup is compared a piece at a time: mapped or read whole, it would
// count as a second level in the run's memory.
constexpr DWORD COMPARE_PIECE = DWORD{1} << 20;

HANDLE OpenForFlush(const char* name) {
  return CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether the open file holds exactly the level's bytes.
DWORD CompareWithLevel(HANDLE file, const LevelImage& level, bool* same) {
  uint32_t size = 0;
  LoadFailure sized = SizeOfOpen(file, &size);
  if (sized.step == LoadStep::SIZE_FAILED) return sized.error;
  if (sized.step != LoadStep::LOADED || size != level.size) return NO_ERROR;
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[COMPARE_PIECE]);
  if (!piece) return ERROR_NOT_ENOUGH_MEMORY;
  for (DWORD at = 0; at < size;) {
    DWORD want = size - at < COMPARE_PIECE ? size - at : COMPARE_PIECE;
    DWORD got = 0;
    if (!ReadFile(file, piece.get(), want, &got, nullptr)) return GetLastError();
    // A backup cut short since it was sized is no copy of the level.
    if (got == 0 || memcmp(piece.get(), level.buffer + at, got) != 0) return NO_ERROR;
    at += got;
  }
  *same = true;
  return NO_ERROR;
}

}  // namespace

DWORD FlushBackup(const char* backupName, const char* folder) {
  // Flushing takes a handle that may write, and the backup of a read-only
  // level is read-only too: the attribute is lifted for that moment.
  bool readOnly = false;
  HANDLE file = OpenForFlush(backupName);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
      SetFileAttributesA(backupName, FILE_ATTRIBUTE_NORMAL)) {
    readOnly = true;
    file = OpenForFlush(backupName);
  }
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = FlushFile(file);
  if (!CloseHandle(file) && error == NO_ERROR) error = GetLastError();
  if (readOnly && !SetFileAttributesA(backupName, FILE_ATTRIBUTE_READONLY) &&
      error == NO_ERROR)
    error = GetLastError();
  // A new backup's name must be on the disk as surely as its content.
  if (error == NO_ERROR) error = FlushFolder(folder);
  return error;
}

DWORD BackupHolds(const char* backupName, const LevelImage& level, bool* holds) {
  *holds = false;
  HANDLE file = CreateFileA(backupName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = CompareWithLevel(file, level, holds);
  // Only read through: closing it can lose nothing.
  (void)CloseHandle(file);
  return error;
}
