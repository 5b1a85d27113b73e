// NextRun looks for the next equal run in three ways, each reaching further
// and costing more than the one before: step by step through the fewest
// skipped bytes, as Myers' diff does, for small edits; then windows of A and
// B ahead, up to tens of kilobytes; then far ahead: where A's next bytes come
// again in B (an insertion), where B's next bytes are in A (a deletion), and
// B's content-defined anchors in an index of all of A's (both). The runs a
// search finds are chained, each worth its length less what the edit before
// it costs (its bytes of B, and as much for the bytes of A it drops, which B
// can't use later), and the first run of the best chain is the answer. A
// chain that costs more than it saves is often there by chance, as repeated
// content gives short matches all over A: it is taken only when its first
// run drops little of A, or when A and B go on alike past that run; else the
// best chain that begins by dropping little is, else the next way is tried.
#include "differ/diff_walk.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "format/merge_format.h"

namespace {

// The shortest run NextRun takes, but at the very end: shorter ones cost more
// as records than as data, and a short match is often one by chance.
constexpr uint32_t RUN_MIN = 16;
// Bytes skipped in A plus in B that the step-by-step search goes through, and
// the length from which a run it finds is taken without looking further.
constexpr int64_t NEAR_STEPS = 32;
constexpr uint32_t NEAR_TRUSTED = 64;
// Windows ahead of (i, j) searched in turn, in A and in B: their size, and
// how rarely a place in them is looked up (see WindowRun); and the bytes a
// run found there must have: RUN_MIN, plus one per SKIP_PER_BYTE skipped.
struct Window {
  uint32_t size;
  unsigned rareBits;
};
constexpr Window WINDOWS[] = {{256, 0}, {1024, 0}, {8192, 3}, {32768, 4}};
constexpr uint32_t SKIP_PER_BYTE = 64;
// Runs a window chains at most.
constexpr size_t CHAIN_RUNS_MAX = 64;
// A chain that costs more than it saves is taken when its first run drops no
// more than this of A, or when A and B go on alike past it: DIAGONAL_EQUAL_MIN
// of DIAGONAL_WORDS words, one in 16 bytes, DIAGONAL_SKIP bytes on.
constexpr uint32_t A_DROP_FREE = 96;
constexpr uint64_t DIAGONAL_SKIP = 16;
constexpr uint64_t DIAGONAL_WORDS = 64;
constexpr uint32_t DIAGONAL_EQUAL_MIN = 16;
// Bytes hashed at each position of a window.
constexpr uint32_t KEY = 16;
// Bytes hashed after an anchor; bytes before it that decide it.
constexpr uint32_t ANCHOR_KEY = 32;
constexpr uint32_t ANCHOR_CONTEXT = 64;
// About one anchor every ANCHOR_SPACING bytes, and at most ANCHORS_MAX in A:
// beyond that they are spread further apart.
constexpr uint32_t ANCHOR_SPACING = 64;
constexpr uint64_t ANCHORS_MAX = uint64_t{1} << 20;
// Bytes of B a search goes on for after its first match: as many as that
// match skips, within these bounds.
constexpr uint64_t HORIZON_MIN = 4096;
constexpr uint64_t HORIZON_MAX = uint64_t{1} << 20;
// The far searches: A's (or B's) next FAR_KEYS bytes looked for in B (or
// A), at places picked as in a window with FAR_RARE_BITS, in rounds that
// double from FAR_ROUND_FIRST to FAR_ROUND_MAX bytes of each string; the
// anchors join them when more than FAR_TAIL bytes of A are left, else A's
// next bytes are all of what is left of it.
constexpr uint32_t FAR_KEYS = 256;
constexpr unsigned FAR_RARE_BITS = 3;
constexpr uint32_t FAR_TAIL = uint32_t{1} << 16;
constexpr uint32_t FAR_ROUND_FIRST = 4096;
constexpr uint32_t FAR_ROUND_MAX = uint32_t{1} << 18;
// Unique places (UniqueIndex): about one in 2^UNIQUE_RARE_BITS of those not
// after one byte repeated, in stretches of A that begin every UNIQUE_STRETCH
// bytes and go a quarter of that into the next; the bytes after one that its
// key holds;
// how far into B the walk looks for the next one; the longest run before a
// place's bytes that its key tells.
constexpr unsigned UNIQUE_RARE_BITS = 4;
// Content is repetitive where REPEAT_SAME of REPEAT_SPAN bytes are one byte.
constexpr uint32_t REPEAT_SPAN = 64;
constexpr uint32_t REPEAT_SAME = 56;
constexpr uint32_t UNIQUE_STRETCH = uint32_t{1} << 19;
constexpr uint32_t UNIQUE_AFTER = 16;
constexpr uint32_t UNIQUE_HORIZON = uint32_t{1} << 20;
constexpr uint32_t UNIQUE_RUN_MAX = uint32_t{1} << 16;

constexpr uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct ByteHashes {
  uint64_t of[256];
};

constexpr ByteHashes MakeByteHashes() {
  ByteHashes table{};
  for (int i = 0; i < 256; ++i) table.of[i] = SplitMix(static_cast<uint64_t>(i) + 1);
  return table;
}

// The rolling hash that places anchors: shifted one bit per byte, so a byte
// no longer counts once ANCHOR_CONTEXT more have come.
constexpr ByteHashes GEAR = MakeByteHashes();

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

inline uint64_t Mix(uint64_t x) {
  x ^= x >> 31;
  x *= 0xD6E8FEB86659FD93ull;
  return x ^ (x >> 32);
}

inline uint64_t KeyHash(const uint8_t* p) {
  return Mix(Load64(p) * 0x9E3779B97F4A7C15ull + Load64(p + 8));
}

inline uint64_t AnchorKeyHash(const uint8_t* p) {
  return Mix(KeyHash(p) ^ (Load64(p + 16) * 0xBF58476D1CE4E5B9ull + Load64(p + 24)));
}

// Runs are taken where they begin: grown back towards (i, j) and forward to
// their end.
EqualRun Grown(const DiffInput& in, uint32_t i, uint32_t j, uint32_t aAt, uint32_t bAt) {
  uint32_t back = CommonSuffix(in.a + aAt, in.b + bAt, std::min(aAt - i, bAt - j));
  aAt -= back;
  bAt -= back;
  return {aAt, bAt,
          CommonPrefix(in.a + aAt, in.b + bAt, std::min(in.aHi - aAt, in.bHi - bAt))};
}

// The cost of the edit from (aFrom, bFrom) to where `run` begins, in a
// chain: a record head, the bytes of B it holds, and as much for each A byte
// it drops, which costs nothing in the merge file but can't be used later.
int64_t EditCost(uint32_t aFrom, uint32_t bFrom, const EqualRun& run) {
  return int64_t{RECORD_HEAD_SIZE} + (run.bAt - bFrom) + (run.aAt - aFrom);
}

// The fewest skipped bytes, Myers' way: row d holds, for each diagonal
// k = x - y, the furthest x reached with d bytes skipped. A run of RUN_MIN
// bytes, or one that ends both strings, ends the search; of those found with
// the same d, the one that skips fewest bytes of B wins, as they cost most.
// Returns 1 with the run, 0 when the strings end with skipped bytes only,
// -1 when nothing was found.
int NearRun(Walker* walker, uint32_t i, uint32_t j, EqualRun* run) {
  const DiffInput& in = *walker->in;
  const uint8_t* a = in.a + i;
  const uint8_t* b = in.b + j;
  const int64_t n = in.aHi - i;
  const int64_t m = in.bHi - j;
  constexpr int64_t NONE = INT64_MIN / 4;
  // Row d - 1 is read only where step d - 1 wrote it.
  std::vector<int64_t>& row = walker->furthest;
  row.resize(static_cast<size_t>(2 * NEAR_STEPS + 3));
  auto at = [&](int64_t k) -> int64_t& {
    return row[static_cast<size_t>(k + NEAR_STEPS + 1)];
  };
  for (int64_t d = 0; d <= NEAR_STEPS; ++d) {
    int64_t bestX = -1;
    int64_t bestY = -1;
    bool ended = false;
    for (int64_t k = -d; k <= d; k += 2) {
      int64_t x = 0;
      if (d > 0) {
        // One more byte of B skipped (from k + 1) or of A (from k - 1).
        int64_t down = k + 1 <= d - 1 ? at(k + 1) : NONE;
        int64_t right = k - 1 >= 1 - d && at(k - 1) != NONE ? at(k - 1) + 1 : NONE;
        if (down != NONE && down - k > m) down = NONE;
        if (right != NONE && right > n) right = NONE;
        x = std::max(down, right);
        if (x == NONE) {
          at(k) = NONE;
          continue;
        }
      }
      int64_t y = x - k;
      auto limit =
          static_cast<uint32_t>(std::min<int64_t>(std::min(n - x, m - y), RUN_MIN));
      uint32_t equal = CommonPrefix(a + x, b + y, limit);
      bool atEnd = x + equal == n && y + equal == m;
      if (equal == RUN_MIN || (atEnd && equal > 0)) {
        if (bestY < 0 || y < bestY || (y == bestY && x < bestX)) {
          bestX = x;
          bestY = y;
        }
      } else if (atEnd) {
        ended = true;
      }
      at(k) = x + equal;
    }
    if (bestY >= 0) {
      *run = Grown(in, i, j, i + static_cast<uint32_t>(bestX),
                   j + static_cast<uint32_t>(bestY));
      return 1;
    }
    if (ended) return 0;
  }
  return -1;
}

// Of the runs a search found, the first of the chain that saves most: each
// run is worth its length, less what the edit before it costs. So a long run
// a little further on wins over short ones by chance nearby. False when there
// are none; else `saved` is what that chain saves, less than 0 when it costs
// more than it saves.
bool ChooseFromChains(Walker* walker, uint32_t i, uint32_t j, uint32_t firstDropMax,
                      EqualRun* run, int64_t* saved) {
  std::vector<EqualRun>& runs = walker->runs;
  if (runs.empty()) return false;
  std::stable_sort(runs.begin(), runs.end(),
                   [](const EqualRun& x, const EqualRun& y) { return x.bAt < y.bAt; });
  // worth[r]: the most a chain that begins with run r saves.
  std::vector<int64_t>& worth = walker->worth;
  worth.assign(runs.size(), 0);
  int64_t best = INT64_MIN;
  for (size_t r = runs.size(); r-- > 0;) {
    const uint32_t aEnd = runs[r].aAt + runs[r].length;
    const uint32_t bEnd = runs[r].bAt + runs[r].length;
    int64_t after = 0;
    for (size_t s = r + 1; s < runs.size(); ++s) {
      // A run that begins inside this one is taken from where this one ends.
      EqualRun next = runs[s];
      uint32_t overlap =
          std::max({aEnd - std::min(aEnd, next.aAt), bEnd - std::min(bEnd, next.bAt)});
      if (overlap >= next.length) continue;
      next = {next.aAt + overlap, next.bAt + overlap, next.length - overlap};
      after = std::max(after, worth[s] - overlap - EditCost(aEnd, bEnd, next));
    }
    int64_t chain = int64_t{runs[r].length} + after;
    worth[r] = chain;
    int64_t total = chain - EditCost(i, j, runs[r]);
    if (total > best && runs[r].aAt - i <= firstDropMax) {
      best = total;
      *run = runs[r];
    }
  }
  *saved = best;
  return best != INT64_MIN;
}

// Whether A and B go on alike past `run` on its diagonal, with a few bytes
// changed here and there: a sample of the words after it, a fair share
// equal. Runs found by chance in repeated content end where their diagonal
// ends.
bool DiagonalGoesOn(const DiffInput& in, const EqualRun& run) {
  uint64_t a = uint64_t{run.aAt} + run.length + DIAGONAL_SKIP;
  uint64_t b = uint64_t{run.bAt} + run.length + DIAGONAL_SKIP;
  uint64_t words = std::min<uint64_t>(DIAGONAL_WORDS,
                                      std::min(in.aHi - std::min<uint64_t>(a, in.aHi),
                                               in.bHi - std::min<uint64_t>(b, in.bHi)) /
                                          16);
  uint32_t equal = 0;
  for (uint64_t k = 0; k < words; ++k)
    equal += Load64(in.a + a + 16 * k) == Load64(in.b + b + 16 * k);
  return equal >= DIAGONAL_EQUAL_MIN;
}

// The best chain's first run is taken when the chain saves more than it
// costs, drops little of A, or goes on along its diagonal; otherwise it is
// likely a match by chance.
bool WorthTaking(const DiffInput& in, uint32_t i, const EqualRun& run, int64_t saved) {
  return saved > 0 || run.aAt - i <= A_DROP_FREE || DiagonalGoesOn(in, run);
}

// A walk through one string from anchor to anchor: places where a rolling
// hash of the bytes before them has its top rareBits clear, at least a
// quarter of 2^rareBits apart; or, with rareBits 0, through every place.
struct AnchorScan {
  const uint8_t* bytes;
  uint32_t at;       // where the scan stands
  uint32_t last;     // the last place it stops at
  uint64_t rolling;  // the hash of the bytes before `at`
  uint64_t below;    // an anchor where the hash is below this
  uint32_t gapMin;

  AnchorScan(const uint8_t* string, uint32_t from, uint32_t lastAt, unsigned rareBits)
      : bytes(string),
        at(from),
        last(lastAt),
        rolling(0),
        below(rareBits == 0 ? UINT64_MAX : uint64_t{1} << (64 - rareBits)),
        gapMin(rareBits < 2 ? 1 : uint32_t{1} << (rareBits - 2)) {
    if (rareBits != 0) Restart(from);
  }

  void Restart(uint32_t from) {
    if (below == UINT64_MAX) {
      at = from;
      return;
    }
    rolling = 0;
    for (uint32_t p = from - std::min(from, ANCHOR_CONTEXT); p < from; ++p)
      rolling = (rolling << 1) + GEAR.of[bytes[p]];
    at = from;
  }

  // The next anchor, or false when there is none.
  bool Next(uint32_t* anchor) {
    if (below == UINT64_MAX) {
      *anchor = at;
      return at++ <= last;
    }
    uint64_t hash = rolling;
    uint32_t p = at;
    while (p <= last && hash >= below) hash = (hash << 1) + GEAR.of[bytes[p++]];
    rolling = hash;
    at = p;
    if (p > last) return false;
    *anchor = p;
    // None in the next gapMin bytes, so a run of equal bytes gives few.
    for (uint32_t until = p + std::min(gapMin, last + 1 - p); p < until; ++p)
      hash = (hash << 1) + GEAR.of[bytes[p]];
    rolling = hash;
    at = p;
    return true;
  }
};

// A window: A[i, i + aSize) in a table, looked up at each place of
// B[j, j + bSize) until some way past the first run found; the runs are then
// chained. Small windows take every place; larger ones only those a rolling
// hash picks in both, about one in 2^rareBits, as a run long enough to be
// worth its skip holds some.
bool WindowRun(Walker* walker, uint32_t i, uint32_t j, uint32_t aSize, uint32_t bSize,
               unsigned rareBits, EqualRun* run, int64_t* saved) {
  const DiffInput& in = *walker->in;
  if (in.aHi - i < KEY || in.bHi - j < KEY) return false;
  uint32_t aLast = std::min(in.aHi - KEY, i + std::min(aSize, in.aHi - i));
  uint32_t bLast = std::min(in.bHi - KEY, j + std::min(bSize, in.bHi - j));
  KeyTable& table = walker->window;
  table.Fill(in.a, i, aLast, rareBits);
  std::vector<EqualRun>& runs = walker->runs;
  runs.clear();
  AnchorScan bScan(in.b, j, bLast, rareBits);
  uint32_t q;
  uint32_t p;
  while (runs.size() < CHAIN_RUNS_MAX && bScan.Next(&q)) {
    if (!table.Find(in.b + q, &p)) continue;
    EqualRun found = Grown(in, i, j, p, q);
    uint64_t skipped = uint64_t{found.aAt - i} + (found.bAt - j);
    if (found.length < RUN_MIN + skipped / SKIP_PER_BYTE) continue;
    if (runs.empty())
      bScan.last = static_cast<uint32_t>(std::min<uint64_t>(
          bLast, q + std::min(std::max(skipped, HORIZON_MIN), HORIZON_MAX)));
    runs.push_back(found);
    // Past a run, B is looked up again where it ends: within it, other runs
    // would mostly be the same bytes on other diagonals, as in runs of zeros.
    if (found.bAt + found.length > bScan.at) bScan.Restart(found.bAt + found.length);
  }
  return ChooseFromChains(walker, i, j, UINT32_MAX, run, saved);
}

// The A position of the anchor with this key, plus one, or 0. Slots are
// found by the key's top bits and tagged with its low half.
uint32_t FindAnchor(const AnchorIndex& index, uint64_t key) {
  const size_t mask = index.slots.size() - 1;
  auto tag = static_cast<uint32_t>(key);
  for (size_t s = static_cast<size_t>(key >> index.slotShift); index.slots[s] != 0;
       s = (s + 1) & mask)
    if (static_cast<uint32_t>(index.slots[s] >> 32) == tag)
      return static_cast<uint32_t>(index.slots[s]);
  return 0;
}

// The far searches, in rounds of growing length so that near runs are found
// first, whichever way they lie: A's next bytes looked for at each place of
// B (an insertion), B's next bytes at each place of A (a deletion), and B's
// anchors in the index of A's (both). They go on some way past the first run
// found, as a window does, and the runs found, with `nearest`, the best a
// window found if any, are chained.
bool FarRun(Walker* walker, uint32_t i, uint32_t j, const EqualRun* nearest,
            EqualRun* run) {
  const DiffInput& in = *walker->in;
  std::vector<EqualRun>& runs = walker->runs;
  runs.clear();
  if (nearest != nullptr) runs.push_back(*nearest);
  int64_t saved;
  if (in.aHi - i < KEY || in.bHi - j < KEY)
    return ChooseFromChains(walker, i, j, UINT32_MAX, run, &saved);
  const uint32_t aLast = in.aHi - KEY;
  const uint32_t bLast = in.bHi - KEY;
  // When little of A is left, all of it is looked for, and no anchors.
  const bool tail = in.aHi - i <= FAR_TAIL;
  walker->aheadA.Fill(in.a, i, tail ? aLast : std::min(aLast, i + FAR_KEYS),
                      FAR_RARE_BITS);
  walker->aheadB.Fill(in.b, j, std::min(bLast, j + FAR_KEYS), FAR_RARE_BITS);
  const AnchorIndex* index = nullptr;
  if (!tail && in.bHi - j >= ANCHOR_KEY) {
    index = walker->anchors(walker->owner);
    if (index->slots.empty()) index = nullptr;
  }
  AnchorScan anchorScan(in.b, j, in.bHi - ANCHOR_KEY,
                        index != nullptr ? index->rareBits : 0);
  AnchorScan insertion(in.b, j, bLast, FAR_RARE_BITS);  // A's next bytes in B
  AnchorScan deletion(in.a, i, aLast, FAR_RARE_BITS);   // B's next bytes in A
  uint64_t horizon = UINT32_MAX;  // how far each search goes, from (i, j)
  auto found = [&](uint32_t aAt, uint32_t bAt) {
    EqualRun match = Grown(in, i, j, aAt, bAt);
    if (horizon == UINT32_MAX) {
      uint64_t skipped = uint64_t{match.aAt - i} + (match.bAt - j);
      horizon = std::max(uint64_t{aAt - i}, uint64_t{bAt - j}) +
                std::min(std::max(skipped, HORIZON_MIN), HORIZON_MAX);
    }
    runs.push_back(match);
    return match;
  };
  // A round of the insertion or the deletion search: `scan` goes through
  // one string (B, or A), each place looked up in `ahead`, the other's.
  auto search = [&](AnchorScan* scan, const KeyTable& ahead, bool throughB,
                    uint64_t until, uint32_t round) {
    scan->last = static_cast<uint32_t>(std::min(uint64_t{scan->at} + round, until));
    uint32_t at;
    uint32_t place;
    while (runs.size() < CHAIN_RUNS_MAX && scan->Next(&at)) {
      if (!ahead.Find(scan->bytes + at, &place)) continue;
      EqualRun match = throughB ? found(place, at) : found(at, place);
      uint32_t end = (throughB ? match.bAt : match.aAt) + match.length;
      if (end > scan->at) scan->Restart(end);
    }
  };
  uint32_t at;
  for (uint32_t round = FAR_ROUND_FIRST; runs.size() < CHAIN_RUNS_MAX;
       round = std::min(round * 2, FAR_ROUND_MAX)) {
    search(&insertion, walker->aheadA, true, std::min<uint64_t>(bLast, j + horizon),
           round);
    search(&deletion, walker->aheadB, false, std::min<uint64_t>(aLast, i + horizon),
           round);
    bool going = insertion.at <= std::min<uint64_t>(bLast, j + horizon) ||
                 deletion.at <= std::min<uint64_t>(aLast, i + horizon);
    if (index != nullptr) {
      anchorScan.last = static_cast<uint32_t>(std::min<uint64_t>(
          {uint64_t{in.bHi} - ANCHOR_KEY, uint64_t{anchorScan.at} + round, j + horizon}));
      while (runs.size() < CHAIN_RUNS_MAX && anchorScan.Next(&at)) {
        uint32_t place = FindAnchor(*index, AnchorKeyHash(in.b + at));
        if (place == 0 || place - 1 < i ||
            memcmp(in.a + place - 1, in.b + at, ANCHOR_KEY) != 0)
          continue;
        EqualRun match = found(place - 1, at);
        if (match.bAt + match.length > anchorScan.at)
          anchorScan.Restart(match.bAt + match.length);
      }
      going |= anchorScan.at <= std::min<uint64_t>(in.bHi - ANCHOR_KEY, j + horizon);
    }
    if (!going) break;
  }
  if (!ChooseFromChains(walker, i, j, UINT32_MAX, run, &saved)) return false;
  if (WorthTaking(in, i, *run, saved)) return true;
  // Rather the best that drops little of A.
  EqualRun best = *run;
  if (!ChooseFromChains(walker, i, j, A_DROP_FREE, run, &saved)) *run = best;
  return true;
}

// How many times the byte just before p's context repeats there, up to
// UNIQUE_RUN_MAX: in a tile map, where an entity stands in its row.
uint64_t RunBeforeContext(const uint8_t* string, uint32_t p) {
  uint32_t end = p - ANCHOR_CONTEXT;
  uint32_t most = std::min(end, UNIQUE_RUN_MAX);
  if (most == 0) return 0;
  const uint8_t byte = string[end - 1];
  const uint64_t word = byte * 0x0101010101010101ull;
  uint32_t n = 1;
  while (most - n >= 8 && Load64(string + end - n - 8) == word) n += 8;
  while (n < most && string[end - n - 1] == byte) ++n;
  return n;
}

inline uint64_t UniqueKey(uint64_t rolling, const uint8_t* string, uint32_t p) {
  return Mix(rolling * 0x9E3779B97F4A7C15ull ^ KeyHash(string + p) ^
             RunBeforeContext(string, p) * 0xBF58476D1CE4E5B9ull);
}

// A scan for unique places of one string, from `at` on: the rolling hash of
// the ANCHOR_CONTEXT bytes before each place, which alone decides, so that
// a scan begun anywhere stops at the same places.
struct UniqueScan {
  const uint8_t* bytes;
  uint32_t at;
  uint64_t rolling = 0;
  uint64_t below;

  UniqueScan(const uint8_t* string, uint32_t from)
      : bytes(string), at(from), below(uint64_t{1} << (64 - UNIQUE_RARE_BITS)) {
    for (uint32_t p = from - ANCHOR_CONTEXT; p < from; ++p)
      rolling = (rolling << 1) + GEAR.of[bytes[p]];
  }

  // The next place up to `last`, or false; `key` is its key. Where the
  // bytes before are one byte repeated, the hash stays the same from one
  // place to the next, and the run is passed over at once.
  bool Next(uint32_t last, uint32_t* place, uint64_t* key) {
    uint64_t hash = rolling;
    for (uint32_t p = at; p <= last; ++p) {
      uint64_t next = (hash << 1) + GEAR.of[bytes[p]];
      if (next == hash) {
        const uint64_t word = bytes[p] * 0x0101010101010101ull;
        while (last - p >= 8 && Load64(bytes + p + 1) == word) p += 8;
        while (p < last && bytes[p + 1] == bytes[p]) ++p;
        continue;
      }
      if (hash < below && (hash << 1) + GEAR.of[bytes[p - 1]] != hash) {
        rolling = next;
        at = p + 1;
        *place = p;
        *key = UniqueKey(hash, bytes, p);
        return true;
      }
      hash = next;
    }
    rolling = hash;
    at = last + 1;
    return false;
  }
};

// The index of A's [from, to), in the walker's own table.
void BuildUniqueIndex(const DiffInput& in, uint32_t from, uint32_t to,
                      UniqueIndex* index) {
  index->from = from;
  index->to = to;
  unsigned bits = 10;
  while ((uint64_t{1} << bits) < uint64_t{to - from} >> (UNIQUE_RARE_BITS - 1)) ++bits;
  index->slotShift = 64 - bits;
  index->slots.assign(size_t{1} << bits, 0);
  const size_t mask = index->slots.size() - 1;
  // Each place's slot is fetched ahead and filled PENDING places later, so
  // that the table's cache misses overlap.
  auto fill = [index, mask](uint64_t key, uint32_t p) {
    uint64_t tag = (key | 1) << 32;
    for (size_t s = static_cast<size_t>(key >> index->slotShift);; s = (s + 1) & mask) {
      uint64_t& slot = index->slots[s];
      if (slot == 0) {
        slot = tag | (uint64_t{p} + 1);
        return;
      }
      if ((slot & ~uint64_t{0xFFFFFFFF}) == tag) {
        slot = tag;  // seen twice: no longer unique
        return;
      }
    }
  };
  constexpr size_t PENDING = 8;
  uint64_t keys[PENDING];
  uint32_t places[PENDING];
  size_t found = 0;
  auto add = [&](uint64_t rolling, uint32_t p) {
    uint64_t key = UniqueKey(rolling, in.a, p);
    size_t at = found++ % PENDING;
    if (found > PENDING) fill(keys[at], places[at]);
    keys[at] = key;
    places[at] = p;
    __builtin_prefetch(&index->slots[static_cast<size_t>(key >> index->slotShift)]);
  };
  // The stretch in LANES parts scanned side by side: each rolling hash waits
  // on the one before it, and several at once keep the core busy. The places
  // are those a scan from anywhere stops at (UniqueScan).
  constexpr uint32_t LANES = 4;
  const uint64_t below = uint64_t{1} << (64 - UNIQUE_RARE_BITS);
  const uint32_t part = (to - from) / LANES;
  uint64_t hash[LANES] = {};
  uint32_t start[LANES];
  for (uint32_t l = 0; l < LANES; ++l) {
    start[l] = from + l * part;
    for (uint32_t p = start[l] - ANCHOR_CONTEXT; p < start[l]; ++p)
      hash[l] = (hash[l] << 1) + GEAR.of[in.a[p]];
  }
  // A place where the hash is low, unless the bytes before are one byte
  // repeated (the hash then stays the same).
  auto check = [&](uint64_t h, uint32_t p) {
    if ((h << 1) + GEAR.of[in.a[p - 1]] != h) add(h, p);
  };
  const uint8_t* a = in.a;
  uint64_t h0 = hash[0], h1 = hash[1], h2 = hash[2], h3 = hash[3];
  for (uint32_t k = 0; k < part; ++k) {
    const uint32_t p0 = start[0] + k, p1 = start[1] + k, p2 = start[2] + k,
                   p3 = start[3] + k;
    if (h0 < below) check(h0, p0);
    if (h1 < below) check(h1, p1);
    if (h2 < below) check(h2, p2);
    if (h3 < below) check(h3, p3);
    h0 = (h0 << 1) + GEAR.of[a[p0]];
    h1 = (h1 << 1) + GEAR.of[a[p1]];
    h2 = (h2 << 1) + GEAR.of[a[p2]];
    h3 = (h3 << 1) + GEAR.of[a[p3]];
  }
  for (uint32_t p = from + LANES * part; p < to; ++p) {
    if (h3 < below) check(h3, p);
    h3 = (h3 << 1) + GEAR.of[a[p]];
  }
  for (size_t n = found > PENDING ? found - PENDING : 0; n < found; ++n)
    fill(keys[n % PENDING], places[n % PENDING]);
}

// A's place with the same bytes around it as B's place q, when the stretch
// has one such place only, or false.
bool FindUnique(const DiffInput& in, const UniqueIndex& index, uint32_t q, uint64_t key,
                uint32_t* p) {
  const size_t mask = index.slots.size() - 1;
  auto tag = static_cast<uint32_t>(key) | 1;
  for (size_t s = static_cast<size_t>(key >> index.slotShift); index.slots[s] != 0;
       s = (s + 1) & mask) {
    if (static_cast<uint32_t>(index.slots[s] >> 32) != tag) continue;
    auto place = static_cast<uint32_t>(index.slots[s]);
    if (place == 0) return false;
    *p = place - 1;
    return memcmp(in.a + *p - ANCHOR_CONTEXT, in.b + q - ANCHOR_CONTEXT,
                  ANCHOR_CONTEXT + UNIQUE_AFTER) == 0;
  }
  return false;
}

// The first unique place of B at or after j, within UNIQUE_HORIZON, whose
// place in A is at or after i, in the stretch of A that i's place decides.
// The stretch's index and what was looked up in it are kept in the walker
// while the walk goes on through them.
bool NextUniqueHit(Walker* walker, uint32_t i, uint32_t j, EqualRun* hit) {
  const DiffInput& in = *walker->in;
  const uint32_t low = std::max(in.aLo, ANCHOR_CONTEXT);
  if (j < ANCHOR_CONTEXT || in.bHi - j < UNIQUE_AFTER || i < low ||
      in.aHi - i < UNIQUE_AFTER)
    return false;
  const uint32_t from = std::max(low, i - i % UNIQUE_STRETCH);
  const uint32_t to = static_cast<uint32_t>(std::min<uint64_t>(
      uint64_t{from} + UNIQUE_STRETCH + UNIQUE_STRETCH / 4, in.aHi - UNIQUE_AFTER + 1));
  UniqueIndex& index = walker->uniques;
  UniqueHits& cache = walker->unique;
  if (index.slots.empty() || index.from != from || index.to != to) {
    BuildUniqueIndex(in, from, to, &index);
    cache.hits.clear();
    cache.first = 0;
    cache.from = cache.to = j;
  }
  if (j < cache.from || j > cache.to) {
    cache.hits.clear();
    cache.first = 0;
    cache.to = j;
  }
  cache.from = j;
  while (cache.first < cache.hits.size() && cache.hits[cache.first].bAt < j)
    ++cache.first;
  if (cache.first > 4096 && cache.first * 2 > cache.hits.size()) {
    cache.hits.erase(cache.hits.begin(),
                     cache.hits.begin() + static_cast<std::ptrdiff_t>(cache.first));
    cache.first = 0;
  }
  const uint32_t last = static_cast<uint32_t>(
      std::min<uint64_t>(in.bHi - UNIQUE_AFTER, uint64_t{j} + UNIQUE_HORIZON));
  for (size_t h = cache.first; h < cache.hits.size(); ++h) {
    if (cache.hits[h].bAt > last) return false;
    if (cache.hits[h].aAt >= i) {
      *hit = cache.hits[h];
      return true;
    }
  }
  if (cache.to > last) return false;
  UniqueScan scan(in.b, cache.to);
  uint32_t q;
  uint64_t key;
  while (scan.Next(last, &q, &key)) {
    uint32_t p;
    if (!FindUnique(in, index, q, key, &p)) continue;
    cache.hits.push_back({p, q, 0});
    if (p >= i) {
      cache.to = q + 1;
      *hit = cache.hits.back();
      return true;
    }
  }
  cache.to = last + 1;
  return false;
}

// Whether B's REPEAT_SPAN bytes from `at` are mostly one byte: there, a run
// on another diagonal, or the walk's own, may be one by chance.
bool Repetitive(const DiffInput& in, uint32_t at) {
  if (in.bHi - at < REPEAT_SPAN) return false;
  const uint8_t* p = in.b + at;
  uint32_t same = 0;
  for (uint32_t k = 0; k < REPEAT_SPAN; ++k) same += p[k] == p[REPEAT_SPAN / 2];
  return same >= REPEAT_SAME;
}

// The first run of RUN_MIN bytes, or one that ends both strings, on the
// diagonal through (aFrom, bFrom), at most NEAR_STEPS bytes on; or false.
bool DiagonalRun(const DiffInput& in, uint32_t aFrom, uint32_t bFrom, EqualRun* run) {
  for (uint32_t s = 0; s <= NEAR_STEPS; ++s) {
    if (aFrom + uint64_t{s} >= in.aHi || bFrom + uint64_t{s} >= in.bHi) return false;
    uint32_t a = aFrom + s;
    uint32_t b = bFrom + s;
    uint32_t limit = std::min(in.aHi - a, in.bHi - b);
    uint32_t equal = CommonPrefix(in.a + a, in.b + b, limit);
    if (equal >= RUN_MIN || (equal == limit && equal > 0)) {
      *run = {a, b, equal};
      return true;
    }
  }
  return false;
}

// `run` against others, in repetitive content, where equal bytes match on
// many diagonals and the walk's diagonal may go on a while by chance after
// rows were cut or put in: the run through the next unique place of B, which
// tells the diagonal that goes on; that diagonal from j, as other edits may
// lie before that place; and the walk's own diagonal after a few bytes
// replaced. The first run of the best chain.
void CheckedByUniquePlace(Walker* walker, uint32_t i, uint32_t j, EqualRun* run) {
  const DiffInput& in = *walker->in;
  EqualRun hit;
  if (!NextUniqueHit(walker, i, j, &hit)) return;
  if (hit.aAt - run->aAt == hit.bAt - run->bAt) return;  // the same diagonal
  std::vector<EqualRun>& runs = walker->runs;
  runs.assign({*run, Grown(in, i, j, hit.aAt, hit.bAt)});
  EqualRun other;
  uint32_t shift = hit.bAt - j;
  if (hit.aAt - i >= shift && DiagonalRun(in, hit.aAt - shift, j, &other))
    runs.push_back(other);
  if (DiagonalRun(in, i + 1, j + 1, &other)) runs.push_back(other);
  int64_t saved;
  ChooseFromChains(walker, i, j, UINT32_MAX, run, &saved);
}

}  // namespace

void KeyTable::Fill(const uint8_t* string, uint32_t from, uint32_t last,
                    unsigned rareBits) {
  bytes = string;
  base = from;
  unsigned bits = 4;
  while ((uint64_t{1} << bits) < (uint64_t{last - from + 1} << 2 >> rareBits)) ++bits;
  shift = 64 - bits;
  if (slots.size() < (size_t{1} << bits)) slots.resize(size_t{1} << bits);
  if (uses == UINT32_MAX) {
    std::fill(slots.begin(), slots.end(), 0);
    uses = 0;
  }
  ++uses;
  mark = uint64_t{uses} << 32;
  AnchorScan scan(string, from, last, rareBits);
  uint32_t p;
  while (scan.Next(&p)) {
    uint64_t& slot = slots[static_cast<size_t>(KeyHash(string + p) >> shift)];
    if ((slot & ~uint64_t{0xFFFFFFFF}) != mark) slot = mark | (p - from);
  }
}

bool KeyTable::Find(const uint8_t* probe, uint32_t* at) const {
  uint64_t slot = slots[static_cast<size_t>(KeyHash(probe) >> shift)];
  if ((slot & ~uint64_t{0xFFFFFFFF}) != mark) return false;
  uint32_t p = base + static_cast<uint32_t>(slot);
  if (Load64(bytes + p) != Load64(probe) || Load64(bytes + p + 8) != Load64(probe + 8))
    return false;
  *at = p;
  return true;
}

uint32_t CommonPrefix(const uint8_t* x, const uint8_t* y, uint32_t limit) {
  // Word by word at first, as most runs the walk meets are short; then the
  // C library's compare, the fastest there is, in blocks that grow as the
  // run goes on, up to BLOCK_MAX.
  constexpr uint32_t WORDS_FIRST = 64;
  constexpr uint32_t BLOCK_FIRST = 256;
  constexpr uint32_t BLOCK_MAX = uint32_t{1} << 16;
  uint32_t n = 0;
  for (uint32_t words = 0; limit - n >= 8; ++words) {
    if (words == WORDS_FIRST / 8) {
      for (uint32_t block = BLOCK_FIRST;
           limit - n >= block + 8 && memcmp(x + n, y + n, block) == 0;
           block = std::min(block * 2, BLOCK_MAX))
        n += block;
    }
    uint64_t differ = Load64(x + n) ^ Load64(y + n);
    if (differ != 0) return n + static_cast<uint32_t>(__builtin_ctzll(differ)) / 8;
    n += 8;
  }
  while (n < limit && x[n] == y[n]) ++n;
  return n;
}

uint32_t CommonSuffix(const uint8_t* xEnd, const uint8_t* yEnd, uint32_t limit) {
  uint32_t n = 0;
  while (limit - n >= 8) {
    uint64_t differ = Load64(xEnd - n - 8) ^ Load64(yEnd - n - 8);
    if (differ != 0) return n + static_cast<uint32_t>(__builtin_clzll(differ)) / 8;
    n += 8;
  }
  while (n < limit &&
         xEnd[-1 - static_cast<int64_t>(n)] == yEnd[-1 - static_cast<int64_t>(n)])
    ++n;
  return n;
}

void BuildAnchorIndex(const DiffInput& in, AnchorIndex* index) {
  uint64_t span = in.aHi - in.aLo;
  if (span < ANCHOR_KEY) return;
  unsigned rareBits = 0;
  while ((uint64_t{1} << rareBits) < ANCHOR_SPACING || span >> rareBits > ANCHORS_MAX)
    ++rareBits;
  index->rareBits = rareBits;
  unsigned bits = 10;
  while ((uint64_t{1} << bits) < 2 * (span >> rareBits) + 2) ++bits;
  index->slotShift = 64 - bits;
  index->slots.assign(size_t{1} << bits, 0);
  const size_t mask = index->slots.size() - 1;

  // The first of equal keys is kept. Each anchor's slot is fetched ahead,
  // and filled PENDING anchors later, so that the table's cache misses
  // overlap.
  auto fill = [index, mask](size_t at, uint64_t entry) {
    for (;; at = (at + 1) & mask) {
      uint64_t& slot = index->slots[at];
      if (slot == 0) {
        slot = entry;
        return;
      }
      if (slot >> 32 == entry >> 32) return;
    }
  };
  constexpr size_t PENDING = 8;
  struct Pending {
    size_t at;
    uint64_t entry;
  };
  Pending pending[PENDING];
  size_t anchors = 0;
  AnchorScan scan(in.a, in.aLo, in.aHi - ANCHOR_KEY, rareBits);
  uint32_t p;
  while (scan.Next(&p)) {
    uint64_t key = AnchorKeyHash(in.a + p);
    Pending& next = pending[anchors++ % PENDING];
    if (anchors > PENDING) fill(next.at, next.entry);
    next = {static_cast<size_t>(key >> index->slotShift),
            (key << 32) | (uint64_t{p} + 1)};
    __builtin_prefetch(&index->slots[next.at]);
  }
  for (size_t n = anchors > PENDING ? anchors - PENDING : 0; n < anchors; ++n)
    fill(pending[n % PENDING].at, pending[n % PENDING].entry);
}

namespace {

bool NearOrWindowOrFarRun(Walker* walker, uint32_t i, uint32_t j, EqualRun* run) {
  const DiffInput& in = *walker->in;
  int near = NearRun(walker, i, j, run);
  if (near == 0) return false;
  // A long run nearby, or one on the diagonal the walk was on, is taken; a
  // short run on another may be one by chance, off the diagonal that goes on.
  if (near == 1 && (run->length >= NEAR_TRUSTED || run->aAt - i == run->bAt - j))
    return true;
  bool have = near == 1;
  EqualRun nearest = *run;
  for (const Window& window : WINDOWS) {
    int64_t saved;
    if (!WindowRun(walker, i, j, window.size, window.size, window.rareBits, run, &saved))
      continue;
    if (WorthTaking(in, i, *run, saved)) return true;
    // Rather the best of those that drop little of A.
    if (!have) nearest = *run;
    have = true;
    if (ChooseFromChains(walker, i, j, A_DROP_FREE, run, &saved)) return true;
  }
  return FarRun(walker, i, j, have ? &nearest : nullptr, run);
}

}  // namespace

bool NextRun(Walker* walker, uint32_t i, uint32_t j, EqualRun* run) {
  const DiffInput& in = *walker->in;
  if (i == in.aHi || j == in.bHi || !NearOrWindowOrFarRun(walker, i, j, run))
    return false;
  // Inside repetitive content, whatever was found may be a match by chance.
  if (j >= REPEAT_SPAN && Repetitive(in, j - REPEAT_SPAN) && Repetitive(in, run->bAt))
    CheckedByUniquePlace(walker, i, j, run);
  return true;
}
