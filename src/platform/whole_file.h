#pragma once

#include <cstdint>

#include "platform.h"

// A whole file in memory, read-only: read into fresh memory, or mapped.
struct WholeFile {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  uint8_t* read = nullptr;  // the memory read into, or null where the file is mapped
};

enum class LoadWay {
  READ,  // into memory of the caller's own, which faults in no page later
  MAP,   // mapped where the system can, else read: no copy of a large file;
         // the file must then not change while it is used
};

// The step at which loading a file failed.
enum class LoadStep { LOADED, OPEN_FAILED, SIZE_FAILED, TOO_LARGE, READ_FAILED };

struct LoadFailure {
  LoadStep step;
  DWORD error;  // the system's, right after the call that failed
};

// Loads the file at `path` whole, opened with `shareMode`, through CreateFileA,
// GetFileSize and ReadFile. Files are limited to 4 GiB - 2 bytes: sizes are
// 32-bit and 0xFFFFFFFF is no size at all. An empty file gives a valid address
// and size 0. Prints nothing: each program words a failure its own way, and
// a failure leaves nothing to release. ReleaseWhole gives the memory back.
LoadFailure LoadWhole(const char* path, DWORD shareMode, LoadWay way, WholeFile* file);

void ReleaseWhole(WholeFile* file);

// The size of the open file, as LoadWhole takes it: LOADED, SIZE_FAILED or
// TOO_LARGE.
LoadFailure SizeOfOpen(HANDLE file, uint32_t* size);

// The size of the file at `path`, opened as LoadWhole opens it.
LoadFailure SizeOfFile(const char* path, DWORD shareMode, uint32_t* size);
