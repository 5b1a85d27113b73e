#include "mrgtool_merge_input.h"

#include <cstdio>
#include <cstring>

#include "merge_checks.h"

InputVerdict LoadMergeInput(const char* path, MergeInput* input) {
  input->levelName = nullptr;
  input->firstActionAt = 0;
  if (!ReadWholeFile(path, &input->file)) return InputVerdict::UNREADABLE;
  input->merge = {const_cast<uint8_t*>(input->file.bytes), input->file.size};
  if (!HasValidLevelName(input->merge)) return InputVerdict::BAD_NAME;
  input->firstActionAt = FirstActionAt(input->merge);
  input->levelName = reinterpret_cast<const char*>(input->merge.buffer + LEVEL_NAME_AT);
  if (!IsSafeLevelName(input->levelName, kWindowsPaths)) return InputVerdict::UNSAFE_NAME;
  return InputVerdict::OK;
}

InputVerdict CheckMergeInput(const MergeInput& input, uint32_t levelSize, char* text,
                             size_t size) {
  text[0] = '\0';
  if (input.levelName == nullptr) {
    snprintf(text, size, "Invalid level name in the merge file.\n");
    return InputVerdict::BAD_NAME;
  }
  if (!IsSafeLevelName(input.levelName, kWindowsPaths)) {
    snprintf(text, size, "Unsafe level name %s in the merge file.\n", input.levelName);
    return InputVerdict::UNSAFE_NAME;
  }
  ActionFault fault = CheckActions(input.merge, input.firstActionAt, levelSize);
  if (fault.kind == FaultKind::NONE) return InputVerdict::OK;
  FormatActionFault(fault, text, size);
  return InputVerdict::BAD_ACTION;
}

bool LoadCheckedMergeInput(const char* path, MergeInput* input) {
  if (LoadMergeInput(path, input) == InputVerdict::UNREADABLE) return false;
  char text[NAME_FIELD_MAX + FAULT_TEXT_MAX];
  if (CheckMergeInput(*input, ANY_LEVEL_SIZE, text, sizeof text) == InputVerdict::OK)
    return true;
  text[strcspn(text, "\n")] = '\0';
  PrintError("%s: %s", path, text);
  return false;
}
