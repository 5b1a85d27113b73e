// Merge files that mrgtool reads: loaded whole and checked as the merge
// tool checks them, with the merge tool's own words for what is wrong.
#pragma once

#include <cstdint>

#include "merge_format.h"
#include "mrgtool_io.h"

struct MergeInput {
  FileBytes file;
  MergeImage merge;
  uint32_t firstActionAt;
  const char* levelName;  // inside the file's bytes
};

// The level size with which only the records themselves are checked.
constexpr uint32_t ANY_LEVEL_SIZE = 0xFFFFFFFFu;

enum class InputVerdict { OK, UNREADABLE, BAD_NAME, UNSAFE_NAME, BAD_ACTION };

// Loads `path` and checks its level name; UNREADABLE after printing why.
InputVerdict LoadMergeInput(const char* path, MergeInput* input);

// The merge tool's message for a verdict of LoadMergeInput or for the first
// faulty action against a level of `levelSize` bytes, line end included;
// empty when all is well.
InputVerdict CheckMergeInput(const MergeInput& input, uint32_t levelSize, char* text,
                             size_t size);

// Loads and checks records against a level of any size; prints
// "mrgtool: PATH: MESSAGE" on failure.
bool LoadCheckedMergeInput(const char* path, MergeInput* input);
