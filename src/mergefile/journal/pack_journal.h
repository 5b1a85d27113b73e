// The journal of a pack: one file that names every level a pack of merge
// files changes at once, beside the first of them, from before any level of
// the pack is marked until all of them are rewritten. Its deletion is the
// pack's commit: a run that finds a level's mark naming a journal that is
// still there puts every level of the pack back; a mark naming one that is
// gone belongs to a pack that went in whole.
//
// The journal is a short text, for a player who finds it, then a line per
// level and a check:
//   level: NAME                   (each level, as named from this file's folder)
//   check: 8 LOWER-CASE HEX DIGITS  (low 32 bits of XXH3-64 of all before it)
// Anything else is damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr char PACK_SUFFIX[] = ".pack";

struct PackJournal {
  std::string name;                 // the pack's, for the player
  std::vector<std::string> levels;  // as named from the journal's folder
};

std::string FormatPackJournal(const PackJournal& journal);

// False for anything but what FormatPackJournal writes.
bool ReadPackJournal(const uint8_t* bytes, size_t size, PackJournal* journal);

// The level `to` as named from the folder of the level `from`, both named
// from one folder: "b.lvl", "maps/b.lvl", "../b.lvl". '/' separates.
std::string NameFromLevel(const char* from, const char* to, bool windowsPaths);

// The name `relative`, given as from the folder of the level `level`, as
// named from the folder that names `level`.
std::string NameBesideLevel(const char* level, const std::string& relative,
                            bool windowsPaths);

// The key a pack's levels are locked in the order of: one for every spelling
// of a level, so that two packs that share levels take their locks in one
// order and never wait on each other.
std::string LockOrderKey(const char* level, bool windowsPaths);
