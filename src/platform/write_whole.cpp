#include "write_whole.h"

#include "system.h"

namespace {

// Single writes stay well below what every system moves at once.
constexpr DWORD WRITE_MAX = DWORD{1} << 26;

// The error of the call that just failed; a short write leaves none.
DWORD FailedWith() {
  DWORD error = GetLastError();
  return error != NO_ERROR ? error : ERROR_GEN_FAILURE;
}

}  // namespace

bool WriteWhole(HANDLE file, const uint8_t* bytes, size_t count) {
  for (size_t done = 0; done < count;) {
    DWORD want = count - done < WRITE_MAX ? static_cast<DWORD>(count - done) : WRITE_MAX;
    DWORD written = 0;
    if (!WriteFile(file, bytes + done, want, &written, nullptr) || written == 0)
      return false;
    // A short write goes on: the next one tells why, if anything is wrong.
    done += written;
  }
  return true;
}

bool WriteBytes(HANDLE file, const void* bytes) {
  const auto* content = static_cast<const Bytes*>(bytes);
  return WriteWhole(file, content->bytes, content->size);
}

DWORD WriteFlushClose(HANDLE file, ContentWriter write, const void* content) {
  DWORD error = write(file, content) ? FlushFile(file) : FailedWith();
  if (!CloseHandle(file) && error == NO_ERROR) error = FailedWith();
  return error;
}
