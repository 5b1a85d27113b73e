#pragma once

#include <cstdint>

#include "platform.h"

// The step at which reading a whole file failed.
enum class LoadStep { LOADED, OPEN_FAILED, SIZE_FAILED, TOO_LARGE, READ_FAILED };

struct LoadFailure {
  LoadStep step;
  DWORD error;  // the system's, right after the call that failed
};

// Reads the file at `path` whole, opened without sharing, into fresh memory
// that the caller owns (VirtualFree releases it). Files are limited to
// 4 GiB - 2 bytes, as sizes are 32-bit and 0xFFFFFFFF is no size at all.
// An empty file gives a valid buffer of size 0. Prints nothing: each program
// words the failure its own way.
LoadFailure LoadWhole(const char* path, uint8_t** buffer, uint32_t* size);
