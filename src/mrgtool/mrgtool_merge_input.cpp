#include "mrgtool_merge_input.h"

namespace {

void ReadHeader(MergeInput* input) {
  input->merge = {input->file.bytes, input->file.size};
  if (!HasValidLevelName(input->merge)) return;
  input->firstActionAt = FirstActionAt(input->merge);
  input->levelName = reinterpret_cast<const char*>(input->merge.buffer + LEVEL_NAME_AT);
}

}  // namespace

bool LoadMergeInput(const char* path, MergeInput* input) {
  input->levelName = nullptr;
  input->firstActionAt = 0;
  if (!ReadWholeFile(path, &input->file)) return false;
  ReadHeader(input);
  return true;
}

bool LoadMergeInputQuietly(const char* path, MergeInput* input) {
  input->levelName = nullptr;
  input->firstActionAt = 0;
  if (LoadWhole(path, FILE_SHARE_READ, LoadWay::MAP, &input->file).step !=
      LoadStep::LOADED)
    return false;
  ReadHeader(input);
  return true;
}

MergeVerdict CheckMergeInput(const MergeInput& input, uint32_t levelSize, char* text,
                             size_t size) {
  return CheckMergeFile(input.merge, levelSize, NameRules::BOTH, text, size);
}

void PrintFault(const char* path, const char* text) {
  Say(MrgtoolSays::FAULT, {path, text});
}

bool LoadCheckedMergeInput(const char* path, MergeInput* input) {
  if (!LoadMergeInput(path, input)) return false;
  char text[MERGE_TEXT_MAX];
  if (CheckMergeInput(*input, ANY_LEVEL_SIZE, text, sizeof text) == MergeVerdict::OK)
    return true;
  PrintFault(path, text);
  return false;
}
