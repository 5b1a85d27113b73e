#include "mark_file.h"

#include <algorithm>
#include <string>
#include <vector>

#include "durable_write.h"
#include "journal/pack_journal.h"
#include "report.h"
#include "run_lock.h"
#include "system.h"

namespace {

FoundFile Found(const LoadFailure& failure, const WholeFile& file) {
  switch (failure.step) {
    case LoadStep::LOADED: return {FileState::LOADED, 0, file.bytes, file.size};
    case LoadStep::TOO_LARGE: return {FileState::TOO_LARGE, 0, nullptr, 0};
    case LoadStep::OPEN_FAILED:
      if (failure.error == ERROR_FILE_NOT_FOUND || failure.error == ERROR_PATH_NOT_FOUND)
        return {FileState::MISSING, failure.error, nullptr, 0};
      break;
    default: break;
  }
  return {FileState::UNREADABLE, failure.error, nullptr, 0};
}

// A file loaded whole for the mark's decision, and released at its end.
struct Loaded {
  WholeFile file = {nullptr, 0, nullptr};
  LoadFailure failure;
  explicit Loaded(const char* path) : failure(LoadWhole(path, 0, LoadWay::READ, &file)) {}
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;
  ~Loaded() { ReleaseWhole(&file); }
  // The memory, for the caller to keep.
  WholeFile Take() {
    WholeFile taken = file;
    file = {nullptr, 0, nullptr};
    return taken;
  }
};

}  // namespace

DWORD LeaveMark(const RunNames& names, const RewriteMark& mark) {
  char text[MARK_TEXT_MAX];
  Bytes content = {reinterpret_cast<const uint8_t*>(text),
                   FormatMark(names, mark, text, sizeof text)};
  // Names never make it too long; a mark cut short would be no mark at all.
  if (content.size == 0) return ERROR_GEN_FAILURE;
  // Written under another name first, so that the mark under its own name is
  // always whole: a run killed while writing it leaves only the draft.
  DWORD error = WriteOwnFile(names.markDraft, WriteBytes, &content);
  if (error == NO_ERROR) error = RenameReplacing(names.markDraft, names.mark);
  if (error == NO_ERROR) error = FlushFolder(names.folder);
  if (error != NO_ERROR) {
    (void)RemoveFile(names.markDraft);
    (void)RemoveFile(names.mark);
  }
  return error;
}

DWORD ClearMark(const RunNames& names) {
  DWORD error = RemoveFile(names.mark);
  return error != NO_ERROR ? error : FlushFolder(names.folder);
}

DWORD CommitHistoryDraft(const RunNames& names) {
  DWORD error = RenameReplacing(names.historyDraft, names.history);
  if (error != NO_ERROR && error != ERROR_FILE_NOT_FOUND) return error;
  // The history's new name on the disk before the mark's deletion, whether
  // this run renamed it or a stopped one did: a power failure could
  // otherwise keep the deletion alone, and leave the changed level beside
  // the old history with no mark to tell it.
  return FlushFolder(names.folder);
}

namespace {

// The level stays as it was before the stopped run, or as it was put since:
// the history the run was to write goes with it.
DWORD DropHistoryDraft(const RunNames& names) {
  DWORD error = RemoveFile(names.historyDraft);
  return error == ERROR_FILE_NOT_FOUND ? NO_ERROR : error;
}

// ActOnMark for one level whose mark was found, a pack's never gone in where
// `packOpen`.
MarkOutcome ActOnFoundMark(const RunNames& names, const FoundFile& markFound,
                           WholeFile* level, LoadFailure* loaded, bool packOpen) {
  // Read into memory of the run's own, since the run copies the level over
  // the backup later.
  Loaded backup(names.backup);
  MarkDecision decision = DecideOnMark(names, markFound, Found(*loaded, *level),
                                       Found(backup.failure, backup.file), packOpen);
  DWORD error = NO_ERROR;
  switch (decision.plan) {
    case MarkPlan::NOTHING: return MarkOutcome::GO_ON;
    case MarkPlan::REFUSE:
      Say(decision.message, names, decision.error);
      return MarkOutcome::FAILED;
    case MarkPlan::CLEAR_MARK:
      // Vorandel 1.1.0 wrote no history: a draft beside its mark is no run's.
      error = decision.mark.version == 2 ? DropHistoryDraft(names)
                                         : CommitHistoryDraft(names);
      if (error == NO_ERROR) error = ClearMark(names);
      if (error == NO_ERROR) return MarkOutcome::GO_ON;
      Say(MarkMessage::MERGED_MARK_KEPT, names, error);
      return MarkOutcome::FAILED;
    case MarkPlan::KEEP_LEVEL:
      error = DropHistoryDraft(names);
      if (error == NO_ERROR) error = ClearMark(names);
      if (error != NO_ERROR) {
        Say(MarkMessage::MARK_KEPT, names, error);
        return MarkOutcome::FAILED;
      }
      Say(MarkMessage::LEVEL_KEPT, names, NO_ERROR);
      return MarkOutcome::GO_ON;
    case MarkPlan::RESTORE: break;
  }

  // A run killed right after it renamed its mark into place may have left the
  // name unflushed: it must be on the disk before the level is emptied, or a
  // power failure now could leave an empty level and no mark.
  error = FlushFolder(names.folder);
  if (error != NO_ERROR) {
    Say(MarkMessage::RESTORE_FAILED, names, error);
    return MarkOutcome::FAILED;
  }
  HoldInterruptions();
  Bytes content = {backup.file.bytes, backup.file.size};
  bool emptied = false;
  error = WriteDurably(names.level, WriteBytes, &content, &emptied);
  // The level may have been missing, and so created anew.
  if (error == NO_ERROR) error = FlushFolder(names.folder);
  // An interruption waited for the level to be whole: it now stops the run,
  // before anything more is touched.
  bool interrupted = ReleaseInterruptions();
  if (error != NO_ERROR) {
    Say(MarkMessage::RESTORE_FAILED, names, error);
    return MarkOutcome::FAILED;
  }
  // The level holds the backup's bytes now: they are the run's level.
  ReleaseWhole(level);
  *loaded = backup.failure;
  *level = backup.Take();
  error = DropHistoryDraft(names);
  if (error == NO_ERROR) error = ClearMark(names);
  Say(MarkMessage::RESTORED, names, NO_ERROR);
  if (error != NO_ERROR) {
    Say(MarkMessage::MARK_KEPT, names, error);
    return MarkOutcome::FAILED;
  }
  if (!interrupted) return MarkOutcome::GO_ON;
  Say(MarkMessage::STOPPED_RESTORED, names, NO_ERROR);
  return MarkOutcome::STOPPED;
}

// Every level a pack's journal names goes back, each under its lock, the
// levels `held` (whose locks the run holds) too; then the journal goes. The
// pack never went in: none of it may stay.
MarkOutcome RollBackPack(const std::string& journalName,
                         const std::vector<const char*>& held) {
  Loaded journalFile(journalName.c_str());
  PackJournal journal;
  if (journalFile.failure.step != LoadStep::LOADED ||
      !ReadPackJournal(journalFile.file.bytes, journalFile.file.size, &journal)) {
    Say(VorandelSays::PACK_JOURNAL_DAMAGED,
        {journalName.c_str(), {}, journalFile.failure.error});
    return MarkOutcome::FAILED;
  }
  std::vector<std::string> levels;
  for (const std::string& level : journal.levels)
    levels.push_back(NameBesideLevel(journalName.c_str(), level, kWindowsPaths));
  std::sort(levels.begin(), levels.end(), [](const std::string& a, const std::string& b) {
    return LockOrderKey(a.c_str(), kWindowsPaths) <
           LockOrderKey(b.c_str(), kWindowsPaths);
  });
  std::vector<RunNames> names(levels.size());
  std::vector<RunLock> locks(levels.size());
  std::vector<LockTaken> taken(levels.size(), LockTaken::UNLOCKED);
  MarkOutcome outcome = MarkOutcome::GO_ON;
  for (size_t i = 0; i < levels.size() && outcome == MarkOutcome::GO_ON; ++i) {
    if (levels[i].size() > NAME_CHARS_MAX) {
      Say(VorandelSays::PACK_JOURNAL_DAMAGED, {journalName.c_str()});
      outcome = MarkOutcome::FAILED;
      break;
    }
    NameRun(levels[i].c_str(), kWindowsPaths, &names[i]);
    if (std::any_of(held.begin(), held.end(), [&](const char* level) {
          return SameLevelName(names[i].level, level, kWindowsPaths);
        }))
      continue;
    taken[i] = TakeLevelLock(names[i], &locks[i]);
    if (taken[i] == LockTaken::REFUSED) outcome = MarkOutcome::FAILED;
  }
  for (size_t i = 0; i < levels.size() && outcome == MarkOutcome::GO_ON; ++i) {
    Loaded mark(names[i].mark);
    FoundFile markFound = Found(mark.failure, mark.file);
    // A level the pack never marked holds nothing of it but, maybe, the
    // history's draft written just before its mark: that goes too.
    if (markFound.state == FileState::MISSING) {
      (void)DropHistoryDraft(names[i]);
      continue;
    }
    WholeFile level;
    LoadFailure loaded = LoadWhole(names[i].level, 0, LoadWay::READ, &level);
    outcome = ActOnFoundMark(names[i], markFound, &level, &loaded, true);
    ReleaseWhole(&level);
  }
  if (outcome == MarkOutcome::GO_ON) {
    char folder[NAME_FIELD_MAX];
    LevelFolder(journalName.c_str(), kWindowsPaths, folder);
    DWORD error = RemoveFile(journalName.c_str());
    if (error == NO_ERROR) error = FlushFolder(folder);
    if (error == NO_ERROR) {
      Say(VorandelSays::PACK_ROLLED_BACK, {journal.name.c_str(), journalName.c_str()});
    } else {
      Say(VorandelSays::MARK_WRITE_FAILED, {journalName.c_str(), {}, error});
      outcome = MarkOutcome::FAILED;
    }
  }
  for (size_t i = 0; i < levels.size(); ++i) ReleaseLevelLock(taken[i], &locks[i]);
  return outcome;
}

}  // namespace

MarkOutcome ActOnMark(const RunNames& names, WholeFile* level, LoadFailure* loaded,
                      const std::vector<const char*>& held) {
  Loaded mark(names.mark);
  FoundFile markFound = Found(mark.failure, mark.file);
  if (markFound.state == FileState::MISSING) return MarkOutcome::GO_ON;
  // A mark of a pack whose journal is still there: the pack never went in,
  // and every level of it goes back before anything else.
  RewriteMark read{};
  if (markFound.state == FileState::LOADED &&
      ReadMark(names, markFound.bytes, markFound.size, &read) == MarkRead::WHOLE &&
      read.pack[0] != '\0') {
    std::string journal = NameBesideLevel(names.level, read.pack, kWindowsPaths);
    uint32_t size = 0;
    LoadFailure there = SizeOfFile(journal.c_str(), FILE_SHARE_READ, &size);
    if (!(there.step == LoadStep::OPEN_FAILED &&
          (there.error == ERROR_FILE_NOT_FOUND || there.error == ERROR_PATH_NOT_FOUND))) {
      std::vector<const char*> locked = held;
      locked.push_back(names.level);
      MarkOutcome outcome = RollBackPack(journal, locked);
      if (outcome != MarkOutcome::GO_ON) return outcome;
      // The level is as the pack found it now: the run goes on from there.
      ReleaseWhole(level);
      *loaded = LoadWhole(names.level, 0, LoadWay::READ, level);
      return MarkOutcome::GO_ON;
    }
    // The pack went in when its journal went. A run stopped just after may
    // not have made that lasting: it is made so before this level goes on
    // from the pack, or a power cut could bring the journal back over it.
    // A failure here fails the folder's own flush in the commit, said there.
    char folder[NAME_FIELD_MAX];
    LevelFolder(journal.c_str(), kWindowsPaths, folder);
    (void)FlushFolder(folder);
  }
  return ActOnFoundMark(names, markFound, level, loaded, false);
}
