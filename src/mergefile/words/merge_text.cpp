#include "words/merge_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "format/apply_actions.h"
#include "format/merge_checks.h"
#include "identity/level_record.h"
#include "words/tool_messages.h"

namespace {

// printf onto the end of a string.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Append(std::string* out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  int length = vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length > 0) {
    size_t end = out->size();
    out->resize(end + static_cast<size_t>(length) + 1);
    vsnprintf(&(*out)[end], static_cast<size_t>(length) + 1, format, again);
    out->pop_back();
  }
  va_end(again);
}

bool CountSlice(void* context, const uint8_t*, uint32_t count) {
  *static_cast<uint64_t*>(context) += count;
  return true;
}

}  // namespace

std::string HexPreview(const MergeAction& action, const char* separator) {
  std::string hex;
  for (uint32_t i = 0; i < action.insertLength && i < PREVIEW_BYTES; ++i) {
    if (i != 0) hex += separator;
    Append(&hex, "%02x", action.data[i]);
  }
  return hex;
}

std::string TextPreview(const MergeAction& action) {
  std::string text;
  for (uint32_t i = 0; i < action.insertLength && i < PREVIEW_BYTES; ++i)
    text += Printable(action.data[i]) ? static_cast<char>(action.data[i]) : '.';
  return text;
}

std::string ShowHead(const char* path, const MergeImage& merge, MergeVerdict verdict) {
  MergeTotals totals = SumActions(merge, FirstActionAt(merge));
  int64_t change =
      static_cast<int64_t>(totals.inserted) - static_cast<int64_t>(totals.removed);
  char name[ESCAPED_NAME_MAX];
  EscapeName(reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT), name,
             sizeof name);
  const char* mark = verdict == MergeVerdict::UNSAFE_NAME
                         ? "  (unsafe: the merge tool refuses this name)"
                     : verdict == MergeVerdict::UNSAFE_ON_WINDOWS
                         ? "  (unsafe on Windows: the merge tool refuses this name there)"
                         : "";
  std::string out;
  Append(&out, "Merge file:   %s\n", path);
  Append(&out, "Level:        %s%s\n", name, mark);
  LevelRecord record;
  switch (FindLevelRecord(merge, &record)) {
    case RecordFound::NONE: Append(&out, "Record:       none\n"); break;
    case RecordFound::DAMAGED:
      Append(&out, "Record:       damaged: the merge tool refuses this merge file\n");
      break;
    case RecordFound::RECORD:
      for (const auto& [label, print] : {std::make_pair("Made for:", record.source),
                                         std::make_pair("Makes:", record.result)}) {
        char hex[FINGERPRINT_HEX_SIZE];
        HexOfHash(print, hex);
        Append(&out, "%-13s %" PRIu64 " bytes, XXH3-128 %s\n", label, print.size, hex);
      }
      break;
  }
  Append(&out, "Actions:      %" PRIu64 "\n", totals.actions);
  Append(&out, "Removed:      %" PRIu64 " bytes\n", totals.removed);
  Append(&out, "Inserted:     %" PRIu64 " bytes\n", totals.inserted);
  Append(&out, "Size change:  %+" PRId64 " bytes\n", change);
  if (totals.actions != 0)
    Append(&out, "\n%10s %10s %10s %10s  %s\n", "record", "offset", "remove", "insert",
           "data");
  return out;
}

std::string ShowRow(const ActionRecord& record) {
  const MergeAction& action = record.action;
  const char* more = action.insertLength > PREVIEW_BYTES ? "..." : "";
  std::string out;
  Append(&out, "%10lu %10lu %10lu %10lu  %-23s%-3s |%s|%s\n",
         static_cast<unsigned long>(record.at), static_cast<unsigned long>(action.offset),
         static_cast<unsigned long>(action.removeLength),
         static_cast<unsigned long>(action.insertLength), HexPreview(action, " ").c_str(),
         more, TextPreview(action).c_str(), more);
  return out;
}

std::string CheckReport(const char* mergePath, const char* levelPath,
                        const MergeImage& merge, uint32_t firstActionAt,
                        const LevelImage& level) {
  uint64_t mergedSize = 0;
  ApplyActions(level, merge, firstActionAt, CountSlice, &mergedSize);
  MergeTotals totals = SumActions(merge, firstActionAt);
  int64_t change = static_cast<int64_t>(mergedSize) - int64_t{level.size};
  std::string out;
  Append(&out, "%s applies to %s: %" PRIu64 " action%s, nothing wrong found.\n",
         mergePath, levelPath, totals.actions, totals.actions == 1 ? "" : "s");
  Append(&out, "The level would have %" PRIu64 " bytes (now %lu, %+" PRId64 ").\n",
         mergedSize, static_cast<unsigned long>(level.size), change);
  return out;
}

std::string JudgementLine(const Judgement& judgement, const char* levelName) {
  char text[SAYS_TEXT_MAX];
  text[0] = '\0';
  if (judgement.verdict == LevelVerdict::ALREADY_MERGED)
    FormatVorandel(VorandelSays::ALREADY_MERGED, {levelName}, text, sizeof text);
  else if (judgement.verdict == LevelVerdict::NOT_ITS_LEVEL)
    FormatVorandel(VorandelSays::NOT_ITS_LEVEL, {levelName}, text, sizeof text);
  else if (judgement.fault.kind == FaultKind::NONE && !judgement.recordHolds)
    FormatVorandel(VorandelSays::RECORD_DISAGREES, {levelName}, text, sizeof text);
  return text;
}

CheckOutcome CheckAgainstLevel(const MergeImage& merge, const char* mergePath,
                               const LevelImage& level, const char* levelPath,
                               const LevelImage* backup, std::string* out) {
  Judgement judgement = JudgeMerge(merge, level, backup);
  *out = JudgementLine(judgement, levelPath);
  switch (judgement.verdict) {
    case LevelVerdict::ALREADY_MERGED: return CheckOutcome::ALREADY_MERGED;
    case LevelVerdict::NOT_ITS_LEVEL: return CheckOutcome::NOT_ITS_LEVEL;
    case LevelVerdict::APPLIES: break;
  }
  if (judgement.fault.kind != FaultKind::NONE) {
    char text[FAULT_TEXT_MAX];
    FormatActionFault(judgement.fault, text, sizeof text);
    *out = text;
    return CheckOutcome::FAULT;
  }
  if (!out->empty()) return CheckOutcome::FAULT;
  *out = CheckReport(mergePath, levelPath, merge, FirstActionAt(merge), level);
  return CheckOutcome::APPLIES;
}

std::string WrittenReport(const char* path, const std::vector<uint8_t>& bytes) {
  MergeImage merge{bytes.data(), static_cast<uint32_t>(bytes.size())};
  MergeTotals totals = SumActions(merge, FirstActionAt(merge));
  std::string out;
  Append(&out, "Wrote %s: %" PRIu64 " action%s, %" PRIu64 " bytes, for the level %s.\n",
         path, totals.actions, totals.actions == 1 ? "" : "s", uint64_t{bytes.size()},
         reinterpret_cast<const char*>(bytes.data() + LEVEL_NAME_AT));
  return out;
}
