// The history beside a level (journal/history.h) as a run finds it, and the
// history it leaves: every run that changes the level writes the whole new
// history beside it, and the commit puts it in place (level_change.h).
#pragma once

#include <cstdint>
#include <vector>

#include "journal/history.h"
#include "journal/run_names.h"
#include "platform.h"
#include "rewrite_level.h"
#include "whole_file.h"

// The history as found, with the bytes its entries point into.
struct LevelHistory : FoundHistory {
  WholeFile file;

  LevelHistory() = default;
  LevelHistory(const LevelHistory&) = delete;
  LevelHistory& operator=(const LevelHistory&) = delete;
  ~LevelHistory() { ReleaseWhole(&file); }
};

// Reads LEVEL.history, and how it stands to the level of fingerprint `level`.
void ReadLevelHistory(const RunNames& names, const Fingerprint& level,
                      LevelHistory* history);

// The history the level will have once the mod `head` is in: this one with
// the mod's entry added, where it goes on; else a new one that starts at the
// level before the mod, and then `setAside` is the first free name
// LEVEL.history.N to keep the old one under (empty where there is none).
// False where the history would be too large.
bool HistoryWithMod(const RunNames& names, const LevelHistory& history,
                    const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                    const LevelImage& before, std::vector<uint8_t>* out,
                    char setAside[JOURNAL_NAME_MAX]);

// The same history, written out a slice at a time through `staging`
// (MERGED_STAGING_SIZE bytes), never whole in memory: a mod's undo may be as
// large as its merge file. The caller sets `merge`, `firstActionAt`,
// `before` and `staging`; StartHistoryDraft the rest, as HistoryWithMod
// decides, with false where the history would be too large. Then
// WriteHistoryDraft is a ContentWriter for it.
struct HistoryDraft {
  const MergeImage* merge;
  uint32_t firstActionAt;
  LevelImage before;
  uint8_t* staging;
  Bytes kept;                   // what the new history keeps
  std::vector<uint8_t> start;   // a new history's header, where `kept` is
  std::vector<uint8_t> fields;  // the mod's entry up to its undo
};
bool StartHistoryDraft(const RunNames& names, const LevelHistory& history,
                       const ModHead& head, HistoryDraft* draft,
                       char setAside[JOURNAL_NAME_MAX]);
bool WriteHistoryDraft(HANDLE file, const void* content);

// Says why a history can't go on, where it can't, as it is set aside under
// `setAside`.
void SayHistorySetAside(const RunNames& names, const LevelHistory& history,
                        const char* setAside);
