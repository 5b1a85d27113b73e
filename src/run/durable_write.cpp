#include "durable_write.h"

#include "system.h"

DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  *emptied = file != INVALID_HANDLE_VALUE;
  if (!*emptied) return GetLastError();
  return WriteFlushClose(file, write, content);
}

DWORD WriteOwnFile(const char* name, ContentWriter write, const void* content) {
  DWORD error = RemoveFile(name);
  if (error != NO_ERROR && error != ERROR_FILE_NOT_FOUND) return error;
  // Only a new file is opened: whatever takes the name meanwhile is refused.
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  return WriteFlushClose(file, write, content);
}
