#include "staged_output.h"

#include <cstring>

namespace {

// Single writes stay well below what every system moves at once.
constexpr DWORD WRITE_MAX = DWORD{1} << 26;

}  // namespace

bool WriteWhole(HANDLE file, const uint8_t* bytes, size_t count) {
  for (size_t done = 0; done < count;) {
    DWORD want = count - done < WRITE_MAX ? static_cast<DWORD>(count - done) : WRITE_MAX;
    DWORD written = 0;
    if (!WriteFile(file, bytes + done, want, &written, nullptr) || written != want)
      return false;
    done += written;
  }
  return true;
}

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
