#include "merge_make.h"

#include <cstring>

#include "apply_actions.h"
#include "merge_checks.h"
#include "merge_edit.h"

namespace {

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

}  // namespace

bool Reproduces(const MergeImage& merge, const uint8_t* original, uint32_t originalSize,
                const uint8_t* modified, uint32_t modifiedSize) {
  if (!HasValidLevelName(merge)) return false;
  uint32_t first = FirstActionAt(merge);
  LevelImage level{original, originalSize};
  if (CheckActions(merge, first, level.size).kind != FaultKind::NONE) return false;
  Comparison comparison{modified, modifiedSize, 0};
  return ApplyActions(level, merge, first, CompareSlice, &comparison) &&
         comparison.at == modifiedSize;
}

std::string DefaultLevelName(const char* path, bool windowsPaths) {
  const char* base = path;
  for (const char* c = path; *c != '\0'; ++c)
    if (*c == '/' || (windowsPaths && *c == '\\')) base = c + 1;
  return base;
}

std::string LevelNameFault(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name.size() > NAME_CHARS_MAX)
    return "it has more than " + std::to_string(NAME_CHARS_MAX) + " characters";
  if (HasControlByte(name.c_str()))
    return "it holds a control character, which a terminal would act on";
  if (!IsSafeLevelName(name.c_str(), true) || !IsSafeLevelName(name.c_str(), false))
    return "it leads out of the current folder or names a device (absolute path, drive, "
           "':', '..' or a Windows device name)";
  return "";
}

bool IsPlainAscii(const std::string& name) {
  for (char c : name)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

MakeOutcome MakeMergeFile(const uint8_t* original, uint32_t originalSize,
                          const uint8_t* modified, uint32_t modifiedSize,
                          const std::string& levelName, DiffProgress progress,
                          void* context, std::vector<uint8_t>* out) {
  std::vector<Edit> edits =
      DiffBytes(original, originalSize, modified, modifiedSize, progress, context);
  if (MergeFromEdits(levelName.c_str(), edits, modified, out) != EditOutcome::OK)
    return MakeOutcome::FILE_TOO_LARGE;
  MergeImage merge{out->data(), static_cast<uint32_t>(out->size())};
  if (!Reproduces(merge, original, originalSize, modified, modifiedSize))
    return MakeOutcome::NOT_REPRODUCED;
  return MakeOutcome::OK;
}
