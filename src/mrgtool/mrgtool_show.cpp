// mrgtool show: what a merge file does, as a table or as JSON.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "merge_build.h"
#include "merge_checks.h"
#include "merge_text.h"
#include "mrgtool_commands.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"

namespace {

bool Printable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

// A JSON string: the bytes as Latin-1 characters.
std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    auto byte = static_cast<uint8_t>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (Printable(byte)) {
      out += c;
    } else {
      char escape[7];
      snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    }
  }
  return out + "\"";
}

void PrintTable(const char* path, const MergeInput& input, bool safe) {
  fputs(ShowHead(path, input.merge, input.firstActionAt, safe).c_str(), stdout);
  for (uint32_t at = input.firstActionAt; at < input.merge.size;) {
    fputs(ShowRow(input.merge, at).c_str(), stdout);
    at = NextRecordAt(ActionAt(input.merge, at), at);
  }
}

void PrintJson(const char* path, const MergeInput& input, bool safe,
               const MergeTotals& totals) {
  int64_t change =
      static_cast<int64_t>(totals.inserted) - static_cast<int64_t>(totals.removed);
  printf("{\n  \"file\": %s,\n", JsonString(path).c_str());
  printf("  \"level\": %s,\n  \"levelNameSafe\": %s,\n",
         JsonString(input.levelName).c_str(), safe ? "true" : "false");
  printf("  \"actions\": %" PRIu64 ",\n  \"removed\": %" PRIu64 ",\n", totals.actions,
         totals.removed);
  printf("  \"inserted\": %" PRIu64 ",\n  \"sizeChange\": %" PRId64 ",\n",
         totals.inserted, change);
  printf("  \"records\": [");
  const char* separator = "\n";
  for (uint32_t at = input.firstActionAt; at < input.merge.size;) {
    MergeAction action = ActionAt(input.merge, at);
    printf(
        "%s    {\"record\": %lu, \"offset\": %lu, \"removeLength\": %lu, "
        "\"insertLength\": %lu, \"dataHex\": \"%s\", \"dataText\": %s}",
        separator, static_cast<unsigned long>(at),
        static_cast<unsigned long>(action.offset),
        static_cast<unsigned long>(action.removeLength),
        static_cast<unsigned long>(action.insertLength), HexPreview(action, "").c_str(),
        JsonString(TextPreview(action)).c_str());
    separator = ",\n";
    at = NextRecordAt(action, at);
  }
  printf("%s]\n}\n", totals.actions == 0 ? "" : "\n  ");
}

}  // namespace

int RunShow(const CommandLine& line) {
  const char* path = line.operands[0];
  MergeInput input;
  if (!LoadMergeInput(path, &input)) return MRGTOOL_FAILED;
  char text[MERGE_TEXT_MAX];
  MergeVerdict fault = CheckMergeInput(input, ANY_LEVEL_SIZE, text, sizeof text);
  // An unsafe name is shown, marked; every other fault stops the listing.
  if (fault == MergeVerdict::UNSAFE_NAME) {
    ActionFault actions = CheckActions(input.merge, input.firstActionAt, ANY_LEVEL_SIZE);
    FormatActionFault(actions, text, sizeof text);
    fault = actions.kind == FaultKind::NONE ? MergeVerdict::OK : MergeVerdict::BAD_ACTION;
  }
  if (fault != MergeVerdict::OK) {
    text[strcspn(text, "\n")] = '\0';
    PrintError("%s: %s", path, text);
    return MRGTOOL_FAILED;
  }
  bool safe = input.nameVerdict == MergeVerdict::OK;
  if (line.json)
    PrintJson(path, input, safe, SumActions(input.merge, input.firstActionAt));
  else
    PrintTable(path, input, safe);
  return MRGTOOL_OK;
}
