#include "level_change.h"

#include "durable_write.h"
#include "exit_status.h"
#include "flush_backup.h"
#include "journal/pack_journal.h"
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

int BackUpLevel(const LevelChange& change) {
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
  return STATUS_OK;
}

int MarkChange(const LevelChange& change) {
  const RunNames& names = *change.names;
  DWORD error = NO_ERROR;
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
    error = WriteOwnFile(names.historyDraft, change.writeHistory, change.history);
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

int PrepareChange(const LevelChange& change) {
  return BackUpLevel(change) == STATUS_OK ? MarkChange(change) : STATUS_FAILED;
}

int MakeChange(const LevelChange& change) {
  if (PrepareChange(change) != STATUS_OK) return STATUS_FAILED;
  return CommitChange(change, WriteChange(change));
}

namespace {

// The marked levels of a pack that went no further, their drafts and marks
// gone, and its journal: nothing of the pack is left.
void Unmark(const std::vector<LevelChange>& changes, size_t marked,
            const std::string& journal, const char* journalFolder) {
  for (size_t i = 0; i < marked; ++i) {
    (void)RemoveFile(changes[i].names->historyDraft);
    (void)ClearMark(*changes[i].names);
  }
  if (RemoveFile(journal.c_str()) == NO_ERROR) (void)FlushFolder(journalFolder);
}

}  // namespace

int ChangeLevels(const std::vector<LevelChange>& changes, const std::string& journal,
                 const PackJournal& content) {
  for (const LevelChange& change : changes)
    if (BackUpLevel(change) != STATUS_OK) return STATUS_FAILED;
  char journalFolder[NAME_FIELD_MAX];
  LevelFolder(journal.c_str(), kWindowsPaths, journalFolder);
  std::string text = FormatPackJournal(content);
  Bytes bytes = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
  DWORD error = WriteOwnFile(journal.c_str(), WriteBytes, &bytes);
  if (error == NO_ERROR) error = FlushFolder(journalFolder);
  if (error != NO_ERROR) {
    (void)RemoveFile(journal.c_str());
    Say(VorandelSays::MARK_WRITE_FAILED, {journal.c_str(), {}, error});
    return STATUS_FAILED;
  }
  for (size_t i = 0; i < changes.size(); ++i)
    if (MarkChange(changes[i]) != STATUS_OK) {
      Unmark(changes, i, journal, journalFolder);
      return STATUS_FAILED;
    }
  for (size_t i = 0; i < changes.size(); ++i) {
    RewriteOutcome written = WriteChange(changes[i]);
    if (written == RewriteOutcome::MERGED) continue;
    // One level could not be written: the ones written before go back to
    // what they were, from the memory that holds them still.
    bool whole = written == RewriteOutcome::UNCHANGED;
    for (size_t j = 0; j < i && whole; ++j) {
      Bytes old = {changes[j].level.buffer, changes[j].level.size};
      bool emptied = false;
      HoldInterruptions();
      whole =
          WriteDurably(changes[j].names->level, WriteBytes, &old, &emptied) == NO_ERROR;
      (void)ReleaseInterruptions();
    }
    if (whole) {
      Unmark(changes, changes.size(), journal, journalFolder);
      Say(VorandelSays::PACK_UNCHANGED, {content.name.c_str()});
    } else {
      Say(VorandelSays::PACK_IN_PIECES, {content.name.c_str(), journal.c_str()});
    }
    return STATUS_FAILED;
  }
  // The pack counts once its journal is gone from the disk.
  error = RemoveFile(journal.c_str());
  if (error == NO_ERROR) error = FlushFolder(journalFolder);
  if (error != NO_ERROR) {
    Say(VorandelSays::PACK_JOURNAL_KEPT, {journal.c_str(), content.name.c_str(), error});
    return STATUS_FAILED;
  }
  int status = STATUS_OK;
  for (const LevelChange& change : changes) {
    error = CommitHistoryDraft(*change.names);
    if (error == NO_ERROR) error = ClearMark(*change.names);
    if (error == NO_ERROR) continue;
    Say(MarkMessage::MERGED_MARK_KEPT, *change.names, error);
    status = STATUS_FAILED;
  }
  return status;
}
