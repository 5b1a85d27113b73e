// The smallest merge file that keeps every page of a paged file (a SQLite
// database) to its own page: for each pair of pages at the same place, the
// least its actions can cost (a record head each plus the bytes they insert),
// worked out exactly by a table over the two pages; pages B has beyond A's
// end are inserted whole. What an in-order differ can hope for on such a
// pair, to set beside what `mrgtool make` writes.
//
//   g++ -O2 -o build/bench/page_bound bench/page_bound.cpp
//   build/bench/page_bound ORIGINAL MODIFIED [PAGE_SIZE]   (default 4096)
//
// A few minutes for a 25 MiB database with most of its pages changed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr uint64_t RECORD_HEAD = 14;
constexpr uint64_t NAME_FIELD = 4 + 8;  // nameLength and a 7-character name

std::vector<uint8_t> ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "page_bound: can't read %s\n", path);
    std::exit(1);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Two rows of the table at a time: after row x, kept[y] and acted[y] are the
// least cost of turning a[0, x) into b[0, y) with the last step keeping an
// equal byte, or being part of an action.
uint64_t LeastActionCost(const uint8_t* a, size_t n, const uint8_t* b, size_t m) {
  constexpr uint64_t NEVER = UINT64_MAX / 4;
  std::vector<uint64_t> kept(m + 1, NEVER), acted(m + 1, NEVER);
  std::vector<uint64_t> keptNext(m + 1), actedNext(m + 1);
  kept[0] = 0;
  for (size_t y = 1; y <= m; ++y)
    acted[y] = std::min(kept[y - 1] + RECORD_HEAD, acted[y - 1]) + 1;
  for (size_t x = 1; x <= n; ++x) {
    keptNext[0] = NEVER;
    actedNext[0] = std::min(kept[0] + RECORD_HEAD, acted[0]);
    for (size_t y = 1; y <= m; ++y) {
      keptNext[y] = a[x - 1] == b[y - 1] ? std::min(kept[y - 1], acted[y - 1]) : NEVER;
      actedNext[y] = std::min({kept[y] + RECORD_HEAD, acted[y],
                               keptNext[y - 1] + RECORD_HEAD + 1, actedNext[y - 1] + 1});
    }
    std::swap(kept, keptNext);
    std::swap(acted, actedNext);
  }
  return std::min(kept[m], acted[m]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: page_bound ORIGINAL MODIFIED [PAGE_SIZE]\n");
    return 2;
  }
  const std::vector<uint8_t> a = ReadAll(argv[1]);
  const std::vector<uint8_t> b = ReadAll(argv[2]);
  const size_t page = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 4096;
  const size_t shared = std::min(a.size(), b.size()) / page;
  uint64_t total = NAME_FIELD;
  size_t changed = 0;
  for (size_t p = 0; p < shared; ++p) {
    const uint8_t* x = a.data() + p * page;
    const uint8_t* y = b.data() + p * page;
    if (std::memcmp(x, y, page) == 0) continue;
    ++changed;
    total += LeastActionCost(x, page, y, page);
  }
  // The rest of either file after the last shared page, in one action.
  size_t tail = shared * page;
  if (a.size() > tail || b.size() > tail)
    total += LeastActionCost(a.data() + tail, a.size() - tail, b.data() + tail,
                             b.size() - tail);
  std::printf(
      "%zu of %zu shared pages changed; the smallest merge file that keeps each page "
      "to its page: %llu bytes\n",
      changed, shared, static_cast<unsigned long long>(total));
  return 0;
}
