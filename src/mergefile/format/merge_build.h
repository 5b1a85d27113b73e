// Merge files made and read as whole byte buffers, for the tools that write
// them. The layout is that of merge_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/merge_format.h"
#include "format/merge_records.h"

// The largest merge file the merge tool loads: one byte less than 4 GiB - 1.
constexpr uint64_t MERGE_FILE_MAX = 0xFFFFFFFEu;

// Size of the header naming `levelName`: nameLength is its characters and
// NUL, and `tailLength` bytes after the NUL.
uint64_t MergeHeaderSize(const char* levelName, uint32_t tailLength = 0);

// Starts `out` with the header, its field holding `tailLength` bytes after
// the name's NUL, which the caller appends (level_record.h writes a record
// there); AppendAction then adds records in order.
void StartMergeFile(const char* levelName, std::vector<uint8_t>* out,
                    uint32_t tailLength = 0);
void AppendAction(const MergeAction& action, std::vector<uint8_t>* out);

// An action's record head, its data left out.
void PutRecordHead(const MergeAction& action, uint8_t head[RECORD_HEAD_SIZE]);

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
