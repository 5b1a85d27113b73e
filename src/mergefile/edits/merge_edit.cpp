#include "edits/merge_edit.h"

#include <algorithm>

#include "format/merge_checks.h"

uint64_t UndoActionsSize(const MergeImage& merge, uint32_t firstActionAt) {
  uint64_t size = 0;
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    if (action.removeLength != 0 || action.insertLength != 0)
      size += RECORD_HEAD_SIZE + uint64_t{action.removeLength};
  }
  return size;
}

bool ForEachUndoAction(const MergeImage& merge, uint32_t firstActionAt,
                       const LevelImage& original,
                       bool (*each)(void* context, const MergeAction& undo),
                       void* context) {
  // Each action's data sits in the merged level where its offset was, moved
  // by what the actions before it added or took away.
  int64_t shift = 0;
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    if (action.removeLength == 0 && action.insertLength == 0) continue;
    MergeAction undo{static_cast<uint32_t>(action.offset + shift), action.insertLength,
                     action.removeLength, original.buffer + action.offset};
    if (!each(context, undo)) return false;
    shift += int64_t{action.insertLength} - int64_t{action.removeLength};
  }
  return true;
}

void AppendUndoActions(const MergeImage& merge, uint32_t firstActionAt,
                       const LevelImage& original, std::vector<uint8_t>* out) {
  (void)ForEachUndoAction(
      merge, firstActionAt, original,
      [](void* context, const MergeAction& undo) {
        AppendAction(undo, static_cast<std::vector<uint8_t>*>(context));
        return true;
      },
      out);
}

EditOutcome InvertMerge(const MergeImage& merge, const LevelImage& original,
                        std::vector<uint8_t>* out, const LevelRecord* levelRecord) {
  const uint32_t first = FirstActionAt(merge);
  const auto* name = reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT);
  MergeTotals totals = SumActions(merge, first);
  uint64_t mergedSize = uint64_t{original.size} - totals.removed + totals.inserted;
  if (mergedSize > MERGE_FILE_MAX) return EditOutcome::LEVEL_TOO_LARGE;
  uint64_t size = MergeHeaderSize(name, levelRecord) + UndoActionsSize(merge, first);
  if (size > MERGE_FILE_MAX) return EditOutcome::FILE_TOO_LARGE;

  out->reserve(static_cast<size_t>(size));
  StartMergeFile(name, out, levelRecord);
  AppendUndoActions(merge, first, original, out);
  return EditOutcome::OK;
}

EditOutcome StampMerge(const MergeImage& merge, const LevelRecord& record,
                       std::vector<uint8_t>* out) {
  const auto* name = reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT);
  const uint32_t first = FirstActionAt(merge);
  uint64_t size = MergeHeaderSize(name, &record) + (merge.size - first);
  if (size > MERGE_FILE_MAX) return EditOutcome::FILE_TOO_LARGE;
  out->reserve(static_cast<size_t>(size));
  StartMergeFile(name, out, &record);
  out->insert(out->end(), merge.buffer + first, merge.buffer + merge.size);
  return EditOutcome::OK;
}

namespace {

bool PartOrder(const PartAction& x, const PartAction& y) {
  // At one offset, pure insertions come before an action that removes.
  if (x.action.offset != y.action.offset) return x.action.offset < y.action.offset;
  return (x.action.removeLength != 0) < (y.action.removeLength != 0);
}

// Every part's actions that do something, in the order of the level.
std::vector<PartAction> InLevelOrder(const std::vector<CombinePart>& parts) {
  std::vector<PartAction> all;
  for (size_t part = 0; part < parts.size(); ++part) {
    RecordCursor cursor = RecordsFrom(parts[part].merge, parts[part].firstActionAt);
    ActionRecord record;
    while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
      const MergeAction& action = record.action;
      if (action.removeLength != 0 || action.insertLength != 0)
        all.push_back({part, record.at, action});
    }
  }
  // Stable: one part's actions at one offset keep their order.
  std::stable_sort(all.begin(), all.end(), PartOrder);
  return all;
}

}  // namespace

std::vector<std::vector<MergeAction>> PartsInTurn(const std::vector<CombinePart>& parts) {
  std::vector<std::vector<MergeAction>> inTurn(parts.size());
  // The change in length each part's actions before the one at hand made.
  std::vector<int64_t> growth(parts.size(), 0);
  for (const PartAction& item : InLevelOrder(parts)) {
    int64_t shift = 0;
    for (size_t earlier = 0; earlier < item.part; ++earlier) shift += growth[earlier];
    MergeAction moved = item.action;
    moved.offset = static_cast<uint32_t>(int64_t{moved.offset} + shift);
    inTurn[item.part].push_back(moved);
    const int64_t change = int64_t{item.action.insertLength} - item.action.removeLength;
    growth[item.part] += change;
  }
  return inTurn;
}

EditOutcome CombineMerges(const std::vector<CombinePart>& parts, const char* levelName,
                          std::vector<uint8_t>* out, CombineConflict* conflict,
                          const LevelRecord* levelRecord) {
  std::vector<PartAction> all = InLevelOrder(parts);

  uint64_t size = MergeHeaderSize(levelName, levelRecord);
  uint64_t reach = 0;  // end of the furthest removed range so far
  const PartAction* reacher = nullptr;
  const PartAction* dataHere = nullptr;  // first action with data at the current offset
  for (const PartAction& item : all) {
    const MergeAction& action = item.action;
    if (action.offset < reach && reacher != nullptr && reacher->part != item.part) {
      *conflict = {*reacher, item, false};
      return EditOutcome::CONFLICT;
    }
    if (dataHere != nullptr && dataHere->action.offset != action.offset)
      dataHere = nullptr;
    if (action.insertLength != 0) {
      if (dataHere != nullptr && dataHere->part != item.part) {
        *conflict = {*dataHere, item, true};
        return EditOutcome::CONFLICT;
      }
      if (dataHere == nullptr) dataHere = &item;
    }
    uint64_t end = uint64_t{action.offset} + action.removeLength;
    if (end > reach) {
      reach = end;
      reacher = &item;
    }
    size += RECORD_HEAD_SIZE + uint64_t{action.insertLength};
  }
  if (size > MERGE_FILE_MAX) return EditOutcome::FILE_TOO_LARGE;

  out->reserve(static_cast<size_t>(size));
  StartMergeFile(levelName, out, levelRecord);
  for (const PartAction& item : all) AppendAction(item.action, out);
  return EditOutcome::OK;
}
