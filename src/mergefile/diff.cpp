// DiffBytes: the common prefix and suffix are set aside; then the rest of B
// is walked from left to right. After each equal stretch ends, a rolling hash
// over B looks for the next block of A: first among the few blocks that
// follow the current place in A (small edits), then, after a while, in an
// index of all of A's blocks (large insertions and deletions), where a match
// far ahead must be long or confirmed by a second one. The block found is
// grown both ways into an equal stretch, and the short gap left behind it is
// diffed exactly.
#include "diff.h"

#include <algorithm>
#include <cstring>

#include "merge_format.h"

namespace {

// A's blocks start at every BLOCK-th byte; B is hashed at every byte.
constexpr uint32_t BLOCK = 32;
// Blocks of A after the current place that are tried first.
constexpr int LOCAL_BLOCKS = 4;
// Bytes of B scanned without a nearby match before the index of all of A is asked.
constexpr uint32_t GLOBAL_AFTER = 4 * BLOCK;
// Matches from the index that skip more of A than NEAR_SKIP must match at
// least one byte for every SKIP_PER_MATCHED skipped, or be followed by
// another on a diagonal at most DRIFT_MAX away.
constexpr uint32_t NEAR_SKIP = 4 * BLOCK;
constexpr uint32_t SKIP_PER_MATCHED = 4;
constexpr int64_t DRIFT_MAX = 64;
// Gaps diffed exactly: at most this many bytes in all, this many edits.
constexpr uint32_t EXACT_SPAN_MAX = 1u << 14;
constexpr uint32_t EXACT_EDITS_MAX = 256;
// The exact diffs may do this much work per input byte in all (plus a
// fixed allowance); beyond it, gaps are replaced whole, so time stays linear.
constexpr uint64_t EXACT_WORK_PER_BYTE = 64;
constexpr uint64_t EXACT_WORK_ALLOWANCE = uint64_t{1} << 26;
// Equal stretches no longer than this between two edits cost more as a
// record head of their own than as data.
constexpr uint32_t FOLD_MAX = RECORD_HEAD_SIZE;
constexpr uint64_t PROGRESS_STEP = uint64_t{1} << 22;

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

constexpr ByteHashes BYTE_HASHES = MakeByteHashes();

inline uint64_t RotateLeft(uint64_t x, unsigned by) {
  by &= 63;
  return by == 0 ? x : (x << by) | (x >> (64 - by));
}

// XOR of each byte's hash, rotated by its distance from the window's end.
uint64_t BlockHash(const uint8_t* p) {
  uint64_t h = 0;
  for (uint32_t k = 0; k < BLOCK; ++k) h = RotateLeft(h, 1) ^ BYTE_HASHES.of[p[k]];
  return h;
}

inline uint64_t RollHash(uint64_t h, uint8_t out, uint8_t in) {
  return RotateLeft(h, 1) ^ RotateLeft(BYTE_HASHES.of[out], BLOCK) ^ BYTE_HASHES.of[in];
}

uint32_t CommonPrefix(const uint8_t* x, const uint8_t* y, uint32_t limit) {
  uint32_t n = 0;
  while (limit - n >= 8) {
    uint64_t u;
    uint64_t v;
    memcpy(&u, x + n, 8);
    memcpy(&v, y + n, 8);
    if (u != v) break;
    n += 8;
  }
  while (n < limit && x[n] == y[n]) ++n;
  return n;
}

// Equal bytes just before xEnd and yEnd, at most limit.
uint32_t CommonSuffix(const uint8_t* xEnd, const uint8_t* yEnd, uint32_t limit) {
  uint32_t n = 0;
  while (limit - n >= 8) {
    uint64_t u;
    uint64_t v;
    memcpy(&u, xEnd - n - 8, 8);
    memcpy(&v, yEnd - n - 8, 8);
    if (u != v) break;
    n += 8;
  }
  while (n < limit &&
         xEnd[-1 - static_cast<int64_t>(n)] == yEnd[-1 - static_cast<int64_t>(n)])
    ++n;
  return n;
}

// Open addressing over A's blocks: each slot holds a hash tag and the block
// number plus one. Of blocks with equal content only the first is kept, so a
// match found here never skips an earlier copy of the same block.
struct BlockIndex {
  std::vector<uint64_t> slots;
  unsigned shift = 64;
  // One bit per hash class, set for the classes of A's blocks: most bytes of
  // B that match nothing are turned away here, without touching the slots.
  std::vector<uint64_t> filter;
  unsigned filterShift = 64;

  size_t FilterBitOf(uint64_t hash) const {
    return static_cast<size_t>((hash * 0xD6E8FEB86659FD93ull) >> filterShift);
  }

  size_t SlotOf(uint64_t hash) const {
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift);
  }

  void Build(const uint8_t* blocks, uint32_t count) {
    unsigned bits = 10;
    while ((uint64_t{1} << bits) < uint64_t{count} * 2) ++bits;
    shift = 64 - bits;
    slots.assign(size_t{1} << bits, 0);
    const size_t mask = slots.size() - 1;
    unsigned filterBits = bits + 2;
    filterShift = 64 - filterBits;
    filter.assign(size_t{1} << (filterBits - 6), 0);
    for (uint32_t block = 0; block < count; ++block) {
      uint64_t hash = BlockHash(blocks + uint64_t{block} * BLOCK);
      size_t bit = FilterBitOf(hash);
      filter[bit >> 6] |= uint64_t{1} << (bit & 63);
      auto tag = static_cast<uint32_t>(hash);
      for (size_t s = SlotOf(hash);; s = (s + 1) & mask) {
        if (slots[s] == 0) {
          slots[s] =
              static_cast<uint64_t>(tag) << 32 | (static_cast<uint64_t>(block) + 1);
          break;
        }
        if (static_cast<uint32_t>(slots[s] >> 32) == tag) break;
      }
    }
  }

  // The block with this hash, plus one, or 0.
  uint32_t Find(uint64_t hash) const {
    size_t bit = FilterBitOf(hash);
    if ((filter[bit >> 6] >> (bit & 63) & 1) == 0) return 0;
    auto tag = static_cast<uint32_t>(hash);
    const size_t mask = slots.size() - 1;
    for (size_t s = SlotOf(hash); slots[s] != 0; s = (s + 1) & mask)
      if (static_cast<uint32_t>(slots[s] >> 32) == tag)
        return static_cast<uint32_t>(slots[s]);
    return 0;
  }
};

// A match from the index not taken yet: its diagonal (A position minus B
// position) and where it ends in B.
struct Doubt {
  bool seen;
  int64_t diagonal;
  uint32_t bEnd;
};

struct Differ {
  const uint8_t* a;
  const uint8_t* b;
  uint32_t aLo, aHi, bLo, bHi;  // the part between the common prefix and suffix
  DiffProgress progress;
  void* context;
  uint64_t total;
  uint64_t nextReport = 0;
  uint64_t exactWorkLeft;
  bool indexBuilt = false;
  BlockIndex index;
  std::vector<EqualRun> runs;
  std::vector<Edit> edits;

  void Tick(uint64_t done) {
    if (progress != nullptr && done >= nextReport) {
      progress(context, done, total);
      nextReport = done + PROGRESS_STEP;
    }
  }

  bool SameBlock(uint32_t aAt, uint32_t bAt) const {
    return memcmp(a + aAt, b + bAt, BLOCK) == 0;
  }

  // The index covers A's whole middle part; built on first need only, as
  // small edits never need it.
  const BlockIndex& Index() {
    if (!indexBuilt) {
      index.Build(a + aLo, (aHi - aLo) / BLOCK);
      indexBuilt = true;
    }
    return index;
  }

  // A match found in the index that skips much of A is taken only when it is
  // long for what it skips, or when a second match on about the same
  // diagonal follows it: repeated content gives short matches all over A,
  // and taking one drops the A bytes skipped, to be inserted again later.
  // Returns 0 to take it, else the length of the match (at least BLOCK)
  // after noting it as doubtful.
  uint32_t Trusted(uint32_t start, uint32_t j, uint32_t gapA, Doubt* doubt) const {
    uint32_t skip = start - gapA;
    if (skip <= NEAR_SKIP) return 0;
    uint32_t enough = std::max(skip / SKIP_PER_MATCHED, BLOCK);
    uint32_t limit = std::min(std::min(aHi - start, bHi - j), enough);
    uint32_t length =
        BLOCK + CommonPrefix(a + start + BLOCK, b + j + BLOCK, limit - BLOCK);
    int64_t diagonal = int64_t{start} - int64_t{j};
    if (length >= enough ||
        (doubt->seen && j >= doubt->bEnd && diagonal - doubt->diagonal <= DRIFT_MAX &&
         doubt->diagonal - diagonal <= DRIFT_MAX))
      return 0;
    *doubt = {true, diagonal, j + length};
    return length;
  }

  // A block of A at or after gapA equal to B's bytes at or after gapB.
  bool FindAnchor(uint32_t gapA, uint32_t gapB, uint32_t* anchorA, uint32_t* anchorB) {
    if (aHi - gapA < BLOCK || bHi - gapB < BLOCK) return false;
    uint64_t firstBlock = (uint64_t{gapA} - aLo + BLOCK - 1) / BLOCK;
    uint32_t localAt[LOCAL_BLOCKS];
    uint64_t localHash[LOCAL_BLOCKS];
    int locals = 0;
    for (; locals < LOCAL_BLOCKS; ++locals) {
      uint64_t start = aLo + (firstBlock + static_cast<uint64_t>(locals)) * BLOCK;
      if (start + BLOCK > aHi) break;
      localAt[locals] = static_cast<uint32_t>(start);
      localHash[locals] = BlockHash(a + start);
    }

    Doubt doubt{false, 0, 0};
    uint64_t hash = BlockHash(b + gapB);
    for (uint32_t j = gapB;;) {
      for (int t = 0; t < locals; ++t) {
        if (hash == localHash[t] && SameBlock(localAt[t], j)) {
          *anchorA = localAt[t];
          *anchorB = j;
          return true;
        }
      }
      if (j - gapB >= GLOBAL_AFTER) {
        if ((j & 0xFFFFF) == 0) Tick(j);
        uint32_t found = Index().Find(hash);
        uint32_t start = found != 0 ? aLo + (found - 1) * BLOCK : 0;
        if (found != 0 && start >= gapA && SameBlock(start, j)) {
          uint32_t length = Trusted(start, j, gapA, &doubt);
          if (length == 0) {
            *anchorA = start;
            *anchorB = j;
            return true;
          }
          // The rest of this match lies on the same diagonal: jump past it.
          if (bHi - j - length < BLOCK) return false;
          j += length;
          hash = BlockHash(b + j);
          continue;
        }
      }
      if (bHi - j == BLOCK) return false;
      hash = RollHash(hash, b[j], b[j + BLOCK]);
      ++j;
    }
  }

  void AddEdit(uint32_t aAt, uint32_t aLength, uint32_t bAt, uint32_t bLength) {
    if (aLength == 0 && bLength == 0) return;
    if (!edits.empty()) {
      Edit& last = edits.back();
      uint32_t lastEnd = last.aAt + last.aLength;
      if (aAt - lastEnd <= FOLD_MAX) {
        last.aLength = aAt + aLength - last.aAt;
        last.bLength = bAt + bLength - last.bAt;
        return;
      }
    }
    edits.push_back({aAt, aLength, bAt, bLength});
  }

  // A[aAt, aEnd) and B[bAt, bEnd) hold no stretch found by the hash: diff
  // them exactly when they are small, or replace the one by the other.
  void AddGap(uint32_t aAt, uint32_t aEnd, uint32_t bAt, uint32_t bEnd) {
    uint32_t aLength = aEnd - aAt;
    uint32_t bLength = bEnd - bAt;
    uint64_t span = uint64_t{aLength} + bLength;
    // The most work the exact diff can take: span times the edits allowed.
    uint64_t work = span * std::min<uint64_t>(span, EXACT_EDITS_MAX);
    if (aLength != 0 && bLength != 0 && span <= EXACT_SPAN_MAX && work <= exactWorkLeft &&
        ShortestEditRuns(a + aAt, aLength, b + bAt, bLength, EXACT_EDITS_MAX, &runs)) {
      exactWorkLeft -= work;
      uint32_t x = 0;
      uint32_t y = 0;
      for (const EqualRun& run : runs) {
        AddEdit(aAt + x, run.aAt - x, bAt + y, run.bAt - y);
        x = run.aAt + run.length;
        y = run.bAt + run.length;
      }
      AddEdit(aAt + x, aLength - x, bAt + y, bLength - y);
      return;
    }
    AddEdit(aAt, aLength, bAt, bLength);
  }

  void Walk() {
    uint32_t gapA = aLo;
    uint32_t gapB = bLo;
    uint32_t anchorA;
    uint32_t anchorB;
    while (FindAnchor(gapA, gapB, &anchorA, &anchorB)) {
      uint32_t back = CommonSuffix(a + anchorA, b + anchorB,
                                   std::min(anchorA - gapA, anchorB - gapB));
      uint32_t ahead =
          BLOCK + CommonPrefix(a + anchorA + BLOCK, b + anchorB + BLOCK,
                               std::min(aHi - anchorA, bHi - anchorB) - BLOCK);
      AddGap(gapA, anchorA - back, gapB, anchorB - back);
      gapA = anchorA + ahead;
      gapB = anchorB + ahead;
      Tick(gapB);
    }
    AddGap(gapA, aHi, gapB, bHi);
  }
};

}  // namespace

std::vector<Edit> DiffBytes(const uint8_t* a, uint32_t aSize, const uint8_t* b,
                            uint32_t bSize, DiffProgress progress, void* context) {
  Differ differ{};
  differ.a = a;
  differ.b = b;
  differ.progress = progress;
  differ.context = context;
  differ.total = bSize;
  differ.exactWorkLeft =
      EXACT_WORK_PER_BYTE * (uint64_t{aSize} + bSize) + EXACT_WORK_ALLOWANCE;
  uint32_t shorter = std::min(aSize, bSize);
  uint32_t prefix = CommonPrefix(a, b, shorter);
  uint32_t suffix = CommonSuffix(a + aSize, b + bSize, shorter - prefix);
  differ.aLo = prefix;
  differ.bLo = prefix;
  differ.aHi = aSize - suffix;
  differ.bHi = bSize - suffix;
  differ.Walk();
  if (progress != nullptr) progress(context, bSize, bSize);
  return std::move(differ.edits);
}
