#pragma once

#include <cstdint>

#include "format/merge_format.h"
#include "write_whole.h"

enum class RewriteOutcome {
  MERGED,     // the level holds the new level, on the disk
  UNCHANGED,  // the write failed and the old level is back in place
  IN_PIECES,  // the write failed, and so did writing the old level back
};

// Recreates the level file `levelName` and writes the new level into it with
// `write`, then flushes it to the disk. When the level can't be written,
// writes the old level back from `level` and prints what happened; if that
// fails too, the message says that the next run restores the level from
// `backupName`. Interruptions wait until the level is whole.
RewriteOutcome RewriteInPlace(const char* levelName, const char* backupName,
                              const LevelImage& level, ContentWriter write,
                              const void* content);

// The merge itself: the level rewritten with the merge file's actions,
// stretches of the old level between their removed ranges, each action's
// data in their place, through a fixed buffer. The actions must have passed
// CheckActions.
RewriteOutcome RewriteLevel(const char* levelName, const char* backupName,
                            const LevelImage& level, const MergeImage& merge,
                            uint32_t firstActionAt);

// Large enough that a merge file of a million tiny actions costs a few hundred
// write calls instead of two million; small enough to stay in the cache.
constexpr uint32_t MERGED_STAGING_SIZE = 256 * 1024;

// A ContentWriter for a MergedLevel: the level the actions make of `level`,
// gathered in `staging`, MERGED_STAGING_SIZE bytes.
struct MergedLevel {
  const LevelImage* level;
  const MergeImage* merge;
  uint32_t firstActionAt;
  uint8_t* staging;
};
bool WriteMergedLevel(HANDLE file, const void* merged);
