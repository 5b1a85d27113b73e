// What Vorandel and mrgtool say, word for word, for every front end that
// speaks in their name: the programs print these, and the page shows them.
#pragma once

#include <cstddef>
#include <string>

// Vorandel's messages. Each ends in a line end, but COPY_FAILED, which has none.
enum class VorandelSays {
  USAGE,
  FILE_NOT_FOUND,  // name: the path
  SIZE_FAILED,     // error
  FILE_TOO_LARGE,  // name: the path
  READ_FAILED,     // error
  BACKING_UP,      // name: the level, other: the backup
  COPY_FAILED,     // name, other, error
  PROCESSING,      // name: the level
  DONE,
  WRITE_FAILED,       // name: the level, error; the level is unchanged
  NOR_RESTORED,       // name: the level, other: the backup, error, error2: the restore's
  MARK_WRITE_FAILED,  // name: the mark, error
  ALREADY_MERGED,     // name: the level
  NOT_ITS_LEVEL,      // name: the level
  RECORD_DISAGREES,   // name: the level
  LEVEL_CHANGED,      // name: the level, other: the backup
  RUN_LOCKED,         // name: the level
  FOLDER_FAILED,      // name: the merge file's folder, error
};

struct SaidOf {
  const char* name = nullptr;
  const char* other = nullptr;
  unsigned long error = 0;
  unsigned long error2 = 0;
};

// Room for any of Vorandel's messages but USAGE, with names of up to
// 4 * NAME_FIELD_MAX bytes each.
constexpr size_t SAYS_TEXT_MAX = 1536;

void FormatVorandel(VorandelSays message, const SaidOf& of, char* text, size_t size);

// The last line of Vorandel and mrgtool when they keep the console Explorer
// opened for them, before they wait for Enter.
constexpr char PRESS_ENTER[] = "Press Enter to close this window.\n";

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
  COMBINED_WITHOUT_RECORD,      // a warning, name: the merge file written
  NO_RECORD_TO_CHECK,           // a warning, name: the merge file, other: the level file
};

std::string FormatMrgtool(MrgtoolSays message, const SaidOf& of);

// mrgtool's prefix of every error line.
constexpr char MRGTOOL_PREFIX[] = "mrgtool: ";
