#include "whole_file.h"

// Every path, success included, leaves the body by throwing, so the handle
// is closed in one place: exactly once after a successful open.
LoadFailure LoadWhole(const char* path, uint8_t** buffer, uint32_t* size) {
  *buffer = nullptr;
  *size = 0;
  LoadFailure failure = {LoadStep::LOADED, NO_ERROR};
  HANDLE file = INVALID_HANDLE_VALUE;
  try {
    file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      failure = {LoadStep::OPEN_FAILED, GetLastError()};
      throw 0;
    }

    DWORD sizeHigh = 0;
    DWORD sizeLow = GetFileSize(file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
      failure = {LoadStep::SIZE_FAILED, GetLastError()};
      throw 0;
    }
    if (sizeHigh != 0 || sizeLow == INVALID_FILE_SIZE) {
      failure = {LoadStep::TOO_LARGE, NO_ERROR};
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
      failure = {LoadStep::READ_FAILED, GetLastError()};
      throw 0;
    }
    throw 0;
  } catch (...) {
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return failure;
}
