#include "identity/level_verdict.h"

#include <cstring>

#include "format/apply_actions.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"

namespace {

struct Comparison {
  const uint8_t* expected;
  uint32_t size;
  uint32_t at;
};

bool CompareSlice(void* context, const uint8_t* bytes, uint32_t count) {
  auto* comparison = static_cast<Comparison*>(context);
  if (count > comparison->size - comparison->at ||
      memcmp(comparison->expected + comparison->at, bytes, count) != 0)
    return false;
  comparison->at += count;
  return true;
}

}  // namespace

LevelVerdict JudgeByRecord(const LevelRecord& record, const Fingerprint& level) {
  // A merge file that changes nothing makes the level it was made for:
  // running it is nothing to do either way.
  if (SameFingerprint(level, record.result)) return LevelVerdict::ALREADY_MERGED;
  if (SameFingerprint(level, record.source)) return LevelVerdict::APPLIES;
  return LevelVerdict::NOT_ITS_LEVEL;
}

bool BackupMayGiveLevel(const MergeImage& merge, uint32_t firstActionAt,
                        uint32_t backupSize, uint32_t levelSize) {
  if (CheckActions(merge, firstActionAt, backupSize).kind != FaultKind::NONE)
    return false;
  MergeTotals totals = SumActions(merge, firstActionAt);
  return uint64_t{backupSize} - totals.removed + totals.inserted == levelSize;
}

bool BackupWanted(const MergeImage& merge, uint32_t levelSize, uint32_t backupSize) {
  LevelRecord record;
  return FindLevelRecord(merge, &record) == RecordFound::NONE &&
         BackupMayGiveLevel(merge, FirstActionAt(merge), backupSize, levelSize);
}

bool Reproduces(const MergeImage& merge, const uint8_t* from, uint32_t fromSize,
                const uint8_t* to, uint32_t toSize) {
  if (!HasValidLevelName(merge)) return false;
  uint32_t first = FirstActionAt(merge);
  LevelImage level{from, fromSize};
  if (CheckActions(merge, first, level.size).kind != FaultKind::NONE) return false;
  Comparison comparison{to, toSize, 0};
  return ApplyActions(level, merge, first, CompareSlice, &comparison) &&
         comparison.at == toSize;
}

LevelVerdict JudgeLevel(const MergeImage& merge, const LevelImage& level,
                        const Fingerprint& levelPrint, const LevelImage* backup) {
  LevelRecord record;
  if (FindLevelRecord(merge, &record) == RecordFound::RECORD)
    return JudgeByRecord(record, levelPrint);
  if (backup != nullptr &&
      BackupMayGiveLevel(merge, FirstActionAt(merge), backup->size, level.size) &&
      Reproduces(merge, backup->buffer, backup->size, level.buffer, level.size))
    return LevelVerdict::ALREADY_MERGED;
  return LevelVerdict::APPLIES;
}

bool TooLargeBySize(const MergeImage& merge, uint32_t levelSize) {
  LevelRecord record;
  uint32_t first = FirstActionAt(merge);
  if (FindLevelRecord(merge, &record) == RecordFound::RECORD &&
      record.result.size == levelSize)
    return false;
  if (CheckActions(merge, first, levelSize).kind != FaultKind::NONE) return false;
  MergeTotals totals = SumActions(merge, first);
  return uint64_t{levelSize} - totals.removed + totals.inserted > LEVEL_MAX;
}

Judgement JudgeMerge(const MergeImage& merge, const LevelImage& level,
                     const LevelImage* backup) {
  Judgement judgement{};
  judgement.level = FingerprintOf(level.buffer, level.size);
  judgement.verdict = JudgeLevel(merge, level, judgement.level, backup);
  if (judgement.verdict != LevelVerdict::APPLIES) return judgement;
  uint32_t first = FirstActionAt(merge);
  judgement.fault = CheckActions(merge, first, level.size);
  if (judgement.fault.kind != FaultKind::NONE) return judgement;
  MergeTotals totals = SumActions(merge, first);
  judgement.tooLarge =
      uint64_t{level.size} - totals.removed + totals.inserted > LEVEL_MAX;
  if (judgement.tooLarge) return judgement;
  judgement.merged = FingerprintOfMerged(level, merge, first);
  LevelRecord record;
  judgement.recordHolds = FindLevelRecord(merge, &record) != RecordFound::RECORD ||
                          SameFingerprint(judgement.merged, record.result);
  return judgement;
}

MergeVerdict JudgeLevelName(const MergeImage& merge, NameRules rules) {
  if (!HasValidLevelName(merge)) return MergeVerdict::BAD_NAME;
  const auto* name = reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT);
  bool safeHere = IsSafeLevelName(name, rules == NameRules::WINDOWS);
  bool safeOnWindows = rules != NameRules::BOTH || IsSafeLevelName(name, true);
  if (!safeHere) return MergeVerdict::UNSAFE_NAME;
  if (!safeOnWindows) return MergeVerdict::UNSAFE_ON_WINDOWS;
  LevelRecord record;
  return FindLevelRecord(merge, &record) == RecordFound::DAMAGED
             ? MergeVerdict::BAD_RECORD
             : MergeVerdict::OK;
}

MergeVerdict JudgeMergeFile(const MergeImage& merge, uint32_t levelSize, NameRules rules,
                            ActionFault* fault) {
  *fault = {FaultKind::NONE, 0, 0};
  MergeVerdict verdict = JudgeLevelName(merge, rules);
  if (verdict != MergeVerdict::OK) return verdict;
  *fault = CheckActions(merge, FirstActionAt(merge), levelSize);
  return fault->kind == FaultKind::NONE ? MergeVerdict::OK : MergeVerdict::BAD_ACTION;
}
