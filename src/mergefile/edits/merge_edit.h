// Merge files made from other merge files: the undo of one, and one that
// does what several do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/merge_build.h"
#include "format/merge_format.h"
#include "identity/level_record.h"

enum class EditOutcome { OK, LEVEL_TOO_LARGE, FILE_TOO_LARGE, CONFLICT };

// The size of the action records AppendUndoActions writes for `merge`.
uint64_t UndoActionsSize(const MergeImage& merge, uint32_t firstActionAt);

// Appends the action records that turn the level `merge` makes of `original`
// back into `original`: one for each action that removes or inserts, putting
// back the bytes it removed, at its offset in the merged level. The actions
// must have passed CheckActions against `original`.
void AppendUndoActions(const MergeImage& merge, uint32_t firstActionAt,
                       const LevelImage& original, std::vector<uint8_t>* out);

// The same actions, each given to `each` in turn, its data in `original`;
// `each` stops the walk by returning false, as does this then.
bool ForEachUndoAction(const MergeImage& merge, uint32_t firstActionAt,
                       const LevelImage& original,
                       bool (*each)(void* context, const MergeAction& undo),
                       void* context);

// The merge file that turns the level `merge` makes of `original` back into
// `original`, under the same level name, with `record` where one is given.
// The actions must have passed CheckActions against `original`.
// LEVEL_TOO_LARGE when the merged level would be too large to load (4 GiB -
// 1 byte or more).
EditOutcome InvertMerge(const MergeImage& merge, const LevelImage& original,
                        std::vector<uint8_t>* out, const LevelRecord* record = nullptr);

// `merge` with `record` in its name field in place of whatever followed the
// name's NUL: the same name and the same actions. FILE_TOO_LARGE when it would
// be too large to load. The name must have room for the record.
EditOutcome StampMerge(const MergeImage& merge, const LevelRecord& record,
                       std::vector<uint8_t>* out);

struct CombinePart {
  MergeImage merge;
  uint32_t firstActionAt;
};

// One action of a part: which part, and where its record is in that file.
struct PartAction {
  size_t part;
  uint32_t recordAt;
  MergeAction action;
};

// Two actions of different parts whose order or overlap makes the combined
// result unclear: removed ranges that share a byte, an offset strictly
// inside the other's removed range, or data put at the same offset by both.
struct CombineConflict {
  PartAction first;
  PartAction second;
  bool sameOffset;  // both put data at one offset; else the ranges overlap
};

// The parts as put in one after another, in the order given: each part's
// actions that do something, moved by what the parts before it add or take
// away before them, so that each applies to the level the ones before it
// made. For parts that CombineMerges joins without a conflict, the last one's
// result is the combined file's.
std::vector<std::vector<MergeAction>> PartsInTurn(const std::vector<CombinePart>& parts);

// One merge file for `levelName` with the actions of every part, in level
// order, and `record` where one is given; actions that neither remove nor
// insert are left out. Each part's actions must have passed CheckActions
// (against a level of any size).
EditOutcome CombineMerges(const std::vector<CombinePart>& parts, const char* levelName,
                          std::vector<uint8_t>* out, CombineConflict* conflict,
                          const LevelRecord* record = nullptr);
