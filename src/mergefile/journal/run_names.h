// The files a run keeps beside a level, its journal, all named after the level
// as the merge file spells it:
//   LEVEL.bak            the level as it was before the latest run that changed it
//   LEVEL.lock           held by a run from its start to its end
//   LEVEL.merging        the mark, while the level is rewritten (rewrite_mark.h)
//   LEVEL.merging.new    the mark being written, before it is renamed into place
//   LEVEL.history        the mods in the level, with their undos (history.h)
//   LEVEL.history.new    the history the run writes, renamed into place at its end
// One level may be spelled several ways ("keep.lvl", "./keep.lvl", on Windows
// "KEEP.LVL" too); each spelling names the same files on the disk, since each
// of these names is the level's own with a suffix.
#pragma once

#include <cstddef>

#include "format/merge_format.h"

constexpr char MARK_SUFFIX[] = ".merging";
constexpr char MARK_DRAFT_SUFFIX[] = ".merging.new";
constexpr char LOCK_SUFFIX[] = ".lock";
constexpr char HISTORY_SUFFIX[] = ".history";
constexpr char HISTORY_DRAFT_SUFFIX[] = ".history.new";
// Room for the level name and the longest suffix a run gives it: a history
// set aside as LEVEL.history.N (SetAsideName).
constexpr size_t JOURNAL_NAME_MAX = NAME_CHARS_MAX + 24;
// Kept for the names of the mark, which 1.1.0 sized so.
constexpr size_t MARK_NAME_MAX = JOURNAL_NAME_MAX;

// The names a run works with, all derived from the level name.
struct RunNames {
  char level[NAME_FIELD_MAX];
  char backup[NAME_FIELD_MAX];
  char mark[JOURNAL_NAME_MAX];
  char markDraft[JOURNAL_NAME_MAX];
  char lock[JOURNAL_NAME_MAX];
  char history[JOURNAL_NAME_MAX];
  char historyDraft[JOURNAL_NAME_MAX];
  char folder[NAME_FIELD_MAX];  // the level's folder, "." for the current one
  bool windowsPaths;            // the rules the names are read by
};

// The folder that holds the level `levelName`, by the separators of the
// system's paths: "." when the name has none. For a name of at most
// NAME_CHARS_MAX characters that IsSafeLevelName took.
void LevelFolder(const char* levelName, bool windowsPaths, char folder[NAME_FIELD_MAX]);

// For a level name of at most NAME_CHARS_MAX characters.
void NameRun(const char* levelName, bool windowsPaths, RunNames* names);

// LEVEL.history.N, the name a history is kept under once the level no longer
// ends it; N counts from 1.
void SetAsideName(const RunNames& names, unsigned number, char out[JOURNAL_NAME_MAX]);

// Whether two level names, each safe by IsSafeLevelName, name one file: the
// same parts once "." parts and repeated separators are dropped; with Windows
// paths '\' and '/' alike, and letters in either case.
bool SameLevelName(const char* a, const char* b, bool windowsPaths);

// Whether two names of a level, each spelled from the folder a run worked in,
// may name one file: the same file name, the last part, by the same rules.
bool SameFileName(const char* a, const char* b, bool windowsPaths);
