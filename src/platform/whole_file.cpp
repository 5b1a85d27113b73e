#include "whole_file.h"

namespace {

// Maps the open file whole; false when the system can't.
bool MapWhole(HANDLE handle, WholeFile* file) {
  HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return false;
  LPVOID view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  file->bytes = static_cast<const uint8_t*>(view);
  return view != nullptr;
}

}  // namespace

// Every path, success included, leaves the body by throwing, so the handle
// is closed in one place: exactly once after a successful open.
LoadFailure LoadWhole(const char* path, DWORD shareMode, LoadWay way, WholeFile* file) {
  *file = {nullptr, 0, nullptr};
  LoadFailure failure = {LoadStep::LOADED, NO_ERROR};
  HANDLE handle = INVALID_HANDLE_VALUE;
  try {
    handle = CreateFileA(path, GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      failure = {LoadStep::OPEN_FAILED, GetLastError()};
      throw 0;
    }

    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(handle, &sizeHigh);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
      failure = {LoadStep::SIZE_FAILED, GetLastError()};
      throw 0;
    }
    if (sizeHigh != 0 || size == INVALID_FILE_SIZE) {
      failure = {LoadStep::TOO_LARGE, NO_ERROR};
      throw 0;
    }
    file->size = size;
    // An empty file can't be mapped.
    if (way == LoadWay::MAP && size != 0 && MapWhole(handle, file)) throw 0;

    // Fresh pages from the system, not the heap: nothing zero-fills them
    // again, and on POSIX a large image gets huge pages, so reading into it
    // costs far fewer page faults. An empty file still gets a valid address.
    file->read = static_cast<uint8_t*>(VirtualAlloc(
        nullptr, size == 0 ? 1 : size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    file->bytes = file->read;
    DWORD bytesRead = 0;
    if (file->read != nullptr) ReadFile(handle, file->read, size, &bytesRead, nullptr);
    if (file->read == nullptr || bytesRead != size) {
      failure = {LoadStep::READ_FAILED, GetLastError()};
      throw 0;
    }
    throw 0;
  } catch (...) {
  }
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return failure;
}

void ReleaseWhole(WholeFile* file) {
  if (file->read != nullptr)
    (void)VirtualFree(file->read, 0, MEM_RELEASE);
  else if (file->bytes != nullptr)
    (void)UnmapViewOfFile(file->bytes);
  *file = {nullptr, 0, nullptr};
}
