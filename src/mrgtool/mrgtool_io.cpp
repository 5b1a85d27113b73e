#include "mrgtool_io.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "write_whole.h"

namespace {

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

bool ReadWholeFile(const char* path, FileBytes* file) {
  // Others may read the file meanwhile; mapping spares the copy and the fresh
  // memory a read needs.
  LoadFailure failure = LoadWhole(path, FILE_SHARE_READ, LoadWay::MAP, &file->whole);
  file->bytes = file->whole.bytes;
  file->size = file->whole.size;
  switch (failure.step) {
    case LoadStep::LOADED: return true;
    case LoadStep::OPEN_FAILED: PrintSystemError("open", path, failure.error); break;
    case LoadStep::SIZE_FAILED:
      PrintSystemError("get the size of", path, failure.error);
      break;
    case LoadStep::TOO_LARGE:
      PrintError("%s is too large: merge files and levels stay below 4 GiB - 1 byte",
                 path);
      break;
    case LoadStep::READ_FAILED: PrintSystemError("read", path, failure.error); break;
  }
  return false;
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
  // On the disk before it takes OUT's place: whole or not at all.
  Bytes content = {bytes, size};
  DWORD error = WriteFlushClose(handle, WriteBytes, &content);
  bool written = error == NO_ERROR;
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
