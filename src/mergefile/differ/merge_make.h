// mrgtool make's work, shared by mrgtool and the page: the level name, the
// diff, the merge file, and the proof that it does what it should.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "differ/diff.h"
#include "edits/merge_edit.h"
#include "format/merge_format.h"
#include "identity/level_verdict.h"

// The name a merge file gets by default: the original level's file name
// without its folders.
std::string DefaultLevelName(const char* path, bool windowsPaths);

// Why a level name can't go into a merge file, or empty when it can. The
// rules are Vorandel's on every system, since a merge file made here may be
// applied on Windows or elsewhere.
std::string LevelNameFault(const std::string& name);

// Those rules in a sentence, and what a name's length means for the record.
std::string LevelNameRules();

// False for a name with a byte outside plain ASCII: Vorandel.exe reads names
// in the player's code page, so such a name may not reach the level there.
bool IsPlainAscii(const std::string& name);

// The merge file for `levelName` whose actions are `edits`, their data taken
// from `modified`, with `record` in its name field where one is given.
// FILE_TOO_LARGE when it would be too large to load.
EditOutcome MergeFromEdits(const char* levelName, const std::vector<Edit>& edits,
                           const uint8_t* modified, std::vector<uint8_t>* out,
                           const LevelRecord* record = nullptr);

enum class MakeOutcome { OK, FILE_TOO_LARGE, NOT_REPRODUCED };

// The merge file named `levelName` whose actions are `edits`, with the record
// of both levels where the name leaves room for it (HasRoomForRecord), once
// its record has been read back and its actions applied in memory and found
// to give `modified` exactly: else NOT_REPRODUCED, and nothing is to be
// written. The name must have passed LevelNameFault.
MakeOutcome MergeFileFromEdits(const uint8_t* original, uint32_t originalSize,
                               const uint8_t* modified, uint32_t modifiedSize,
                               const std::vector<Edit>& edits,
                               const std::string& levelName, std::vector<uint8_t>* out);

// The same with the edits that DiffBytes finds.
MakeOutcome MakeMergeFile(const uint8_t* original, uint32_t originalSize,
                          const uint8_t* modified, uint32_t modifiedSize,
                          const std::string& levelName, DiffProgress progress,
                          void* context, std::vector<uint8_t>* out);
