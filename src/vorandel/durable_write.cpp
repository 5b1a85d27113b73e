#include "durable_write.h"

#include <atomic>

namespace {

std::atomic<bool> levelInPieces{false};

// Windows calls this on a thread of its own, and ends the process as soon as
// it returns from a closed console, a logoff or a shutdown: it returns only
// once the level is whole again. TRUE: the run goes on and ends as it would
// have.
BOOL WINAPI FinishTheLevelFirst(DWORD) {
  while (levelInPieces.load()) Sleep(10);
  return TRUE;
}

}  // namespace

DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  *emptied = file != INVALID_HANDLE_VALUE;
  if (!*emptied) return GetLastError();
  return WriteFlushClose(file, write, content);
}

DWORD FlushFolder(const char* folder) {
  HANDLE handle = CreateFileA(
      folder, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // A system that won't open or flush a folder keeps its entries safe its own
  // way: NTFS commits them to its log within seconds.
  if (handle == INVALID_HANDLE_VALUE) return NO_ERROR;
  DWORD error = FlushFileBuffers(handle) ? NO_ERROR : GetLastError();
  if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
      error == ERROR_ACCESS_DENIED)
    error = NO_ERROR;
  if (!CloseHandle(handle) && error == NO_ERROR) error = GetLastError();
  return error;
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
