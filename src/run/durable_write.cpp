#include "durable_write.h"

DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  *emptied = file != INVALID_HANDLE_VALUE;
  if (!*emptied) return GetLastError();
  return WriteFlushClose(file, write, content);
}
