#include "journal/history_verdict.h"

#include "format/merge_checks.h"
#include "identity/level_record.h"
#include "journal/mod_stack.h"

HistoryJudgement JudgeByHistory(const History& history, const Fingerprint& mergePrint,
                                const MergeImage& merge, const Judgement& judgement) {
  HistoryJudgement found{HistoryVerdict::NOTHING, {}, false};
  const size_t count = history.entries.size();
  // The same merge file went in, and maybe later mods since: its change is
  // there, whatever the backup holds now.
  for (size_t i = 0; i < count && judgement.verdict != LevelVerdict::ALREADY_MERGED; ++i)
    if (SameFingerprint(history.entries[i].head.merge, mergePrint)) {
      found.verdict = HistoryVerdict::ALREADY_IN;
      for (size_t later = i + 1; later < count; ++later) found.mods.push_back(later);
      return found;
    }
  LevelRecord record;
  uint32_t first = FirstActionAt(merge);
  if (judgement.verdict == LevelVerdict::NOT_ITS_LEVEL &&
      FindLevelRecord(merge, &record) == RecordFound::RECORD) {
    size_t before = EntryBefore(history, record.source);
    if (before == NOT_IN_CHAIN) return found;
    found.verdict = HistoryVerdict::MADE_BEFORE;
    for (size_t i = before; i < count; ++i) found.mods.push_back(i);
    found.appliesOnceOut =
        CheckActions(merge, first, static_cast<uint32_t>(record.source.size)).kind ==
            FaultKind::NONE &&
        AppliesUnderMods(history, before, merge, first);
    return found;
  }
  if (judgement.verdict == LevelVerdict::APPLIES &&
      judgement.fault.kind == FaultKind::NONE && !judgement.tooLarge &&
      FindLevelRecord(merge, &record) == RecordFound::NONE) {
    found.mods = ModsChangedBy(history, merge, first);
    if (!found.mods.empty()) found.verdict = HistoryVerdict::OVER_MODS;
  }
  return found;
}
