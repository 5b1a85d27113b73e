// mrgtool apply: a pack of merge files, one or more for each level a mod
// changes, put in whole or not at all: every verdict before anything is
// touched, every level locked, backed up and marked, the pack's journal
// naming them all, every level rewritten, and one commit.
#pragma once

#include <string>
#include <vector>

enum class PackEnd {
  PUT_IN,      // every part is in now; said
  ALREADY_IN,  // every part was in already: nothing changed; said
  REFUSED,     // a part can't go in: each one that can't said why; nothing changed
  FAILED,      // said why; nothing changed, or as the run's lines say
};

// Puts the merge files `mergePaths` in, as the pack `packName`.
PackEnd RunPack(const std::vector<const char*>& mergePaths, const std::string& packName);
