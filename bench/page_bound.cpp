// The smallest merge file that keeps every page of a paged file (a SQLite
// database) to its own page: for each pair of pages at the same place, the
// least its actions can cost (a record head each plus the bytes they insert),
// worked out exactly by a table over the two pages; pages B has beyond A's
// end are inserted whole. What an in-order differ can hope for on such a
// pair, to set beside what `mrgtool make` writes.
//
// For a pair whose edits are known (bench/make_pairs.py writes them, a line
// "aAt aLength bAt bLength" each), the same table over pieces around the
// edits instead: each piece runs from the middle of the equal stretch before
// an edit to the middle of the one after it, at most MARGIN bytes from the
// edit, and edits closer than JOIN_BELOW share a piece. The least cost
// of the actions is printed alone, for make_bench.py to add the name field
// of the merge file it compares with.
//
//   g++ -O2 -o build/bench/page_bound bench/page_bound.cpp
//   build/bench/page_bound ORIGINAL MODIFIED [PAGE_SIZE]   (default 4096)
//   build/bench/page_bound ORIGINAL MODIFIED --edits EDITS
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
constexpr uint64_t MARGIN = 2048;
constexpr uint64_t JOIN_BELOW = 64;

struct Edit {
  uint64_t aAt, aLength, bAt, bLength;
};

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

// The least cost of the actions that turn a into b, where `edits` made b.
uint64_t LeastAroundEdits(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                          const char* path) {
  std::vector<Edit> edits;
  FILE* file = std::fopen(path, "r");
  Edit e;
  while (file != nullptr &&
         std::fscanf(file, "%llu %llu %llu %llu", (unsigned long long*)&e.aAt,
                     (unsigned long long*)&e.aLength, (unsigned long long*)&e.bAt,
                     (unsigned long long*)&e.bLength) == 4)
    edits.push_back(e);
  if (file == nullptr || edits.empty()) {
    std::fprintf(stderr, "page_bound: no edits in %s\n", path);
    std::exit(1);
  }
  std::fclose(file);
  // The equal stretch before edit k runs from the end of edit k - 1 (or the
  // start) to edit k; after the last, to the end.
  auto stretchBefore = [&](size_t k) {
    return k == 0 ? edits[0].aAt : edits[k].aAt - edits[k - 1].aAt - edits[k - 1].aLength;
  };
  uint64_t total = 0;
  for (size_t first = 0; first < edits.size();) {
    size_t last = first;
    while (last + 1 < edits.size() && stretchBefore(last + 1) < JOIN_BELOW) ++last;
    uint64_t before =
        std::min(MARGIN, first == 0 ? edits[0].aAt : stretchBefore(first) / 2);
    uint64_t afterStretch = last + 1 < edits.size()
                                ? stretchBefore(last + 1)
                                : a.size() - edits[last].aAt - edits[last].aLength;
    uint64_t after =
        std::min(MARGIN, last + 1 < edits.size() ? (afterStretch + 1) / 2 : afterStretch);
    uint64_t aFrom = edits[first].aAt - before;
    uint64_t bFrom = edits[first].bAt - before;
    uint64_t aTo = edits[last].aAt + edits[last].aLength + after;
    uint64_t bTo = edits[last].bAt + edits[last].bLength + after;
    total +=
        LeastActionCost(a.data() + aFrom, aTo - aFrom, b.data() + bFrom, bTo - bFrom);
    first = last + 1;
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: page_bound ORIGINAL MODIFIED [PAGE_SIZE | --edits EDITS]\n");
    return 2;
  }
  const std::vector<uint8_t> a = ReadAll(argv[1]);
  const std::vector<uint8_t> b = ReadAll(argv[2]);
  if (argc > 4 && std::strcmp(argv[3], "--edits") == 0) {
    std::printf("%llu\n",
                static_cast<unsigned long long>(LeastAroundEdits(a, b, argv[4])));
    return 0;
  }
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
