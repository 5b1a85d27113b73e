// The greedy O(ND) shortest edit script: for each number of edits d, the
// furthest point reached on each diagonal k = x - y, then a walk back
// through the saved rows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "diff.h"

bool ShortestEditRuns(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize,
                      uint32_t maxEdits, std::vector<EqualRun>* runs) {
  runs->clear();
  const int64_t n = aSize;
  const int64_t m = bSize;
  const int64_t maxD = std::min<int64_t>(maxEdits, n + m);
  const int64_t mid = maxD + 1;
  std::vector<int64_t> v(static_cast<size_t>(2 * maxD + 3), 0);
  // Row d holds v[-d .. d] as it was after round d, at trace[d * d].
  std::vector<int64_t> trace;
  auto at = [&](int64_t k) -> int64_t& { return v[static_cast<size_t>(mid + k)]; };

  int64_t found = -1;
  for (int64_t d = 0; d <= maxD && found < 0; ++d) {
    for (int64_t k = -d; k <= d; k += 2) {
      int64_t x =
          (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
      int64_t y = x - k;
      while (x < n && y < m && a[x] == b[y]) ++x, ++y;
      at(k) = x;
      if (x >= n && y >= m) {
        found = d;
        break;
      }
    }
    // Iterator steps are as wide as a pointer: 32 bits in WebAssembly.
    if (found < 0)
      trace.insert(trace.end(), v.begin() + static_cast<std::ptrdiff_t>(mid - d),
                   v.begin() + static_cast<std::ptrdiff_t>(mid + d + 1));
  }
  if (found < 0) return false;

  int64_t x = n;
  int64_t y = m;
  for (int64_t d = found; d > 0; --d) {
    const int64_t* row = trace.data() + (d - 1) * (d - 1) + (d - 1);  // row[k], |k| < d
    int64_t k = x - y;
    bool down = k == -d || (k != d && row[k - 1] < row[k + 1]);
    int64_t prevK = down ? k + 1 : k - 1;
    int64_t prevX = row[prevK];
    int64_t startX = down ? prevX : prevX + 1;
    if (x > startX)
      runs->push_back({static_cast<uint32_t>(startX), static_cast<uint32_t>(startX - k),
                       static_cast<uint32_t>(x - startX)});
    x = prevX;
    y = prevX - prevK;
  }
  if (x > 0) runs->push_back({0, 0, static_cast<uint32_t>(x)});
  std::reverse(runs->begin(), runs->end());
  return true;
}
