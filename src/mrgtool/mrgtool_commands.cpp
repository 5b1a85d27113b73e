#include "mrgtool_commands.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "apply_actions.h"
#include "diff.h"
#include "merge_build.h"
#include "merge_checks.h"
#include "merge_edit.h"
#include "mrgtool_io.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"
#include "platform.h"

namespace {

// Below this many bytes in all, make is quick enough to need no progress bar.
constexpr uint64_t PROGRESS_FROM = uint64_t{32} << 20;

std::string BaseName(const char* path) {
  const char* base = path;
  for (const char* c = path; *c != '\0'; ++c)
    if (*c == '/' || (kWindowsPaths && *c == '\\')) base = c + 1;
  return base;
}

// The merge tool's rules for a level name, on every system: a merge file
// made here may be applied on Windows or elsewhere.
const char* LevelNameFault(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name.size() > NAME_CHARS_MAX) return "it has more than 123 characters";
  if (!IsSafeLevelName(name.c_str(), true) || !IsSafeLevelName(name.c_str(), false))
    return "it leads out of the current folder (absolute path, drive or '..')";
  return nullptr;
}

struct Comparison {
  const uint8_t* expected;
  uint32_t size;
  uint32_t at;
};

bool CompareSlice(void* context, const uint8_t* bytes, uint32_t count) {
  auto* comparison = static_cast<Comparison*>(context);
  if (count > comparison->size - comparison->at ||
      memcmp(comparison->expected + comparison->at, bytes, count) != 0)
    return false;
  comparison->at += count;
  return true;
}

bool CountSlice(void* context, const uint8_t*, uint32_t count) {
  *static_cast<uint64_t*>(context) += count;
  return true;
}

// True when `merge` turns `original` into `modified` exactly.
bool Reproduces(const MergeImage& merge, const FileBytes& original,
                const FileBytes& modified) {
  uint32_t first = FirstActionAt(merge);
  LevelImage level{const_cast<uint8_t*>(original.bytes), original.size};
  if (CheckActions(merge, first, level.size).kind != FaultKind::NONE) return false;
  Comparison comparison{modified.bytes, modified.size, 0};
  return ApplyActions(level, merge, first, CompareSlice, &comparison) &&
         comparison.at == modified.size;
}

struct ProgressBar {
  const char* label;
  int shown;
};

void ShowProgress(void* context, uint64_t done, uint64_t total) {
  auto* bar = static_cast<ProgressBar*>(context);
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

void ClearProgress() {
  fprintf(stderr, "\r%60s\r", "");
  (void)fflush(stderr);
}

uint64_t RangeStart(const PartAction& item) { return item.action.offset; }

uint64_t RangeEnd(const PartAction& item) {
  return uint64_t{item.action.offset} + item.action.removeLength;
}

void ReportWritten(const char* path, const std::vector<uint8_t>& bytes) {
  MergeImage merge{const_cast<uint8_t*>(bytes.data()),
                   static_cast<uint32_t>(bytes.size())};
  MergeTotals totals = SumActions(merge, FirstActionAt(merge));
  printf("Wrote %s: %" PRIu64 " action%s, %" PRIu64 " bytes, for the level %s.\n", path,
         totals.actions, totals.actions == 1 ? "" : "s", uint64_t{bytes.size()},
         reinterpret_cast<const char*>(bytes.data() + LEVEL_NAME_AT));
}

}  // namespace

int RunMake(const CommandLine& line) {
  const char* originalPath = line.operands[0];
  const char* modifiedPath = line.operands[1];
  std::string name = line.name != nullptr ? line.name : BaseName(originalPath);
  if (const char* fault = LevelNameFault(name)) {
    PrintError("can't use the level name '%s': %s%s", name.c_str(), fault,
               line.name != nullptr ? "" : "; give one with --name");
    return line.name != nullptr ? MRGTOOL_USAGE : MRGTOOL_FAILED;
  }
  FileBytes original;
  FileBytes modified;
  if (!ReadWholeFile(originalPath, &original) || !ReadWholeFile(modifiedPath, &modified))
    return MRGTOOL_FAILED;

  ProgressBar bar{"comparing", -1};
  bool showProgress = uint64_t{original.size} + modified.size >= PROGRESS_FROM &&
                      StandardErrorIsTerminal();
  std::vector<Edit> edits =
      DiffBytes(original.bytes, original.size, modified.bytes, modified.size,
                showProgress ? ShowProgress : nullptr, &bar);
  if (showProgress) ClearProgress();

  std::vector<uint8_t> bytes;
  if (MergeFromEdits(name.c_str(), edits, modified.bytes, &bytes) != EditOutcome::OK) {
    PrintError(
        "the merge file would be too large for the merge tool (4 GiB - 1 byte or more)");
    return MRGTOOL_FAILED;
  }
  MergeImage merge{bytes.data(), static_cast<uint32_t>(bytes.size())};
  if (!Reproduces(merge, original, modified)) {
    PrintError(
        "internal error: the merge file made does not turn %s into %s; nothing written",
        originalPath, modifiedPath);
    return MRGTOOL_FAILED;
  }
  if (!WriteFileReplacing(line.output, bytes.data(), bytes.size())) return MRGTOOL_FAILED;
  ReportWritten(line.output, bytes);
  return MRGTOOL_OK;
}

int RunCheck(const CommandLine& line) {
  const char* mergePath = line.operands[0];
  MergeInput input;
  InputVerdict verdict = LoadMergeInput(mergePath, &input);
  if (verdict == InputVerdict::UNREADABLE) return MRGTOOL_FAILED;
  char text[NAME_FIELD_MAX + FAULT_TEXT_MAX];
  // The name is judged before the level is read, as the merge tool does.
  if (verdict != InputVerdict::OK) {
    CheckMergeInput(input, ANY_LEVEL_SIZE, text, sizeof text);
    fputs(text, stdout);
    return MRGTOOL_FAILED;
  }
  const char* levelPath = line.operands.size() > 1 ? line.operands[1] : input.levelName;
  FileBytes levelFile;
  if (!ReadWholeFile(levelPath, &levelFile)) return MRGTOOL_FAILED;
  if (CheckMergeInput(input, levelFile.size, text, sizeof text) != InputVerdict::OK) {
    fputs(text, stdout);
    return MRGTOOL_FAILED;
  }
  LevelImage level{const_cast<uint8_t*>(levelFile.bytes), levelFile.size};
  uint64_t mergedSize = 0;
  ApplyActions(level, input.merge, input.firstActionAt, CountSlice, &mergedSize);
  MergeTotals totals = SumActions(input.merge, input.firstActionAt);
  int64_t change = static_cast<int64_t>(mergedSize) - int64_t{level.size};
  printf("%s applies to %s: %" PRIu64 " action%s, nothing wrong found.\n", mergePath,
         levelPath, totals.actions, totals.actions == 1 ? "" : "s");
  printf("The level would have %" PRIu64 " bytes (now %lu, %+" PRId64 ").\n", mergedSize,
         static_cast<unsigned long>(level.size), change);
  return MRGTOOL_OK;
}

int RunInvert(const CommandLine& line) {
  const char* mergePath = line.operands[0];
  const char* originalPath = line.operands[1];
  MergeInput input;
  if (!LoadCheckedMergeInput(mergePath, &input)) return MRGTOOL_FAILED;
  FileBytes originalFile;
  if (!ReadWholeFile(originalPath, &originalFile)) return MRGTOOL_FAILED;
  char text[NAME_FIELD_MAX + FAULT_TEXT_MAX];
  if (CheckMergeInput(input, originalFile.size, text, sizeof text) != InputVerdict::OK) {
    text[strcspn(text, "\n")] = '\0';
    PrintError("%s does not fit %s: %s", mergePath, originalPath, text);
    return MRGTOOL_FAILED;
  }
  LevelImage original{const_cast<uint8_t*>(originalFile.bytes), originalFile.size};
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
