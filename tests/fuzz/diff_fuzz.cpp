// Fuzz target: two related strings made from the input, diffed; the edits
// must be in order, inside both strings, and turn the first into the second
// exactly, checked by a plain replay here, apart from the tool's code.
//
// Input: byte 0 is how many times A repeats the part it is made of (1 to 64,
// so that short inputs reach the differ's far searches); bytes 1-2 the
// part's length, little-endian; then the part; then edits that make B of A,
// 5 bytes each: a kind, where (2 bytes, a share of B so far), and two
// lengths. An even kind removes the first length and puts in as many bytes
// as the second, taken from the input after it; an odd kind puts in a copy
// of A from a share of it given by the first length, 16 times the second
// long.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "differ/diff.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Require(bool holds, const char* what) {
  if (holds) return;
  (void)fprintf(stderr, "diff_fuzz: %s\n", what);
  abort();
}

struct Pair {
  Bytes a;
  Bytes b;
};

Pair MakePair(const uint8_t* data, size_t size) {
  Pair pair;
  unsigned repeats = 1 + data[0] % 64;
  size_t partLength = std::min<size_t>(size - 3, data[1] | size_t{data[2]} << 8);
  const uint8_t* part = data + 3;
  for (unsigned r = 0; r < repeats; ++r)
    pair.a.insert(pair.a.end(), part, part + partLength);
  pair.b = pair.a;
  Bytes& b = pair.b;
  for (size_t at = 3 + partLength; size - at >= 5;) {
    uint8_t kind = data[at];
    size_t where = (data[at + 1] | size_t{data[at + 2]} << 8) * b.size() / 65536;
    size_t first = data[at + 3];
    size_t second = data[at + 4];
    at += 5;
    auto place = b.begin() + static_cast<std::ptrdiff_t>(where);
    if (kind % 2 == 0) {
      size_t removed = std::min(first, b.size() - where);
      size_t inserted = std::min(second, size - at);
      place = b.erase(place, place + static_cast<std::ptrdiff_t>(removed));
      b.insert(place, data + at, data + at + inserted);
      at += inserted;
    } else {
      size_t from = first * pair.a.size() / 256;
      size_t length = std::min(second * 16, pair.a.size() - from);
      auto source = pair.a.begin() + static_cast<std::ptrdiff_t>(from);
      b.insert(place, source, source + static_cast<std::ptrdiff_t>(length));
    }
  }
  return pair;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const Pair pair = MakePair(data, size);
  const Bytes& a = pair.a;
  const Bytes& b = pair.b;
  if (a.size() > UINT32_MAX || b.size() > UINT32_MAX) return 0;

  // Exactly sized heap copies: any read past the end of either is a
  // sanitizer report.
  auto* aBuffer = new uint8_t[a.size() + 1];
  auto* bBuffer = new uint8_t[b.size() + 1];
  if (!a.empty()) memcpy(aBuffer, a.data(), a.size());
  if (!b.empty()) memcpy(bBuffer, b.data(), b.size());
  std::vector<Edit> edits = DiffBytes(aBuffer, static_cast<uint32_t>(a.size()), bBuffer,
                                      static_cast<uint32_t>(b.size()), nullptr, nullptr);

  Bytes made;
  uint64_t aAt = 0;
  uint64_t bAt = 0;
  for (const Edit& edit : edits) {
    const uint64_t aFrom = edit.aAt;
    const uint64_t bFrom = edit.bAt;
    const uint64_t aTo = aFrom + edit.aLength;
    const uint64_t bTo = bFrom + edit.bLength;
    Require(aTo != aFrom || bTo != bFrom, "an edit that changes nothing");
    Require(aFrom >= aAt && bFrom >= bAt, "edits out of order or overlapping");
    Require(aFrom - aAt == bFrom - bAt, "the bytes between two edits differ in length");
    Require(aTo <= a.size(), "an edit past the end of A");
    Require(bTo <= b.size(), "an edit past the end of B");
    made.insert(made.end(), a.begin() + static_cast<std::ptrdiff_t>(aAt),
                a.begin() + static_cast<std::ptrdiff_t>(aFrom));
    made.insert(made.end(), b.begin() + static_cast<std::ptrdiff_t>(bFrom),
                b.begin() + static_cast<std::ptrdiff_t>(bTo));
    aAt = aTo;
    bAt = bTo;
  }
  made.insert(made.end(), a.begin() + static_cast<std::ptrdiff_t>(aAt), a.end());
  Require(made == b, "the edits do not turn A into B");
  Require(edits.empty() == (a == b),
          "edits for equal strings, or none for different ones");

  delete[] aBuffer;
  delete[] bBuffer;
  return 0;
}
