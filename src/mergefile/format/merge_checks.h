// What a merge file must satisfy before the tool acts on it. A merge file
// comes from anywhere: nothing in it is trusted until these checks pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/merge_format.h"

// True when the header holds a level name the tool can use: a nameLength of
// 1 to NAME_FIELD_MAX inside the file, a NUL inside the field, and a name of
// 1 to NAME_CHARS_MAX characters before it.
bool HasValidLevelName(const MergeImage& merge);

// Position of the first action record; only for a merge file whose level
// name is valid.
uint32_t FirstActionAt(const MergeImage& merge);

// True for a byte that separates a path's parts: '/', and with Windows
// paths '\' too.
bool IsSeparator(char c, bool windowsPaths);

// True for a name whose last character is a dot or a space.
bool EndsInDotOrSpace(const char* name);

// False for a name that leads out of the current folder, an absolute path or
// a ".." component, that holds a control character, which a terminal would
// act on when the name is printed, or that ends in a dot or a space, which
// Windows drops: the level would not be the file its backup and journal
// are named after. With Windows paths, '\' separates
// too, drive letters and UNC paths count as absolute, a ':' opens a stream of
// another file, and device names (CON, NUL, COM1, ...) are refused in any
// component.
bool IsSafeLevelName(const char* name, bool windowsPaths);

// True for a name holding a byte that IsControlByte finds.
bool HasControlByte(const char* name);

// Whose rules a level name is judged by: Vorandel's on the system it runs
// on, or those of both systems, as the tools that make and inspect merge
// files judge it, since a merge file made anywhere may reach Windows.
enum class NameRules { POSIX, WINDOWS, BOTH };

inline NameRules RulesOf(bool windowsPaths) {
  return windowsPaths ? NameRules::WINDOWS : NameRules::POSIX;
}

// The name as a message shows it: control characters as \xHH, so that none
// reaches a terminal. Room for ESCAPED_NAME_MAX bytes is always enough.
constexpr size_t ESCAPED_NAME_MAX = size_t{4} * NAME_FIELD_MAX;
void EscapeName(const char* name, char* out, size_t size);

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

// The level size with which only the records themselves are checked.
constexpr uint32_t ANY_LEVEL_SIZE = 0xFFFFFFFFu;

// UNSAFE_ON_WINDOWS: judged by both systems' rules, the name is unsafe on
// Windows only. BAD_RECORD: the record of the level after the name's NUL
// (level_record.h) is damaged.
enum class MergeVerdict {
  OK,
  BAD_NAME,
  UNSAFE_NAME,
  BAD_ACTION,
  UNSAFE_ON_WINDOWS,
  BAD_RECORD
};

// A merge file that show lists all the same, marked: one whose name is unsafe,
// or whose record is damaged, so that its author sees what it would do.
inline bool ShowsAnyway(MergeVerdict verdict) {
  return verdict == MergeVerdict::OK || verdict == MergeVerdict::UNSAFE_NAME ||
         verdict == MergeVerdict::UNSAFE_ON_WINDOWS ||
         verdict == MergeVerdict::BAD_RECORD;
}
