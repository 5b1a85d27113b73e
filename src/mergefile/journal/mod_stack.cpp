#include "journal/mod_stack.h"

#include <algorithm>
#include <utility>

#include "format/apply_actions.h"
#include "format/merge_build.h"
#include "format/merge_records.h"

namespace {

// A hunk with the bytes it removed, which its undo puts back: they lie in the
// history and stay the same wherever the hunk moves.
struct Change {
  Hunk hunk;
  const uint8_t* removedBytes;
};
using Changes = std::vector<Change>;

// An entry as a removal works on it.
struct Layer {
  size_t entry;     // its index in the history
  Changes changes;  // in the positions of the level before it
  Fingerprint before;
  Fingerprint after;
};

int64_t Growth(const Hunk& hunk) {
  return int64_t{hunk.inserted} - int64_t{hunk.removed};
}

Changes ChangesOf(const HistoryEntry& entry) {
  Changes changes;
  // An undo action stands in the level after: its hunk started where it
  // stood before the hunks ahead of it changed the length.
  int64_t shift = 0;
  RecordCursor cursor = RecordsFrom(entry.undo, entry.undoAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& undo = record.action;
    Hunk hunk{static_cast<uint32_t>(int64_t{undo.offset} - shift), undo.insertLength,
              undo.removeLength};
    changes.push_back({hunk, undo.data});
    shift += Growth(hunk);
  }
  return changes;
}

// A merge file's actions as changes; it has no undo, and its actions that do
// nothing change nothing.
Changes ChangesOfMerge(const MergeImage& merge, uint32_t firstActionAt) {
  Changes changes;
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    if (action.removeLength != 0 || action.insertLength != 0)
      changes.push_back(
          {{action.offset, action.removeLength, action.insertLength}, nullptr});
  }
  return changes;
}

std::vector<MergeAction> UndoOf(const Changes& changes) {
  std::vector<MergeAction> undo;
  undo.reserve(changes.size());
  int64_t shift = 0;
  for (const Change& change : changes) {
    const Hunk& hunk = change.hunk;
    undo.push_back({static_cast<uint32_t>(hunk.at + shift), hunk.inserted, hunk.removed,
                    change.removedBytes});
    shift += Growth(hunk);
  }
  return undo;
}

std::vector<Layer> LayersOf(const History& history) {
  std::vector<Layer> layers;
  for (size_t i = 0; i < history.entries.size(); ++i) {
    const HistoryEntry& entry = history.entries[i];
    layers.push_back({i, ChangesOf(entry), entry.head.before, entry.head.after});
  }
  return layers;
}

// What a mod wrote, as it stands in a later level: bytes, or a point where it
// only removed bytes. A sticky edge may hold such a point, since a change that
// could not be moved past exactly was taken in: there an insertion might have
// gone on either side of the point.
struct Piece {
  int64_t start;
  int64_t end;
  bool stickyStart;
  bool stickyEnd;
};

enum class Side { BEFORE, TOUCHES, AFTER };

// Where a later hunk stands to a piece, by the rule of which changes block.
Side SideOf(const Hunk& hunk, const Piece& piece) {
  const int64_t at = hunk.at;
  if (hunk.removed > 0) {
    if (at + hunk.removed <= piece.start) return Side::BEFORE;
    if (at >= piece.end) return Side::AFTER;
    return Side::TOUCHES;
  }
  if (at < piece.start) return Side::BEFORE;
  if (at > piece.end) return Side::AFTER;
  if ((at == piece.start && piece.stickyStart) || (at == piece.end && piece.stickyEnd))
    return Side::TOUCHES;
  if (at == piece.start) return Side::BEFORE;
  if (at == piece.end) return Side::AFTER;
  return Side::TOUCHES;
}

// Appends the pieces a layer's changes wrote, in the level after it.
void AddPieces(const Changes& changes, std::vector<Piece>* pieces) {
  int64_t shift = 0;
  for (const Change& change : changes) {
    const Hunk& hunk = change.hunk;
    const int64_t at = hunk.at + shift;
    const bool point = hunk.inserted == 0;
    pieces->push_back({at, at + hunk.inserted, point, point});
    shift += Growth(hunk);
  }
}

// Moves the pieces past a later layer's changes. A piece that a hunk touches
// can't be moved exactly: it grows to cover the hunks that touch it. False
// when one did.
bool MovePieces(const Changes& later, std::vector<Piece>* pieces) {
  // growth[k]: the change in length of the hunks before hunk k.
  std::vector<int64_t> growth(later.size() + 1, 0);
  for (size_t k = 0; k < later.size(); ++k)
    growth[k + 1] = growth[k] + Growth(later[k].hunk);
  bool untouched = true;
  for (Piece& piece : *pieces) {
    // Along the hunks, the sides run BEFORE, then TOUCHES, then AFTER.
    auto firstAt = std::partition_point(later.begin(), later.end(), [&](const Change& c) {
      return SideOf(c.hunk, piece) == Side::BEFORE;
    });
    auto first = static_cast<size_t>(firstAt - later.begin());
    size_t last = first;
    while (last < later.size() && SideOf(later[last].hunk, piece) == Side::TOUCHES)
      ++last;
    if (first == last) {
      piece.start += growth[first];
      piece.end += growth[first];
      continue;
    }
    untouched = false;
    const Hunk& opening = later[first].hunk;
    const Hunk& closing = later[last - 1].hunk;
    const int64_t closingEnd = int64_t{closing.at} + closing.removed;
    if (opening.at < piece.start) piece.stickyStart = false;
    if (closingEnd > piece.end) piece.stickyEnd = false;
    piece.start = std::min<int64_t>(piece.start, opening.at) + growth[first];
    piece.end = std::max(piece.end, closingEnd) + growth[last];
  }
  // A piece covered and left empty by a hunk is that hunk's now.
  pieces->erase(std::remove_if(pieces->begin(), pieces->end(),
                               [](const Piece& p) {
                                 return p.start == p.end && !p.stickyStart &&
                                        !p.stickyEnd;
                               }),
                pieces->end());
  return untouched;
}

// Moves what the layers marked in `out` wrote past every later layer. A
// later layer that touches any of it must come out first, and what it wrote
// joins: it is marked, and returned among the blockers, oldest first.
std::vector<size_t> Sweep(const std::vector<Layer>& layers, std::vector<bool>* out) {
  std::vector<Piece> pieces;
  std::vector<size_t> blockers;
  bool started = false;
  for (size_t i = 0; i < layers.size(); ++i) {
    if (!started && !(*out)[i]) continue;
    started = true;
    const Changes& changes = layers[i].changes;
    if (!MovePieces(changes, &pieces) && !(*out)[i]) {
      (*out)[i] = true;
      blockers.push_back(i);
    }
    if ((*out)[i]) AddPieces(changes, &pieces);
  }
  return blockers;
}

// Moves `first` past `second`, the layer after it: *secondFirst is `second`
// made on the level before `first`, *firstAfter is `first` made on the level
// that gives. False where a hunk of `second` touches what `first` wrote.
bool SwapPast(const Changes& first, const Changes& second, Changes* secondFirst,
              Changes* firstAfter) {
  secondFirst->clear();
  firstAfter->clear();
  int64_t firstGrowth = 0;   // of the hunks of `first` passed
  int64_t secondGrowth = 0;  // of the hunks of `second` passed
  size_t i = 0;
  size_t j = 0;
  while (i < first.size() || j < second.size()) {
    bool secondNext = i == first.size();
    if (i < first.size() && j < second.size()) {
      const Hunk& hunk = first[i].hunk;
      const int64_t at = hunk.at + firstGrowth;
      const bool point = hunk.inserted == 0;
      Side side = SideOf(second[j].hunk, {at, at + hunk.inserted, point, point});
      if (side == Side::TOUCHES) return false;
      secondNext = side == Side::BEFORE;
    }
    if (secondNext) {
      Change moved = second[j++];
      moved.hunk.at = static_cast<uint32_t>(moved.hunk.at - firstGrowth);
      secondGrowth += Growth(moved.hunk);
      secondFirst->push_back(moved);
    } else {
      Change moved = first[i++];
      moved.hunk.at = static_cast<uint32_t>(moved.hunk.at + secondGrowth);
      firstGrowth += Growth(moved.hunk);
      firstAfter->push_back(moved);
    }
  }
  return true;
}

// Whether `later`, made on the same level as `earlier`, would block its way
// out once both are in, `earlier` first, or leave unclear where it goes.
bool Collide(const Hunk& earlier, const Hunk& later) {
  const uint64_t earlierEnd = uint64_t{earlier.at} + earlier.removed;
  const uint64_t laterEnd = uint64_t{later.at} + later.removed;
  if (earlier.removed > 0 && later.removed > 0)
    return later.at < earlierEnd && earlier.at < laterEnd;
  if (earlier.removed == 0 && later.removed == 0) return later.at == earlier.at;
  if (later.removed == 0)
    return (earlier.at < later.at && later.at < earlierEnd) ||
           (earlier.inserted == 0 && (later.at == earlier.at || later.at == earlierEnd));
  return later.at < earlier.at && earlier.at < laterEnd;
}

// Makes `earlier` a change of the level `later` gives, both made on one
// level; false where they collide.
bool Rebase(const Changes& later, Changes* earlier) {
  int64_t growth = 0;
  size_t j = 0;
  for (Change& change : *earlier) {
    Hunk& hunk = change.hunk;
    for (; j < later.size(); ++j) {
      const Hunk& other = later[j].hunk;
      if (Collide(hunk, other)) return false;
      if (uint64_t{other.at} + other.removed > hunk.at) break;
      growth += Growth(other);
    }
    hunk.at = static_cast<uint32_t>(hunk.at + growth);
  }
  return true;
}

bool AppendSlice(void* context, const uint8_t* bytes, uint32_t count) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), bytes, bytes + count);
  return true;
}

LevelImage ImageOf(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), static_cast<uint32_t>(bytes.size())};
}

Fingerprint PrintOf(const LevelImage& level) {
  return FingerprintOf(level.buffer, level.size);
}

// The level `changes` came from, of `size` bytes, made of `level`, the one
// they gave. Moved changes are checked against it as a file's actions are:
// false where they don't fit it.
bool Undo(const LevelImage& level, const Changes& changes, uint64_t size,
          std::vector<uint8_t>* out) {
  out->clear();
  out->reserve(static_cast<size_t>(size));
  return ApplyActionList(level, UndoOf(changes), AppendSlice, out);
}

// The level the layers end at: the one given, until a removal holds its own.
struct Levels {
  LevelImage top;
  std::vector<uint8_t> held;
};

// Takes layers[at] out. It is moved past the layers after it, which are
// rewritten to the level without it, and its undo, applied at the top, gives
// the next level. The rewritten layers unwind the next level down to the
// taken one's level before, fingerprinting each level they meet for their
// entries; two levels are held on the way at most, besides the top.
RemovalOutcome TakeOut(std::vector<Layer>* layers, size_t at, Levels* levels) {
  std::vector<Layer>& stack = *layers;
  const Layer& taken = stack[at];
  const size_t top = stack.size() - 1;
  int64_t growth = 0;
  for (const Change& change : taken.changes) growth += Growth(change.hunk);

  // movedUp[j]: the taken layer's changes once moved past layer j;
  // without[j]: layer j made on the level without it.
  std::vector<Changes> movedUp(stack.size());
  std::vector<Changes> without(stack.size());
  movedUp[at] = taken.changes;
  for (size_t j = at + 1; j <= top; ++j) {
    if (!SwapPast(movedUp[j - 1], stack[j].changes, &without[j], &movedUp[j]))
      return RemovalOutcome::DAMAGED;  // the sweep found nothing that blocks
    const int64_t size = static_cast<int64_t>(stack[j].after.size) - growth;
    if (size < 0) return RemovalOutcome::DAMAGED;
    if (static_cast<uint64_t>(size) > MERGE_FILE_MAX) return RemovalOutcome::TOO_LARGE;
  }

  std::vector<uint8_t> next;
  if (!Undo(levels->top, movedUp[top],
            static_cast<uint64_t>(static_cast<int64_t>(stack[top].after.size) - growth),
            &next))
    return RemovalOutcome::DAMAGED;
  // prints[j]: the level after layer j without the taken one, unwound from
  // the new level through the rewritten layers: the one it ends at must be
  // the taken layer's level before, or the new level is not the one the
  // layers left in make. That is the removal's proof.
  std::vector<Fingerprint> prints(stack.size());
  prints[top] = PrintOf(ImageOf(next));
  std::vector<uint8_t> work[2];
  LevelImage level = ImageOf(next);
  for (size_t j = top; j > at; --j) {
    std::vector<uint8_t>& below = work[j % 2];
    const int64_t size = static_cast<int64_t>(stack[j].before.size) - growth;
    if (size < 0 || !Undo(level, without[j], static_cast<uint64_t>(size), &below))
      return RemovalOutcome::DAMAGED;
    level = ImageOf(below);
    prints[j - 1] = PrintOf(level);
  }
  if (!SameFingerprint(prints[at], taken.before)) return RemovalOutcome::DAMAGED;
  std::vector<uint8_t>().swap(levels->held);

  for (size_t j = at + 1; j <= top; ++j) {
    stack[j].changes = std::move(without[j]);
    stack[j].before = prints[j - 1];
    stack[j].after = prints[j];
  }
  stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(at));
  levels->held = std::move(next);
  levels->top = ImageOf(levels->held);
  return RemovalOutcome::REMOVED;
}

// What is written of a removal reads back as it was meant: the new history
// whole, ending at the new level. Each step's proof is TakeOut's.
bool ReadsBack(const std::vector<uint8_t>& bytes, const LevelImage& top) {
  History proof{};
  return ReadHistory(bytes.data(), bytes.size(), &proof) == HistoryRead::WHOLE &&
         SameFingerprint(PrintOf(top), LevelAtEnd(proof));
}

}  // namespace

std::vector<Hunk> HunksOf(const HistoryEntry& entry) {
  std::vector<Hunk> hunks;
  for (const Change& change : ChangesOf(entry)) hunks.push_back(change.hunk);
  return hunks;
}

Removal RemoveMods(const History& history, const uint8_t* historyBytes,
                   const LevelImage& level, const std::vector<size_t>& removing) {
  Removal removal{RemovalOutcome::DAMAGED, {}, {}, {}, {}};
  const size_t count = history.entries.size();
  std::vector<bool> out(count, false);
  size_t oldest = count;
  for (size_t index : removing) {
    if (index >= count || out[index]) return removal;
    out[index] = true;
    oldest = std::min(oldest, index);
  }
  if (!SameFingerprint(PrintOf(level), LevelAtEnd(history))) return removal;

  std::vector<Layer> layers = LayersOf(history);
  std::vector<bool> mustGo = out;
  removal.blockers = Sweep(layers, &mustGo);
  if (!removal.blockers.empty()) {
    removal.outcome = RemovalOutcome::BLOCKED;
    return removal;
  }

  // Newest first: each one taken out has no other to be taken out after it.
  Levels levels{level, {}};
  for (size_t i = count; i-- > oldest;) {
    if (!out[i]) continue;
    RemovalOutcome outcome = TakeOut(&layers, i, &levels);
    if (outcome != RemovalOutcome::REMOVED) {
      removal.outcome = outcome;
      return removal;
    }
  }
  if (removing.empty()) levels.held.assign(level.buffer, level.buffer + level.size);

  std::vector<uint8_t> bytes;
  KeepEntriesBefore(history, historyBytes, oldest, &bytes);
  for (size_t k = oldest; k < layers.size(); ++k) {
    ModHead head = history.entries[layers[k].entry].head;
    head.before = layers[k].before;
    head.after = layers[k].after;
    if (!AppendEntry(head, UndoOf(layers[k].changes), &bytes)) {
      removal.outcome = RemovalOutcome::TOO_LARGE;
      return removal;
    }
  }
  if (!ReadsBack(bytes, ImageOf(levels.held))) return removal;

  removal.outcome = RemovalOutcome::REMOVED;
  removal.level = std::move(levels.held);
  removal.levelPrint = PrintOf(ImageOf(removal.level));
  removal.history = std::move(bytes);
  return removal;
}

namespace {

// The later layers whose changes touch what the layer `entry` wrote, as it
// stands when each comes: it grows over what touches it, but nothing they
// wrote joins it, so that only the changes of its own bytes count.
std::vector<size_t> TouchedBy(const std::vector<Layer>& layers, size_t entry) {
  std::vector<Piece> pieces;
  AddPieces(layers[entry].changes, &pieces);
  std::vector<size_t> touching;
  for (size_t i = entry + 1; i < layers.size(); ++i)
    if (!MovePieces(layers[i].changes, &pieces)) touching.push_back(i);
  return touching;
}

}  // namespace

std::vector<size_t> BlockersOf(const History& history, size_t entry) {
  return TouchedBy(LayersOf(history), entry);
}

std::vector<std::vector<size_t>> BlockersOfEach(const History& history) {
  std::vector<Layer> layers = LayersOf(history);
  std::vector<std::vector<size_t>> each;
  for (size_t i = 0; i < history.entries.size(); ++i)
    each.push_back(TouchedBy(layers, i));
  return each;
}

uint32_t FirstDifference(const LevelImage& old, const std::vector<uint8_t>& changed) {
  uint32_t length =
      old.size < changed.size() ? old.size : static_cast<uint32_t>(changed.size());
  uint32_t at = 0;
  while (at < length && old.buffer[at] == changed[at]) ++at;
  return at;
}

std::vector<size_t> ModsChangedBy(const History& history, const MergeImage& merge,
                                  uint32_t firstActionAt) {
  std::vector<Layer> layers = LayersOf(history);
  const size_t mergeAt = layers.size();
  layers.push_back({mergeAt, ChangesOfMerge(merge, firstActionAt), {}, {}});
  std::vector<size_t> changed;
  for (size_t entry = 0; entry < mergeAt; ++entry) {
    std::vector<size_t> touching = TouchedBy(layers, entry);
    if (!touching.empty() && touching.back() == mergeAt) changed.push_back(entry);
  }
  return changed;
}

size_t EntryBefore(const History& history, const Fingerprint& level) {
  for (size_t i = 0; i < history.entries.size(); ++i)
    if (SameFingerprint(history.entries[i].head.before, level)) return i;
  return NOT_IN_CHAIN;
}

bool AppliesUnderMods(const History& history, size_t first, const MergeImage& merge,
                      uint32_t firstActionAt) {
  Changes moving = ChangesOfMerge(merge, firstActionAt);
  for (size_t entry = first; entry < history.entries.size(); ++entry)
    if (!Rebase(ChangesOf(history.entries[entry]), &moving)) return false;
  return true;
}

std::vector<size_t> ChosenMods(const History& history, const Fingerprint* merge,
                               const std::string& name, bool every, ChoiceFound* found) {
  std::vector<size_t> chosen;
  for (size_t i = 0; i < history.entries.size(); ++i) {
    const ModHead& head = history.entries[i].head;
    if (every || (merge != nullptr && SameFingerprint(head.merge, *merge)) ||
        head.name == name || (head.pack != 0 && head.packName == name))
      chosen.push_back(i);
  }
  *found = chosen.empty() ? history.entries.empty() ? ChoiceFound::NOTHING_IN
                                                    : ChoiceFound::NOT_FOUND
                          : ChoiceFound::FOUND;
  if (every || chosen.empty()) return chosen;
  // Parts of one pack come out together; other mods of one name can't be
  // told apart.
  const uint64_t pack = history.entries[chosen[0]].head.pack;
  for (size_t i : chosen)
    if (chosen.size() > 1 && (pack == 0 || history.entries[i].head.pack != pack)) {
      *found = ChoiceFound::AMBIGUOUS;
      return {};
    }
  if (pack == 0) return chosen;
  chosen.clear();
  for (size_t i = 0; i < history.entries.size(); ++i)
    if (history.entries[i].head.pack == pack) chosen.push_back(i);
  return chosen;
}
