// What reading a file whole into fresh memory costs with each way of getting
// that memory: medians of 5 rounds, wall and CPU time. Build and run (with the
// file in the page cache):
//   g++ -O2 -o build/bench/alloc_strategies bench/alloc_strategies.cpp
//   build/bench/alloc_strategies build/bench/inputs/s1.orig
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

unsigned char* Anonymous(size_t size, int extraFlags, bool huge, bool populate) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | extraFlags, -1, 0);
  if (p == MAP_FAILED) {
    perror("mmap");
    exit(1);
  }
  // Huge pages need the advice before the pages are touched.
  if (huge) madvise(p, size, MADV_HUGEPAGE);
  if (populate) madvise(p, size, MADV_POPULATE_WRITE);
  return static_cast<unsigned char*>(p);
}

double CpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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
  const char* names[] = {"new[] (heap)",
                         "mmap",
                         "mmap, MAP_POPULATE",
                         "mmap, MADV_HUGEPAGE",
                         "mmap, MADV_HUGEPAGE + MADV_POPULATE_WRITE",
                         "memory already touched: the copy alone"};
  constexpr int kWays = 6;
  constexpr int kRounds = 5;
  unsigned char* touched = new unsigned char[size];
  memset(touched, 1, size);
  std::vector<double> wall[kWays];
  std::vector<double> cpu[kWays];
  for (int round = 0; round < kRounds; ++round) {
    for (int way = 0; way < kWays; ++way) {
      auto start = std::chrono::steady_clock::now();
      double cpuStart = CpuSeconds();
      unsigned char* buffer = nullptr;
      switch (way) {
        case 0: buffer = new unsigned char[size]; break;
        case 1: buffer = Anonymous(size, 0, false, false); break;
        case 2: buffer = Anonymous(size, MAP_POPULATE, false, false); break;
        case 3: buffer = Anonymous(size, 0, true, false); break;
        case 4: buffer = Anonymous(size, 0, true, true); break;
        default: buffer = touched; break;
      }
      ReadAll(fd, buffer, size);
      wall[way].push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
              .count());
      cpu[way].push_back(CpuSeconds() - cpuStart);
      if (way == 0)
        delete[] buffer;
      else if (buffer != touched)
        munmap(buffer, size);
    }
  }
  double gib = double(size) / double(1 << 30);
  printf(
      "| Memory the file is read into | Wall, s/GiB | CPU, s/GiB |\n|---|---:|---:|\n");
  for (int way = 0; way < kWays; ++way)
    printf("| %s | %.2f | %.2f |\n", names[way], Median(wall[way]) / gib,
           Median(cpu[way]) / gib);
  return 0;
}
