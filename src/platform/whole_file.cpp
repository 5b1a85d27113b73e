#include "whole_file.h"

#include "system.h"

namespace {

HANDLE OpenToRead(const char* path, DWORD shareMode) {
  return CreateFileA(path, GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Sizes the open file and brings its bytes into *file.
LoadFailure LoadOpen(HANDLE handle, LoadWay way, WholeFile* file) {
  uint32_t size = 0;
  LoadFailure sized = SizeOfOpen(handle, &size);
  if (sized.step != LoadStep::LOADED) return sized;
  // An empty file can't be mapped, and still gets a valid address.
  if (way == LoadWay::MAP && size != 0 &&
      MapReadOnly(handle, size, &file->bytes) == NO_ERROR) {
    file->size = size;
    return {LoadStep::LOADED, NO_ERROR};
  }
  uint8_t* read = nullptr;
  DWORD error = GetFreshMemory(size == 0 ? 1 : size, &read);
  if (error != NO_ERROR) return {LoadStep::READ_FAILED, error};
  *file = {read, size, read};
  DWORD bytesRead = 0;
  if (!ReadFile(handle, read, size, &bytesRead, nullptr))
    return {LoadStep::READ_FAILED, GetLastError()};
  // A file cut short since it was sized: the read itself went well.
  if (bytesRead != size) return {LoadStep::READ_FAILED, ERROR_GEN_FAILURE};
  return {LoadStep::LOADED, NO_ERROR};
}

}  // namespace

LoadFailure SizeOfOpen(HANDLE file, uint32_t* size) {
  DWORD sizeHigh = 0;
  DWORD low = GetFileSize(file, &sizeHigh);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
    return {LoadStep::SIZE_FAILED, GetLastError()};
  if (sizeHigh != 0 || low == INVALID_FILE_SIZE) return {LoadStep::TOO_LARGE, NO_ERROR};
  *size = low;
  return {LoadStep::LOADED, NO_ERROR};
}

LoadFailure SizeOfFile(const char* path, DWORD shareMode, uint32_t* size) {
  HANDLE handle = OpenToRead(path, shareMode);
  if (handle == INVALID_HANDLE_VALUE) return {LoadStep::OPEN_FAILED, GetLastError()};
  LoadFailure sized = SizeOfOpen(handle, size);
  (void)CloseHandle(handle);  // only sized
  return sized;
}

LoadFailure LoadWhole(const char* path, DWORD shareMode, LoadWay way, WholeFile* file) {
  *file = {nullptr, 0, nullptr};
  HANDLE handle = OpenToRead(path, shareMode);
  if (handle == INVALID_HANDLE_VALUE) return {LoadStep::OPEN_FAILED, GetLastError()};
  LoadFailure failure = LoadOpen(handle, way, file);
  // Only read through: closing it can lose nothing.
  (void)CloseHandle(handle);
  if (failure.step != LoadStep::LOADED) ReleaseWhole(file);
  return failure;
}

void ReleaseWhole(WholeFile* file) {
  if (file->read != nullptr)
    FreeFreshMemory(file->read, file->size == 0 ? 1 : file->size);
  else if (file->bytes != nullptr)
    UnmapReadOnly(file->bytes, file->size);
  *file = {nullptr, 0, nullptr};
}
