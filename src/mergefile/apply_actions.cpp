#include "apply_actions.h"

namespace {

bool WriteNonEmpty(SliceWriter write, void* context, const uint8_t* bytes,
                   uint32_t count) {
  return count == 0 || write(context, bytes, count);
}

}  // namespace

bool ApplyActions(const LevelImage& level, const MergeImage& merge,
                  uint32_t firstActionAt, SliceWriter write, void* context) {
  // The checks guarantee levelCursor <= offset, offset + removeLength <= level.size
  // and every record inside the merge file, so no sum wraps.
  uint32_t levelCursor = 0;
  uint32_t actionCursor = firstActionAt;
  while (actionCursor < merge.size) {
    const uint8_t* record = merge.buffer + actionCursor;
    uint32_t offset = ReadU32(record + OFFSET_AT);
    uint32_t removeLength = ReadU32(record + REMOVE_LENGTH_AT);
    uint32_t insertLength = ReadU32(record + INSERT_LENGTH_AT);
    if (!WriteNonEmpty(write, context, level.buffer + levelCursor,
                       offset - levelCursor) ||
        !WriteNonEmpty(write, context, record + DATA_AT, insertLength))
      return false;
    levelCursor = offset + removeLength;
    actionCursor += RECORD_HEAD_SIZE + insertLength;
  }
  return WriteNonEmpty(write, context, level.buffer + levelCursor,
                       level.size - levelCursor);
}
