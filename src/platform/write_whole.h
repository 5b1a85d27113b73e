#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Writes `count` bytes whole, in calls small enough for every system. Returns
// false when a write failed; GetLastError then tells why.
bool WriteWhole(HANDLE file, const uint8_t* bytes, size_t count);

// Writes a file's whole content into an open handle; returns false when a
// write failed, GetLastError then telling why.
using ContentWriter = bool (*)(HANDLE file, const void* content);

struct Bytes {
  const uint8_t* bytes;
  size_t size;
};

// A ContentWriter for Bytes.
bool WriteBytes(HANDLE file, const void* bytes);

// Writes the content into the file just opened, puts it on the disk and
// closes the file, whatever failed. Returns NO_ERROR, or the error of the
// first step that failed.
DWORD WriteFlushClose(HANDLE file, ContentWriter write, const void* content);
