#include "format/merge_build.h"

#include <cstring>

void PutU16(uint16_t value, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(uint32_t value, std::vector<uint8_t>* out) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<uint8_t>(value >> shift));
}

uint64_t MergeHeaderSize(const char* levelName, uint32_t tailLength) {
  return LEVEL_NAME_AT + strlen(levelName) + 1 + tailLength;
}

void StartMergeFile(const char* levelName, std::vector<uint8_t>* out,
                    uint32_t tailLength) {
  out->clear();
  auto nameWithNul = static_cast<uint32_t>(strlen(levelName) + 1);
  PutU32(nameWithNul + tailLength, out);
  out->insert(out->end(), levelName, levelName + nameWithNul);
}

void PutRecordHead(const MergeAction& action, uint8_t head[RECORD_HEAD_SIZE]) {
  auto put = [head](uint32_t at, uint32_t value, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i)
      head[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(CODE_AT, ACTION_REPLACE, 2);
  put(OFFSET_AT, action.offset, 4);
  put(REMOVE_LENGTH_AT, action.removeLength, 4);
  put(INSERT_LENGTH_AT, action.insertLength, 4);
}

void AppendAction(const MergeAction& action, std::vector<uint8_t>* out) {
  // The head put together first: a history holds a record for each of a
  // mod's actions, a million and more.
  uint8_t head[RECORD_HEAD_SIZE];
  PutRecordHead(action, head);
  out->insert(out->end(), head, head + RECORD_HEAD_SIZE);
  out->insert(out->end(), action.data, action.data + action.insertLength);
}

MergeTotals SumActions(const MergeImage& merge, uint32_t firstActionAt) {
  MergeTotals totals{0, 0, 0};
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    ++totals.actions;
    totals.removed += record.action.removeLength;
    totals.inserted += record.action.insertLength;
  }
  return totals;
}
