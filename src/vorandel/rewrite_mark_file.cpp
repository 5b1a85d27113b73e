#include "rewrite_mark_file.h"

#include <system_error>
#include <thread>

#include "durable_write.h"
#include "report.h"
#include "whole_file.h"

namespace {

// A file loaded whole for the restore, and released at its end.
struct Loaded {
  WholeFile file = {nullptr, 0, nullptr};
  LoadFailure failure;
  explicit Loaded(const char* path) : failure(LoadWhole(path, 0, LoadWay::READ, &file)) {}
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;
  ~Loaded() { ReleaseWhole(&file); }
};

}  // namespace

RewriteMark MarkLevel(const uint8_t* level, uint32_t size) {
  // Below a few megabytes a thread costs more time than it saves.
  constexpr uint32_t kThreadWorth = uint32_t{2} << 20;
  RewriteMark mark{size, {}};
  std::thread first;
  try {
    if (size >= kThreadWorth)
      first = std::thread(HashHalf, level, size, 0, mark.backupSha256[0]);
  } catch (const std::system_error&) {
  }
  // Without a thread, in turn.
  if (!first.joinable()) HashHalf(level, size, 0, mark.backupSha256[0]);
  HashHalf(level, size, 1, mark.backupSha256[1]);
  if (first.joinable()) first.join();
  return mark;
}

DWORD LeaveMark(const RunNames& names, const RewriteMark& mark) {
  char text[MARK_TEXT_MAX];
  Bytes content = {reinterpret_cast<const uint8_t*>(text),
                   FormatMark(names, mark, text, sizeof text)};
  // Written under another name first, so that the mark under its own name is
  // always whole: a run killed while writing it leaves only the draft.
  bool emptied = false;
  DWORD error = WriteDurably(names.markDraft, WriteBytes, &content, &emptied);
  if (error == NO_ERROR &&
      !MoveFileExA(names.markDraft, names.mark, MOVEFILE_REPLACE_EXISTING))
    error = GetLastError();
  if (error == NO_ERROR) error = FlushFolder(names.folder);
  if (error != NO_ERROR) {
    (void)DeleteFileA(names.markDraft);
    (void)DeleteFileA(names.mark);
  }
  return error;
}

DWORD ClearMark(const RunNames& names) {
  if (!DeleteFileA(names.mark)) return GetLastError();
  return FlushFolder(names.folder);
}

Restore RestoreIfMarked(const RunNames& names) {
  Loaded markFile(names.mark);
  const LoadFailure& failure = markFile.failure;
  if (failure.step == LoadStep::OPEN_FAILED &&
      (failure.error == ERROR_FILE_NOT_FOUND || failure.error == ERROR_PATH_NOT_FOUND))
    return Restore::NOT_MARKED;
  RewriteMark mark;
  if (failure.step == LoadStep::OPEN_FAILED || failure.step == LoadStep::SIZE_FAILED ||
      failure.step == LoadStep::READ_FAILED) {
    Say(MarkMessage::MARK_UNREADABLE, names, failure.error);
    return Restore::FAILED;
  }
  if (failure.step != LoadStep::LOADED ||
      !ReadMark(names, markFile.file.bytes, markFile.file.size, &mark)) {
    Say(MarkMessage::MARK_DAMAGED, names, NO_ERROR);
    return Restore::FAILED;
  }

  Loaded backup(names.backup);
  const WholeFile& old = backup.file;
  if (backup.failure.step == LoadStep::TOO_LARGE ||
      (backup.failure.step == LoadStep::LOADED &&
       !BackupMatches(mark, old.bytes, old.size))) {
    Say(MarkMessage::BACKUP_CHANGED, names, NO_ERROR);
    return Restore::FAILED;
  }
  if (backup.failure.step != LoadStep::LOADED) {
    Say(MarkMessage::BACKUP_UNREADABLE, names, backup.failure.error);
    return Restore::FAILED;
  }

  HoldInterruptions();
  Bytes content = {old.bytes, old.size};
  bool emptied = false;
  DWORD error = WriteDurably(names.level, WriteBytes, &content, &emptied);
  // The level may have been missing, and so created anew.
  if (error == NO_ERROR) error = FlushFolder(names.folder);
  ReleaseInterruptions();
  if (error != NO_ERROR) {
    Say(MarkMessage::RESTORE_FAILED, names, error);
    return Restore::FAILED;
  }
  error = ClearMark(names);
  Say(MarkMessage::RESTORED, names, NO_ERROR);
  if (error == NO_ERROR) return Restore::RESTORED;
  Say(MarkMessage::MARK_KEPT, names, error);
  return Restore::FAILED;
}
