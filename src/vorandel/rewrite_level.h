#pragma once

#include <cstdint>

#include "merge_format.h"

// Recreates the level file and writes the merged level into it: stretches
// of the old level between the actions' removed ranges, each action's data
// in their place, then flushes it to the disk. The actions must have passed
// CheckActions. Prints "Done !" and returns true. When the level can't be
// written, writes the old level back from `level`, prints what happened and
// returns false: the level is then as it was, or the message names the
// backup to copy over it. Interruptions wait until the level is whole.
bool RewriteLevel(const char* levelName, const char* backupName, const LevelImage& level,
                  const MergeImage& merge, uint32_t firstActionAt);
