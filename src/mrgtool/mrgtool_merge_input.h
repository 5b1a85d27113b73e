// Merge files that mrgtool reads: loaded whole and checked as Vorandel checks
// them, with Vorandel's own words for what is wrong. Level names are judged
// by the rules of both systems, since a merge file may reach Windows.
#pragma once

#include <cstdint>

#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "mrgtool_io.h"

struct MergeInput {
  FileBytes file;
  MergeImage merge;
  uint32_t firstActionAt;
  const char* levelName;  // inside the file's bytes; null for an invalid name
};

// Loads `path`; false after printing why when the file can't be read.
bool LoadMergeInput(const char* path, MergeInput* input);

// Loads `path` where it can, without a word where it can't: false then.
bool LoadMergeInputQuietly(const char* path, MergeInput* input);

// Vorandel's verdict and message for the level name and the first faulty
// action against a level of `levelSize` bytes (CheckMergeFile).
MergeVerdict CheckMergeInput(const MergeInput& input, uint32_t levelSize, char* text,
                             size_t size);

// "mrgtool: PATH: MESSAGE" for a fault that CheckMergeInput or CheckForShow
// found, its lines joined into one.
void PrintFault(const char* path, const char* text);

// Loads and checks records against a level of any size; prints why on failure.
bool LoadCheckedMergeInput(const char* path, MergeInput* input);
