#include "format/merge_records.h"

RecordCursor RecordsFrom(const MergeImage& merge, uint32_t firstActionAt) {
  return {merge, firstActionAt};
}

RecordRead NextRecord(RecordCursor* cursor, ActionRecord* record) {
  // 64-bit positions: no sum of two 32-bit fields can wrap.
  const uint64_t end = cursor->merge.size;
  const uint64_t at = cursor->at;
  *record = {cursor->at, 0, {0, 0, 0, nullptr}};
  if (at >= end) return RecordRead::END;
  const uint8_t* bytes = cursor->merge.buffer + at;
  if (end - at < CODE_AT + 2) return RecordRead::TRUNCATED;
  record->code = ReadU16(bytes + CODE_AT);
  if (record->code != ACTION_REPLACE) return RecordRead::UNKNOWN_CODE;
  if (end - at < RECORD_HEAD_SIZE) return RecordRead::TRUNCATED;
  uint32_t insertLength = ReadU32(bytes + INSERT_LENGTH_AT);
  if (insertLength > end - at - RECORD_HEAD_SIZE) return RecordRead::TRUNCATED;
  record->action = {ReadU32(bytes + OFFSET_AT), ReadU32(bytes + REMOVE_LENGTH_AT),
                    insertLength, bytes + DATA_AT};
  cursor->at = static_cast<uint32_t>(at + RECORD_HEAD_SIZE + insertLength);
  return RecordRead::RECORD;
}
