// The mods of a history as a stack of changes to byte ranges, and taking any
// of them out. Two changes of disjoint bytes commute: a mod that came after
// another only sees that one's change in length before its own ranges. So a
// mod whose bytes no later mod changed comes out exactly, wherever it
// stands: its undo is moved past the later mods, shifted by their changes in
// length, and applied; the later mods stay in, their entries rewritten to
// the level without it.
//
// Which later changes block a mod's way out: a mod wrote the bytes of its
// actions' data; where it only removed bytes, it wrote the point between the
// bytes left on either side. A later change blocks it when it removes any
// byte it wrote, inserts strictly inside bytes it wrote, inserts at the very
// point where it only removed bytes, or removes bytes on both sides of such
// a point. A later insertion right before or right after bytes it wrote
// stays before or after them, and blocks nothing.
//
// A later mod that blocks must come out first, and so must the mods that
// block it in turn. Where it changed bytes a mod wrote, what the two wrote
// there can no longer be told apart: a still later change blocks where it
// touches any of it, and an insertion right beside it blocks where a point
// of the first mod may lie on that edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "identity/fingerprint.h"
#include "journal/history.h"

// One action of a mod, in the positions of the level before it: `removed`
// bytes at `at` replaced by `inserted` bytes.
struct Hunk {
  uint32_t at;
  uint32_t removed;
  uint32_t inserted;
};

// The hunks of an entry's mod, from its undo, in ascending order.
std::vector<Hunk> HunksOf(const HistoryEntry& entry);

// Which entries a choice of a mod takes out.
enum class ChoiceFound { FOUND, NOTHING_IN, NOT_FOUND, AMBIGUOUS };

// The entries that taking out the mod of merge file `merge` (null: none
// given) or of the name `name` (as it went in, or its pack's) takes out: that
// mod and every other part of its pack; or every entry. Empty where there is
// none, with why in *found: no mod at all, none of that name, or several
// mods of one name that no pack joins.
std::vector<size_t> ChosenMods(const History& history, const Fingerprint* merge,
                               const std::string& name, bool every, ChoiceFound* found);

enum class RemovalOutcome {
  REMOVED,    // *level and *history hold the result, proven
  BLOCKED,    // later mods changed bytes a removed mod wrote: `blockers`
  DAMAGED,    // the level at hand, the history or the proof disagree
  TOO_LARGE,  // the level or the history would reach 4 GiB - 1 byte
};

struct Removal {
  RemovalOutcome outcome;
  // For BLOCKED: the entries left in that must come out first, by the rule
  // above, oldest first.
  std::vector<size_t> blockers;
  std::vector<uint8_t> level;    // REMOVED: the new level
  Fingerprint levelPrint;        // and its fingerprint
  std::vector<uint8_t> history;  // REMOVED: the new history, whole
};

// Takes the entries `removing` (indexes into history.entries, any order, no
// repeats: else DAMAGED) out of `level`, the level the history ends at, read
// from `historyBytes`. The entries left in keep their order, names, merge
// files, times and packs; those after a removed one get new fingerprints and
// undos.
// Before anything is given, the result is proven: the new level, unwound
// through every entry left in after the oldest removed one, gives back that
// one's level before, fingerprint by fingerprint. With every entry removed,
// the new level is the original, proven by its fingerprint, and the new
// history has no entry.
Removal RemoveMods(const History& history, const uint8_t* historyBytes,
                   const LevelImage& level, const std::vector<size_t>& removing);

// The later entries that changed bytes the entry `entry` wrote, by the rule
// above, oldest first: those that must come out before it can, and with them
// any later ones that changed what those wrote.
std::vector<size_t> BlockersOf(const History& history, size_t entry);

// BlockersOf each entry, for the list of mods.
std::vector<std::vector<size_t>> BlockersOfEach(const History& history);

// Where a removal's new level first differs from the old one: the mark's
// first change.
uint32_t FirstDifference(const LevelImage& old, const std::vector<uint8_t>& changed);

// The entries whose written bytes a merge file's actions change, against the
// level the history ends at, by the rule above (the merge file's actions as
// a later change): oldest first; and with them those that already need a
// later mod out whose bytes the actions change. These are the entries whose
// way out RemoveMods would find blocked by the merge file once it went in.
// The actions must have passed CheckActions against that level.
std::vector<size_t> ModsChangedBy(const History& history, const MergeImage& merge,
                                  uint32_t firstActionAt);

// The first entry whose level before is `level`: a merge file made for that
// level was made before that mod and every later one went in. NOT_IN_CHAIN
// where there is none.
constexpr size_t NOT_IN_CHAIN = static_cast<size_t>(-1);
size_t EntryBefore(const History& history, const Fingerprint& level);

// Whether a merge file made for the level before entry `first` touches none
// of the bytes the entries from `first` on changed: taken as a change that
// came before them, none of them would block its way out by the rule above.
// An insertion where one of theirs was made at the same point is refused
// too: which of the two came first is not known.
bool AppliesUnderMods(const History& history, size_t first, const MergeImage& merge,
                      uint32_t firstActionAt);
