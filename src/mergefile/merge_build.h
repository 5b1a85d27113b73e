// Merge files made and read as whole byte buffers, for the tools that write
// them. The layout is that of merge_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "merge_format.h"

// The largest merge file the merge tool loads: one byte less than 4 GiB - 1.
constexpr uint64_t MERGE_FILE_MAX = 0xFFFFFFFEu;

struct MergeAction {
  uint32_t offset;
  uint32_t removeLength;
  uint32_t insertLength;
  const uint8_t* data;
};

// Size of the header naming `levelName` (nameLength exactly its characters and NUL).
uint64_t MergeHeaderSize(const char* levelName);

// Starts `out` with the header; AppendAction then adds records in order.
void StartMergeFile(const char* levelName, std::vector<uint8_t>* out);
void AppendAction(const MergeAction& action, std::vector<uint8_t>* out);

// Reads the record at `at` of a merge file whose actions passed CheckActions.
MergeAction ActionAt(const MergeImage& merge, uint32_t at);

inline uint32_t NextRecordAt(const MergeAction& action, uint32_t at) {
  return at + RECORD_HEAD_SIZE + action.insertLength;
}

struct MergeTotals {
  uint64_t actions;
  uint64_t removed;
  uint64_t inserted;
};

// Counts over the actions of a merge file whose actions passed CheckActions.
MergeTotals SumActions(const MergeImage& merge, uint32_t firstActionAt);
