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
