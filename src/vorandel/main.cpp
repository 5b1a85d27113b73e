// Vorandel: patches a level file with a merge file, after backing it up.
#include <cstring>

#include "exit_status.h"
#include "flush_backup.h"
#include "load_whole_file.h"
#include "merge_checks.h"
#include "merge_format.h"
#include "platform.h"
#include "report.h"
#include "rewrite_level.h"

namespace {

int ReportFailedCopy(const char* levelName, const char* backupName, DWORD error) {
  Report("Can't copy the file %s to %s (error %ld)", levelName, backupName,
         static_cast<long>(error));
  return STATUS_FAILED;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Report(
        "Usage:\n\tVorandel.exe [file.mrg]\n\n"
        "With [file.mrg] the file to be merged with the kelvarin level.\n");
    return STATUS_OK;
  }

  // Both images live as long as the process: they are never released.
  static MergeImage merge;
  if (!LoadWholeFile(argv[1], &merge.buffer, &merge.size)) return STATUS_FAILED;
  char verdict[MERGE_TEXT_MAX];
  if (CheckLevelName(merge, kWindowsPaths, verdict, sizeof verdict) != MergeVerdict::OK) {
    Report("%s", verdict);
    return STATUS_FAILED;
  }
  char levelName[NAME_FIELD_MAX];
  memcpy(levelName, merge.buffer + LEVEL_NAME_AT, ReadU32(merge.buffer + NAME_LENGTH_AT));
  // The name has at most NAME_CHARS_MAX characters: the suffix fits.
  char backupName[NAME_FIELD_MAX];
  size_t nameChars = strlen(levelName);
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result): the suffix brings the NUL
  memcpy(backupName, levelName, nameChars);
  memcpy(backupName + nameChars, BACKUP_SUFFIX, sizeof BACKUP_SUFFIX);

  // A read-only backup left by an earlier run must not stop the copy.
  (void)SetFileAttributesA(backupName, FILE_ATTRIBUTE_NORMAL);
  Report("Backuping %s to %s\n", levelName, backupName);
  if (!CopyFileA(levelName, backupName, FALSE))
    return ReportFailedCopy(levelName, backupName, GetLastError());

  Report("Processing level: %s\n", levelName);
  static LevelImage level;
  if (!LoadWholeFile(levelName, &level.buffer, &level.size)) return STATUS_FAILED;

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
  // The backup goes to the disk while the level is read; it must be there
  // before the level is emptied.
  DWORD flushError = FlushBackup(backupName);
  if (flushError != NO_ERROR) return ReportFailedCopy(levelName, backupName, flushError);
  if (!RewriteLevel(levelName, backupName, level, merge, firstActionAt))
    return STATUS_FAILED;
  return STATUS_OK;
}
