#include "merge_checks.h"

#include <cstdio>
#include <cstring>

bool HasValidLevelName(const MergeImage& merge) {
  if (merge.size < LEVEL_NAME_AT) return false;
  uint32_t nameLength = ReadU32(merge.buffer + NAME_LENGTH_AT);
  if (nameLength == 0 || nameLength > NAME_FIELD_MAX) return false;
  if (nameLength > merge.size - LEVEL_NAME_AT) return false;
  const uint8_t* field = merge.buffer + LEVEL_NAME_AT;
  const void* nul = memchr(field, 0, nameLength);
  if (nul == nullptr) return false;
  auto nameChars = static_cast<size_t>(static_cast<const uint8_t*>(nul) - field);
  return nameChars > 0 && nameChars <= NAME_CHARS_MAX;
}

uint32_t FirstActionAt(const MergeImage& merge) {
  return LEVEL_NAME_AT + ReadU32(merge.buffer + NAME_LENGTH_AT);
}

namespace {

bool IsSeparator(char c, bool windowsPaths) {
  return c == '/' || (windowsPaths && c == '\\');
}

// Windows drops trailing dots and spaces from a path component, so there
// ". ." and "..." lead upwards just as ".." does.
bool IsParentComponent(const char* begin, const char* end, bool windowsPaths) {
  if (!windowsPaths) return end - begin == 2 && begin[0] == '.' && begin[1] == '.';
  int dots = 0;
  for (const char* c = begin; c != end; ++c) {
    if (*c == '.')
      ++dots;
    else if (*c != ' ')
      return false;
  }
  return dots >= 2;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device, not a file, for a component named like one, in any
// case, whatever extension follows and with trailing spaces: "con", "Nul.lvl",
// "COM1 .txt". A level named so could wait on the console or talk to a port.
bool IsDeviceComponent(const char* begin, const char* end) {
  const char* stem = begin;
  while (stem != end && *stem != '.') ++stem;
  while (stem != begin && stem[-1] == ' ') --stem;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    const char* c = begin;
    const char* d = device;
    while (c != stem && *d != '\0' && Upper(*c) == *d) ++c, ++d;
    if (c == stem && *d == '\0') return true;
  }
  if (stem - begin != 4) return false;
  bool port =
      (Upper(begin[0]) == 'C' && Upper(begin[1]) == 'O' && Upper(begin[2]) == 'M') ||
      (Upper(begin[0]) == 'L' && Upper(begin[1]) == 'P' && Upper(begin[2]) == 'T');
  return port && begin[3] >= '0' && begin[3] <= '9';
}

bool HasDriveLetter(const char* name) {
  char first = name[0];
  bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
  return letter && name[1] == ':';
}

}  // namespace

bool IsSafeLevelName(const char* name, bool windowsPaths) {
  if (IsSeparator(name[0], windowsPaths)) return false;
  if (windowsPaths && HasDriveLetter(name)) return false;
  const char* begin = name;
  for (;;) {
    const char* end = begin;
    while (*end != '\0' && !IsSeparator(*end, windowsPaths)) ++end;
    if (IsParentComponent(begin, end, windowsPaths)) return false;
    if (windowsPaths && IsDeviceComponent(begin, end)) return false;
    if (*end == '\0') return true;
    begin = end + 1;
  }
}

ActionFault CheckActions(const MergeImage& merge, uint32_t firstActionAt,
                         uint32_t levelSize) {
  // 64-bit positions: no sum of two 32-bit fields can wrap.
  const uint64_t end = merge.size;
  uint64_t removedEnd = 0;
  for (uint64_t at = firstActionAt; at < end;) {
    const uint8_t* record = merge.buffer + at;
    const auto recordAt = static_cast<uint32_t>(at);
    if (end - at < CODE_AT + 2) return {FaultKind::TRUNCATED, recordAt, 0};
    uint16_t code = ReadU16(record + CODE_AT);
    if (code != ACTION_REPLACE) return {FaultKind::UNKNOWN_CODE, recordAt, code};
    if (end - at < RECORD_HEAD_SIZE) return {FaultKind::TRUNCATED, recordAt, code};
    uint64_t insertLength = ReadU32(record + INSERT_LENGTH_AT);
    if (insertLength > end - at - RECORD_HEAD_SIZE)
      return {FaultKind::TRUNCATED, recordAt, code};
    uint64_t offset = ReadU32(record + OFFSET_AT);
    if (offset < removedEnd) return {FaultKind::MISPLACED, recordAt, code};
    removedEnd = offset + ReadU32(record + REMOVE_LENGTH_AT);
    if (removedEnd > levelSize) return {FaultKind::PAST_LEVEL_END, recordAt, code};
    at += RECORD_HEAD_SIZE + insertLength;
  }
  return {FaultKind::NONE, 0, 0};
}

void FormatActionFault(const ActionFault& fault, char* text, size_t size) {
  // Positions are printed unsigned: on Windows a long has 32 bits, and a
  // merge file may be larger than 2 GiB.
  auto at = static_cast<unsigned long>(fault.recordAt);
  text[0] = '\0';
  switch (fault.kind) {
    case FaultKind::NONE: break;
    case FaultKind::TRUNCATED:
      snprintf(text, size, "Truncated action at offset %lu parsing the merge file !\n",
               at);
      break;
    case FaultKind::UNKNOWN_CODE:
      snprintf(text, size,
               "Unknown action (%ld) at offset %lu parsing the merge file !\n",
               static_cast<long>(fault.code), at);
      break;
    case FaultKind::MISPLACED:
      snprintf(text, size, "Misplaced action at offset %lu parsing the merge file !\n",
               at);
      break;
    case FaultKind::PAST_LEVEL_END:
      snprintf(text, size, "Action at offset %lu reaches past the end of the level !\n",
               at);
      break;
  }
}

MergeVerdict CheckLevelName(const MergeImage& merge, bool windowsPaths, char* text,
                            size_t size) {
  text[0] = '\0';
  if (!HasValidLevelName(merge)) {
    snprintf(text, size, "Invalid level name in the merge file.\n");
    return MergeVerdict::BAD_NAME;
  }
  const auto* name = reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT);
  if (!IsSafeLevelName(name, windowsPaths)) {
    snprintf(text, size, "Unsafe level name %s in the merge file.\n", name);
    return MergeVerdict::UNSAFE_NAME;
  }
  return MergeVerdict::OK;
}

MergeVerdict CheckMergeFile(const MergeImage& merge, uint32_t levelSize,
                            bool windowsPaths, char* text, size_t size) {
  MergeVerdict verdict = CheckLevelName(merge, windowsPaths, text, size);
  if (verdict != MergeVerdict::OK) return verdict;
  ActionFault fault = CheckActions(merge, FirstActionAt(merge), levelSize);
  if (fault.kind == FaultKind::NONE) return MergeVerdict::OK;
  FormatActionFault(fault, text, size);
  return MergeVerdict::BAD_ACTION;
}
