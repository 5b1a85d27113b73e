// The merge file, read in place by byte position. Integers are unsigned and
// little-endian; fields follow each other without gaps or alignment.
//
// Header
//   position        width        field
//   0               4            nameLength    bytes in levelName, its NUL included
//   4               nameLength   levelName     level file name, NUL-ended inside the field
//   4 + nameLength  to the end   action records, back to back
//
// Action record at p
//   p + 0           2            code          ACTION_REPLACE, the only one defined
//   p + 2           4            offset        level position where the removed range begins
//   p + 6           4            removeLength  level bytes the new level leaves out
//   p + 10          4            insertLength  bytes in data
//   p + 14          insertLength data          bytes put in place of the removed range
//
// Offsets are positions in the level as it was before the run, ascending,
// and ranges do not overlap.
#pragma once

#include <cstdint>

// Both images are read-only once loaded.
struct MergeImage {
  const uint8_t* buffer;
  uint32_t size;
};

struct LevelImage {
  const uint8_t* buffer;
  uint32_t size;
};

constexpr uint32_t NAME_LENGTH_AT = 0;
constexpr uint32_t LEVEL_NAME_AT = 4;
// The level name and its backup name live in buffers of this size, so the
// name leaves room for ".bak" and the NUL.
constexpr uint32_t NAME_FIELD_MAX = 128;
constexpr char BACKUP_SUFFIX[] = ".bak";
constexpr uint32_t NAME_CHARS_MAX = NAME_FIELD_MAX - sizeof BACKUP_SUFFIX;

constexpr uint32_t CODE_AT = 0;
constexpr uint32_t OFFSET_AT = 2;
constexpr uint32_t REMOVE_LENGTH_AT = 6;
constexpr uint32_t INSERT_LENGTH_AT = 10;
constexpr uint32_t DATA_AT = 14;
constexpr uint32_t RECORD_HEAD_SIZE = 14;

constexpr uint16_t ACTION_REPLACE = 2;

// Bytes of a level name that no front end prints or hands to the system as they
// are: the control characters.
inline bool IsControlByte(uint8_t c) { return c < 0x20 || c == 0x7F; }

inline uint16_t ReadU16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

inline uint32_t ReadU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}
