#pragma once

#include <cstdint>

#include "format/merge_format.h"

enum class RewriteOutcome {
  MERGED,     // the level holds the merged level, on the disk
  UNCHANGED,  // the write failed and the old level is back in place
  IN_PIECES,  // the write failed, and so did writing the old level back
};

// Recreates the level file and writes the merged level into it: stretches
// of the old level between the actions' removed ranges, each action's data
// in their place, then flushes it to the disk. The actions must have passed
// CheckActions. When the level can't be written, writes the old level back
// from `level` and prints what happened; if that fails too, the message says
// that the next run restores the level from `backupName`.
// Interruptions wait until the level is whole.
RewriteOutcome RewriteLevel(const char* levelName, const char* backupName,
                            const LevelImage& level, const MergeImage& merge,
                            uint32_t firstActionAt);
