// Vorandel: patches a level file with a merge file, after backing it up.
#include "exit_status.h"
#include "flush_backup.h"
#include "load_whole_file.h"
#include "merge_checks.h"
#include "merge_format.h"
#include "platform.h"
#include "report.h"
#include "rewrite_level.h"
#include "rewrite_mark_file.h"

namespace {

int ReportFailedCopy(const RunNames& names, DWORD error) {
  Say(VorandelSays::COPY_FAILED, {names.level, names.backup, error});
  return STATUS_FAILED;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Say(VorandelSays::USAGE, {});
    return STATUS_OK;
  }

  // Both images live as long as the process: they are never released.
  static MergeImage merge;
  if (!LoadWholeFile(argv[1], &merge.buffer, &merge.size)) return STATUS_FAILED;
  char verdict[MERGE_TEXT_MAX];
  if (CheckLevelName(merge, RulesOf(kWindowsPaths), verdict, sizeof verdict) !=
      MergeVerdict::OK) {
    Report("%s", verdict);
    return STATUS_FAILED;
  }
  // The name has at most NAME_CHARS_MAX characters: every name made of it fits.
  static RunNames names;
  NameRun(reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT), kWindowsPaths,
          &names);

  // A run stopped while it rewrote the level left it in pieces: it is put
  // back first, and while that can't be done no run backs it up.
  if (RestoreIfMarked(names) == Restore::FAILED) return STATUS_FAILED;

  // A read-only backup left by an earlier run must not stop the copy.
  (void)SetFileAttributesA(names.backup, FILE_ATTRIBUTE_NORMAL);
  Say(VorandelSays::BACKING_UP, {names.level, names.backup});
  if (!CopyFileA(names.level, names.backup, FALSE))
    return ReportFailedCopy(names, GetLastError());

  Say(VorandelSays::PROCESSING, {names.level});
  static LevelImage level;
  if (!LoadWholeFile(names.level, &level.buffer, &level.size)) return STATUS_FAILED;

  // Every record is checked before the level is recreated, so a faulty
  // merge file leaves the level as it was.
  uint32_t firstActionAt = FirstActionAt(merge);
  ActionFault fault = CheckActions(merge, firstActionAt, level.size);
  if (fault.kind != FaultKind::NONE) {
    char text[FAULT_TEXT_MAX];
    FormatActionFault(fault, text, sizeof text);
    Report("%s", text);
    return STATUS_FAILED;
  }
  // The backup has been on its way to the disk since the copy; it and the
  // mark must be there before the level is emptied.
  RewriteMark mark = MarkLevel(level.buffer, level.size);
  DWORD error = FlushBackup(names.backup, names.folder);
  if (error != NO_ERROR) return ReportFailedCopy(names, error);
  error = LeaveMark(names, mark);
  if (error != NO_ERROR) {
    Say(VorandelSays::MARK_WRITE_FAILED, {names.mark, {}, error});
    return STATUS_FAILED;
  }

  RewriteOutcome outcome =
      RewriteLevel(names.level, names.backup, level, merge, firstActionAt);
  // The mark goes only once the run has said how it ended, and stays while the
  // level is in pieces: the next run then restores it.
  if (outcome == RewriteOutcome::IN_PIECES) return STATUS_FAILED;
  error = ClearMark(names);
  if (error != NO_ERROR) {
    Say(MarkMessage::MARK_KEPT, names, error);
    return STATUS_FAILED;
  }
  return outcome == RewriteOutcome::MERGED ? STATUS_OK : STATUS_FAILED;
}
