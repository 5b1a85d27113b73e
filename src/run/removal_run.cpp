#include "removal_run.h"

#include <cstring>
#include <vector>

#include "exit_status.h"
#include "journal/mod_stack.h"
#include "journal/run_names.h"
#include "level_change.h"
#include "level_history.h"
#include "load_whole_file.h"
#include "mark_file.h"
#include "platform.h"
#include "report.h"
#include "run_lock.h"
#include "words/mrgtool_words.h"

namespace {

void SayRemoval(RemovalSays message, const RemovalOf& of) {
  Report(FormatRemoval(message, of).c_str());
}

// The entries the choice takes out: the chosen mod, and every other part of
// its pack. Empty where there is none, with why in *said.
std::vector<size_t> Chosen(const History& history, const ModChoice& choice,
                           RemovalSays* said) {
  std::vector<size_t> chosen;
  for (size_t i = 0; i < history.entries.size(); ++i) {
    const ModHead& head = history.entries[i].head;
    if (choice.every || (choice.byMerge ? SameFingerprint(head.merge, choice.merge)
                                        : head.name == choice.name))
      chosen.push_back(i);
  }
  *said = history.entries.empty() ? RemovalSays::NOTHING_IN : RemovalSays::NOT_FOUND;
  if (choice.every || chosen.empty()) return chosen;
  // Parts of one pack come out together; any other mods of one name can't
  // be told apart.
  uint64_t pack = history.entries[chosen[0]].head.pack;
  for (size_t i : chosen)
    if (chosen.size() > 1 && (pack == 0 || history.entries[i].head.pack != pack)) {
      *said = RemovalSays::AMBIGUOUS;
      return {};
    }
  if (pack == 0) return chosen;
  chosen.clear();
  for (size_t i = 0; i < history.entries.size(); ++i)
    if (history.entries[i].head.pack == pack) chosen.push_back(i);
  return chosen;
}

// Where the new level first differs from the old one.
uint32_t FirstDifference(const LevelImage& old, const std::vector<uint8_t>& changed) {
  uint32_t length =
      old.size < changed.size() ? old.size : static_cast<uint32_t>(changed.size());
  uint32_t at = 0;
  while (at < length && old.buffer[at] == changed[at]) ++at;
  return at;
}

RemovalEnd RemoveFromLevel(const RunNames& names, const ModChoice& choice) {
  WholeFile levelFile;
  LoadFailure loaded = LoadWhole(names.level, 0, LoadWay::READ, &levelFile);
  switch (ActOnMark(names, &levelFile, &loaded)) {
    case MarkOutcome::GO_ON: break;
    case MarkOutcome::STOPPED:
    case MarkOutcome::FAILED: return RemovalEnd::FAILED;
  }
  if (!ReportLoad(names.level, loaded)) return RemovalEnd::FAILED;
  LevelImage level{levelFile.bytes, levelFile.size};
  Fingerprint print = FingerprintOf(level.buffer, level.size);
  LevelHistory history;
  ReadLevelHistory(names, print, &history);
  RemovalOf of{names.level, names.history, "", ""};
  switch (history.found) {
    case HistoryFound::NONE:
      SayRemoval(RemovalSays::NO_HISTORY, of);
      return RemovalEnd::FAILED;
    case HistoryFound::UNREADABLE:
      Say(VorandelSays::HISTORY_UNREADABLE, {names.history, {}, history.error});
      return RemovalEnd::FAILED;
    case HistoryFound::DAMAGED:
    case HistoryFound::LATER_VERSION:
      SayRemoval(RemovalSays::HISTORY_UNUSABLE, of);
      return RemovalEnd::FAILED;
    case HistoryFound::WHOLE: break;
  }
  // A level back at the original has no mod in it, as one whose history is
  // empty: nothing to do.
  if (history.fit == HistoryFit::BACK_AT_ORIGINAL) {
    SayRemoval(RemovalSays::BACK_AT_ORIGINAL, of);
    return RemovalEnd::NOTHING_IN;
  }
  if (history.fit != HistoryFit::ENDS_AT_LEVEL) {
    SayRemoval(RemovalSays::LEVEL_CHANGED, of);
    return RemovalEnd::FAILED;
  }
  RemovalSays why = RemovalSays::NOT_FOUND;
  std::vector<size_t> chosen = Chosen(history.history, choice, &why);
  std::string mods = ModList(history.history, chosen);
  of.mods = choice.byMerge || choice.every ? mods : Shown(choice.name);
  if (chosen.empty()) {
    SayRemoval(why, of);
    return why == RemovalSays::NOTHING_IN ? RemovalEnd::NOTHING_IN : RemovalEnd::FAILED;
  }
  Removal removal = RemoveMods(history.history, history.file.bytes, level, chosen);
  switch (removal.outcome) {
    case RemovalOutcome::REMOVED: break;
    case RemovalOutcome::BLOCKED: {
      std::string blockers = ModList(history.history, removal.blockers);
      of.blockers = blockers;
      of.count = removal.blockers.size();
      SayRemoval(RemovalSays::BLOCKED, of);
      return RemovalEnd::BLOCKED;
    }
    case RemovalOutcome::DAMAGED:
      SayRemoval(RemovalSays::PROOF_FAILED, of);
      return RemovalEnd::FAILED;
    case RemovalOutcome::TOO_LARGE:
      SayRemoval(RemovalSays::TOO_LARGE, of);
      return RemovalEnd::FAILED;
  }
  Bytes content = {removal.level.data(), removal.level.size()};
  LevelChange change{&names,           level, {},      WriteBytes, &content,
                     &removal.history, "",    &history};
  change.mark = {print, removal.levelPrint, FirstDifference(level, removal.level), "", 3};
  if (MakeChange(change) != STATUS_OK) return RemovalEnd::FAILED;
  SayRemoval(choice.every ? RemovalSays::EVERY_REMOVED : RemovalSays::REMOVED, of);
  return RemovalEnd::REMOVED;
}

}  // namespace

RemovalEnd RunRemoval(const char* levelName, const ModChoice& choice) {
  RunNames names;
  NameRun(levelName, kWindowsPaths, &names);
  RunLock lock;
  LockTaken taken = TakeLevelLock(names, &lock);
  if (taken == LockTaken::REFUSED) return RemovalEnd::FAILED;
  RemovalEnd end = RemoveFromLevel(names, choice);
  ReleaseLevelLock(taken, &lock);
  return end;
}
