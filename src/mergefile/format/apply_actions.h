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

// The same for actions held as a list rather than as records, each one's data
// where it points: they must be such as would pass CheckActions.
bool ApplyActionList(const LevelImage& level, const std::vector<MergeAction>& actions,
                     SliceWriter write, void* context);
