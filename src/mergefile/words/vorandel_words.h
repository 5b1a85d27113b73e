// What Vorandel says, word for word, for every front end that speaks in its
// name: the programs print these, and the page shows them. Every line of
// Vorandel's is made here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "format/merge_checks.h"
#include "identity/level_verdict.h"
#include "journal/history.h"
#include "journal/history_verdict.h"
#include "journal/rewrite_mark.h"

// Vorandel's messages. Each ends in a line end, but COPY_FAILED, which has none.
enum class VorandelSays {
  USAGE,
  FILE_NOT_FOUND,  // name: the path
  SIZE_FAILED,     // error
  FILE_TOO_LARGE,  // name: the path
  READ_FAILED,     // error
  BACKING_UP,      // name: the level, other: the backup
  COPY_FAILED,     // name, other, error
  PROCESSING,      // name: the level
  DONE,
  WRITE_FAILED,       // name: the level, error; the level is unchanged
  NOR_RESTORED,       // name: the level, other: the backup, error, error2: the restore's
  MARK_WRITE_FAILED,  // name: the mark, or another file of the run's own, error
  ALREADY_MERGED,     // name: the level
  NOT_ITS_LEVEL,      // name: the level
  RECORD_DISAGREES,   // name: the level
  LEVEL_CHANGED,      // name: the level, other: the backup
  RUN_LOCKED,         // name: the level
  FOLDER_FAILED,      // name: the merge file's folder, error
  LOCK_FAILED,        // name: the lock, other: the level, error
  RESULT_TOO_LARGE,   // name: the level
  // name: the history, other: the name it is kept under, third: the level
  HISTORY_DAMAGED,
  HISTORY_OF_LATER_VERSION,
  HISTORY_AT_ORIGINAL,
  HISTORY_OUTRUN,
  HISTORY_UNREADABLE,    // name: the history, error
  PACK_ROLLED_BACK,      // name: the pack, other: its journal
  PACK_UNCHANGED,        // name: the pack
  PACK_IN_PIECES,        // name: the pack, other: its journal
  PACK_JOURNAL_KEPT,     // name: the journal, other: the pack, error
  PACK_JOURNAL_DAMAGED,  // name: the journal, error: 0 where it was read
  // name: the level, other: the mods, error: how many
  ALREADY_IN,
  MADE_BEFORE,
  OVER_MODS,
};

struct SaidOf {
  const char* name = nullptr;
  const char* other = nullptr;
  unsigned long error = 0;
  unsigned long error2 = 0;
  const char* third = nullptr;
};

// Room for any of Vorandel's messages but USAGE, with names of up to
// 4 * NAME_FIELD_MAX bytes each.
constexpr size_t SAYS_TEXT_MAX = 1536;

void FormatVorandel(VorandelSays message, const SaidOf& of, char* text, size_t size);

// The last line of Vorandel and mrgtool when they keep the console Explorer
// opened for them, before they wait for Enter.
constexpr char PRESS_ENTER[] = "Press Enter to close this window.\n";

// Vorandel's message for a fault, line end included, into `text`; room for
// FAULT_TEXT_MAX bytes is always enough. Empty for kind NONE.
constexpr size_t FAULT_TEXT_MAX = 96;
void FormatActionFault(const ActionFault& fault, char* text, size_t size);

// Room for any message of CheckLevelName, CheckMergeFile and CheckForShow.
constexpr size_t MERGE_TEXT_MAX = ESCAPED_NAME_MAX + 2 * FAULT_TEXT_MAX;

// JudgeLevelName's verdict, and Vorandel's message, line end included, into
// `text` (empty when the name and record are fine). For a name unsafe on
// Windows only, a second line says so.
MergeVerdict CheckLevelName(const MergeImage& merge, NameRules rules, char* text,
                            size_t size);

// JudgeMergeFile's verdict, with the message for the first fault as above.
MergeVerdict CheckMergeFile(const MergeImage& merge, uint32_t levelSize, NameRules rules,
                            char* text, size_t size);

// The line Vorandel says for a judgement that stops it before the backup:
// a level already merged, not its level, or a record the actions don't
// make. Empty for one it goes on with.
std::string JudgementLine(const Judgement& judgement, const char* levelName);

// A name as a message shows it: control characters as \xHH, so that none
// reaches a terminal, at any length.
std::string Shown(const std::string& name);

// Vorandel's message for a history kept under another name as a new one
// starts: damaged, of a later version, outrun by the level, or the level back
// at its original.
VorandelSays SetAsideSays(const FoundHistory& found);

// The mods `entries` of a history by their merge files' names, as a phrase:
// "a.mrg", "a.mrg and b.mrg", "a.mrg, b.mrg and c.mrg"; a pack's part with
// its pack's name.
std::string ModList(const History& history, const std::vector<size_t>& entries);

// The line Vorandel says for what the history adds to a verdict (empty for
// NOTHING); with `applies`, check's word that the merge file would apply
// once the mods that stand between are out.
std::string HistoryLine(const HistoryJudgement& judgement, const History& history,
                        const char* levelName, bool applies);

// What a run says about a mark it found (journal/rewrite_mark.h).
// Room for any of them.
constexpr size_t MARK_MESSAGE_MAX = 512 + 5 * MARK_NAME_MAX;

// The message, line end included.
void FormatMarkMessage(MarkMessage message, const RunNames& names, unsigned long error,
                       char* text, size_t size);
