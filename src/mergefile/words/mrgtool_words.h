// What mrgtool says, word for word: its errors and warnings, and what it
// prints about a merge file, as text, so that mrgtool and the page say the
// same thing byte for byte. Every line of mrgtool's is made here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "edits/merge_edit.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "identity/level_verdict.h"
#include "journal/history.h"
#include "journal/mod_stack.h"
#include "words/vorandel_words.h"

// True for the bytes shown as they are: printable ASCII.
inline bool Printable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

// Bytes of data shown per action.
constexpr uint32_t PREVIEW_BYTES = 8;

// The first PREVIEW_BYTES of an action's data in hex, pairs split by
// `separator`, and as text with '.' for what is not printable ASCII.
std::string HexPreview(const MergeAction& action, const char* separator);
std::string TextPreview(const MergeAction& action);

// show's table: the summary, and when there are actions the column heads,
// then one ShowRow per action, for a merge file that CheckForShow let through
// with `verdict`, which marks an unsafe name.
std::string ShowHead(const char* path, const MergeImage& merge, MergeVerdict verdict);
std::string ShowRow(const ActionRecord& record);

// check's verdict on a merge file that passed every check against `level`.
std::string CheckReport(const char* mergePath, const char* levelPath,
                        const MergeImage& merge, uint32_t firstActionAt,
                        const LevelImage& level);

enum class CheckOutcome { APPLIES, ALREADY_MERGED, NOT_ITS_LEVEL, FAULT };

// mrgtool check on a merge file whose name and record passed CheckLevelName:
// Vorandel's verdict on `level` (with `backup`, null when there is none, and
// the level's history, whole, or null), with what check
// prints into *out: the report, or Vorandel's line.
CheckOutcome CheckAgainstLevel(const MergeImage& merge, const char* mergePath,
                               const LevelImage& level, const char* levelPath,
                               const LevelImage* backup, const History* history,
                               std::string* out);

// The line after a merge file was written as `path`.
std::string WrittenReport(const char* path, const std::vector<uint8_t>& bytes);

// show's checks: a merge file whose name is unsafe, or whose record is
// damaged, is still shown (ShowsAnyway), marked; any other fault stops it,
// with Vorandel's message in `text`. Names are judged by both systems' rules.
MergeVerdict CheckForShow(const MergeImage& merge, char* text, size_t size);

// mrgtool's errors, as they follow "mrgtool: ", without a line end.
enum class MrgtoolSays {
  NAME_REFUSED,        // name: the level name, other: why
  NAME_REFUSED_GIVE,   // the same for a name mrgtool chose: give one with --name
  NAME_REFUSED_FIELD,  // the same, in the page: give one in the Level name field
  NAME_NOT_ASCII,      // a warning, name: the level name
  MERGE_TOO_LARGE,
  NOT_REPRODUCED,      // name: ORIGINAL, other: MODIFIED
  CANT_OPEN,           // name: the path, error
  CANT_SIZE,           // name: the path, error
  CANT_READ,           // name: the path, error
  CANT_WRITE,          // name: the path, error
  CANT_REPLACE,        // name: the path, error
  FILE_TOO_LARGE,      // name: the path
  FAULT,               // name: the merge file, other: Vorandel's message, on one line
  NO_ROOM_FOR_RECORD,  // a warning, name: the level name
  NOT_MADE_FOR,        // name: the level file, other: the merge file
  GIVEN_ITS_RESULT,    // name: the level file, other: the merge file
  OTHER_VERSIONS,      // name, other: two merge files
  RECORD_DISAGREES,    // name: the merge file
  NO_ROOM_FOR_RECORD_TO_STAMP,  // name: the level name, other: the merge file
  COMBINED_WITHOUT_RECORD,      // name: the merge file not written, for recorded parts
  NO_RECORD_TO_CHECK,           // a warning, name: the merge file, other: the level file
  LEVEL_NAME_REFUSED,           // name: the level as given
  LEVEL_MISSING,                // name: the mod as given
  PACK_NAME_REFUSED,            // name: the pack's name
  PART_WITHOUT_RECORD,  // name: the merge file not written, other: a part without one
  CHANGES_NOTHING,      // name: the level file, other: the merge file
  RESULT_TOO_LARGE,     // name: the level file, other: the merge file
  UNDO_TOO_LARGE,
  COMBINED_TOO_LARGE,
  IDENTICAL,  // name: ORIGINAL, other: MODIFIED
};

std::string FormatMrgtool(MrgtoolSays message, const SaidOf& of);

// Lines with more in them than SaidOf holds, as they follow "mrgtool: ".
// The first faulty action of a merge file against a level:
std::string NotFitLine(const char* mergePath, const char* levelPath,
                       const ActionFault& fault);
// Two parts that combine can't join, `firstPath` holding conflict.first:
std::string ConflictLine(const CombineConflict& conflict, const char* firstPath,
                         const char* secondPath);

// mrgtool's prefix of every error line.
constexpr char MRGTOOL_PREFIX[] = "mrgtool: ";

// What mrgtool's runs that take mods out of a level say, each a line of its
// own on standard output.
enum class RemovalSays {
  REMOVED,           // level, mods
  EVERY_REMOVED,     // level, mods
  NO_HISTORY,        // level, history
  NOTHING_IN,        // level
  NOT_FOUND,         // level, mods: the name asked for
  AMBIGUOUS,         // level, mods: the name asked for
  BLOCKED,           // level, mods, blockers, count of blockers
  LEVEL_CHANGED,     // level, history
  BACK_AT_ORIGINAL,  // level, history
  HISTORY_UNUSABLE,  // level, history
  PROOF_FAILED,      // level, history, mods
  TOO_LARGE,         // level, mods
  PACK_REMOVED,      // mods: the pack, count: its levels
};

struct RemovalOf {
  const char* level;
  const char* history;
  std::string mods;
  std::string blockers;
  size_t count = 0;
};

std::string FormatRemoval(RemovalSays message, const RemovalOf& of);

// RemovalSays for a choice of mods that found none.
RemovalSays SaysOfChoice(ChoiceFound choice);

// A JSON string of bytes, each byte as the character of its value (Latin-1),
// escaped where it is no printable ASCII.
std::string JsonText(const std::string& text);

// How a level's history stands, for mrgtool mods and the page's list.
enum class ModsState {
  NO_HISTORY,
  DAMAGED,           // damaged, or of a later version
  GOES_ON,           // the history ends at the level
  LEVEL_CHANGED,     // the level changed behind it
  BACK_AT_ORIGINAL,  // the level is its original again
};

// The state of a history as found, but one that can't be read: the caller
// says that in its own words.
ModsState ModsStateOf(const FoundHistory& found);

// The mods in a level, oldest first, one line each: the merge file's name
// (and its pack's), when it went in, how many bytes it took out and put in,
// and which later mods changed bytes it wrote (`changedBy`, per entry); then
// what the state says of them. `history` may be null but for GOES_ON,
// LEVEL_CHANGED and BACK_AT_ORIGINAL.
std::string ModsText(const char* level, const char* historyName, ModsState state,
                     const History* history,
                     const std::vector<std::vector<size_t>>& changedBy);

// The same as one JSON object.
std::string ModsJson(const char* level, const char* historyName, ModsState state,
                     const History* history,
                     const std::vector<std::vector<size_t>>& changedBy);

// What mrgtool apply says of a pack, in a line of its own on standard output.
enum class PackSays {
  PUT_IN,         // pack, count: how many levels
  ALREADY_IN,     // pack
  REFUSED,        // pack
  PARTS_OVERLAP,  // level, pack: the first part, count: the second
};

struct PackOf {
  const char* level;
  std::string pack;
  std::string count;
};

std::string FormatPack(PackSays message, const PackOf& of);
