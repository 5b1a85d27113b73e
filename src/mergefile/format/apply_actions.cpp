#include "format/apply_actions.h"

#include "format/merge_records.h"

namespace {

bool WriteNonEmpty(SliceWriter write, void* context, const uint8_t* bytes,
                   uint32_t count) {
  return count == 0 || write(context, bytes, count);
}

}  // namespace

bool ApplyActions(const LevelImage& level, const MergeImage& merge,
                  uint32_t firstActionAt, SliceWriter write, void* context) {
  // The checks guarantee levelCursor <= offset and offset + removeLength <=
  // level.size, so no sum wraps.
  uint32_t levelCursor = 0;
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    if (!WriteNonEmpty(write, context, level.buffer + levelCursor,
                       action.offset - levelCursor) ||
        !WriteNonEmpty(write, context, action.data, action.insertLength))
      return false;
    levelCursor = action.offset + action.removeLength;
  }
  return WriteNonEmpty(write, context, level.buffer + levelCursor,
                       level.size - levelCursor);
}
