#include "level_change.h"

#include "durable_write.h"
#include "exit_status.h"
#include "flush_backup.h"
#include "mark_file.h"
#include "report.h"
#include "system.h"

namespace {

int ReportFailedCopy(const RunNames& names, DWORD error) {
  Say(VorandelSays::COPY_FAILED, {names.level, names.backup, error});
  return STATUS_FAILED;
}

}  // namespace

int CopyBackup(const RunNames& names) {
  (void)SetFileAttributesA(names.backup, FILE_ATTRIBUTE_NORMAL);
  Say(VorandelSays::BACKING_UP, {names.level, names.backup});
  if (!CopyFileA(names.level, names.backup, FALSE))
    return ReportFailedCopy(names, GetLastError());
  Say(VorandelSays::PROCESSING, {names.level});
  return STATUS_OK;
}

int PrepareChange(const LevelChange& change) {
  const RunNames& names = *change.names;
  if (CopyBackup(names) != STATUS_OK) return STATUS_FAILED;
  DWORD error = FlushBackup(names.backup, names.folder);
  bool holds = false;
  if (error == NO_ERROR) error = BackupHolds(names.backup, change.level, &holds);
  if (error != NO_ERROR) return ReportFailedCopy(names, error);
  if (!holds) {
    Say(VorandelSays::LEVEL_CHANGED, {names.level, names.backup});
    return STATUS_FAILED;
  }
  if (change.setAside[0] != '\0') {
    error = RenameReplacing(names.history, change.setAside);
    if (error == NO_ERROR) error = FlushFolder(names.folder);
    if (error != NO_ERROR) {
      Say(VorandelSays::MARK_WRITE_FAILED, {change.setAside, {}, error});
      return STATUS_FAILED;
    }
    SayHistorySetAside(names, *change.oldHistory, change.setAside);
  }
  if (change.history != nullptr) {
    Bytes draft = {change.history->data(), change.history->size()};
    error = WriteOwnFile(names.historyDraft, WriteBytes, &draft);
    if (error != NO_ERROR) {
      (void)RemoveFile(names.historyDraft);
      Say(VorandelSays::MARK_WRITE_FAILED, {names.historyDraft, {}, error});
      return STATUS_FAILED;
    }
  }
  // The mark's folder flush puts the draft's name on the disk with its own.
  error = LeaveMark(names, change.mark);
  if (error != NO_ERROR) {
    (void)RemoveFile(names.historyDraft);
    Say(VorandelSays::MARK_WRITE_FAILED, {names.mark, {}, error});
    return STATUS_FAILED;
  }
  return STATUS_OK;
}

RewriteOutcome WriteChange(const LevelChange& change) {
  const RunNames& names = *change.names;
  return RewriteInPlace(names.level, names.backup, change.level, change.write,
                        change.content);
}

int CommitChange(const LevelChange& change, RewriteOutcome written) {
  const RunNames& names = *change.names;
  // The mark stays while the level is in pieces: the next run restores it.
  if (written == RewriteOutcome::IN_PIECES) return STATUS_FAILED;
  // The level is as it was: so is its history.
  if (written == RewriteOutcome::UNCHANGED) {
    (void)RemoveFile(names.historyDraft);
    DWORD error = ClearMark(names);
    if (error != NO_ERROR) Say(MarkMessage::MARK_KEPT, names, error);
    return STATUS_FAILED;
  }
  // The change counts once the mark is gone from the disk, and the history
  // that describes it is in place before.
  DWORD error = change.history != nullptr ? CommitHistoryDraft(names) : NO_ERROR;
  if (error == NO_ERROR) error = ClearMark(names);
  if (error != NO_ERROR) {
    Say(MarkMessage::MERGED_MARK_KEPT, names, error);
    return STATUS_FAILED;
  }
  return STATUS_OK;
}

int MakeChange(const LevelChange& change) {
  if (PrepareChange(change) != STATUS_OK) return STATUS_FAILED;
  return CommitChange(change, WriteChange(change));
}
