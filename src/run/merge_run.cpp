#include "merge_run.h"

#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "exit_status.h"
#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "format/merge_records.h"
#include "identity/level_verdict.h"
#include "journal/history_verdict.h"
#include "level_change.h"
#include "level_history.h"
#include "load_whole_file.h"
#include "mark_file.h"
#include "platform.h"
#include "report.h"
#include "rewrite_level.h"
#include "run_lock.h"
#include "system.h"
#include "words/vorandel_words.h"

namespace {

// Where the merge first writes other bytes than the level's: its first
// action's offset, or the level's end for a merge file without actions.
uint32_t FirstChangeOf(const MergeImage& merge, const LevelImage& level) {
  RecordCursor cursor = RecordsFrom(merge, FirstActionAt(merge));
  ActionRecord record;
  return NextRecord(&cursor, &record) == RecordRead::RECORD ? record.action.offset
                                                            : level.size;
}

// Backs the level up as every run does, for a run that can't go on to the
// merge: the level could not be loaded, or an action is faulty. Says so once
// the backup is made.
int BackUpAndReport(const RunNames& names, const LoadFailure& loaded,
                    const ActionFault& fault) {
  if (CopyBackup(names) != STATUS_OK) return STATUS_FAILED;
  if (ReportLoad(names.level, loaded)) {
    char text[FAULT_TEXT_MAX];
    FormatActionFault(fault, text, sizeof text);
    Report(text);
  }
  return STATUS_FAILED;
}

// The verdict on the level, with its backup merged for a merge file that has
// no record, where the sizes allow it. The backup is read, not mapped: a file
// another program cuts short under a mapping would end the run. It is
// released before the run copies the level over it.
Judgement Judge(const RunNames& names, const MergeImage& merge, const LevelImage& level) {
  WholeFile backup;
  uint32_t backupSize = 0;
  bool backedUp =
      SizeOfFile(names.backup, FILE_SHARE_READ, &backupSize).step == LoadStep::LOADED &&
      BackupWanted(merge, level.size, backupSize) &&
      LoadWhole(names.backup, FILE_SHARE_READ, LoadWay::READ, &backup).step ==
          LoadStep::LOADED;
  LevelImage backupImage{backup.bytes, backup.size};
  Judgement judgement = JudgeMerge(merge, level, backedUp ? &backupImage : nullptr);
  ReleaseWhole(&backup);
  return judgement;
}

// The line that stops the run before the backup, by the verdict and what the
// history adds to it, with the status it ends with; empty where it goes on.
std::string StopLine(const RunNames& names, const Judgement& judgement,
                     const LevelHistory& history, const HistoryJudgement& byHistory,
                     int* status) {
  *status = STATUS_FAILED;
  if (byHistory.verdict == HistoryVerdict::ALREADY_IN) *status = STATUS_OK;
  if (byHistory.verdict == HistoryVerdict::ALREADY_IN ||
      byHistory.verdict == HistoryVerdict::MADE_BEFORE)
    return HistoryLine(byHistory, history.history, names.level, false);
  if (judgement.verdict == LevelVerdict::ALREADY_MERGED) *status = STATUS_OK;
  return JudgementLine(judgement, names.level);
}

int MergeLevel(const RunNames& names, const MergeImage& merge, const char* mergePath) {
  // A merge no tool could read back is refused by the sizes alone, before a
  // level of up to 4 GiB is read for nothing.
  uint32_t levelSize = 0;
  if (SizeOfFile(names.level, 0, &levelSize).step == LoadStep::LOADED &&
      TooLargeBySize(merge, levelSize)) {
    Say(VorandelSays::RESULT_TOO_LARGE, {names.level});
    return STATUS_FAILED;
  }
  // The level is read first, and quietly: all that decides whether to merge
  // at all comes before the backup is touched.
  WholeFile levelFile;
  LoadFailure loaded = LoadWhole(names.level, 0, LoadWay::READ, &levelFile);
  // A run stopped while it rewrote the level left it in pieces: it is put
  // back first, and while that can't be done no run backs it up.
  switch (ActOnMark(names, &levelFile, &loaded)) {
    case MarkOutcome::GO_ON: break;
    case MarkOutcome::STOPPED:
    case MarkOutcome::FAILED: return STATUS_FAILED;
  }
  if (loaded.step != LoadStep::LOADED) return BackUpAndReport(names, loaded, {});

  LevelImage level{levelFile.bytes, levelFile.size};
  // Every record is checked before the level is recreated, so a faulty
  // merge file leaves the level as it was.
  Judgement judgement = Judge(names, merge, level);
  LevelHistory history;
  ReadLevelHistory(names, judgement.level, &history);
  if (history.found == HistoryFound::UNREADABLE) {
    Say(VorandelSays::HISTORY_UNREADABLE, {names.history, {}, history.error});
    return STATUS_FAILED;
  }
  Fingerprint mergePrint = FingerprintOf(merge.buffer, merge.size);
  HistoryJudgement byHistory{HistoryVerdict::NOTHING, {}, false};
  if (history.GoesOn())
    byHistory = JudgeByHistory(history.history, mergePrint, merge, judgement);
  int status = STATUS_FAILED;
  std::string stop = StopLine(names, judgement, history, byHistory, &status);
  if (!stop.empty()) {
    Report(stop.c_str());
    return status;
  }
  if (judgement.fault.kind != FaultKind::NONE)
    return BackUpAndReport(names, loaded, judgement.fault);
  // A merge file without a record may change what a mod wrote: it goes in,
  // and the player knows which mod it rewrites.
  if (byHistory.verdict == HistoryVerdict::OVER_MODS)
    Report(HistoryLine(byHistory, history.history, names.level, false).c_str());

  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[MERGED_STAGING_SIZE]);
  if (!staging) {
    Say(VorandelSays::READ_FAILED, {{}, {}, ERROR_NOT_ENOUGH_MEMORY});
    return STATUS_FAILED;
  }
  uint32_t first = FirstActionAt(merge);
  MergedLevel merged = {&level, &merge, first, staging.get()};
  LevelChange change{&names,           level,   {},
                     WriteMergedLevel, &merged, WriteHistoryDraft,
                     nullptr,          "",      &history};
  change.mark = {judgement.level, judgement.merged, FirstChangeOf(merge, level), "", 3};
  ModHead head{judgement.level,
               judgement.merged,
               mergePrint,
               std::time(nullptr),
               0,
               mergePath,
               "",
               {}};
  // The draft is written before the level, through the level's staging.
  HistoryDraft draft{&merge, first, level, staging.get(), {}, {}, {}};
  if (!StartHistoryDraft(names, history, head, &draft, change.setAside)) {
    Say(VorandelSays::MARK_WRITE_FAILED, {names.historyDraft, {}, ERROR_FILE_TOO_LARGE});
    return STATUS_FAILED;
  }
  change.history = &draft;
  if (MakeChange(change) != STATUS_OK) return STATUS_FAILED;
  Say(VorandelSays::DONE, {});
  return STATUS_OK;
}

}  // namespace

int RunMergeFile(const char* mergePath) {
  // The merge file's image lives as long as the run.
  MergeImage merge;
  if (!LoadWholeFile(mergePath, &merge.buffer, &merge.size)) return STATUS_FAILED;
  char verdict[MERGE_TEXT_MAX];
  if (CheckLevelName(merge, RulesOf(kWindowsPaths), verdict, sizeof verdict) !=
      MergeVerdict::OK) {
    Report(verdict);
    return STATUS_FAILED;
  }
  // The name has at most NAME_CHARS_MAX characters: every name made of it fits.
  RunNames names;
  NameRun(reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT), kWindowsPaths,
          &names);

  RunLock lock;
  LockTaken taken = TakeLevelLock(names, &lock);
  if (taken == LockTaken::REFUSED) return STATUS_FAILED;
  int status = MergeLevel(names, merge, mergePath);
  ReleaseLevelLock(taken, &lock);
  return status;
}
