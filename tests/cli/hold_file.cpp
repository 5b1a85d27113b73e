// Test helper: holds a file open as another program would, until its
// standard input ends. Prints "held" once the file is open.
//   hold_file PATH          opened for reading, shared with no one
//   hold_file PATH read     opened for reading, shared with readers
#include <cstdio>
#include <cstring>

#include "platform.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: hold_file PATH [read]\n", stderr);
    return 2;
  }
  bool shareRead = argc > 2 && strcmp(argv[2], "read") == 0;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, shareRead ? FILE_SHARE_READ : 0,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  puts("held");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  CloseHandle(file);
  return 0;
}
