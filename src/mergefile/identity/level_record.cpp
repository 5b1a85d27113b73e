#include "identity/level_record.h"

#include <cstring>

#include "format/merge_build.h"

RecordFound FindLevelRecord(const MergeImage& merge, LevelRecord* record) {
  // Any bytes are safe here, not only a name that passed: the page asks too.
  if (merge.size < LEVEL_NAME_AT) return RecordFound::NONE;
  const uint8_t* field = merge.buffer + LEVEL_NAME_AT;
  uint32_t fieldLength = ReadU32(merge.buffer + NAME_LENGTH_AT);
  if (fieldLength > merge.size - LEVEL_NAME_AT) return RecordFound::NONE;
  const auto* nul = static_cast<const uint8_t*>(memchr(field, 0, fieldLength));
  if (nul == nullptr) return RecordFound::NONE;
  const uint8_t* at = nul + 1;
  auto room = static_cast<uint32_t>(field + fieldLength - at);
  if (room < sizeof RECORD_MARKER || memcmp(at, RECORD_MARKER, sizeof RECORD_MARKER) != 0)
    return RecordFound::NONE;
  if (room <= RECORD_LENGTH_AT) return RecordFound::DAMAGED;
  uint32_t length = at[RECORD_LENGTH_AT];
  if (length > room || length < RECORD_LENGTH_AT + 1 + sizeof(uint32_t))
    return RecordFound::DAMAGED;
  uint32_t checkAt = length - static_cast<uint32_t>(sizeof(uint32_t));
  if (ReadU32(at + checkAt) != ShortCheck(at, checkAt)) return RecordFound::DAMAGED;
  if (at[RECORD_VERSION_AT] != RECORD_VERSION) return RecordFound::NONE;
  if (length != RECORD_SIZE) return RecordFound::DAMAGED;
  static_assert(RECORD_SOURCE_HASH_AT == RECORD_SOURCE_SIZE_AT + 4 &&
                    RECORD_RESULT_HASH_AT == RECORD_RESULT_SIZE_AT + 4,
                "each hash follows its size");
  *record = {ReadStoredPrint(at + RECORD_SOURCE_SIZE_AT),
             ReadStoredPrint(at + RECORD_RESULT_SIZE_AT)};
  return RecordFound::RECORD;
}

void AppendLevelRecord(const LevelRecord& record, std::vector<uint8_t>* out) {
  size_t start = out->size();
  out->insert(out->end(), RECORD_MARKER, RECORD_MARKER + sizeof RECORD_MARKER);
  out->push_back(RECORD_VERSION);
  out->push_back(static_cast<uint8_t>(RECORD_SIZE));
  AppendStoredPrint(record.source, out);
  AppendStoredPrint(record.result, out);
  PutU32(ShortCheck(out->data() + start, RECORD_CHECK_AT), out);
}

bool HasRoomForRecord(const char* levelName) {
  return strlen(levelName) <= RECORD_NAME_CHARS_MAX;
}

uint64_t MergeHeaderSize(const char* levelName, const LevelRecord* record) {
  return MergeHeaderSize(levelName, record != nullptr ? RECORD_SIZE : 0);
}

void StartMergeFile(const char* levelName, std::vector<uint8_t>* out,
                    const LevelRecord* record) {
  StartMergeFile(levelName, out, record != nullptr ? RECORD_SIZE : 0);
  if (record != nullptr) AppendLevelRecord(*record, out);
}
