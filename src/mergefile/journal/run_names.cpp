#include "journal/run_names.h"

#include <cstdio>
#include <cstring>

#include "format/merge_checks.h"

namespace {

void Join(char* out, size_t size, const char* name, const char* suffix) {
  snprintf(out, size, "%s%s", name, suffix);
}

// The next part of a path from `at`, skipping separators and "." parts;
// false at the end.
bool NextPart(const char** at, const char** begin, const char** end, bool windowsPaths) {
  for (;;) {
    while (**at != '\0' && IsSeparator(**at, windowsPaths)) ++*at;
    if (**at == '\0') return false;
    *begin = *at;
    while (**at != '\0' && !IsSeparator(**at, windowsPaths)) ++*at;
    *end = *at;
    if (!(*end - *begin == 1 && **begin == '.')) return true;
  }
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void LevelFolder(const char* levelName, bool windowsPaths, char folder[NAME_FIELD_MAX]) {
  size_t folderEnd = 0;
  bool inFolder = false;
  for (size_t i = 0; levelName[i] != '\0'; ++i)
    if (IsSeparator(levelName[i], windowsPaths)) {
      folderEnd = i;
      inFolder = true;
    }
  // A name never starts with a separator: the root is refused before this.
  if (!inFolder || folderEnd == 0) {
    Join(folder, NAME_FIELD_MAX, ".", "");
    return;
  }
  memcpy(folder, levelName, folderEnd);
  folder[folderEnd] = '\0';
}

void NameRun(const char* levelName, bool windowsPaths, RunNames* names) {
  Join(names->level, sizeof names->level, levelName, "");
  Join(names->backup, sizeof names->backup, levelName, BACKUP_SUFFIX);
  Join(names->mark, sizeof names->mark, levelName, MARK_SUFFIX);
  Join(names->markDraft, sizeof names->markDraft, levelName, MARK_DRAFT_SUFFIX);
  Join(names->lock, sizeof names->lock, levelName, LOCK_SUFFIX);
  Join(names->history, sizeof names->history, levelName, HISTORY_SUFFIX);
  Join(names->historyDraft, sizeof names->historyDraft, levelName, HISTORY_DRAFT_SUFFIX);
  LevelFolder(levelName, windowsPaths, names->folder);
  names->windowsPaths = windowsPaths;
}

void SetAsideName(const RunNames& names, unsigned number, char out[JOURNAL_NAME_MAX]) {
  // The name has room for any number: the level's name has at most
  // NAME_CHARS_MAX characters.
  if (snprintf(out, JOURNAL_NAME_MAX, "%s.%u", names.history, number) < 0) out[0] = '\0';
}

bool SameLevelName(const char* a, const char* b, bool windowsPaths) {
  const char* aBegin = nullptr;
  const char* aEnd = nullptr;
  const char* bBegin = nullptr;
  const char* bEnd = nullptr;
  for (;;) {
    bool aMore = NextPart(&a, &aBegin, &aEnd, windowsPaths);
    bool bMore = NextPart(&b, &bBegin, &bEnd, windowsPaths);
    if (!aMore || !bMore) return aMore == bMore;
    if (aEnd - aBegin != bEnd - bBegin) return false;
    for (const char *x = aBegin, *y = bBegin; x != aEnd; ++x, ++y)
      if (windowsPaths ? Lower(*x) != Lower(*y) : *x != *y) return false;
  }
}

bool SameFileName(const char* a, const char* b, bool windowsPaths) {
  auto last = [windowsPaths](const char* name) {
    const char* part = name;
    for (const char* c = name; *c != '\0'; ++c)
      if (IsSeparator(*c, windowsPaths)) part = c + 1;
    return part;
  };
  return SameLevelName(last(a), last(b), windowsPaths);
}
