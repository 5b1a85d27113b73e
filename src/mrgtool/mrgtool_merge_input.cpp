#include "mrgtool_merge_input.h"

#include <cstring>

bool LoadMergeInput(const char* path, MergeInput* input) {
  input->levelName = nullptr;
  input->firstActionAt = 0;
  if (!ReadWholeFile(path, &input->file)) return false;
  input->merge = {const_cast<uint8_t*>(input->file.bytes), input->file.size};
  char text[MERGE_TEXT_MAX];
  input->nameVerdict = CheckLevelName(input->merge, kWindowsPaths, text, sizeof text);
  if (input->nameVerdict == MergeVerdict::BAD_NAME) return true;
  input->firstActionAt = FirstActionAt(input->merge);
  input->levelName = reinterpret_cast<const char*>(input->merge.buffer + LEVEL_NAME_AT);
  return true;
}

MergeVerdict CheckMergeInput(const MergeInput& input, uint32_t levelSize, char* text,
                             size_t size) {
  return CheckMergeFile(input.merge, levelSize, kWindowsPaths, text, size);
}

bool LoadCheckedMergeInput(const char* path, MergeInput* input) {
  if (!LoadMergeInput(path, input)) return false;
  char text[MERGE_TEXT_MAX];
  if (CheckMergeInput(*input, ANY_LEVEL_SIZE, text, sizeof text) == MergeVerdict::OK)
    return true;
  text[strcspn(text, "\n")] = '\0';
  PrintError("%s: %s", path, text);
  return false;
}
