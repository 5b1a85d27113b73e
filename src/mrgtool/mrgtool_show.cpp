// mrgtool show: what a merge file does, as a table or as JSON.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "format/merge_records.h"
#include "identity/level_record.h"
#include "mrgtool_commands.h"
#include "mrgtool_io.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"
#include "words/mrgtool_words.h"

namespace {

std::string PrintJson(const Fingerprint& print) {
  char hex[FINGERPRINT_HEX_SIZE];
  HexOfHash(print, hex);
  return "{\"size\": " + std::to_string(print.size) + ", \"xxh3_128\": \"" + hex + "\"}";
}

// null for none, "damaged", or both levels' sizes and fingerprints.
std::string RecordJson(const MergeImage& merge) {
  LevelRecord record;
  switch (FindLevelRecord(merge, &record)) {
    case RecordFound::NONE: return "null";
    case RecordFound::DAMAGED: return "\"damaged\"";
    case RecordFound::RECORD: break;
  }
  return "{\"madeFor\": " + PrintJson(record.source) +
         ", \"makes\": " + PrintJson(record.result) + "}";
}

void PrintTable(const char* path, const MergeInput& input, MergeVerdict verdict) {
  Print(Stream::STANDARD_OUTPUT, "%s", ShowHead(path, input.merge, verdict).c_str());
  RecordCursor cursor = RecordsFrom(input.merge, input.firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD)
    Print(Stream::STANDARD_OUTPUT, "%s", ShowRow(record).c_str());
}

void PrintJson(const char* path, const MergeInput& input, MergeVerdict verdict) {
  MergeTotals totals = SumActions(input.merge, input.firstActionAt);
  int64_t change =
      static_cast<int64_t>(totals.inserted) - static_cast<int64_t>(totals.removed);
  const char* unsafeOn = verdict == MergeVerdict::UNSAFE_NAME         ? "\"every system\""
                         : verdict == MergeVerdict::UNSAFE_ON_WINDOWS ? "\"Windows\""
                                                                      : "null";
  Print(Stream::STANDARD_OUTPUT, "{\n  \"file\": %s,\n", JsonText(path).c_str());
  Print(Stream::STANDARD_OUTPUT,
        "  \"level\": %s,\n  \"levelNameSafe\": %s,\n  \"levelNameUnsafeOn\": %s,\n",
        JsonText(input.levelName).c_str(), verdict == MergeVerdict::OK ? "true" : "false",
        unsafeOn);
  Print(Stream::STANDARD_OUTPUT, "  \"record\": %s,\n", RecordJson(input.merge).c_str());
  Print(Stream::STANDARD_OUTPUT,
        "  \"actions\": %" PRIu64 ",\n  \"removed\": %" PRIu64 ",\n", totals.actions,
        totals.removed);
  Print(Stream::STANDARD_OUTPUT,
        "  \"inserted\": %" PRIu64 ",\n  \"sizeChange\": %" PRId64 ",\n", totals.inserted,
        change);
  Print(Stream::STANDARD_OUTPUT, "  \"records\": [");
  const char* separator = "\n";
  RecordCursor cursor = RecordsFrom(input.merge, input.firstActionAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    Print(Stream::STANDARD_OUTPUT,
          "%s    {\"record\": %lu, \"offset\": %lu, \"removeLength\": %lu, "
          "\"insertLength\": %lu, \"dataHex\": \"%s\", \"dataText\": %s}",
          separator, static_cast<unsigned long>(record.at),
          static_cast<unsigned long>(action.offset),
          static_cast<unsigned long>(action.removeLength),
          static_cast<unsigned long>(action.insertLength), HexPreview(action, "").c_str(),
          JsonText(TextPreview(action)).c_str());
    separator = ",\n";
  }
  Print(Stream::STANDARD_OUTPUT, "%s]\n}\n", totals.actions == 0 ? "" : "\n  ");
}

}  // namespace

int RunShow(const CommandLine& line) {
  const char* path = line.operands[0];
  MergeInput input;
  if (!LoadMergeInput(path, &input)) return MRGTOOL_FAILED;
  char text[MERGE_TEXT_MAX];
  MergeVerdict verdict = CheckForShow(input.merge, text, sizeof text);
  if (!ShowsAnyway(verdict)) {
    PrintFault(path, text);
    return MRGTOOL_FAILED;
  }
  if (line.json)
    PrintJson(path, input, verdict);
  else
    PrintTable(path, input, verdict);
  return MRGTOOL_OK;
}
