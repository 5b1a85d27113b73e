#include "mrgtool_io.h"

#include <cstdarg>
#include <string>

#include "system.h"
#include "write_whole.h"

namespace {

constexpr int TEMPORARY_TRIES = 100;

}  // namespace

void Say(MrgtoolSays message, const SaidOf& of) {
  PrintError("%s", FormatMrgtool(message, of).c_str());
}

void Print(Stream stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PrintText(stream, format, arguments);
  va_end(arguments);
}

void PrintError(const char* format, ...) {
  Print(Stream::STANDARD_ERROR, "%s", MRGTOOL_PREFIX);
  va_list arguments;
  va_start(arguments, format);
  PrintText(Stream::STANDARD_ERROR, format, arguments);
  va_end(arguments);
  Print(Stream::STANDARD_ERROR, "\n");
}

bool ReadWholeFile(const char* path, FileBytes* file) {
  // Others may read the file meanwhile; mapping spares the copy and the fresh
  // memory a read needs.
  LoadFailure failure = LoadWhole(path, FILE_SHARE_READ, LoadWay::MAP, file);
  switch (failure.step) {
    case LoadStep::LOADED: return true;
    case LoadStep::OPEN_FAILED:
      Say(MrgtoolSays::CANT_OPEN, {path, {}, failure.error});
      break;
    case LoadStep::SIZE_FAILED:
      Say(MrgtoolSays::CANT_SIZE, {path, {}, failure.error});
      break;
    case LoadStep::TOO_LARGE: Say(MrgtoolSays::FILE_TOO_LARGE, {path}); break;
    case LoadStep::READ_FAILED:
      Say(MrgtoolSays::CANT_READ, {path, {}, failure.error});
      break;
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
    Say(MrgtoolSays::CANT_WRITE, {path, {}, GetLastError()});
    return false;
  }
  // On the disk before it takes OUT's place: whole or not at all.
  Bytes content = {bytes, size};
  DWORD error = WriteFlushClose(handle, WriteBytes, &content);
  if (error != NO_ERROR) {
    Say(MrgtoolSays::CANT_WRITE, {path, {}, error});
    (void)RemoveFile(temporary.c_str());
    return false;
  }
  error = RenameReplacing(temporary.c_str(), path);
  if (error != NO_ERROR) {
    Say(MrgtoolSays::CANT_REPLACE, {path, {}, error});
    (void)RemoveFile(temporary.c_str());
  }
  return error == NO_ERROR;
}
