#include "differ/merge_make.h"

#include "edits/merge_edit.h"
#include "format/merge_checks.h"
#include "identity/level_record.h"

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
  if (EndsInDotOrSpace(name.c_str()))
    return "it ends in a dot or a space, which Windows drops from a file name";
  if (!IsSafeLevelName(name.c_str(), true) || !IsSafeLevelName(name.c_str(), false))
    return "it leads out of the current folder or names a device (absolute path, drive, "
           "':', '..' or a Windows device name)";
  return "";
}

std::string LevelNameRules() {
  return "A level name has 1 to " + std::to_string(NAME_CHARS_MAX) +
         " characters, none of them a control character, is not an absolute path, has "
         "no '..' component, names no Windows device (CON, NUL, COM1, ...) and ends in "
         "no dot or space. A name of "
         "up to " +
         std::to_string(RECORD_NAME_CHARS_MAX) +
         " characters leaves room for the record of both levels, by which Vorandel "
         "tells a level already merged, or of another version.";
}

bool IsPlainAscii(const std::string& name) {
  for (char c : name)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

EditOutcome MergeFromEdits(const char* levelName, const std::vector<Edit>& edits,
                           const uint8_t* modified, std::vector<uint8_t>* out,
                           const LevelRecord* record) {
  uint64_t size = MergeHeaderSize(levelName, record);
  for (const Edit& edit : edits) size += RECORD_HEAD_SIZE + uint64_t{edit.bLength};
  if (size > MERGE_FILE_MAX) return EditOutcome::FILE_TOO_LARGE;
  out->reserve(static_cast<size_t>(size));
  StartMergeFile(levelName, out, record);
  for (const Edit& edit : edits)
    AppendAction({edit.aAt, edit.aLength, edit.bLength, modified + edit.bAt}, out);
  return EditOutcome::OK;
}

namespace {

bool SameRecord(const LevelRecord& a, const LevelRecord& b) {
  return SameFingerprint(a.source, b.source) && SameFingerprint(a.result, b.result);
}

}  // namespace

MakeOutcome MergeFileFromEdits(const uint8_t* original, uint32_t originalSize,
                               const uint8_t* modified, uint32_t modifiedSize,
                               const std::vector<Edit>& edits,
                               const std::string& levelName, std::vector<uint8_t>* out) {
  LevelRecord record{FingerprintOf(original, originalSize),
                     FingerprintOf(modified, modifiedSize)};
  bool recorded = HasRoomForRecord(levelName.c_str());
  if (MergeFromEdits(levelName.c_str(), edits, modified, out,
                     recorded ? &record : nullptr) != EditOutcome::OK)
    return MakeOutcome::FILE_TOO_LARGE;
  MergeImage merge{out->data(), static_cast<uint32_t>(out->size())};
  LevelRecord written;
  RecordFound found = FindLevelRecord(merge, &written);
  bool recordHolds = recorded
                         ? found == RecordFound::RECORD && SameRecord(written, record)
                         : found == RecordFound::NONE;
  if (!recordHolds || !Reproduces(merge, original, originalSize, modified, modifiedSize))
    return MakeOutcome::NOT_REPRODUCED;
  return MakeOutcome::OK;
}

MakeOutcome MakeMergeFile(const uint8_t* original, uint32_t originalSize,
                          const uint8_t* modified, uint32_t modifiedSize,
                          const std::string& levelName, DiffProgress progress,
                          void* context, std::vector<uint8_t>* out) {
  std::vector<Edit> edits =
      DiffBytes(original, originalSize, modified, modifiedSize, progress, context);
  return MergeFileFromEdits(original, originalSize, modified, modifiedSize, edits,
                            levelName, out);
}
