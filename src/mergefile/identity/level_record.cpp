#include "identity/level_record.h"

#include <cstring>

#include "format/merge_build.h"

namespace {

Fingerprint ReadPrint(const uint8_t* record, uint32_t sizeAt, uint32_t hashAt) {
  Fingerprint print{ReadU32(record + sizeAt), {}};
  memcpy(print.hash, record + hashAt, FINGERPRINT_HASH_BYTES);
  return print;
}

void AppendPrint(const Fingerprint& print, std::vector<uint8_t>* out) {
  PutU32(static_cast<uint32_t>(print.size), out);
  out->insert(out->end(), print.hash, print.hash + FINGERPRINT_HASH_BYTES);
}

}  // namespace

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
  *record = {ReadPrint(at, RECORD_SOURCE_SIZE_AT, RECORD_SOURCE_HASH_AT),
             ReadPrint(at, RECORD_RESULT_SIZE_AT, RECORD_RESULT_HASH_AT)};
  return RecordFound::RECORD;
}

void AppendLevelRecord(const LevelRecord& record, std::vector<uint8_t>* out) {
  size_t start = out->size();
  out->insert(out->end(), RECORD_MARKER, RECORD_MARKER + sizeof RECORD_MARKER);
  out->push_back(RECORD_VERSION);
  out->push_back(static_cast<uint8_t>(RECORD_SIZE));
  AppendPrint(record.source, out);
  AppendPrint(record.result, out);
  PutU32(ShortCheck(out->data() + start, RECORD_CHECK_AT), out);
}
