// What reading a file whole into fresh memory costs with each way of getting
// that memory. Build and run (the file should be in the page cache: run twice):
//   g++ -O2 -o build/bench/alloc_strategies bench/alloc_strategies.cpp
//   build/bench/alloc_strategies FILE
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

void ReadAll(int fd, unsigned char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, buffer + done, size - done, static_cast<off_t>(done));
    if (n <= 0) {
      perror("read");
      exit(1);
    }
    done += static_cast<size_t>(n);
  }
}

unsigned char* Anonymous(size_t size, int extraFlags, bool huge) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | extraFlags, -1, 0);
  if (p == MAP_FAILED) {
    perror("mmap");
    exit(1);
  }
  if (huge) madvise(p, size, MADV_HUGEPAGE);
  return static_cast<unsigned char*>(p);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    perror(argv[1]);
    return 1;
  }
  size_t size = static_cast<size_t>(info.st_size);
  const char* names[] = {"new[]",
                         "mmap",
                         "mmap+MADV_HUGEPAGE",
                         "mmap+MAP_POPULATE",
                         "mmap+MADV_HUGEPAGE+MADV_POPULATE_WRITE",
                         "memory already touched (copy only)"};
  unsigned char* touched = new unsigned char[size];
  memset(touched, 1, size);
  for (int round = 0; round < 3; ++round) {
    for (int way = 0; way < 6; ++way) {
      auto start = std::chrono::steady_clock::now();
      unsigned char* buffer = nullptr;
      switch (way) {
        case 0: buffer = new unsigned char[size]; break;
        case 1: buffer = Anonymous(size, 0, false); break;
        case 2: buffer = Anonymous(size, 0, true); break;
        case 3: buffer = Anonymous(size, MAP_POPULATE, false); break;
        case 4: {
          // Huge pages need the advice before the pages are touched.
          buffer = Anonymous(size, 0, true);
          madvise(buffer, size, MADV_POPULATE_WRITE);
          break;
        }
        case 5: buffer = touched; break;
      }
      ReadAll(fd, buffer, size);
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      printf("%-34s %.3f s  %.2f s/GiB\n", names[way], seconds,
             seconds * double(1 << 30) / double(size));
      if (way == 0)
        delete[] buffer;
      else if (way != 5)
        munmap(buffer, size);
    }
  }
  return 0;
}
