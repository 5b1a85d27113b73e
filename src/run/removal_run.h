// mrgtool's runs that take mods out of a level, by its history: one mod, or
// a pack of them, wherever it stands, or every mod. Each is a run as
// Vorandel's merge is: the same lock, mark, backup, history and commit
// (level_change.h).
#pragma once

#include <cstdint>
#include <string>

#include "identity/fingerprint.h"

// Which mod comes out: the one a merge file put in, by the merge file's
// fingerprint, or the one the history names `name`; or every mod.
struct ModChoice {
  bool every;
  bool byMerge;
  Fingerprint merge;
  std::string name;  // as the merge file was given, or mrgtool mods lists it
};

// What a removal run ended with.
enum class RemovalEnd {
  REMOVED,     // the level is without the mod(s), on the disk; said
  NOTHING_IN,  // no mod to take out: the level is as it was; said
  BLOCKED,     // later mods changed bytes the mod wrote: said which; nothing changed
  FAILED,      // said why; nothing changed, or as the run's lines say
};

// Takes the chosen mod out of the level `levelName` (a name in the current
// folder, at most NAME_CHARS_MAX characters), saying what it does.
RemovalEnd RunRemoval(const char* levelName, const ModChoice& choice);
