// The differ's walk along the two strings, inside the library: from a place
// where they stop being equal, the next equal run. DiffBytes (diff.cpp)
// strings these runs together, on one thread or several.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "differ/diff.h"

// The part of A and B between their common prefix and suffix.
struct DiffInput {
  const uint8_t* a;
  const uint8_t* b;
  uint32_t aLo, aHi, bLo, bHi;
};

// Content-defined anchors in all of A's part, for matches far from where the
// walk is: a position is an anchor when a rolling hash of the bytes before it
// has its top bits clear, so that equal content has equal anchors in A and B.
// Each holds the first A position of its key, a hash of the bytes after it.
struct AnchorIndex {
  std::vector<uint64_t> slots;  // key tag << 32 | A position + 1; 0 is free
  unsigned slotShift = 64;
  unsigned rareBits = 0;  // an anchor where the rolling hash's top rareBits are 0
};

// Places of one string by a hash of the bytes there, the first of equal ones
// kept. Each filling marks its entries anew, so the table is cleared only
// when the marks wrap around.
struct KeyTable {
  const uint8_t* bytes = nullptr;
  uint32_t base = 0;
  std::vector<uint64_t> slots;  // mark << 32 | place - base
  uint32_t uses = 0;
  uint64_t mark = 0;
  unsigned shift = 64;

  // bytes[from, last], every place, or those an anchor scan with rareBits
  // picks.
  void Fill(const uint8_t* string, uint32_t from, uint32_t last, unsigned rareBits);
  // The place whose bytes equal those at probe, or false.
  bool Find(const uint8_t* probe, uint32_t* at) const;
};

void BuildAnchorIndex(const DiffInput& in, AnchorIndex* index);

// Places of a stretch of A whose bytes around them come nowhere else in it,
// for repetitive content (tile maps, records, runs of zeros), where equal
// bytes match on many diagonals and only such places tell which one goes
// on. A place is taken where a rolling hash of the bytes before it has its
// top bits clear and those bytes are not one byte repeated; its key is a
// hash of the bytes before and after it, and of how long the run before
// them is. Keys seen twice are kept with no place, so that a later copy is
// not taken for a unique one.
struct UniqueIndex {
  uint32_t from = 0;  // A's stretch: [from, to)
  uint32_t to = 0;
  std::vector<uint64_t> slots;  // key tag << 32 | (A position + 1, or 0: repeated)
  unsigned slotShift = 64;
};

// The unique places of B that the walk has looked up in the index, from
// `from` up to `to`, each with its place in A: a cache of what depends on
// the bytes alone, so that an answer never depends on earlier calls.
struct UniqueHits {
  uint32_t from = 0;
  uint32_t to = 0;
  std::vector<EqualRun> hits;  // aAt, bAt; length unused
  size_t first = 0;            // hits before it are before `from`
};

// What one walk needs besides the input: scratch space of its own, and the
// anchor index, which all walks share and which is built on first need.
struct Walker {
  const DiffInput* in;
  const AnchorIndex* (*anchors)(void* owner);
  void* owner;
  KeyTable window;  // a window's part of A
  KeyTable aheadA;  // the far searches' next bytes of A and of B
  KeyTable aheadB;
  std::vector<int64_t> furthest;  // the step-by-step search's row
  std::vector<EqualRun> runs;     // a window's runs, and what chains of them save
  std::vector<int64_t> worth;
  UniqueIndex uniques;  // of the stretch of A the walk is in
  UniqueHits unique;
};

// From (i, j), where A[i] and B[j] differ (or one string has ended), the next
// run of equal bytes, found at most a few mismatches away first, then in
// windows ahead of (i, j), then through the anchors. False when nothing more
// of A can be used: the rest of both is one edit. The run depends on i, j and
// the input only, never on an earlier call: walks begun at different places
// that meet go on together.
bool NextRun(Walker* walker, uint32_t i, uint32_t j, EqualRun* run);

// Equal bytes at the start of x and y, at most limit.
uint32_t CommonPrefix(const uint8_t* x, const uint8_t* y, uint32_t limit);

// Equal bytes just before xEnd and yEnd, at most limit.
uint32_t CommonSuffix(const uint8_t* xEnd, const uint8_t* yEnd, uint32_t limit);
