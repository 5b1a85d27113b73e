#include "mrgtool_io.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <string>

#include "write_whole.h"

namespace {

// Single reads stay well below what every system moves at once.
constexpr DWORD TRANSFER_MAX = DWORD{1} << 26;
constexpr int TEMPORARY_TRIES = 100;

const char* ErrorMeaning(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_PATH_NOT_FOUND: return "folder in the path not found";
    case ERROR_TOO_MANY_OPEN_FILES: return "too many open files";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_NOT_ENOUGH_MEMORY: return "not enough memory";
    case ERROR_WRITE_PROTECT: return "the medium is write-protected";
    case ERROR_SHARING_VIOLATION: return "the file is in use by another program";
    case ERROR_FILE_EXISTS: return "the file exists";
    case ERROR_DISK_FULL: return "the disk is full";
    case ERROR_FILENAME_EXCED_RANGE: return "file name too long";
    case ERROR_FILE_TOO_LARGE: return "file too large for the system's limit";
    case ERROR_IO_DEVICE: return "input/output error";
    default: return "system error";
  }
}

void PrintSystemError(const char* failed, const char* path, DWORD error) {
  PrintError("can't %s %s: %s (error %lu)", failed, path, ErrorMeaning(error),
             static_cast<unsigned long>(error));
}

}  // namespace

void PrintError(const char* format, ...) {
  (void)fflush(stdout);  // keeps results and errors in order; stdout is checked at exit
  fputs("mrgtool: ", stderr);
  va_list arguments;
  va_start(arguments, format);
  vfprintf(stderr, format, arguments);
  va_end(arguments);
  fputc('\n', stderr);
}

FileBytes::~FileBytes() {
  if (view != nullptr) UnmapViewOfFile(view);
}

namespace {

// Maps the open file whole; false when the system can't.
bool MapWholeFile(HANDLE handle, FileBytes* file) {
  HANDLE mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return false;
  file->view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  file->bytes = static_cast<const uint8_t*>(file->view);
  return file->view != nullptr;
}

bool ReadOpenFile(const char* path, HANDLE handle, DWORD size, FileBytes* file) {
  file->buffer.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
  if (!file->buffer) {
    PrintError("not enough memory to read %s (%lu bytes)", path,
               static_cast<unsigned long>(size));
    return false;
  }
  file->bytes = file->buffer.get();
  DWORD done = 0;
  DWORD got = 0;
  while (done < size) {
    DWORD want = size - done < TRANSFER_MAX ? size - done : TRANSFER_MAX;
    if (!ReadFile(handle, file->buffer.get() + done, want, &got, nullptr) || got == 0)
      break;
    done += got;
  }
  if (done == size) return true;
  PrintSystemError("read", path, GetLastError());
  return false;
}

}  // namespace

bool ReadWholeFile(const char* path, FileBytes* file) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PrintSystemError("open", path, GetLastError());
    return false;
  }
  bool loaded = false;
  DWORD high = 0;
  DWORD low = GetFileSize(handle, &high);
  DWORD error = low == INVALID_FILE_SIZE ? GetLastError() : NO_ERROR;
  if (error != NO_ERROR) {
    PrintSystemError("get the size of", path, error);
  } else if (high != 0 || low == INVALID_FILE_SIZE) {
    PrintError("%s is too large: merge files and levels stay below 4 GiB - 1 byte", path);
  } else {
    // Mapping spares the copy and the fresh memory a read needs.
    loaded =
        (low != 0 && MapWholeFile(handle, file)) || ReadOpenFile(path, handle, low, file);
    if (loaded) file->size = low;
  }
  CloseHandle(handle);
  return loaded;
}

bool WriteFileReplacing(const char* path, const uint8_t* bytes, size_t size) {
  std::string temporary;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < TEMPORARY_TRIES && handle == INVALID_HANDLE_VALUE;
       ++attempt) {
    temporary = std::string(path) + ".tmp" + std::to_string(attempt);
    handle = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    PrintSystemError("write", path, GetLastError());
    return false;
  }
  bool written = WriteWhole(handle, bytes, size);
  DWORD error = written ? NO_ERROR : GetLastError();
  if (!CloseHandle(handle) && written) {
    written = false;
    error = GetLastError();
  }
  if (written && !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
    PrintSystemError("replace", path, GetLastError());
    DeleteFileA(temporary.c_str());
    return false;
  }
  if (!written) {
    PrintSystemError("write", path, error);
    DeleteFileA(temporary.c_str());
  }
  return written;
}

bool StandardErrorIsTerminal() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
         GetConsoleMode(handle, &mode) != FALSE;
}
