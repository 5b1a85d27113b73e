// A merge file's record of its level: the fingerprints of the level it was
// made for and of the level it makes. It lies in the level name field, after
// the name's NUL, where every reader of the format skips the bytes, so a
// merge file with a record parses, applies and checks as one without.
//
// Record, at the first byte after the name's NUL
//   position  width  field
//   0         4      marker        7F 'V' 'L' 'R'
//   4         1      version       1
//   5         1      length        bytes in the record, the check included: 50
//   6         4      sourceSize    size of the level the merge file was made for
//   10        16     sourceHash    its XXH3-128, most significant byte first
//   26        4      resultSize    size of the level the merge file makes
//   30        16     resultHash    its XXH3-128
//   46        4      check         low 32 bits of XXH3-64 of bytes 0 to 45
// Sizes and the check are little-endian, as every integer of the format.
#pragma once

#include <cstdint>
#include <vector>

#include "format/merge_format.h"
#include "identity/fingerprint.h"

constexpr uint8_t RECORD_MARKER[] = {0x7F, 'V', 'L', 'R'};
constexpr uint32_t RECORD_VERSION_AT = 4;
constexpr uint32_t RECORD_LENGTH_AT = 5;
constexpr uint32_t RECORD_SOURCE_SIZE_AT = 6;
constexpr uint32_t RECORD_SOURCE_HASH_AT = 10;
constexpr uint32_t RECORD_RESULT_SIZE_AT = 26;
constexpr uint32_t RECORD_RESULT_HASH_AT = 30;
constexpr uint32_t RECORD_CHECK_AT = 46;
constexpr uint32_t RECORD_SIZE = 50;
constexpr uint8_t RECORD_VERSION = 1;

// The longest level name that leaves room for a record in the name field.
constexpr uint32_t RECORD_NAME_CHARS_MAX = NAME_FIELD_MAX - 1 - RECORD_SIZE;

struct LevelRecord {
  Fingerprint source;  // the level the merge file was made for
  Fingerprint result;  // the level it makes of it
};

// NONE: the bytes after the NUL don't begin with the marker, or hold a record
// of a later version, which this one can't read and skips. DAMAGED: a record
// of this version that runs past the field or fails its own check.
enum class RecordFound { NONE, RECORD, DAMAGED };

// Where the level name is not valid (HasValidLevelName), NONE.
RecordFound FindLevelRecord(const MergeImage& merge, LevelRecord* record);

// Appends the record's bytes, for a header being written. Both levels must be
// below 4 GiB.
void AppendLevelRecord(const LevelRecord& record, std::vector<uint8_t>* out);

// True for a name short enough to leave room for a record in its field.
bool HasRoomForRecord(const char* levelName);

// MergeHeaderSize and StartMergeFile (merge_build.h), with `record` after
// the name's NUL where one is given; the name must have room for it.
uint64_t MergeHeaderSize(const char* levelName, const LevelRecord* record);
void StartMergeFile(const char* levelName, std::vector<uint8_t>* out,
                    const LevelRecord* record);
