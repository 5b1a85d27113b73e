// Writing a whole file so that it reaches the disk, with interruptions held
// while a level is in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Writes a file's whole content into an open handle; returns false when a
// write failed, GetLastError then telling why.
using ContentWriter = bool (*)(HANDLE file, const void* content);

struct Bytes {
  const uint8_t* bytes;
  size_t size;
};

// A ContentWriter for Bytes.
bool WriteBytes(HANDLE file, const void* bytes);

// Recreates the file `name` in place, writes its content and puts it on the
// disk. Returns NO_ERROR, or the error of the step that failed; *emptied
// tells whether the file was recreated, and so no longer holds what it held.
DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied);

// Puts the names created, renamed or deleted in `folder` on the disk.
DWORD FlushFolder(const char* folder);

// Between these two calls Ctrl+C, Ctrl+Break, closing the console, logoff
// and shutdown wait, so that the level is never left in pieces by them.
void HoldInterruptions();
void ReleaseInterruptions();
