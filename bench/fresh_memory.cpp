// Gets and faults in fresh memory the way the tool gets its two images, and
// exits: what that memory costs in one run of the benchmark, which the copy
// floors never pay. Built by bench/run against the platform layer:
//   fresh_memory LEVEL-BYTES MERGE-BYTES
#include <cstdio>
#include <cstdlib>

#include "platform.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    (void)fprintf(stderr, "usage: fresh_memory LEVEL-BYTES MERGE-BYTES\n");
    return 2;
  }
  for (int i = 1; i < 3; ++i) {
    unsigned long long size = strtoull(argv[i], nullptr, 10);
    auto* image = static_cast<volatile unsigned char*>(
        VirtualAlloc(nullptr, size == 0 ? 1 : size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (image == nullptr) {
      (void)fprintf(stderr, "fresh_memory: no memory (error %lu)\n",
                    static_cast<unsigned long>(GetLastError()));
      return 1;
    }
    // Small pages are faulted in as they are first written, as the read does.
    for (unsigned long long at = 0; at < size; at += 4096) image[at] = 1;
  }
  return 0;
}
