#include "pack_run.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <memory>

#include "edits/merge_edit.h"
#include "exit_status.h"
#include "format/apply_actions.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "format/merge_records.h"
#include "identity/level_verdict.h"
#include "journal/history_verdict.h"
#include "journal/pack_journal.h"
#include "level_change.h"
#include "level_history.h"
#include "load_whole_file.h"
#include "mark_file.h"
#include "report.h"
#include "run_lock.h"
#include "words/mrgtool_words.h"
#include "words/vorandel_words.h"

namespace {

struct Part {
  const char* path;
  WholeFile file;
  MergeImage merge;
  Fingerprint print;
  size_t level;  // its level in the pack's levels
  bool already;  // its level holds it already
};

// One level of the pack, with all that its change needs held to the end.
struct PackLevel {
  std::string key;  // the lock order's
  RunNames names{};
  RunLock lock{};
  LockTaken taken = LockTaken::UNLOCKED;
  WholeFile file;
  LoadFailure loaded{};
  Fingerprint print{};
  LevelHistory history;
  std::vector<size_t> parts;    // the parts that go in, in the order given
  std::vector<uint8_t> merged;  // the new level
  std::vector<uint8_t> newHistory;
  std::vector<std::vector<uint8_t>> steps;  // each part as it applies in turn
};

// "PART: LINE", for a line of Vorandel's about one part.
void SayOfPart(const char* path, const std::string& line) {
  Report((Shown(path) + ": " + line).c_str());
}

// The backup merged, for a merge file without a record, as Vorandel reads it.
Judgement JudgePart(const PackLevel& level, const MergeImage& merge) {
  LevelImage image{level.file.bytes, level.file.size};
  WholeFile backup;
  uint32_t backupSize = 0;
  bool backedUp =
      SizeOfFile(level.names.backup, FILE_SHARE_READ, &backupSize).step ==
          LoadStep::LOADED &&
      BackupWanted(merge, image.size, backupSize) &&
      LoadWhole(level.names.backup, FILE_SHARE_READ, LoadWay::READ, &backup).step ==
          LoadStep::LOADED;
  LevelImage backupImage{backup.bytes, backup.size};
  Judgement judgement = JudgeMerge(merge, image, backedUp ? &backupImage : nullptr);
  ReleaseWhole(&backup);
  return judgement;
}

// Each part's verdict on its level, said where it can't go in: false then.
bool Judged(std::deque<PackLevel>& levels, std::vector<Part>& parts) {
  bool every = true;
  for (Part& part : parts) {
    PackLevel& level = levels[part.level];
    if (level.loaded.step != LoadStep::LOADED ||
        level.history.found == HistoryFound::UNREADABLE)
      continue;  // said for the level
    Judgement judgement = JudgePart(level, part.merge);
    HistoryJudgement byHistory{HistoryVerdict::NOTHING, {}, false};
    if (level.history.GoesOn())
      byHistory =
          JudgeByHistory(level.history.history, part.print, part.merge, judgement);
    std::string line;
    if (byHistory.verdict == HistoryVerdict::ALREADY_IN ||
        byHistory.verdict == HistoryVerdict::MADE_BEFORE)
      line = HistoryLine(byHistory, level.history.history, level.names.level, false);
    else
      line = JudgementLine(judgement, level.names.level);
    part.already = judgement.verdict == LevelVerdict::ALREADY_MERGED ||
                   byHistory.verdict == HistoryVerdict::ALREADY_IN;
    if (line.empty() && judgement.fault.kind != FaultKind::NONE) {
      char text[FAULT_TEXT_MAX];
      FormatActionFault(judgement.fault, text, sizeof text);
      line = text;
    }
    if (!line.empty()) SayOfPart(part.path, line);
    if (!line.empty() && !part.already) every = false;
    if (!part.already) level.parts.push_back(static_cast<size_t>(&part - parts.data()));
  }
  return every;
}

// Two parts of one level that change the same bytes can't both go in.
bool Joined(const std::deque<PackLevel>& levels, const std::vector<Part>& parts) {
  bool joined = true;
  for (const PackLevel& level : levels) {
    std::vector<CombinePart> combined;
    for (size_t index : level.parts)
      combined.push_back({parts[index].merge, FirstActionAt(parts[index].merge)});
    std::vector<uint8_t> bytes;
    CombineConflict conflict;
    if (combined.size() < 2 || CombineMerges(combined, level.names.level, &bytes,
                                             &conflict) != EditOutcome::CONFLICT)
      continue;
    // Named in the order given, the order they would go in.
    size_t one = std::min(conflict.first.part, conflict.second.part);
    size_t two = std::max(conflict.first.part, conflict.second.part);
    const char* first = parts[level.parts[one]].path;
    const char* second = parts[level.parts[two]].path;
    Report(FormatPack(PackSays::PARTS_OVERLAP,
                      {level.names.level, Shown(first), Shown(second)})
               .c_str());
    joined = false;
  }
  return joined;
}

// The level's new content and history, part after part, each part's entry
// on the level the ones before it made. False where either would be too large.
bool Build(PackLevel& level, const std::vector<Part>& parts, const ModHead& pack,
           char setAside[JOURNAL_NAME_MAX]) {
  std::vector<CombinePart> combined;
  for (size_t index : level.parts)
    combined.push_back({parts[index].merge, FirstActionAt(parts[index].merge)});
  std::vector<std::vector<MergeAction>> inTurn = PartsInTurn(combined);
  std::vector<uint8_t> before(level.file.bytes, level.file.bytes + level.file.size);
  for (size_t i = 0; i < level.parts.size(); ++i) {
    const Part& part = parts[level.parts[i]];
    // The part as it applies in its turn, as a merge file of its own.
    std::vector<uint8_t> step;
    StartMergeFile(level.names.level, &step);
    for (const MergeAction& action : inTurn[i]) AppendAction(action, &step);
    MergeImage turn{step.data(), static_cast<uint32_t>(step.size())};
    LevelImage image{before.data(), static_cast<uint32_t>(before.size())};
    uint32_t first = FirstActionAt(turn);
    MergeTotals totals = SumActions(turn, first);
    uint64_t size = uint64_t{image.size} - totals.removed + totals.inserted;
    if (size > LEVEL_MAX || step.size() > MERGE_FILE_MAX) return false;
    std::vector<uint8_t> after;
    after.reserve(static_cast<size_t>(size));
    ApplyActions(
        image, turn, first,
        [](void* out, const uint8_t* bytes, uint32_t count) {
          auto* to = static_cast<std::vector<uint8_t>*>(out);
          to->insert(to->end(), bytes, bytes + count);
          return true;
        },
        &after);
    ModHead head = pack;
    head.before = FingerprintOf(image.buffer, image.size);
    head.after = FingerprintOf(after.data(), static_cast<uint32_t>(after.size()));
    head.merge = part.print;
    head.name = part.path;
    bool appended = i == 0 ? HistoryWithMod(level.names, level.history, head, turn, first,
                                            image, &level.newHistory, setAside)
                           : AppendModEntry(head, turn, first, image, &level.newHistory);
    if (!appended) return false;
    level.steps.push_back(std::move(step));
    before = std::move(after);
  }
  level.merged = std::move(before);
  return true;
}

void ReleaseLocks(std::deque<PackLevel>& levels) {
  for (PackLevel& level : levels) ReleaseLevelLock(level.taken, &level.lock);
}

PackEnd PutIn(std::deque<PackLevel>& levels, std::vector<Part>& parts,
              const std::string& packName) {
  // Every level as it stands, a stopped run's mark acted on first; a stopped
  // pack rolled back there needs no lock this run holds already.
  std::vector<const char*> held;
  for (const PackLevel& level : levels)
    if (level.taken == LockTaken::HELD) held.push_back(level.names.level);
  for (PackLevel& level : levels) {
    level.loaded = LoadWhole(level.names.level, 0, LoadWay::READ, &level.file);
    if (ActOnMark(level.names, &level.file, &level.loaded, held) != MarkOutcome::GO_ON)
      return PackEnd::FAILED;
    if (level.loaded.step == LoadStep::LOADED) {
      level.print = FingerprintOf(level.file.bytes, level.file.size);
      ReadLevelHistory(level.names, level.print, &level.history);
    }
  }
  // Every part's verdict is said, not only the first refusal's.
  bool every = true;
  for (PackLevel& level : levels) {
    std::string line = level.loaded.step != LoadStep::LOADED
                           ? LoadLine(level.names.level, level.loaded)
                           : "";
    if (level.history.found == HistoryFound::UNREADABLE) {
      char text[SAYS_TEXT_MAX];
      FormatVorandel(VorandelSays::HISTORY_UNREADABLE,
                     {level.names.history, {}, level.history.error}, text, sizeof text);
      line = text;
    }
    if (line.empty()) continue;
    for (const Part& part : parts)
      if (&levels[part.level] == &level) SayOfPart(part.path, line);
    every = false;
  }
  bool judged = Judged(levels, parts);
  bool joined = judged && every && Joined(levels, parts);
  if (!every || !judged || !joined) {
    Report(FormatPack(PackSays::REFUSED, {"", Shown(packName), ""}).c_str());
    return PackEnd::REFUSED;
  }

  // In the order of the locks: the journal lies beside the first.
  std::vector<PackLevel*> changed;
  for (PackLevel& level : levels)
    if (!level.parts.empty()) changed.push_back(&level);
  std::sort(changed.begin(), changed.end(),
            [](const PackLevel* a, const PackLevel* b) { return a->key < b->key; });
  if (changed.empty()) {
    Report(FormatPack(PackSays::ALREADY_IN, {"", Shown(packName), ""}).c_str());
    return PackEnd::ALREADY_IN;
  }
  std::string journal = std::string(changed[0]->names.level) + PACK_SUFFIX;
  PackJournal content{packName, {}};
  std::vector<Fingerprint> prints;
  for (const Part& part : parts) prints.push_back(part.print);
  ModHead pack{{}, {}, {}, std::time(nullptr), 0, "", packName, {}};
  pack.pack = PackId(pack.time, prints);
  for (PackLevel* level : changed)
    content.levels.push_back(
        NameFromLevel(journal.c_str(), level->names.level, kWindowsPaths));

  std::vector<LevelChange> changes;
  std::vector<Bytes> contents(changed.size());
  std::vector<Bytes> histories(changed.size());
  for (size_t i = 0; i < changed.size(); ++i) {
    PackLevel& level = *changed[i];
    ModHead head = pack;
    for (PackLevel* other : changed)
      if (other != &level)
        head.packLevels.push_back(
            NameFromLevel(level.names.level, other->names.level, kWindowsPaths));
    LevelImage image{level.file.bytes, level.file.size};
    LevelChange change{&level.names, image,         {}, WriteBytes,    &contents[i],
                       WriteBytes,   &histories[i], "", &level.history};
    if (!Build(level, parts, head, change.setAside)) {
      Say(VorandelSays::RESULT_TOO_LARGE, {level.names.level});
      return PackEnd::FAILED;
    }
    contents[i] = {level.merged.data(), level.merged.size()};
    histories[i] = {level.newHistory.data(), level.newHistory.size()};
    uint32_t firstChange = image.size;
    for (const std::vector<uint8_t>& step : level.steps) {
      MergeImage turn{step.data(), static_cast<uint32_t>(step.size())};
      RecordCursor cursor = RecordsFrom(turn, FirstActionAt(turn));
      ActionRecord record;
      if (NextRecord(&cursor, &record) == RecordRead::RECORD)
        firstChange = std::min(firstChange, record.action.offset);
    }
    change.mark = {
        level.print,
        FingerprintOf(level.merged.data(), static_cast<uint32_t>(level.merged.size())),
        firstChange, "", 3};
    std::string markJournal =
        NameFromLevel(level.names.level, journal.c_str(), kWindowsPaths);
    snprintf(change.mark.pack, sizeof change.mark.pack, "%s", markJournal.c_str());
    changes.push_back(change);
  }
  if (ChangeLevels(changes, journal, content) != STATUS_OK) return PackEnd::FAILED;
  Report(
      FormatPack(PackSays::PUT_IN, {"", Shown(packName), std::to_string(changed.size())})
          .c_str());
  return PackEnd::PUT_IN;
}

}  // namespace

PackEnd RunPack(const std::vector<const char*>& mergePaths, const std::string& packName) {
  std::vector<Part> parts(mergePaths.size());
  std::deque<PackLevel> levels;
  bool loaded = true;
  for (size_t i = 0; i < mergePaths.size(); ++i) {
    Part& part = parts[i];
    part.path = mergePaths[i];
    LoadFailure failure = LoadWhole(part.path, 0, LoadWay::READ, &part.file);
    if (failure.step != LoadStep::LOADED) {
      SayOfPart(part.path, LoadLine(part.path, failure));
      loaded = false;
      continue;
    }
    part.merge = {part.file.bytes, part.file.size};
    char verdict[MERGE_TEXT_MAX];
    if (CheckLevelName(part.merge, RulesOf(kWindowsPaths), verdict, sizeof verdict) !=
        MergeVerdict::OK) {
      SayOfPart(part.path, verdict);
      loaded = false;
      continue;
    }
    part.print = FingerprintOf(part.merge.buffer, part.merge.size);
    const char* name = reinterpret_cast<const char*>(part.merge.buffer + LEVEL_NAME_AT);
    std::string key = LockOrderKey(name, kWindowsPaths);
    auto at = std::find_if(levels.begin(), levels.end(),
                           [&](const PackLevel& level) { return level.key == key; });
    if (at == levels.end()) {
      levels.emplace_back();
      at = levels.end() - 1;
      at->key = key;
      NameRun(name, kWindowsPaths, &at->names);
    }
    part.level = static_cast<size_t>(at - levels.begin());
  }
  PackEnd end = PackEnd::REFUSED;
  if (!loaded) {
    Report(FormatPack(PackSays::REFUSED, {"", Shown(packName), ""}).c_str());
  } else {
    // One fixed order of locks, so that two packs never wait on each other;
    // any lock held, and the pack goes no further.
    std::vector<size_t> order(levels.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return levels[a].key < levels[b].key; });
    end = PackEnd::PUT_IN;
    for (size_t i : order) {
      levels[i].taken = TakeLevelLock(levels[i].names, &levels[i].lock);
      if (levels[i].taken == LockTaken::REFUSED) {
        Report(FormatPack(PackSays::REFUSED, {"", Shown(packName), ""}).c_str());
        end = PackEnd::FAILED;
        break;
      }
    }
    if (end == PackEnd::PUT_IN) end = PutIn(levels, parts, packName);
    ReleaseLocks(levels);
  }
  for (PackLevel& level : levels) ReleaseWhole(&level.file);
  for (Part& part : parts) ReleaseWhole(&part.file);
  return end;
}
