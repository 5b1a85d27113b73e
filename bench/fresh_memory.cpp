// Gets and faults in fresh memory the way the tool gets its two images, and
// exits: what that memory costs in one run of the benchmark, which the copy
// floors never pay. Built by bench/run against the platform layer:
//   fresh_memory LEVEL-BYTES MERGE-BYTES
#include <cstdio>
#include <cstdlib>

#include "system.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    (void)fprintf(stderr, "usage: fresh_memory LEVEL-BYTES MERGE-BYTES\n");
    return 2;
  }
  for (int i = 1; i < 3; ++i) {
    unsigned long long size = strtoull(argv[i], nullptr, 10);
    uint8_t* fresh = nullptr;
    DWORD error = GetFreshMemory(size == 0 ? 1 : size, &fresh);
    if (error != NO_ERROR) {
      (void)fprintf(stderr, "fresh_memory: no memory (error %lu)\n",
                    static_cast<unsigned long>(error));
      return 1;
    }
    volatile uint8_t* image = fresh;
    // Small pages are faulted in as they are first written, as the read does.
    for (unsigned long long at = 0; at < size; at += 4096) image[at] = 1;
  }
  return 0;
}
