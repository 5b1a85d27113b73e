// mrgtool show: what a merge file does, as a table or as JSON.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "merge_build.h"
#include "merge_checks.h"
#include "mrgtool_commands.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"

namespace {

// Bytes of data shown per action.
constexpr uint32_t PREVIEW_BYTES = 8;

bool Printable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

std::string HexPreview(const MergeAction& action, const char* separator) {
  std::string hex;
  for (uint32_t i = 0; i < action.insertLength && i < PREVIEW_BYTES; ++i) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02x", action.data[i]);
    if (i != 0) hex += separator;
    hex += pair;
  }
  return hex;
}

std::string TextPreview(const MergeAction& action) {
  std::string text;
  for (uint32_t i = 0; i < action.insertLength && i < PREVIEW_BYTES; ++i)
    text += Printable(action.data[i]) ? static_cast<char>(action.data[i]) : '.';
  return text;
}

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

void PrintTable(const char* path, const MergeInput& input, bool safe,
                const MergeTotals& totals) {
  int64_t change =
      static_cast<int64_t>(totals.inserted) - static_cast<int64_t>(totals.removed);
  printf("Merge file:   %s\n", path);
  printf("Level:        %s%s\n", input.levelName,
         safe ? "" : "  (unsafe: the merge tool refuses this name)");
  printf("Actions:      %" PRIu64 "\n", totals.actions);
  printf("Removed:      %" PRIu64 " bytes\n", totals.removed);
  printf("Inserted:     %" PRIu64 " bytes\n", totals.inserted);
  printf("Size change:  %+" PRId64 " bytes\n", change);
  if (totals.actions == 0) return;
  printf("\n%10s %10s %10s %10s  %s\n", "record", "offset", "remove", "insert", "data");
  for (uint32_t at = input.firstActionAt; at < input.merge.size;) {
    MergeAction action = ActionAt(input.merge, at);
    const char* more = action.insertLength > PREVIEW_BYTES ? "..." : "";
    printf("%10lu %10lu %10lu %10lu  %-23s%-3s |%s|%s\n", static_cast<unsigned long>(at),
           static_cast<unsigned long>(action.offset),
           static_cast<unsigned long>(action.removeLength),
           static_cast<unsigned long>(action.insertLength),
           HexPreview(action, " ").c_str(), more, TextPreview(action).c_str(), more);
    at = NextRecordAt(action, at);
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
  InputVerdict verdict = LoadMergeInput(path, &input);
  if (verdict == InputVerdict::UNREADABLE) return MRGTOOL_FAILED;
  char text[NAME_FIELD_MAX + FAULT_TEXT_MAX];
  InputVerdict fault = CheckMergeInput(input, ANY_LEVEL_SIZE, text, sizeof text);
  // An unsafe name is shown, marked; every other fault stops the listing.
  if (fault == InputVerdict::UNSAFE_NAME) {
    ActionFault actions = CheckActions(input.merge, input.firstActionAt, ANY_LEVEL_SIZE);
    FormatActionFault(actions, text, sizeof text);
    fault = actions.kind == FaultKind::NONE ? InputVerdict::OK : InputVerdict::BAD_ACTION;
  }
  if (fault != InputVerdict::OK) {
    text[strcspn(text, "\n")] = '\0';
    PrintError("%s: %s", path, text);
    return MRGTOOL_FAILED;
  }
  bool safe = verdict == InputVerdict::OK;
  MergeTotals totals = SumActions(input.merge, input.firstActionAt);
  if (line.json)
    PrintJson(path, input, safe, totals);
  else
    PrintTable(path, input, safe, totals);
  return MRGTOOL_OK;
}
