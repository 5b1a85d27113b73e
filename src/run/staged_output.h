#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// A file written through a fixed buffer: small slices are gathered and written
// a full buffer at a time, and a slice at least as large as the buffer goes to
// the file straight from where it lies. Nothing beyond the buffer is held, so
// the output is never assembled whole.
struct StagedOutput {
  HANDLE file;
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t used;
};

// A SliceWriter (apply_actions.h) for a StagedOutput. Returns false when a
// write failed; GetLastError then tells why, and the output is not to be used
// further.
bool StageSlice(void* output, const uint8_t* bytes, uint32_t count);

// Writes what is still gathered. Returns false as StageSlice does.
bool FlushStaged(StagedOutput* output);
