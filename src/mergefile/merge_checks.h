// What a merge file must satisfy before the tool acts on it. A merge file
// comes from anywhere: nothing in it is trusted until these checks pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "merge_format.h"

// True when the header holds a level name the tool can use: a nameLength of
// 1 to NAME_FIELD_MAX inside the file, a NUL inside the field, and a name of
// 1 to NAME_CHARS_MAX characters before it.
bool HasValidLevelName(const MergeImage& merge);

// Position of the first action record; only for a merge file whose level
// name is valid.
uint32_t FirstActionAt(const MergeImage& merge);

// False for a name that leads out of the current folder: an absolute path
// or a ".." component. With Windows paths, '\' separates too, drive
// letters and UNC paths count as absolute, and device names (CON, NUL, COM1,
// ...) are refused in any component.
bool IsSafeLevelName(const char* name, bool windowsPaths);

enum class FaultKind { NONE, TRUNCATED, UNKNOWN_CODE, MISPLACED, PAST_LEVEL_END };

struct ActionFault {
  FaultKind kind;
  uint32_t recordAt;  // position of the faulty record in the merge file
  uint16_t code;
};

// Walks every action record and returns the first fault, or kind NONE when
// each record lies inside the merge file, is ACTION_REPLACE, starts at or
// after the end of the previous removed range and ends inside the level.
ActionFault CheckActions(const MergeImage& merge, uint32_t firstActionAt,
                         uint32_t levelSize);

// The tool's message for a fault, line end included, into `text`; room for
// FAULT_TEXT_MAX bytes is always enough. Empty for kind NONE.
constexpr size_t FAULT_TEXT_MAX = 96;
void FormatActionFault(const ActionFault& fault, char* text, size_t size);

// The level size with which only the records themselves are checked.
constexpr uint32_t ANY_LEVEL_SIZE = 0xFFFFFFFFu;

enum class MergeVerdict { OK, BAD_NAME, UNSAFE_NAME, BAD_ACTION };

// Room for any message of CheckLevelName and CheckMergeFile.
constexpr size_t MERGE_TEXT_MAX = NAME_FIELD_MAX + FAULT_TEXT_MAX;

// The tool's verdict on the level name, and its message, line end included,
// into `text` (empty when the name is fine).
MergeVerdict CheckLevelName(const MergeImage& merge, bool windowsPaths, char* text,
                            size_t size);

// The tool's checks in its order: the level name, then every action against a
// level of `levelSize` bytes; the message for the first fault as above.
MergeVerdict CheckMergeFile(const MergeImage& merge, uint32_t levelSize,
                            bool windowsPaths, char* text, size_t size);
