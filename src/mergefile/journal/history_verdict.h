// What a level's history adds to the verdict on a merge file: whether its
// mod is in already, under later ones; whether it was made for a level the
// history passed through, before mods now in; and whether it changes bytes
// that installed mods wrote.
#pragma once

#include <cstddef>
#include <vector>

#include "format/merge_format.h"
#include "identity/fingerprint.h"
#include "identity/level_verdict.h"
#include "journal/history.h"

enum class HistoryVerdict {
  NOTHING,      // the history changes nothing of the verdict
  ALREADY_IN,   // the merge file's mod is in, under `mods` (maybe none): nothing to do
  MADE_BEFORE,  // made for the level before `mods` went in: refused
  OVER_MODS,    // it changes bytes that `mods` wrote: it goes in, said
};

struct HistoryJudgement {
  HistoryVerdict verdict;
  std::vector<size_t> mods;  // entries, oldest first
  // For MADE_BEFORE: it changes none of the bytes those mods wrote, and so
  // would apply once they are out.
  bool appliesOnceOut;
};

// For a merge file of fingerprint `mergePrint` whose name and record passed,
// judged against the level the history ends at (`judgement`, JudgeMerge's).
HistoryJudgement JudgeByHistory(const History& history, const Fingerprint& mergePrint,
                                const MergeImage& merge, const Judgement& judgement);
