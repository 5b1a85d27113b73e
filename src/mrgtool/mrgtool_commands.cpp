#include "mrgtool_commands.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "differ/merge_make.h"
#include "edits/merge_edit.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "identity/level_verdict.h"
#include "journal/history.h"
#include "journal/run_names.h"
#include "mrgtool_io.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"
#include "platform.h"
#include "system.h"
#include "words/mrgtool_words.h"

namespace {

// make shows a progress bar once it has run this long: a quicker job needs
// none.
constexpr std::chrono::milliseconds PROGRESS_AFTER{1000};

struct ProgressBar {
  const char* label;
  std::chrono::steady_clock::time_point started;
  int shown;  // the percentage on the bar, -1 before it is shown
};

void ShowProgress(void* context, uint64_t done, uint64_t total) {
  auto* bar = static_cast<ProgressBar*>(context);
  if (bar->shown < 0 && std::chrono::steady_clock::now() - bar->started < PROGRESS_AFTER)
    return;
  int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  if (percent == bar->shown) return;
  bar->shown = percent;
  constexpr int WIDTH = 30;
  char filled[WIDTH + 1];
  int marks = percent * WIDTH / 100;
  for (int i = 0; i < WIDTH; ++i) filled[i] = i < marks ? '#' : '.';
  filled[WIDTH] = '\0';
  Print(Stream::STANDARD_ERROR, "\rmrgtool: %s [%s] %3d%%", bar->label, filled, percent);
  (void)FlushText(Stream::STANDARD_ERROR);
}

void ClearProgress(const ProgressBar& bar) {
  if (bar.shown < 0) return;
  Print(Stream::STANDARD_ERROR, "\r%60s\r", "");
  (void)FlushText(Stream::STANDARD_ERROR);
}

void ReportWritten(const char* path, const std::vector<uint8_t>& bytes) {
  Print(Stream::STANDARD_OUTPUT, "%s", WrittenReport(path, bytes).c_str());
}

// The backup beside `levelPath`, mapped into `file` without a word when it
// can be read; null when it can't. Only a merge file without a record needs
// it, to tell a level already merged.
const LevelImage* BackupOf(const char* levelPath, FileBytes* file, LevelImage* image) {
  std::string path = std::string(levelPath) + BACKUP_SUFFIX;
  if (LoadWhole(path.c_str(), FILE_SHARE_READ, LoadWay::MAP, file).step !=
      LoadStep::LOADED)
    return nullptr;
  *image = {file->bytes, file->size};
  return image;
}

// JudgeMerge's verdict on a merge file and `levelPath`, with the level's
// backup beside it read as check reads it: true when the actions apply and
// make what any record says; else false after saying why not.
bool JudgedApplies(const char* mergePath, const MergeImage& merge, const char* levelPath,
                   const FileBytes& levelFile, Judgement* judgement) {
  FileBytes backupFile;
  LevelImage backup;
  LevelImage level{levelFile.bytes, levelFile.size};
  *judgement = JudgeMerge(merge, level, BackupOf(levelPath, &backupFile, &backup));
  LevelRecord record;
  bool recorded = FindLevelRecord(merge, &record) == RecordFound::RECORD;
  switch (judgement->verdict) {
    case LevelVerdict::APPLIES: break;
    case LevelVerdict::ALREADY_MERGED:
      // A merge file that changes nothing makes the level it was made for.
      Say(recorded && SameFingerprint(record.source, record.result)
              ? MrgtoolSays::CHANGES_NOTHING
              : MrgtoolSays::GIVEN_ITS_RESULT,
          {levelPath, mergePath});
      return false;
    case LevelVerdict::NOT_ITS_LEVEL:
      Say(MrgtoolSays::NOT_MADE_FOR, {levelPath, mergePath});
      return false;
  }
  if (judgement->fault.kind != FaultKind::NONE) {
    PrintError("%s", NotFitLine(mergePath, levelPath, judgement->fault).c_str());
    return false;
  }
  if (judgement->tooLarge) {
    Say(MrgtoolSays::RESULT_TOO_LARGE, {levelPath, mergePath});
    return false;
  }
  if (!judgement->recordHolds) {
    Say(MrgtoolSays::RECORD_DISAGREES, {mergePath});
    return false;
  }
  return true;
}

}  // namespace

int RunMake(const CommandLine& line) {
  const char* originalPath = line.operands[0];
  const char* modifiedPath = line.operands[1];
  std::string name =
      line.name != nullptr ? line.name : DefaultLevelName(originalPath, kWindowsPaths);
  std::string fault = LevelNameFault(name);
  if (!fault.empty()) {
    Say(line.name != nullptr ? MrgtoolSays::NAME_REFUSED : MrgtoolSays::NAME_REFUSED_GIVE,
        {name.c_str(), fault.c_str()});
    return line.name != nullptr ? MRGTOOL_USAGE : MRGTOOL_FAILED;
  }
  if (!IsPlainAscii(name)) Say(MrgtoolSays::NAME_NOT_ASCII, {name.c_str()});
  if (!HasRoomForRecord(name.c_str()))
    Say(MrgtoolSays::NO_ROOM_FOR_RECORD, {name.c_str()});
  FileBytes original;
  FileBytes modified;
  if (!ReadWholeFile(originalPath, &original) || !ReadWholeFile(modifiedPath, &modified))
    return MRGTOOL_FAILED;
  if (!line.allowEmpty && original.size == modified.size &&
      (original.size == 0 ||
       memcmp(original.bytes, modified.bytes, original.size) == 0)) {
    Say(MrgtoolSays::IDENTICAL, {originalPath, modifiedPath});
    return MRGTOOL_IDENTICAL;
  }

  ProgressBar bar{"comparing", std::chrono::steady_clock::now(), -1};
  std::vector<uint8_t> bytes;
  MakeOutcome outcome = MakeMergeFile(
      original.bytes, original.size, modified.bytes, modified.size, name,
      IsConsole(Stream::STANDARD_ERROR) ? ShowProgress : nullptr, &bar, &bytes);
  ClearProgress(bar);
  if (outcome == MakeOutcome::FILE_TOO_LARGE) {
    Say(MrgtoolSays::MERGE_TOO_LARGE, {});
    return MRGTOOL_FAILED;
  }
  if (outcome == MakeOutcome::NOT_REPRODUCED) {
    Say(MrgtoolSays::NOT_REPRODUCED, {originalPath, modifiedPath});
    return MRGTOOL_FAILED;
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}

int RunCheck(const CommandLine& line) {
  const char* mergePath = line.operands[0];
  MergeInput input;
  if (!LoadMergeInput(mergePath, &input)) return MRGTOOL_FAILED;
  char text[MERGE_TEXT_MAX];
  // The name is judged before the level is read, as Vorandel does.
  if (CheckLevelName(input.merge, NameRules::BOTH, text, sizeof text) !=
      MergeVerdict::OK) {
    Print(Stream::STANDARD_OUTPUT, "%s", text);
    return MRGTOOL_FAILED;
  }
  const char* levelPath = line.operands.size() > 1 ? line.operands[1] : input.levelName;
  FileBytes levelFile;
  if (!ReadWholeFile(levelPath, &levelFile)) return MRGTOOL_FAILED;
  FileBytes backupFile;
  LevelImage backup;
  LevelImage level{levelFile.bytes, levelFile.size};
  // The history beside the level tells of the mods in it.
  FileBytes historyFile;
  History history{};
  bool whole =
      LoadWhole((std::string(levelPath) + HISTORY_SUFFIX).c_str(), FILE_SHARE_READ,
                LoadWay::MAP, &historyFile)
              .step == LoadStep::LOADED &&
      ReadHistory(historyFile.bytes, historyFile.size, &history) == HistoryRead::WHOLE;
  std::string said;
  CheckOutcome outcome = CheckAgainstLevel(input.merge, mergePath, level, levelPath,
                                           BackupOf(levelPath, &backupFile, &backup),
                                           whole ? &history : nullptr, &said);
  Print(Stream::STANDARD_OUTPUT, "%s", said.c_str());
  switch (outcome) {
    case CheckOutcome::APPLIES: return MRGTOOL_OK;
    case CheckOutcome::ALREADY_MERGED: return MRGTOOL_ALREADY_MERGED;
    case CheckOutcome::NOT_ITS_LEVEL: return MRGTOOL_NOT_ITS_LEVEL;
    case CheckOutcome::FAULT: break;
  }
  return MRGTOOL_FAILED;
}

int RunInvert(const CommandLine& line) {
  const char* mergePath = line.operands[0];
  const char* originalPath = line.operands[1];
  MergeInput input;
  if (!LoadCheckedMergeInput(mergePath, &input)) return MRGTOOL_FAILED;
  FileBytes originalFile;
  if (!ReadWholeFile(originalPath, &originalFile)) return MRGTOOL_FAILED;
  Judgement judgement;
  if (!JudgedApplies(mergePath, input.merge, originalPath, originalFile, &judgement))
    return MRGTOOL_FAILED;
  LevelRecord record;
  if (FindLevelRecord(input.merge, &record) != RecordFound::RECORD)
    Say(MrgtoolSays::NO_RECORD_TO_CHECK, {mergePath, originalPath});
  // The undo turns what the merge file makes back into the original.
  LevelRecord undo{judgement.merged, judgement.level};
  LevelImage original{originalFile.bytes, originalFile.size};
  std::vector<uint8_t> bytes;
  switch (InvertMerge(input.merge, original, &bytes,
                      HasRoomForRecord(input.levelName) ? &undo : nullptr)) {
    case EditOutcome::OK: break;
    case EditOutcome::LEVEL_TOO_LARGE:
      Say(MrgtoolSays::RESULT_TOO_LARGE, {originalPath, mergePath});
      return MRGTOOL_FAILED;
    default: Say(MrgtoolSays::UNDO_TOO_LARGE, {}); return MRGTOOL_FAILED;
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}

int RunStamp(const CommandLine& line) {
  const char* mergePath = line.operands[0];
  const char* levelPath = line.operands[1];
  MergeInput input;
  if (!LoadCheckedMergeInput(mergePath, &input)) return MRGTOOL_FAILED;
  if (!HasRoomForRecord(input.levelName)) {
    Say(MrgtoolSays::NO_ROOM_FOR_RECORD_TO_STAMP, {input.levelName, mergePath});
    return MRGTOOL_FAILED;
  }
  FileBytes levelFile;
  if (!ReadWholeFile(levelPath, &levelFile)) return MRGTOOL_FAILED;
  Judgement judgement;
  if (!JudgedApplies(mergePath, input.merge, levelPath, levelFile, &judgement))
    return MRGTOOL_FAILED;
  std::vector<uint8_t> bytes;
  if (StampMerge(input.merge, {judgement.level, judgement.merged}, &bytes) !=
      EditOutcome::OK) {
    Say(MrgtoolSays::MERGE_TOO_LARGE, {});
    return MRGTOOL_FAILED;
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}

// combine's record, from LEVEL, the level every part was made for, each
// judged against it as Vorandel would: its fingerprint, and what the
// combined actions make of it, applied. False after saying why not.
bool RecordOfCombined(const CommandLine& line, const std::vector<MergeInput>& inputs,
                      const std::vector<uint8_t>& combined, LevelRecord* record) {
  FileBytes levelFile;
  if (!ReadWholeFile(line.level, &levelFile)) return false;
  Judgement judgement;
  for (size_t i = 0; i < inputs.size(); ++i)
    if (!JudgedApplies(line.operands[i], inputs[i].merge, line.level, levelFile,
                       &judgement))
      return false;
  MergeImage merge{combined.data(), static_cast<uint32_t>(combined.size())};
  if (!JudgedApplies(line.output, merge, line.level, levelFile, &judgement)) return false;
  *record = {judgement.level, judgement.merged};
  return true;
}

int RunCombine(const CommandLine& line) {
  size_t count = line.operands.size();
  std::vector<MergeInput> inputs(count);
  std::vector<CombinePart> parts;
  std::vector<LevelRecord> records(count);
  std::vector<RecordFound> found(count);
  for (size_t i = 0; i < count; ++i) {
    if (!LoadCheckedMergeInput(line.operands[i], &inputs[i])) return MRGTOOL_FAILED;
    if (strcmp(inputs[i].levelName, inputs[0].levelName) != 0) {
      PrintError("%s is for the level %s, but %s is for %s; nothing written",
                 line.operands[i], inputs[i].levelName, line.operands[0],
                 inputs[0].levelName);
      return MRGTOOL_FAILED;
    }
    found[i] = FindLevelRecord(inputs[i].merge, &records[i]);
    for (size_t j = 0; j < i; ++j)
      if (found[i] == RecordFound::RECORD && found[j] == RecordFound::RECORD &&
          !SameFingerprint(records[i].source, records[j].source)) {
        Say(MrgtoolSays::OTHER_VERSIONS, {line.operands[j], line.operands[i]});
        return MRGTOOL_FAILED;
      }
    parts.push_back({inputs[i].merge, inputs[i].firstActionAt});
  }
  const char* name = inputs[0].levelName;
  std::vector<uint8_t> combined;
  CombineConflict conflict;
  switch (CombineMerges(parts, name, &combined, &conflict)) {
    case EditOutcome::OK: break;
    case EditOutcome::CONFLICT:
      PrintError("%s", ConflictLine(conflict, line.operands[conflict.first.part],
                                    line.operands[conflict.second.part])
                           .c_str());
      return MRGTOOL_FAILED;
    default: Say(MrgtoolSays::COMBINED_TOO_LARGE, {}); return MRGTOOL_FAILED;
  }

  // What several merge files make together is known only from the level
  // itself: a file without the record it could have is written only on
  // request.
  LevelRecord record{};
  bool recorded = false;
  if (line.level != nullptr) {
    if (!RecordOfCombined(line, inputs, combined, &record)) return MRGTOOL_FAILED;
    recorded = true;
  } else if (count == 1 && found[0] == RecordFound::RECORD) {
    record = records[0];
    recorded = !line.noRecord;
  } else if (!line.noRecord && HasRoomForRecord(name)) {
    size_t bare = 0;
    while (bare < count && found[bare] == RecordFound::RECORD) ++bare;
    if (bare == count)
      Say(MrgtoolSays::COMBINED_WITHOUT_RECORD, {line.output});
    else
      Say(MrgtoolSays::PART_WITHOUT_RECORD, {line.output, line.operands[bare]});
    return MRGTOOL_FAILED;
  }
  if (!HasRoomForRecord(name)) {
    if (!line.noRecord) Say(MrgtoolSays::NO_ROOM_FOR_RECORD, {name});
    recorded = false;
  }
  std::vector<uint8_t> bytes;
  if (recorded) {
    MergeImage merge{combined.data(), static_cast<uint32_t>(combined.size())};
    if (StampMerge(merge, record, &bytes) != EditOutcome::OK) {
      Say(MrgtoolSays::COMBINED_TOO_LARGE, {});
      return MRGTOOL_FAILED;
    }
  } else {
    bytes.swap(combined);
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}
