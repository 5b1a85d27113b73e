// Merge files made and read as whole byte buffers, for the tools that write
// them. The layout is that of merge_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/merge_format.h"
#include "format/merge_records.h"
#include "identity/level_record.h"

// The largest merge file the merge tool loads: one byte less than 4 GiB - 1.
constexpr uint64_t MERGE_FILE_MAX = 0xFFFFFFFEu;

// True for a name short enough to leave room for a record in its field.
bool HasRoomForRecord(const char* levelName);

// Size of the header naming `levelName`: nameLength is its characters and
// NUL, and the record's size where there is one.
uint64_t MergeHeaderSize(const char* levelName, const LevelRecord* record = nullptr);

// Starts `out` with the header, the record after the name's NUL where it is
// given (the name must have room for it); AppendAction then adds records in
// order.
void StartMergeFile(const char* levelName, std::vector<uint8_t>* out,
                    const LevelRecord* record = nullptr);
void AppendAction(const MergeAction& action, std::vector<uint8_t>* out);

// A 16- or 32-bit field, little-endian, at the end of `out`.
void PutU16(uint16_t value, std::vector<uint8_t>* out);
void PutU32(uint32_t value, std::vector<uint8_t>* out);

struct MergeTotals {
  uint64_t actions;
  uint64_t removed;
  uint64_t inserted;
};

// Counts over the actions of a merge file whose actions passed CheckActions.
MergeTotals SumActions(const MergeImage& merge, uint32_t firstActionAt);
