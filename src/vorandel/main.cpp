// Vorandel: patches a level file with a merge file, after backing it up.
#include <string>

#include "console_start.h"
#include "exit_status.h"
#include "flush_backup.h"
#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "identity/level_verdict.h"
#include "load_whole_file.h"
#include "platform.h"
#include "report.h"
#include "rewrite_level.h"
#include "rewrite_mark_file.h"
#include "system.h"
#include "words/mrgtool_words.h"

namespace {

int ReportFailedCopy(const RunNames& names, DWORD error) {
  Say(VorandelSays::COPY_FAILED, {names.level, names.backup, error});
  return STATUS_FAILED;
}

// The backup copied over any earlier one, read-only or not, between the
// first two lines of every run that gets that far.
int CopyBackup(const RunNames& names) {
  (void)SetFileAttributesA(names.backup, FILE_ATTRIBUTE_NORMAL);
  Say(VorandelSays::BACKING_UP, {names.level, names.backup});
  if (!CopyFileA(names.level, names.backup, FALSE))
    return ReportFailedCopy(names, GetLastError());
  Say(VorandelSays::PROCESSING, {names.level});
  return STATUS_OK;
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
    Report("%s", text);
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

// The backup copied, on the disk and proven to hold the level the run holds,
// then the mark: only after all that may the level be emptied.
int BackUpAndMark(const RunNames& names, const LevelImage& level,
                  const Judgement& judgement) {
  if (CopyBackup(names) != STATUS_OK) return STATUS_FAILED;
  DWORD error = FlushBackup(names.backup, names.folder);
  bool holds = false;
  if (error == NO_ERROR) error = BackupHolds(names.backup, level, &holds);
  if (error != NO_ERROR) return ReportFailedCopy(names, error);
  if (!holds) {
    Say(VorandelSays::LEVEL_CHANGED, {names.level, names.backup});
    return STATUS_FAILED;
  }
  error = LeaveMark(names, {judgement.level, judgement.merged});
  if (error != NO_ERROR) {
    Say(VorandelSays::MARK_WRITE_FAILED, {names.mark, {}, error});
    return STATUS_FAILED;
  }
  return STATUS_OK;
}

int MergeLevel(const RunNames& names, const MergeImage& merge) {
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
  std::string stop = JudgementLine(judgement, names.level);
  if (!stop.empty()) {
    Report("%s", stop.c_str());
    return judgement.verdict == LevelVerdict::ALREADY_MERGED ? STATUS_OK : STATUS_FAILED;
  }
  if (judgement.fault.kind != FaultKind::NONE)
    return BackUpAndReport(names, loaded, judgement.fault);
  if (BackUpAndMark(names, level, judgement) != STATUS_OK) return STATUS_FAILED;

  RewriteOutcome outcome =
      RewriteLevel(names.level, names.backup, level, merge, FirstActionAt(merge));
  // The mark stays while the level is in pieces: the next run restores it.
  if (outcome == RewriteOutcome::IN_PIECES) return STATUS_FAILED;
  // The merge counts once the mark is gone from the disk; only then is it done.
  DWORD error = ClearMark(names);
  if (outcome == RewriteOutcome::UNCHANGED) {
    if (error != NO_ERROR) Say(MarkMessage::MARK_KEPT, names, error);
    return STATUS_FAILED;
  }
  if (error != NO_ERROR) {
    Say(MarkMessage::MERGED_MARK_KEPT, names, error);
    return STATUS_FAILED;
  }
  Say(VorandelSays::DONE, {});
  return STATUS_OK;
}

int MergeFile(const char* mergePath) {
  // The merge file's image lives as long as the run.
  MergeImage merge;
  if (!LoadWholeFile(mergePath, &merge.buffer, &merge.size)) return STATUS_FAILED;
  char verdict[MERGE_TEXT_MAX];
  if (CheckLevelName(merge, RulesOf(kWindowsPaths), verdict, sizeof verdict) !=
      MergeVerdict::OK) {
    Report("%s", verdict);
    return STATUS_FAILED;
  }
  // The name has at most NAME_CHARS_MAX characters: every name made of it fits.
  RunNames names;
  NameRun(reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT), kWindowsPaths,
          &names);

  // One run at a time on a level, from before it looks for a mark until its
  // own is gone: another run's live mark must never look like a dead one's.
  // Where the lock file can't even be made (no such folder, a read-only one),
  // the run can't leave a mark either, so it never empties the level, and it
  // goes on to say what is wrong in its usual words.
  RunLock lock;
  DWORD error = TakeRunLock(names.lock, &lock);
  if (error == ERROR_SHARING_VIOLATION) {
    Say(VorandelSays::RUN_LOCKED, {names.level});
    return STATUS_FAILED;
  }
  int status = MergeLevel(names, merge);
  // A lock file that can't be deleted is harmless: the next run takes it.
  if (error == NO_ERROR) (void)ReleaseRunLock(&lock);
  return status;
}

// The usage text, or the merge; with a console of its own, in the merge
// file's folder.
int Run(const ConsoleStart& start) {
  if (start.mergePath == nullptr) {
    Say(VorandelSays::USAGE, {});
    return STATUS_OK;
  }
  // The level's name is relative to the folder the run works in: where that
  // can't be the merge file's, nothing is done.
  if (!start.folder.empty()) {
    DWORD error = EnterFolder(start.folder.c_str());
    if (error != NO_ERROR) {
      Say(VorandelSays::FOLDER_FAILED, {start.folder.c_str(), {}, error});
      return STATUS_FAILED;
    }
  }
  return MergeFile(start.mergePath);
}

}  // namespace

int main(int argc, char** argv) {
  SetUpProcess();
  ConsoleStart start = StartOf(ConsoleProcessCount(), argc < 2 ? nullptr : argv[1]);
  int status = Run(start);
  if (start.keepOpen) {
    Report("%s", PRESS_ENTER);
    WaitForEnter();
  }
  return status;
}
