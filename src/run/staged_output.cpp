#include "staged_output.h"

#include <cstring>

#include "write_whole.h"

bool FlushStaged(StagedOutput* output) {
  uint32_t used = output->used;
  output->used = 0;
  return used == 0 || WriteWhole(output->file, output->buffer, used);
}

bool StageSlice(void* context, const uint8_t* bytes, uint32_t count) {
  auto* output = static_cast<StagedOutput*>(context);
  uint32_t room = output->capacity - output->used;
  if (count <= room) {
    memcpy(output->buffer + output->used, bytes, count);
    output->used += count;
    return true;
  }
  if (count >= output->capacity)
    return FlushStaged(output) && WriteWhole(output->file, bytes, count);
  // Top the buffer up, write it, and keep the rest of the slice.
  memcpy(output->buffer + output->used, bytes, room);
  output->used = output->capacity;
  if (!FlushStaged(output)) return false;
  memcpy(output->buffer, bytes + room, count - room);
  output->used = count - room;
  return true;
}
