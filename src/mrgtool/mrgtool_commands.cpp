#include "mrgtool_commands.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "merge_build.h"
#include "merge_checks.h"
#include "merge_edit.h"
#include "merge_make.h"
#include "merge_text.h"
#include "mrgtool_io.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"
#include "platform.h"

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
  fprintf(stderr, "\rmrgtool: %s [%s] %3d%%", bar->label, filled, percent);
  (void)fflush(stderr);
}

void ClearProgress(const ProgressBar& bar) {
  if (bar.shown < 0) return;
  fprintf(stderr, "\r%60s\r", "");
  (void)fflush(stderr);
}

uint64_t RangeStart(const PartAction& item) { return item.action.offset; }

uint64_t RangeEnd(const PartAction& item) {
  return uint64_t{item.action.offset} + item.action.removeLength;
}

void ReportWritten(const char* path, const std::vector<uint8_t>& bytes) {
  fputs(WrittenReport(path, bytes).c_str(), stdout);
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
  FileBytes original;
  FileBytes modified;
  if (!ReadWholeFile(originalPath, &original) || !ReadWholeFile(modifiedPath, &modified))
    return MRGTOOL_FAILED;

  ProgressBar bar{"comparing", std::chrono::steady_clock::now(), -1};
  std::vector<uint8_t> bytes;
  MakeOutcome outcome =
      MakeMergeFile(original.bytes, original.size, modified.bytes, modified.size, name,
                    StandardErrorIsTerminal() ? ShowProgress : nullptr, &bar, &bytes);
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
    fputs(text, stdout);
    return MRGTOOL_FAILED;
  }
  const char* levelPath = line.operands.size() > 1 ? line.operands[1] : input.levelName;
  FileBytes levelFile;
  if (!ReadWholeFile(levelPath, &levelFile)) return MRGTOOL_FAILED;
  if (CheckMergeInput(input, levelFile.size, text, sizeof text) != MergeVerdict::OK) {
    fputs(text, stdout);
    return MRGTOOL_FAILED;
  }
  LevelImage level{levelFile.bytes, levelFile.size};
  fputs(
      CheckReport(mergePath, levelPath, input.merge, input.firstActionAt, level).c_str(),
      stdout);
  return MRGTOOL_OK;
}

int RunInvert(const CommandLine& line) {
  const char* mergePath = line.operands[0];
  const char* originalPath = line.operands[1];
  MergeInput input;
  if (!LoadCheckedMergeInput(mergePath, &input)) return MRGTOOL_FAILED;
  FileBytes originalFile;
  if (!ReadWholeFile(originalPath, &originalFile)) return MRGTOOL_FAILED;
  char text[MERGE_TEXT_MAX];
  if (CheckMergeInput(input, originalFile.size, text, sizeof text) != MergeVerdict::OK) {
    text[strcspn(text, "\n")] = '\0';
    PrintError("%s does not fit %s: %s", mergePath, originalPath, text);
    return MRGTOOL_FAILED;
  }
  LevelImage original{originalFile.bytes, originalFile.size};
  std::vector<uint8_t> bytes;
  switch (InvertMerge(input.merge, original, &bytes)) {
    case EditOutcome::OK: break;
    case EditOutcome::LEVEL_TOO_LARGE:
      PrintError(
          "the merged level would be 4 GiB - 1 byte or larger; it can't be undone");
      return MRGTOOL_FAILED;
    default:
      PrintError("the undo merge file would be 4 GiB - 1 byte or larger");
      return MRGTOOL_FAILED;
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}

int RunCombine(const CommandLine& line) {
  size_t count = line.operands.size();
  std::vector<MergeInput> inputs(count);
  std::vector<CombinePart> parts;
  for (size_t i = 0; i < count; ++i) {
    if (!LoadCheckedMergeInput(line.operands[i], &inputs[i])) return MRGTOOL_FAILED;
    if (strcmp(inputs[i].levelName, inputs[0].levelName) != 0) {
      PrintError("%s is for the level %s, but %s is for %s; nothing written",
                 line.operands[i], inputs[i].levelName, line.operands[0],
                 inputs[0].levelName);
      return MRGTOOL_FAILED;
    }
    parts.push_back({inputs[i].merge, inputs[i].firstActionAt});
  }
  std::vector<uint8_t> bytes;
  CombineConflict conflict;
  switch (CombineMerges(parts, inputs[0].levelName, &bytes, &conflict)) {
    case EditOutcome::OK: break;
    case EditOutcome::CONFLICT: {
      const PartAction& x = conflict.first;
      const PartAction& y = conflict.second;
      if (conflict.sameOffset)
        PrintError(
            "%s and %s both insert at level offset %lu (records at %lu and %lu); "
            "their order is unclear; nothing written",
            line.operands[x.part], line.operands[y.part],
            static_cast<unsigned long>(x.action.offset),
            static_cast<unsigned long>(x.recordAt),
            static_cast<unsigned long>(y.recordAt));
      else
        PrintError("%s and %s change overlapping ranges: level offsets %" PRIu64
                   " to %" PRIu64 " (record at %lu) and %" PRIu64 " to %" PRIu64
                   " (record at %lu); nothing written",
                   line.operands[x.part], line.operands[y.part], RangeStart(x),
                   RangeEnd(x), static_cast<unsigned long>(x.recordAt), RangeStart(y),
                   RangeEnd(y), static_cast<unsigned long>(y.recordAt));
      return MRGTOOL_FAILED;
    }
    default:
      PrintError("the combined merge file would be 4 GiB - 1 byte or larger");
      return MRGTOOL_FAILED;
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}
