// A level's history, LEVEL.history beside the level: the level before the
// first mod it records (the original), then each mod that went in since,
// oldest first, with its undo: the actions that turn the level after the mod
// back into the level before it, that is the bytes the mod removed, and
// where. Every level of the chain is known by its fingerprint, so the
// original can always be made again from the level at hand, each step
// proven, however many mods and backups came since.
//
// Header
//   position  width  field
//   0         4      marker          7F 'V' 'L' 'H'
//   4         1      version         1
//   5         1      headerLength    bytes in the header, the check included: 30
//   6         4      originalSize    the level before the first mod
//   10        16     originalHash    its XXH3-128, as in a merge file's record
//   26        4      check           low 32 bits of XXH3-64 of bytes 0 to 25
//
// Entry, back to back after the header, oldest first (positions in the entry)
//   0         4      entryLength     bytes in the entry, the check included
//   4         4      undoAt          where the undo's first action record starts
//   8         4      beforeSize      the level before the mod
//   12        16     beforeHash
//   28        4      afterSize       the level the mod made
//   32        16     afterHash
//   48        4      mergeSize       the merge file that made the change
//   52        16     mergeHash
//   68        8      time            when it went in: seconds since 1970-01-01 UTC
//   76        8      pack            0 for a mod put in alone, else its pack's id
//   84        2      nameLength      N
//   86        N      name            the merge file's name, as it was given
//   86 + N    2      packLength      P, 0 for a mod put in alone
//   88 + N    P      pack            the pack's name, then for each other level of
//                                    the pack a NUL and its name as seen from
//                                    this level's folder
//   undoAt    ...    undo            action records, as in a merge file, that
//                                    turn the level after into the level before
//   entryLength - 4  4  check        low 32 bits of XXH3-64 of bytes 0 to
//                                    entryLength - 5
// Integers are little-endian, hashes most significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/apply_actions.h"
#include "format/merge_format.h"
#include "format/merge_records.h"
#include "identity/fingerprint.h"

constexpr uint8_t HISTORY_MARKER[] = {0x7F, 'V', 'L', 'H'};
constexpr uint8_t HISTORY_VERSION = 1;
constexpr uint32_t HISTORY_VERSION_AT = 4;
constexpr uint32_t HISTORY_HEADER_LENGTH_AT = 5;
constexpr uint32_t HISTORY_ORIGINAL_SIZE_AT = 6;
constexpr uint32_t HISTORY_ORIGINAL_HASH_AT = 10;
constexpr uint32_t HISTORY_HEADER_CHECK_AT = 26;
constexpr uint32_t HISTORY_HEADER_SIZE = 30;

constexpr uint32_t ENTRY_LENGTH_AT = 0;
constexpr uint32_t ENTRY_UNDO_AT = 4;
constexpr uint32_t ENTRY_BEFORE_SIZE_AT = 8;
constexpr uint32_t ENTRY_BEFORE_HASH_AT = 12;
constexpr uint32_t ENTRY_AFTER_SIZE_AT = 28;
constexpr uint32_t ENTRY_AFTER_HASH_AT = 32;
constexpr uint32_t ENTRY_MERGE_SIZE_AT = 48;
constexpr uint32_t ENTRY_MERGE_HASH_AT = 52;
constexpr uint32_t ENTRY_TIME_AT = 68;
constexpr uint32_t ENTRY_PACK_AT = 76;
constexpr uint32_t ENTRY_NAME_LENGTH_AT = 84;
constexpr uint32_t ENTRY_NAME_AT = 86;
constexpr uint32_t ENTRY_CHECK_SIZE = 4;
// Names longer than this are cut when an entry is written.
constexpr size_t ENTRY_NAME_MAX = 1024;
// The pack field holds the pack's name and its levels': it may be longer.
constexpr size_t ENTRY_PACK_MAX = 0xFFFF;

// What is known of a mod in the level, as it went in.
struct ModHead {
  Fingerprint before;  // the level before it
  Fingerprint after;   // the level it made
  Fingerprint merge;   // its merge file
  int64_t time;
  uint64_t pack;  // 0: put in alone
  std::string name;
  std::string packName;
  // The pack's other levels, as named from this level's folder.
  std::vector<std::string> packLevels;
};

struct HistoryEntry {
  uint32_t at;  // the entry's position in the history
  ModHead head;
  // The entry's bytes up to its check, with the undo's first action record at
  // undoAt: the undo is applied as a merge file is (ApplyActions) to the
  // level after, and its actions have passed CheckActions against it.
  MergeImage undo;
  uint32_t undoAt;
};

struct History {
  Fingerprint original;
  std::vector<HistoryEntry> entries;
};

// WHOLE: every part as a run writes it, every check holding, the chain whole:
// the first entry's level before is the original, each next one's is the
// level after the one before it, and each undo's actions pass CheckActions
// against the level after and give a level of the size before. LATER_VERSION:
// a whole header of a version this one can't read. Else DAMAGED.
enum class HistoryRead { WHOLE, DAMAGED, LATER_VERSION };

// Reads the history in `bytes`, which must outlive *history: the entries'
// undos point into them. Any bytes are safe here.
HistoryRead ReadHistory(const uint8_t* bytes, size_t size, History* history);

// The level at the end of the history: the last entry's level after, or the
// original when there is no entry.
const Fingerprint& LevelAtEnd(const History& history);

// How the level at hand stands to its history.
enum class HistoryFit {
  ENDS_AT_LEVEL,     // the history ends at the level: mods go on from there
  BACK_AT_ORIGINAL,  // entries, yet the level is the original again: none is in
  LEVEL_CHANGED,     // the level changed behind the history
};
HistoryFit FitOfHistory(const History& history, const Fingerprint& level);

// How the history beside a level stands, as a run or the page finds it.
enum class HistoryFound {
  NONE,           // no history yet
  WHOLE,          // read, every check holding; see `fit`
  DAMAGED,        // not what a run writes: never trusted, kept under another name
  LATER_VERSION,  // of a later version: kept under another name
  UNREADABLE,     // there, but can't be read: `error`
};

struct FoundHistory {
  HistoryFound found = HistoryFound::NONE;
  unsigned long error = 0;  // the Windows error number, for UNREADABLE
  History history{};        // for WHOLE; its entries point into the bytes read
  HistoryFit fit = HistoryFit::ENDS_AT_LEVEL;  // for WHOLE, against the level

  // Whether mods go on from this history: it is whole and ends at the level.
  bool GoesOn() const {
    return found == HistoryFound::WHOLE && fit == HistoryFit::ENDS_AT_LEVEL;
  }
};

// The history in `bytes` as it stands to the level of fingerprint `level`;
// the bytes must outlive *found.
void FindHistory(const uint8_t* bytes, size_t size, const Fingerprint& level,
                 FoundHistory* found);

// Starts `out` with the header of a history whose original is `original`.
void StartHistory(const Fingerprint& original, std::vector<uint8_t>* out);

// Appends the entry of a mod whose merge file turned the level `before` into
// the level of head.after: its undo is made from the merge file's actions,
// which must have passed CheckActions against `before`. False where the
// history would reach 4 GiB - 1 byte, the largest file the tools load; `out`
// is then as it was.
// AppendModEntry in two steps, for a history written out as it is made, never
// whole in memory: the entry's fields up to its undo, for an entry after
// `before` bytes of history (false where the history would reach 4 GiB - 1
// byte); then the whole entry, fields, undo and check, given to `write` a
// slice at a time. False where `write` failed.
bool StartModEntry(const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                   uint64_t before, std::vector<uint8_t>* fields);
bool WriteModEntry(const std::vector<uint8_t>& fields, const MergeImage& merge,
                   uint32_t firstActionAt, const LevelImage& before, SliceWriter write,
                   void* context);

bool AppendModEntry(const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                    const LevelImage& before, std::vector<uint8_t>* out);

// Appends an entry whose undo's actions are `undo`, in order, their data
// where each action's data points. The same limit.
bool AppendEntry(const ModHead& head, const std::vector<MergeAction>& undo,
                 std::vector<uint8_t>* out);

// The history `history` without the entries from `first` on: its header and
// the entries before `first`, as they stand in `bytes`.
void KeepEntriesBefore(const History& history, const uint8_t* bytes, size_t first,
                       std::vector<uint8_t>* out);

// An id for a pack that went in at `time` with the merge files of these
// fingerprints: never 0.
uint64_t PackId(int64_t time, const std::vector<Fingerprint>& merges);
