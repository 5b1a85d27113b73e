#include "load_whole_file.h"

#include "platform.h"
#include "report.h"

// Every path, success included, leaves the body by throwing, so the handle
// is closed in one place: exactly once after a successful open.
bool LoadWholeFile(const char* path, uint8_t** buffer, uint32_t* size) {
  *buffer = nullptr;
  *size = 0;
  bool loaded = false;
  HANDLE file = INVALID_HANDLE_VALUE;
  try {
    file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Report("File %s not found.\n", path);
      throw 0;
    }

    DWORD sizeHigh = 0;
    DWORD sizeLow = GetFileSize(file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE) {
      DWORD error = GetLastError();
      if (error != NO_ERROR) {
        Report("Can't get the size of the file (error %ld).\n", static_cast<long>(error));
        throw 0;
      }
    }
    // Sizes are 32-bit and 0xFFFFFFFF is no size at all.
    if (sizeHigh != 0 || sizeLow == INVALID_FILE_SIZE) {
      Report("File %s is too large.\n", path);
      throw 0;
    }
    *size = sizeLow;

    // Fresh pages from the system, not the heap: nothing zero-fills them
    // again, and on POSIX a large image gets huge pages, so reading into it
    // costs far fewer page faults. An empty file still gets a valid address.
    *buffer = static_cast<uint8_t*>(VirtualAlloc(
        nullptr, sizeLow == 0 ? 1 : sizeLow, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD bytesRead = 0;
    if (*buffer != nullptr) ReadFile(file, *buffer, sizeLow, &bytesRead, nullptr);
    if (*buffer == nullptr || bytesRead != sizeLow) {
      Report("Can't read the data (error %ld).\n", static_cast<long>(GetLastError()));
      throw 0;
    }

    loaded = true;
    throw 0;
  } catch (...) {
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return loaded;
}
