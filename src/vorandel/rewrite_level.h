#pragma once

#include <cstdint>

#include "merge_format.h"

// Recreates the level file and writes the merged level into it: stretches
// of the old level between the actions' removed ranges, each action's data
// in their place. The actions must have passed CheckActions. Prints
// "Done !" and returns true, or prints why the level could not be written
// (naming the backup that holds it) and returns false.
bool RewriteLevel(const char* levelName, const char* backupName, const LevelImage& level,
                  const MergeImage& merge, uint32_t firstActionAt);
