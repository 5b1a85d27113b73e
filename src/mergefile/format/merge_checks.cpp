#include "format/merge_checks.h"

#include <cstring>

#include "format/merge_records.h"

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

bool IsSeparator(char c, bool windowsPaths) {
  return c == '/' || (windowsPaths && c == '\\');
}

namespace {

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
// The ports' digits include the superscripts 1, 2 and 3 of Windows-1252.
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
  auto digit = static_cast<uint8_t>(begin[3]);
  return port && ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 ||
                  digit == 0xB3);
}

}  // namespace

bool HasControlByte(const char* name) {
  for (const char* c = name; *c != '\0'; ++c)
    if (IsControlByte(static_cast<uint8_t>(*c))) return true;
  return false;
}

bool EndsInDotOrSpace(const char* name) {
  size_t length = strlen(name);
  return length != 0 && (name[length - 1] == '.' || name[length - 1] == ' ');
}

bool IsSafeLevelName(const char* name, bool windowsPaths) {
  if (HasControlByte(name) || IsSeparator(name[0], windowsPaths)) return false;
  // Windows drops a file name's trailing dots and spaces, and would open the
  // level under another name than its backup, mark and lock.
  if (EndsInDotOrSpace(name)) return false;
  // A drive letter, or a stream of a file ("keep.lvl:x") on NTFS.
  if (windowsPaths && strchr(name, ':') != nullptr) return false;
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
  RecordCursor cursor = RecordsFrom(merge, firstActionAt);
  ActionRecord record;
  uint64_t removedEnd = 0;
  for (;;) {
    switch (NextRecord(&cursor, &record)) {
      case RecordRead::END: return {FaultKind::NONE, 0, 0};
      case RecordRead::TRUNCATED: return {FaultKind::TRUNCATED, record.at, record.code};
      case RecordRead::UNKNOWN_CODE:
        return {FaultKind::UNKNOWN_CODE, record.at, record.code};
      case RecordRead::RECORD: break;
    }
    const MergeAction& action = record.action;
    if (action.offset < removedEnd) return {FaultKind::MISPLACED, record.at, record.code};
    removedEnd = uint64_t{action.offset} + action.removeLength;
    if (removedEnd > levelSize)
      return {FaultKind::PAST_LEVEL_END, record.at, record.code};
  }
}

void EscapeName(const char* name, char* out, size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  size_t used = 0;
  for (const char* c = name; *c != '\0' && size - used > 4; ++c) {
    auto byte = static_cast<uint8_t>(*c);
    if (!IsControlByte(byte)) {
      out[used++] = *c;
      continue;
    }
    out[used++] = '\\';
    out[used++] = 'x';
    out[used++] = digits[byte >> 4];
    out[used++] = digits[byte & 0xF];
  }
  out[used] = '\0';
}
