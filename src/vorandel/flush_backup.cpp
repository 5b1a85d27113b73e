#include "flush_backup.h"

#include "system.h"
#include "whole_file.h"

namespace {

HANDLE OpenForFlush(const char* name) {
  return CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
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

DWORD BackupHolds(const char* backupName, const Fingerprint& level, bool* holds) {
  WholeFile backup;
  LoadFailure failure = LoadWhole(backupName, FILE_SHARE_READ, LoadWay::MAP, &backup);
  *holds = failure.step == LoadStep::LOADED &&
           SameFingerprint(FingerprintOf(backup.bytes, backup.size), level);
  ReleaseWhole(&backup);
  if (failure.step == LoadStep::LOADED || failure.step == LoadStep::TOO_LARGE)
    return NO_ERROR;
  return failure.error;
}
