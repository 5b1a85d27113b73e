// RealignEdits: in repetitive content (a tile map's rows, a run of zeros) the
// walk may follow a diagonal a whole period away from the true one, where the
// bytes agree as well, and pay for it where they part: a row taken out here
// and put back a few rows on, or a cut split over several wrong places. A
// cluster of close edits enters on one diagonal and leaves on another (or the
// same); the fewest edits between them are, as a rule, the bytes that differ
// on the entering diagonal up to one place, one insertion or deletion there,
// and the bytes that differ on the leaving diagonal after it. That
// alignment replaces the cluster's edits where it costs less; where it
// doesn't, the cluster is split at its widest stretch of equal bytes and each
// part tried alike, so that a cut and an insertion far apart are each found.
#include "differ/diff_realign.h"

#include <algorithm>

#include "format/merge_format.h"

namespace {

// Edits closer than this in A form a cluster, up to CLUSTER_SPAN bytes of A.
constexpr uint32_t CLUSTER_GAP = uint32_t{64} << 10;
constexpr uint32_t CLUSTER_SPAN = uint32_t{16} << 20;
constexpr uint32_t FOLD = RECORD_HEAD_SIZE;
// An edit of at least this many bytes, of at most SUSPECT_VALUES byte values
// among its first ones, is tried with up to AROUND edits on either side.
constexpr uint32_t SUSPECT_LENGTH = 64;
constexpr uint32_t SUSPECT_VALUES = 8;
constexpr size_t AROUND = 4;
// How far on a suspect edit's way back is looked for, in edits.
constexpr size_t PAIR_REACH = 256;
// The bytes the realignment compares at most: this many passes over both
// inputs, and a little more for small ones.
constexpr uint64_t BUDGET_PASSES = 2;
// Differing bytes looked for on a diagonal at most: an alignment that needs
// more rarely beats the walk's, and its search would cost as much as the diff.
constexpr uint64_t DIFFERING_MAX = uint64_t{1} << 16;
constexpr uint64_t BUDGET_MIN = uint64_t{64} << 20;

uint64_t CostOf(const Edit& edit) { return RECORD_HEAD_SIZE + uint64_t{edit.bLength}; }

// Edits in order, each one folded into the one before it where the equal
// bytes between cost less as data than a record head.
struct Folded {
  std::vector<Edit> edits;
  uint64_t cost = 0;

  void Add(const Edit& edit) {
    if (edit.aLength == 0 && edit.bLength == 0) return;
    if (!edits.empty()) {
      Edit& last = edits.back();
      uint32_t lastEnd = last.aAt + last.aLength;
      if (edit.aAt - lastEnd <= FOLD) {
        cost -= CostOf(last);
        last.aLength = edit.aAt + edit.aLength - last.aAt;
        last.bLength = edit.bAt + edit.bLength - last.bAt;
        cost += CostOf(last);
        return;
      }
    }
    edits.push_back(edit);
    cost += CostOf(edit);
  }
};

struct Pair {
  const uint8_t* a;
  const uint8_t* b;
  // Bytes the realignment may still compare: a bound on its time, a few
  // passes over the inputs, whatever the edits.
  uint64_t* budget;
};

// Whether `span` bytes of A may be compared on two diagonals more; takes them.
bool Afford(const Pair& in, uint32_t span) {
  const uint64_t cost = 2 * uint64_t{span};
  if (*in.budget < cost) return false;
  *in.budget -= cost;
  return true;
}

// The bytes of A in [from, to) that differ from B on the diagonal `shift`
// (B's position less A's), as edits of the same length.
void AddDifferences(const Pair& in, uint32_t from, uint32_t to, int64_t shift,
                    Folded* out) {
  for (uint32_t x = from; x < to;) {
    auto y = static_cast<uint32_t>(x + shift);
    if (in.a[x] == in.b[y]) {
      ++x;
      continue;
    }
    uint32_t end = x + 1;
    while (end < to && in.a[end] != in.b[static_cast<uint32_t>(end + shift)]) ++end;
    out->Add({x, end - x, y, end - x});
    x = end;
  }
}

// Where A's bytes in [from, to) differ from B's on the diagonal `shift`,
// walking forward (or backward) until `most` are found.
std::vector<uint32_t> Differing(const Pair& in, uint32_t from, uint32_t to, int64_t shift,
                                bool backward, uint64_t most) {
  std::vector<uint32_t> found;
  for (uint32_t i = 0; i < to - from && found.size() < most; ++i) {
    uint32_t x = backward ? to - 1 - i : from + i;
    if (in.a[x] != in.b[static_cast<uint32_t>(x + shift)]) found.push_back(x);
  }
  return found;
}

// The first of the ascending `places` from `from` on that stands at or past
// `bound`, or their end.
size_t FirstPast(const std::vector<uint32_t>& places, size_t from, uint64_t bound) {
  while (from < places.size() && places[from] < bound) ++from;
  return from;
}

// The edits [first, last] realigned, where that costs less; the edits it
// gives in *out.
bool Realigned(const Pair& in, const std::vector<Edit>& edits, size_t first, size_t last,
               Folded* out) {
  const Edit& head = edits[first];
  const Edit& tail = edits[last];
  const uint32_t aStart = head.aAt;
  const uint32_t aEnd = tail.aAt + tail.aLength;
  const int64_t enter = int64_t{head.bAt} - head.aAt;
  const int64_t leave = int64_t{tail.bAt} + tail.bLength - aEnd;
  uint64_t cost = 0;
  for (size_t i = first; i <= last; ++i) cost += CostOf(edits[i]);
  // Deleted A bytes where the edits leave on a lower diagonal; else inserted
  // B bytes.
  const uint32_t removed = leave < enter ? static_cast<uint32_t>(enter - leave) : 0;
  const uint32_t inserted = leave > enter ? static_cast<uint32_t>(leave - enter) : 0;
  if (removed > aEnd - aStart || RECORD_HEAD_SIZE + uint64_t{inserted} >= cost ||
      !Afford(in, aEnd - aStart))
    return false;
  const uint32_t last0 = aEnd - removed;  // the change may stand at [aStart, last0]

  // The bytes that differ on the entering diagonal from the start, and on the
  // leaving one from the end, as far as fewer than the edits' cost of them
  // can be: where the change stands, the two counts together are the least.
  const uint64_t most = std::min<uint64_t>(cost, DIFFERING_MAX);
  std::vector<uint32_t> before = Differing(in, aStart, last0, enter, false, most);
  std::vector<uint32_t> after = Differing(in, aStart + removed, aEnd, leave, true, most);
  // The counts change only where the change passes a differing byte: the
  // places worth trying are the start, the end, and just past each of them.
  // Beyond what a scan reached before it stopped, every byte may differ.
  const bool beforeWhole = before.size() < most;
  const bool afterWhole = after.size() < most;
  std::reverse(after.begin(), after.end());  // ascending
  // The places, in order: the start, just past each differing byte of the
  // entering diagonal, where each of the leaving one's falls behind, the end.
  uint64_t bestCount = cost;
  uint32_t best = last0 + 1;
  size_t inBefore = 0;  // differing bytes before the place
  size_t notAfter = 0;  // differing bytes of the leaving diagonal before its part
  for (uint32_t place = aStart;;) {
    inBefore = FirstPast(before, inBefore, place);
    notAfter = FirstPast(after, notAfter, uint64_t{place} + removed);
    bool known = (beforeWhole || (!before.empty() && place <= before.back())) &&
                 (afterWhole || (!after.empty() && place + removed > after.front()));
    uint64_t count = uint64_t{inBefore} + (after.size() - notAfter);
    if (known && count < bestCount) {
      bestCount = count;
      best = place;
    }
    // The next place where a count changes.
    uint64_t next = uint64_t{last0} + 1;
    if (inBefore < before.size()) next = std::min(next, before[inBefore] + uint64_t{1});
    if (notAfter < after.size())
      next = std::min(next, after[notAfter] + uint64_t{1} - removed);
    if (place == last0) break;
    place = static_cast<uint32_t>(std::min<uint64_t>(next, last0));
  }
  if (best > last0) return false;
  AddDifferences(in, aStart, best, enter, out);
  out->Add({best, removed, static_cast<uint32_t>(best + enter), inserted});
  AddDifferences(in, best + removed, aEnd, leave, out);
  return out->cost < cost;
}

// The edits [first, last] realigned where that helps, each part of them
// split at its widest stretch of equal bytes where the whole doesn't.
void Realign(const Pair& in, const std::vector<Edit>& edits, size_t first, size_t last,
             std::vector<Edit>* out) {
  // Edits that keep the length keep to one diagonal, whose differing bytes
  // they are: a realignment, one diagonal in and out, finds the same.
  if (std::all_of(edits.begin() + static_cast<std::ptrdiff_t>(first),
                  edits.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                  [](const Edit& edit) { return edit.aLength == edit.bLength; })) {
    out->insert(out->end(), edits.begin() + static_cast<std::ptrdiff_t>(first),
                edits.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    return;
  }
  Folded better;
  if (first < last && Realigned(in, edits, first, last, &better)) {
    out->insert(out->end(), better.edits.begin(), better.edits.end());
    return;
  }
  if (first == last) {
    out->push_back(edits[first]);
    return;
  }
  size_t cut = first;
  uint32_t widest = 0;
  for (size_t i = first; i < last; ++i) {
    uint32_t gap = edits[i + 1].aAt - (edits[i].aAt + edits[i].aLength);
    if (gap >= widest) {
      widest = gap;
      cut = i;
    }
  }
  Realign(in, edits, first, cut, out);
  Realign(in, edits, cut + 1, last, out);
}

// An edit of many bytes, of few byte values: where a walk through
// repetitive content ends up on a wrong diagonal, it comes back by one.
bool Suspect(const Pair& in, const Edit& edit) {
  const uint32_t length = std::max(edit.aLength, edit.bLength);
  if (length < SUSPECT_LENGTH) return false;
  const uint8_t* bytes = edit.bLength >= edit.aLength ? in.b + edit.bAt : in.a + edit.aAt;
  bool seen[256] = {};
  uint32_t values = 0;
  for (uint32_t i = 0; i < std::min(length, SUSPECT_LENGTH); ++i)
    if (!seen[bytes[i]]) {
      seen[bytes[i]] = true;
      ++values;
    }
  return values <= SUSPECT_VALUES;
}

int64_t GrowthOf(const Edit& edit) { return int64_t{edit.bLength} - edit.aLength; }

// The edits [first, last] where `first` took a wrong diagonal a whole period
// of the content away and `last` came back by as much: the two go, and the
// edits between that change the length stay where they stand in B, each
// then on the true diagonal; every other difference is found anew. False
// where the edits between don't fit so; else the edits in *out.
bool Reanchored(const Pair& in, const std::vector<Edit>& edits, size_t first, size_t last,
                Folded* out) {
  const uint32_t aEnd = edits[last].aAt + edits[last].aLength;
  int64_t diagonal = int64_t{edits[first].bAt} - edits[first].aAt;
  uint32_t at = edits[first].aAt;
  if (!Afford(in, aEnd - at)) return false;
  for (size_t m = first + 1; m < last; ++m) {
    const Edit& edit = edits[m];
    if (GrowthOf(edit) == 0) continue;
    int64_t aAt = int64_t{edit.bAt} - diagonal;
    if (aAt < at || aAt + edit.aLength > aEnd) return false;
    AddDifferences(in, at, static_cast<uint32_t>(aAt), diagonal, out);
    out->Add({static_cast<uint32_t>(aAt), edit.aLength, edit.bAt, edit.bLength});
    at = static_cast<uint32_t>(aAt) + edit.aLength;
    diagonal += GrowthOf(edit);
  }
  if (int64_t{aEnd} + diagonal != int64_t{edits[last].bAt} + edits[last].bLength)
    return false;
  AddDifferences(in, at, aEnd, diagonal, out);
  return true;
}

// A wrong diagonal may have been taken at an edit well before the one that
// leaves it: the edits around each suspect one, a few back and a few on,
// realigned as one where that helps most.
std::vector<Edit> AroundSuspects(const Pair& in, const std::vector<Edit>& edits) {
  std::vector<Edit> out;
  out.reserve(edits.size());
  for (size_t i = 0; i < edits.size();) {
    if (!Suspect(in, edits[i])) {
      out.push_back(edits[i++]);
      continue;
    }
    Folded best;
    size_t bestBack = 0;
    size_t bestOn = 0;
    uint64_t bestGain = 0;
    for (size_t back = 0; back <= AROUND && back <= out.size(); ++back)
      for (size_t on = 0; on <= AROUND && i + on < edits.size(); ++on) {
        if (back + on == 0) continue;
        std::vector<Edit> window(out.end() - static_cast<std::ptrdiff_t>(back),
                                 out.end());
        window.insert(window.end(), edits.begin() + static_cast<std::ptrdiff_t>(i),
                      edits.begin() + static_cast<std::ptrdiff_t>(i + on + 1));
        const Edit& last = window.back();
        if (last.aAt + last.aLength - window.front().aAt > CLUSTER_SPAN) continue;
        uint64_t cost = 0;
        for (const Edit& edit : window) cost += CostOf(edit);
        Folded realigned;
        if (Realigned(in, window, 0, window.size() - 1, &realigned) &&
            cost - realigned.cost > bestGain) {
          bestGain = cost - realigned.cost;
          best = realigned;
          bestBack = back;
          bestOn = on;
        }
      }
    // A wrong diagonal kept past several edits: a later suspect edit that
    // comes back by as much as this one went.
    size_t pair = 0;
    for (size_t j = i + 1; j < edits.size() && j <= i + PAIR_REACH; ++j) {
      if (edits[j].aAt + edits[j].aLength - edits[i].aAt > CLUSTER_SPAN) break;
      if (GrowthOf(edits[i]) + GrowthOf(edits[j]) != 0 || !Suspect(in, edits[j]))
        continue;
      uint64_t cost = 0;
      for (size_t k = i; k <= j; ++k) cost += CostOf(edits[k]);
      Folded reanchored;
      if (Reanchored(in, edits, i, j, &reanchored) && reanchored.cost < cost &&
          cost - reanchored.cost > bestGain) {
        bestGain = cost - reanchored.cost;
        best = reanchored;
        pair = j;
      }
    }
    if (pair != 0) {
      out.insert(out.end(), best.edits.begin(), best.edits.end());
      i = pair + 1;
      continue;
    }
    if (bestGain == 0) {
      out.push_back(edits[i++]);
      continue;
    }
    out.resize(out.size() - bestBack);
    out.insert(out.end(), best.edits.begin(), best.edits.end());
    i += bestOn + 1;
  }
  return out;
}

}  // namespace

void RealignEdits(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize,
                  std::vector<Edit>* edits) {
  uint64_t budget = BUDGET_PASSES * (uint64_t{aSize} + bSize) + BUDGET_MIN;
  const Pair in{a, b, &budget};
  std::vector<Edit> realigned;
  realigned.reserve(edits->size());
  size_t first = 0;
  while (first < edits->size()) {
    size_t last = first;
    while (last + 1 < edits->size()) {
      const Edit& next = (*edits)[last + 1];
      const Edit& end = (*edits)[last];
      if (next.aAt - (end.aAt + end.aLength) > CLUSTER_GAP ||
          next.aAt + next.aLength - (*edits)[first].aAt > CLUSTER_SPAN)
        break;
      ++last;
    }
    Realign(in, *edits, first, last, &realigned);
    first = last + 1;
  }
  // The walk's edits go before the last pass makes its own copy: a million
  // edits are 16 MiB.
  std::vector<Edit>().swap(*edits);
  *edits = AroundSuspects(in, realigned);
}
