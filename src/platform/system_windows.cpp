// What the programs need from the system (system.h), on Windows.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "system.h"

namespace {

// A lock file that its last holder is deleting can't be opened for a moment
// (error 5); a few tries later its name is free.
constexpr int kLockTries = 8;

// Older consoles refuse a write much over 64 KiB.
constexpr int kConsolePiece = 8192;

std::atomic<bool> held{false};
std::atomic<bool> came{false};

// A write of the stream to its console failed: what was printed never arrived.
bool consoleFailed[2] = {false, false};

DWORD ErrorOf(BOOL done) { return done ? NO_ERROR : GetLastError(); }

FILE* FileOf(Stream stream) { return stream == Stream::STANDARD_ERROR ? stderr : stdout; }

HANDLE HandleOf(Stream stream) {
  return GetStdHandle(stream == Stream::STANDARD_ERROR ? STD_ERROR_HANDLE
                                                       : STD_OUTPUT_HANDLE);
}

// The bytes, in the ANSI code page, as the characters they stand for.
bool WriteToConsole(HANDLE console, const std::string& text) {
  if (text.empty()) return true;
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(std::max(length, 1)));
  if (length <= 0 ||
      MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length) != length)
    return false;
  for (int at = 0; at < length;) {
    DWORD written = 0;
    auto piece = static_cast<DWORD>(std::min(length - at, kConsolePiece));
    if (!WriteConsoleW(console, wide.data() + at, piece, &written, nullptr) ||
        written == 0)
      return false;
    at += static_cast<int>(written);
  }
  return true;
}

// Windows calls this on a thread of its own, and ends the process as soon as
// it returns from a closed console, a logoff or a shutdown: it returns only
// once the hold ends. TRUE: the process goes on.
BOOL WINAPI WaitWhileHeld(DWORD) {
  came.store(true);
  while (held.load()) Sleep(10);
  return TRUE;
}

}  // namespace

// Windows fails a write past a limit by itself.
void SetUpProcess() {}

DWORD GetFreshMemory(size_t size, uint8_t** memory) {
  *memory = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  return ErrorOf(*memory != nullptr);
}

void FreeFreshMemory(uint8_t* memory, size_t) {
  (void)VirtualFree(memory, 0, MEM_RELEASE);
}

DWORD MapReadOnly(HANDLE file, size_t size, const uint8_t** view) {
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return GetLastError();
  *view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size));
  DWORD error = ErrorOf(*view != nullptr);
  (void)CloseHandle(mapping);  // the view keeps what it needs of it
  return error;
}

void UnmapReadOnly(const uint8_t* view, size_t) { (void)UnmapViewOfFile(view); }

DWORD FlushFile(HANDLE file) { return ErrorOf(FlushFileBuffers(file)); }

DWORD FlushFolder(const char* folder) {
  HANDLE handle = CreateFileA(
      folder, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  // Backup semantics open a file too, which is no folder, as on POSIX.
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = ErrorOf(GetFileInformationByHandle(handle, &info));
  if (error == NO_ERROR && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    error = ERROR_PATH_NOT_FOUND;
  if (error == NO_ERROR) error = ErrorOf(FlushFileBuffers(handle));
  // A file system that won't flush a folder keeps its entries safe its own
  // way: NTFS commits them to its log within seconds.
  if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
      error == ERROR_ACCESS_DENIED)
    error = NO_ERROR;
  if (!CloseHandle(handle) && error == NO_ERROR) error = GetLastError();
  return error;
}

DWORD RenameReplacing(const char* from, const char* to) {
  return ErrorOf(MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING));
}

DWORD RemoveFile(const char* path) { return ErrorOf(DeleteFileA(path)); }

// An open that shares nothing: another fails with error 32. The system closes
// the handle of a process that ends, however it ends, and so deletes the file.
DWORD TakeRunLock(const char* path, RunLock* lock) {
  for (int tries = 1;; ++tries) {
    // A link in its place is opened as itself, and deleted at the release.
    lock->file = CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr);
    lock->path = path;
    DWORD error = ErrorOf(lock->file != INVALID_HANDLE_VALUE);
    if (error != ERROR_ACCESS_DENIED || tries == kLockTries) return error;
    Sleep(10);
  }
}

DWORD ReleaseRunLock(RunLock* lock) { return ErrorOf(CloseHandle(lock->file)); }

// Failing to hold them leaves the run as exposed as it always was, not worse:
// it goes on.
void HoldInterruptions() {
  came.store(false);
  held.store(true);
  (void)SetConsoleCtrlHandler(WaitWhileHeld, TRUE);
}

bool ReleaseInterruptions() {
  held.store(false);
  (void)SetConsoleCtrlHandler(WaitWhileHeld, FALSE);
  return came.load();
}

bool IsConsole(Stream stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != FALSE;
}

// The C library would hand the console the bytes, which it shows in its own
// code page (the OEM one), not in the one they were typed in.
void PrintText(Stream stream, const char* format, va_list arguments) {
  if (stream == Stream::STANDARD_ERROR) (void)fflush(stdout);
  FILE* file = FileOf(stream);
  if (!IsConsole(stream)) {
    (void)vfprintf(file, format, arguments);
    return;
  }
  va_list again;
  va_copy(again, arguments);
  int length = vsnprintf(nullptr, 0, format, arguments);
  std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
  if (length > 0) (void)vsnprintf(&text[0], text.size(), format, again);
  va_end(again);
  text.pop_back();
  (void)fflush(file);  // anything the C library holds comes first
  if (length < 0 || !WriteToConsole(HandleOf(stream), text))
    consoleFailed[stream == Stream::STANDARD_ERROR] = true;
}

bool FlushText(Stream stream) {
  FILE* file = FileOf(stream);
  return fflush(file) == 0 && ferror(file) == 0 &&
         !consoleFailed[stream == Stream::STANDARD_ERROR];
}

unsigned ConsoleProcessCount() {
  DWORD processes[4];
  return static_cast<unsigned>(GetConsoleProcessList(processes, 4));
}

// Windows tells whether a file may be made only by making one: a probe of a
// name of this process's own, deleted when closed however the process ends.
DWORD CanCreateIn(const char* folder) {
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_PATH_NOT_FOUND;
  std::string probe = std::string(folder) + "\\vorandel-" +
                      std::to_string(GetCurrentProcessId()) + ".probe";
  HANDLE file =
      CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  (void)CloseHandle(file);  // deletes it
  return NO_ERROR;
}

DWORD EnterFolder(const char* folder) { return ErrorOf(SetCurrentDirectoryA(folder)); }

// A console hands over what was typed a line at a time, once Enter is
// pressed; without line input, a key at a time.
void WaitForEnter() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return;
  char typed[64];
  DWORD read = 0;
  while (ReadFile(input, typed, sizeof typed, &read, nullptr) && read > 0)
    if (memchr(typed, '\r', read) != nullptr || memchr(typed, '\n', read) != nullptr)
      return;
}
