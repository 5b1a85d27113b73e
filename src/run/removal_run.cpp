#include "removal_run.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "exit_status.h"
#include "journal/mod_stack.h"
#include "journal/pack_journal.h"
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

// One level a removal takes mods out of, with all its change needs held.
struct LevelRemoval {
  RunNames names{};
  RunLock lock{};
  LockTaken taken = LockTaken::UNLOCKED;
  WholeFile file;
  Fingerprint print{};
  LevelHistory history;
  std::vector<size_t> chosen;
  Removal removal{};
  Bytes content{};
  Bytes historyBytes{};

  LevelRemoval() = default;
  LevelRemoval(const LevelRemoval&) = delete;
  LevelRemoval& operator=(const LevelRemoval&) = delete;
  ~LevelRemoval() {
    ReleaseWhole(&file);
    ReleaseLevelLock(taken, &lock);
  }
};

// The level as it stands, a stopped run's mark acted on, and its history,
// which must end at it. `held` names the other levels whose locks the run
// holds, which a stopped pack rolled back there doesn't take again. False
// after saying why not, with *end.
bool LevelAtHand(LevelRemoval* at, RemovalEnd* end,
                 const std::vector<const char*>& held = {}) {
  const RunNames& names = at->names;
  *end = RemovalEnd::FAILED;
  LoadFailure loaded = LoadWhole(names.level, 0, LoadWay::READ, &at->file);
  switch (ActOnMark(names, &at->file, &loaded, held)) {
    case MarkOutcome::GO_ON: break;
    case MarkOutcome::STOPPED:
    case MarkOutcome::FAILED: return false;
  }
  if (!ReportLoad(names.level, loaded)) return false;
  at->print = FingerprintOf(at->file.bytes, at->file.size);
  ReadLevelHistory(names, at->print, &at->history);
  RemovalOf of{names.level, names.history, "", ""};
  switch (at->history.found) {
    case HistoryFound::NONE: SayRemoval(RemovalSays::NO_HISTORY, of); return false;
    case HistoryFound::UNREADABLE:
      Say(VorandelSays::HISTORY_UNREADABLE, {names.history, {}, at->history.error});
      return false;
    case HistoryFound::DAMAGED:
    case HistoryFound::LATER_VERSION:
      SayRemoval(RemovalSays::HISTORY_UNUSABLE, of);
      return false;
    case HistoryFound::WHOLE: break;
  }
  if (at->history.fit == HistoryFit::ENDS_AT_LEVEL) return true;
  bool back = at->history.fit == HistoryFit::BACK_AT_ORIGINAL;
  SayRemoval(back ? RemovalSays::BACK_AT_ORIGINAL : RemovalSays::LEVEL_CHANGED, of);
  if (back) *end = RemovalEnd::NOTHING_IN;
  return false;
}

// The level without its chosen entries, proven; false after saying why not.
bool Removed(LevelRemoval* at, const std::string& mods, RemovalEnd* end) {
  LevelImage level{at->file.bytes, at->file.size};
  at->removal =
      RemoveMods(at->history.history, at->history.file.bytes, level, at->chosen);
  RemovalOf of{at->names.level, at->names.history, mods, ""};
  *end = RemovalEnd::FAILED;
  switch (at->removal.outcome) {
    case RemovalOutcome::REMOVED: break;
    case RemovalOutcome::BLOCKED:
      of.blockers = ModList(at->history.history, at->removal.blockers);
      of.count = at->removal.blockers.size();
      SayRemoval(RemovalSays::BLOCKED, of);
      *end = RemovalEnd::BLOCKED;
      return false;
    case RemovalOutcome::DAMAGED: SayRemoval(RemovalSays::PROOF_FAILED, of); return false;
    case RemovalOutcome::TOO_LARGE: SayRemoval(RemovalSays::TOO_LARGE, of); return false;
  }
  at->content = {at->removal.level.data(), at->removal.level.size()};
  at->historyBytes = {at->removal.history.data(), at->removal.history.size()};
  return true;
}

LevelChange ChangeOf(LevelRemoval* at) {
  LevelImage level{at->file.bytes, at->file.size};
  LevelChange change{&at->names,        level,        {},
                     WriteBytes,        &at->content, WriteBytes,
                     &at->historyBytes, "",           &at->history};
  change.mark = {at->print, at->removal.levelPrint,
                 FirstDifference(level, at->removal.level), "", 3};
  return change;
}

// The other levels of the pack whose parts `first` holds, each locked, as
// they stand, with the pack's entries chosen: false after saying why not.
bool OtherLevels(LevelRemoval* first, std::deque<LevelRemoval>* others, RemovalEnd* end) {
  const ModHead& head = first->history.history.entries[first->chosen[0]].head;
  std::vector<std::string> names;
  for (const std::string& level : head.packLevels)
    names.push_back(NameBesideLevel(first->names.level, level, kWindowsPaths));
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return LockOrderKey(a.c_str(), kWindowsPaths) <
           LockOrderKey(b.c_str(), kWindowsPaths);
  });
  *end = RemovalEnd::FAILED;
  for (const std::string& name : names) {
    if (name.size() > NAME_CHARS_MAX) return false;
    others->emplace_back();
    LevelRemoval& at = others->back();
    NameRun(name.c_str(), kWindowsPaths, &at.names);
    at.taken = TakeLevelLock(at.names, &at.lock);
    if (at.taken == LockTaken::REFUSED) return false;
  }
  // A stopped pack found marked on one of them is rolled back under the
  // locks this run holds already, the first level's among them.
  std::vector<const char*> held{first->names.level};
  for (const LevelRemoval& at : *others) held.push_back(at.names.level);
  for (LevelRemoval& at : *others) {
    if (!LevelAtHand(&at, end, held)) return false;
    for (size_t i = 0; i < at.history.history.entries.size(); ++i)
      if (at.history.history.entries[i].head.pack == head.pack) at.chosen.push_back(i);
    if (at.chosen.empty()) {
      RemovalOf of{at.names.level, at.names.history, Shown(head.packName), ""};
      SayRemoval(RemovalSays::NOT_FOUND, of);
      return false;
    }
  }
  return true;
}

RemovalEnd RemoveFromLevel(LevelRemoval* at, const ModChoice& choice) {
  RemovalEnd end = RemovalEnd::FAILED;
  if (!LevelAtHand(at, &end)) return end;
  const History& history = at->history.history;
  ChoiceFound found = ChoiceFound::FOUND;
  at->chosen = ChosenMods(history, choice.byMerge ? &choice.merge : nullptr, choice.name,
                          choice.every, &found);
  RemovalSays why = SaysOfChoice(found);
  std::string mods = ModList(history, at->chosen);
  RemovalOf of{at->names.level, at->names.history,
               choice.byMerge || choice.every ? mods : Shown(choice.name), ""};
  if (at->chosen.empty()) {
    SayRemoval(why, of);
    return why == RemovalSays::NOTHING_IN ? RemovalEnd::NOTHING_IN : RemovalEnd::FAILED;
  }
  const ModHead& head = history.entries[at->chosen[0]].head;
  // A part of a pack takes the whole pack out, out of every level it changed.
  if (!choice.every && head.pack != 0 && !head.packLevels.empty()) {
    std::deque<LevelRemoval> others;
    if (!OtherLevels(at, &others, &end)) return end;
    if (!Removed(at, mods, &end)) return end;
    for (LevelRemoval& other : others)
      if (!Removed(&other, ModList(other.history.history, other.chosen), &end))
        return end;
    std::vector<LevelRemoval*> all{at};
    for (LevelRemoval& other : others) all.push_back(&other);
    std::sort(all.begin(), all.end(), [](const LevelRemoval* a, const LevelRemoval* b) {
      return LockOrderKey(a->names.level, kWindowsPaths) <
             LockOrderKey(b->names.level, kWindowsPaths);
    });
    std::string journal = std::string(all[0]->names.level) + PACK_SUFFIX;
    PackJournal content{head.packName, {}};
    std::vector<LevelChange> changes;
    for (LevelRemoval* level : all) {
      content.levels.push_back(
          NameFromLevel(journal.c_str(), level->names.level, kWindowsPaths));
      LevelChange change = ChangeOf(level);
      std::string markJournal =
          NameFromLevel(level->names.level, journal.c_str(), kWindowsPaths);
      snprintf(change.mark.pack, sizeof change.mark.pack, "%s", markJournal.c_str());
      changes.push_back(change);
    }
    if (ChangeLevels(changes, journal, content) != STATUS_OK) return RemovalEnd::FAILED;
    of.mods = Shown(head.packName);
    of.count = all.size();
    SayRemoval(RemovalSays::PACK_REMOVED, of);
    return RemovalEnd::REMOVED;
  }
  if (!Removed(at, mods, &end)) return end;
  if (MakeChange(ChangeOf(at)) != STATUS_OK) return RemovalEnd::FAILED;
  SayRemoval(choice.every ? RemovalSays::EVERY_REMOVED : RemovalSays::REMOVED, of);
  return RemovalEnd::REMOVED;
}

}  // namespace

RemovalEnd RunRemoval(const char* levelName, const ModChoice& choice) {
  LevelRemoval level;
  NameRun(levelName, kWindowsPaths, &level.names);
  level.taken = TakeLevelLock(level.names, &level.lock);
  if (level.taken == LockTaken::REFUSED) return RemovalEnd::FAILED;
  return RemoveFromLevel(&level, choice);
}
