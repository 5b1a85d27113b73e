// Merge files that mrgtool reads: loaded whole and checked as the merge
// tool checks them, with the merge tool's own words for what is wrong.
#pragma once

#include <cstdint>

#include "merge_checks.h"
#include "merge_format.h"
#include "mrgtool_io.h"

struct MergeInput {
  FileBytes file;
  MergeImage merge;
  uint32_t firstActionAt;
  const char* levelName;  // inside the file's bytes
  MergeVerdict nameVerdict;
};

// Loads `path` and judges its level name; false after printing why when the
// file can't be read.
bool LoadMergeInput(const char* path, MergeInput* input);

// The merge tool's verdict and message for the level name and the first
// faulty action against a level of `levelSize` bytes (CheckMergeFile).
MergeVerdict CheckMergeInput(const MergeInput& input, uint32_t levelSize, char* text,
                             size_t size);

// Loads and checks records against a level of any size; prints
// "mrgtool: PATH: MESSAGE" on failure.
bool LoadCheckedMergeInput(const char* path, MergeInput* input);
