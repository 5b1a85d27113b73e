#include "format/apply_actions.h"

namespace {

bool WriteNonEmpty(SliceWriter write, void* context, const uint8_t* bytes,
                   uint32_t count) {
  return count == 0 || write(context, bytes, count);
}

// The level up to the action, then its data; *levelCursor moves past its
// removed range. The checks guarantee *levelCursor <= offset and offset +
// removeLength <= level.size, so no sum wraps.
bool WriteAction(const LevelImage& level, const MergeAction& action,
                 uint32_t* levelCursor, SliceWriter write, void* context) {
  if (!WriteNonEmpty(write, context, level.buffer + *levelCursor,
                     action.offset - *levelCursor) ||
      !WriteNonEmpty(write, context, action.data, action.insertLength))
    return false;
  *levelCursor = action.offset + action.removeLength;
  return true;
}

}  // namespace

bool ApplyActions(const LevelImage& level, const MergeImage& merge,
                  uint32_t firstActionAt, SliceWriter write, void* context) {
  uint32_t levelCursor = 0;
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD)
    if (!WriteAction(level, record.action, &levelCursor, write, context)) return false;
  return WriteNonEmpty(write, context, level.buffer + levelCursor,
                       level.size - levelCursor);
}

bool ActionListFits(const std::vector<MergeAction>& actions, uint32_t levelSize) {
  // cppcheck takes removedEnd for 0 on every turn of the loop.
  uint64_t removedEnd = 0;
  for (const MergeAction& action : actions) {
    // cppcheck-suppress unsignedLessThanZero
    if (action.offset < removedEnd) return false;
    removedEnd = uint64_t{action.offset} + action.removeLength;
    // cppcheck-suppress unsignedLessThanZero
    if (removedEnd > levelSize) return false;
  }
  return true;
}

bool ApplyActionList(const LevelImage& level, const std::vector<MergeAction>& actions,
                     SliceWriter write, void* context) {
  if (!ActionListFits(actions, level.size)) return false;
  uint32_t levelCursor = 0;
  for (const MergeAction& action : actions)
    if (!WriteAction(level, action, &levelCursor, write, context)) return false;
  return WriteNonEmpty(write, context, level.buffer + levelCursor,
                       level.size - levelCursor);
}
