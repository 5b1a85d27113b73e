// Finds the edits that turn one byte string into another: what `mrgtool make`
// writes as actions.
#pragma once

#include <cstdint>
#include <vector>

// A[aAt, aAt + aLength) is replaced by B[bAt, bAt + bLength). Edits come in
// ascending order in both strings and never touch each other.
struct Edit {
  uint32_t aAt;
  uint32_t aLength;
  uint32_t bAt;
  uint32_t bLength;
};

// Bytes equal in both: A[aAt, aAt + length) == B[bAt, bAt + length).
struct EqualRun {
  uint32_t aAt;
  uint32_t bAt;
  uint32_t length;
};

// Called now and then with how much of B has been worked through.
using DiffProgress = void (*)(void* context, uint64_t done, uint64_t total);

// Edits that turn A into B, chosen to keep the merge file small: each edit
// costs a record head plus its B bytes, so an equal stretch between two
// edits that is no longer than a record head is folded into one edit. Time is
// about linear in the sizes; memory a few megabytes, and up to 16 MiB more
// when large insertions or deletions call for an index of all of A. Large
// inputs are worked through on `threads` threads (0: one per core, up to
// 8; always 1 in WebAssembly), with the same edits as on one.
std::vector<Edit> DiffBytes(const uint8_t* a, uint32_t aSize, const uint8_t* b,
                            uint32_t bSize, DiffProgress progress, void* context,
                            unsigned threads = 0);
