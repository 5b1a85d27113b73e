// Test helper: holds a file open as another program would, or a run's lock,
// until its standard input ends. Prints "held" once it holds it, or
// "error N" when it can't.
//   hold_file PATH          opened for reading, shared with no one
//   hold_file PATH read     opened for reading, shared with readers
//   hold_file PATH lock     the run lock on the file PATH, released at the end
#include <cstdio>
#include <cstring>

#include "platform.h"
#include "system.h"

namespace {

int Failed(DWORD error) {
  printf("error %lu\n", static_cast<unsigned long>(error));
  return 1;
}

void HoldUntilInputEnds() {
  puts("held");
  fflush(stdout);
  while (getchar() != EOF) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  SetUpProcess();
  if (argc < 2) {
    fputs("usage: hold_file PATH [read|lock]\n", stderr);
    return 2;
  }
  const char* mode = argc > 2 ? argv[2] : "";
  if (strcmp(mode, "lock") == 0) {
    RunLock lock;
    DWORD error = TakeRunLock(argv[1], &lock);
    if (error != NO_ERROR) return Failed(error);
    HoldUntilInputEnds();
    error = ReleaseRunLock(&lock);
    return error == NO_ERROR ? 0 : Failed(error);
  }
  HANDLE file =
      CreateFileA(argv[1], GENERIC_READ, strcmp(mode, "read") == 0 ? FILE_SHARE_READ : 0,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  HoldUntilInputEnds();
  CloseHandle(file);
  return 0;
}
