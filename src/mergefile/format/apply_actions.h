#pragma once

#include <cstdint>
#include <vector>

#include "format/merge_format.h"
#include "format/merge_records.h"

// Receives the merged level in order, one slice at a time; returns false to stop.
using SliceWriter = bool (*)(void* context, const uint8_t* bytes, uint32_t count);

// Hands the merged level to `write`: stretches of the old level between the actions'
// removed ranges, each action's data in their place. Empty slices are skipped. The
// actions must have passed CheckActions. Returns false as soon as `write` does.
bool ApplyActions(const LevelImage& level, const MergeImage& merge,
                  uint32_t firstActionAt, SliceWriter write, void* context);

// Whether actions held as a list stand as CheckActions wants them against a
// level of `levelSize` bytes: each at or after the end of the previous removed
// range, and every removed range inside the level.
bool ActionListFits(const std::vector<MergeAction>& actions, uint32_t levelSize);

// The same as ApplyActions for actions held as a list, each one's data where
// it points. False, with nothing written, where the list doesn't fit the level.
bool ApplyActionList(const LevelImage& level, const std::vector<MergeAction>& actions,
                     SliceWriter write, void* context);
