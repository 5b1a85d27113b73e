// Whether a merge file is for the level at hand, decided before anything is
// touched: a mod run twice, or on another version of its level, must change
// nothing and lose nothing.
#pragma once

#include <cstdint>

#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "identity/fingerprint.h"
#include "identity/level_record.h"

// The largest level the tools load: sizes are 32-bit, and 0xFFFFFFFF stands
// for no size at all.
constexpr uint64_t LEVEL_MAX = 0xFFFFFFFEu;

enum class LevelVerdict {
  APPLIES,         // merge it
  ALREADY_MERGED,  // the level is what the merge file makes: nothing to do
  NOT_ITS_LEVEL,   // neither what it was made for nor what it makes
};

// The verdict on the level name by `rules`, then on the record beside it.
MergeVerdict JudgeLevelName(const MergeImage& merge, NameRules rules);

// Vorandel's checks in its order: the level name, then every action against a
// level of `levelSize` bytes; the first faulty action in *fault.
MergeVerdict JudgeMergeFile(const MergeImage& merge, uint32_t levelSize, NameRules rules,
                            ActionFault* fault);

// By a merge file's record and the level's fingerprint alone.
LevelVerdict JudgeByRecord(const LevelRecord& record, const Fingerprint& level);

// For a merge file without a record: whether the backup, `backupSize` bytes,
// could be the level that the merge file turned into one of `levelSize`
// bytes. Sizes only, so that the usual case reads nothing more.
bool BackupMayGiveLevel(const MergeImage& merge, uint32_t firstActionAt,
                        uint32_t backupSize, uint32_t levelSize);

// Whether a run should read the backup, of `backupSize` bytes, to judge a
// level of `levelSize`: only for a merge file without a record, and only
// where the sizes allow it. The name must have passed CheckLevelName.
bool BackupWanted(const MergeImage& merge, uint32_t levelSize, uint32_t backupSize);

// True when `merge` passes the checks against `from` and turns it into `to`
// exactly. make's proof, and the test of a level already merged.
bool Reproduces(const MergeImage& merge, const uint8_t* from, uint32_t fromSize,
                const uint8_t* to, uint32_t toSize);

// The verdict on a merge file whose level name is valid and whose record, if
// any, is whole: by its record, else by the backup (null when there is none)
// merged. `levelPrint` is the level's fingerprint.
LevelVerdict JudgeLevel(const MergeImage& merge, const LevelImage& level,
                        const Fingerprint& levelPrint, const LevelImage* backup);

// Whether the level the actions make of a level of `levelSize` bytes would be
// larger than LEVEL_MAX, by the sizes alone, where no record could find the
// level merged already: a front end need not read a level so large to refuse
// it. The name must have passed CheckLevelName.
bool TooLargeBySize(const MergeImage& merge, uint32_t levelSize);

// All that is known of a merge file and a level before anything is touched.
struct Judgement {
  LevelVerdict verdict;
  // The rest only for APPLIES: the first faulty action (kind NONE when every
  // action passes); then whether the actions make what the record, if any,
  // says they make, and the fingerprint of what they make.
  ActionFault fault;
  // Then whether the level they make would be larger than LEVEL_MAX, which no
  // tool could read back: nothing more is worked out.
  bool tooLarge;
  bool recordHolds;
  Fingerprint level;
  Fingerprint merged;
};

// The verdict, then the checks of every action against the level, then the
// proof that they make the record's result: for Vorandel, mrgtool check and
// the page alike. The merge file's name and record must have passed
// CheckLevelName.
Judgement JudgeMerge(const MergeImage& merge, const LevelImage& level,
                     const LevelImage* backup);
