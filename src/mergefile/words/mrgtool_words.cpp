#include "words/mrgtool_words.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <utility>

#include "format/apply_actions.h"
#include "format/merge_checks.h"
#include "identity/level_record.h"

namespace {

// What a Windows error number means, in mrgtool's words.
const char* ErrorMeaning(unsigned long error) {
  switch (error) {
    case 2: return "file not found";
    case 3: return "folder in the path not found";
    case 4: return "too many open files";
    case 5: return "access denied";
    case 8: return "not enough memory";
    case 19: return "the medium is write-protected";
    case 32: return "the file is in use by another program";
    case 80: return "the file exists";
    case 112: return "the disk is full";
    case 206: return "file name too long";
    case 223: return "file too large for the system's limit";
    case 1117: return "input/output error";
    default: return "system error";
  }
}

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

CheckOutcome CheckAgainstLevel(const MergeImage& merge, const char* mergePath,
                               const LevelImage& level, const char* levelPath,
                               const LevelImage* backup, const History* history,
                               std::string* out) {
  Judgement judgement = JudgeMerge(merge, level, backup);
  HistoryJudgement byHistory{HistoryVerdict::NOTHING, {}, false};
  // Only a history that ends at the level tells of mods in it.
  if (history != nullptr &&
      FitOfHistory(*history, judgement.level) == HistoryFit::ENDS_AT_LEVEL) {
    byHistory = JudgeByHistory(*history, FingerprintOf(merge.buffer, merge.size), merge,
                               judgement);
    *out = HistoryLine(byHistory, *history, levelPath, true);
  }
  if (byHistory.verdict == HistoryVerdict::ALREADY_IN)
    return CheckOutcome::ALREADY_MERGED;
  if (byHistory.verdict == HistoryVerdict::MADE_BEFORE)
    return CheckOutcome::NOT_ITS_LEVEL;
  // A merge file that changes what installed mods wrote still applies.
  std::string over = *out;
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
  *out = over + CheckReport(mergePath, levelPath, merge, FirstActionAt(merge), level);
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

MergeVerdict CheckForShow(const MergeImage& merge, char* text, size_t size) {
  MergeVerdict verdict = CheckLevelName(merge, NameRules::BOTH, text, size);
  if (!ShowsAnyway(verdict)) return verdict;
  ActionFault fault = CheckActions(merge, FirstActionAt(merge), ANY_LEVEL_SIZE);
  if (fault.kind == FaultKind::NONE) return verdict;
  FormatActionFault(fault, text, size);
  return MergeVerdict::BAD_ACTION;
}

std::string FormatMrgtool(MrgtoolSays message, const SaidOf& of) {
  char text[2048];
  // A level name reaches the terminal with its control characters escaped.
  char escaped[ESCAPED_NAME_MAX];
  const char* name = of.name;
  if (message == MrgtoolSays::NAME_REFUSED || message == MrgtoolSays::NAME_REFUSED_GIVE ||
      message == MrgtoolSays::NAME_REFUSED_FIELD ||
      message == MrgtoolSays::NAME_NOT_ASCII ||
      message == MrgtoolSays::NO_ROOM_FOR_RECORD ||
      message == MrgtoolSays::NO_ROOM_FOR_RECORD_TO_STAMP ||
      message == MrgtoolSays::LEVEL_NAME_REFUSED ||
      message == MrgtoolSays::LEVEL_MISSING) {
    EscapeName(name, escaped, sizeof escaped);
    name = escaped;
  }
  const char* other = of.other;
  unsigned long error = of.error;
  switch (message) {
    case MrgtoolSays::NAME_REFUSED:
    case MrgtoolSays::NAME_REFUSED_GIVE:
    case MrgtoolSays::NAME_REFUSED_FIELD:
      snprintf(text, sizeof text, "can't use the level name '%s': %s%s", name, other,
               message == MrgtoolSays::NAME_REFUSED_GIVE ? "; give one with --name"
               : message == MrgtoolSays::NAME_REFUSED_FIELD
                   ? "; give one in the Level name field"
                   : "");
      break;
    case MrgtoolSays::NAME_NOT_ASCII:
      snprintf(
          text, sizeof text,
          "warning: the level name '%s' is not plain ASCII: Vorandel.exe reads its bytes "
          "in each player's code page, where they may name another file",
          name);
      break;
    case MrgtoolSays::MERGE_TOO_LARGE:
      snprintf(text, sizeof text,
               "the merge file would be too large for Vorandel (4 GiB - 1 byte or more)");
      break;
    case MrgtoolSays::NOT_REPRODUCED:
      snprintf(
          text, sizeof text,
          "internal error: the merge file made does not turn %s into %s; nothing written",
          name, other);
      break;
    case MrgtoolSays::CANT_OPEN:
    case MrgtoolSays::CANT_SIZE:
    case MrgtoolSays::CANT_READ:
    case MrgtoolSays::CANT_WRITE:
    case MrgtoolSays::CANT_REPLACE: {
      const char* failed = message == MrgtoolSays::CANT_OPEN    ? "open"
                           : message == MrgtoolSays::CANT_SIZE  ? "get the size of"
                           : message == MrgtoolSays::CANT_READ  ? "read"
                           : message == MrgtoolSays::CANT_WRITE ? "write"
                                                                : "replace";
      snprintf(text, sizeof text, "can't %s %s: %s (error %lu)", failed, name,
               ErrorMeaning(error), error);
      break;
    }
    case MrgtoolSays::FILE_TOO_LARGE:
      snprintf(text, sizeof text,
               "%s is too large: merge files and levels stay below 4 GiB - 1 byte", name);
      break;
    case MrgtoolSays::FAULT: {
      std::string line(other);
      while (!line.empty() && line.back() == '\n') line.pop_back();
      for (char& c : line)
        if (c == '\n') c = ' ';
      snprintf(text, sizeof text, "%s: %s", name, line.c_str());
      break;
    }
    case MrgtoolSays::NO_ROOM_FOR_RECORD:
      snprintf(text, sizeof text,
               "warning: the level name '%s' leaves no room for the record of the level "
               "(%lu characters at most): Vorandel can't tell by this merge file a level "
               "already merged, or of another version",
               name, static_cast<unsigned long>(RECORD_NAME_CHARS_MAX));
      break;
    case MrgtoolSays::NOT_MADE_FOR:
      snprintf(text, sizeof text, "%s is not the level %s was made for; nothing written",
               name, other);
      break;
    case MrgtoolSays::GIVEN_ITS_RESULT:
      snprintf(text, sizeof text,
               "%s is the level %s makes, not the one it was made for: give the level as "
               "it was before, such as its backup; nothing written",
               name, other);
      break;
    case MrgtoolSays::OTHER_VERSIONS:
      snprintf(text, sizeof text,
               "%s and %s are made for different versions of the level; nothing written",
               name, other);
      break;
    case MrgtoolSays::NO_ROOM_FOR_RECORD_TO_STAMP:
      snprintf(text, sizeof text,
               "%s: the level name '%s' leaves no room for the record of the level (%lu "
               "characters at most); nothing written",
               other, name, static_cast<unsigned long>(RECORD_NAME_CHARS_MAX));
      break;
    case MrgtoolSays::COMBINED_WITHOUT_RECORD:
      snprintf(
          text, sizeof text,
          "%s would have no record of its level, since what several merge files make "
          "together is known only from the level: give the level they were made for "
          "with --level LEVEL, or ask for a file without a record with --no-record; "
          "nothing written",
          name);
      break;
    case MrgtoolSays::PART_WITHOUT_RECORD:
      snprintf(text, sizeof text,
               "%s would have no record of its level, since %s has none: give the level "
               "it was made for with --level LEVEL, or ask for a file without a record "
               "with --no-record; nothing written",
               name, other);
      break;
    case MrgtoolSays::CHANGES_NOTHING:
      snprintf(text, sizeof text,
               "%s already holds what %s makes: %s changes nothing in the level it was "
               "made for; nothing written",
               name, other, other);
      break;
    case MrgtoolSays::RESULT_TOO_LARGE:
      snprintf(text, sizeof text,
               "%s would be 4 GiB or larger once merged with %s, more than Vorandel can "
               "read back; nothing written",
               name, other);
      break;
    case MrgtoolSays::UNDO_TOO_LARGE:
      snprintf(text, sizeof text,
               "the undo merge file would be 4 GiB - 1 byte or larger");
      break;
    case MrgtoolSays::COMBINED_TOO_LARGE:
      snprintf(text, sizeof text,
               "the combined merge file would be 4 GiB - 1 byte or larger");
      break;
    case MrgtoolSays::IDENTICAL:
      snprintf(text, sizeof text,
               "%s and %s are identical, so a merge file of them would change nothing "
               "(was %s saved?): give --allow-empty to write one anyway; nothing written",
               name, other, other);
      break;
    case MrgtoolSays::NO_RECORD_TO_CHECK:
      snprintf(
          text, sizeof text,
          "warning: %s has no record of its level, so nothing tells whether %s is the "
          "level it was made for",
          name, other);
      break;
    case MrgtoolSays::LEVEL_NAME_REFUSED:
      snprintf(
          text, sizeof text,
          "can't use the level %s: its file name must have 1 to %lu characters, hold "
          "no control character, end in no dot or space and name no device",
          name, static_cast<unsigned long>(NAME_CHARS_MAX));
      break;
    case MrgtoolSays::PACK_NAME_REFUSED:
      snprintf(
          text, sizeof text,
          "can't name a pack '%s': a pack's name has 1 to 1024 characters, none of them "
          "a control character",
          name);
      break;
    case MrgtoolSays::LEVEL_MISSING:
      snprintf(text, sizeof text,
               "%s is no merge file here, so it names no level: give the level too",
               name);
      break;
    case MrgtoolSays::RECORD_DISAGREES:
      snprintf(
          text, sizeof text,
          "%s: its actions don't make the level its record describes: the merge file "
          "is damaged; nothing written",
          name);
      break;
  }
  return text;
}

std::string FormatRemoval(RemovalSays message, const RemovalOf& of) {
  const std::string level = Shown(of.level);
  const std::string history = Shown(of.history);
  const std::string& mods = of.mods;
  const char* them = of.count == 1 ? "it" : "them";
  switch (message) {
    case RemovalSays::REMOVED: return "Took " + mods + " out of " + level + ".\n";
    case RemovalSays::EVERY_REMOVED:
      return level + " is the level from before its mods again: took " + mods + " out.\n";
    case RemovalSays::NO_HISTORY:
      return level + " has no history beside it (" + history +
             "): no mod in it can be told, nothing changed.\n";
    case RemovalSays::NOTHING_IN: return level + " has no mod in it: nothing to do.\n";
    case RemovalSays::NOT_FOUND:
      return mods + " is not in " + level +
             ": mrgtool mods lists the mods in it; nothing changed.\n";
    case RemovalSays::AMBIGUOUS:
      return "Several mods in " + level + " are named " + mods +
             ": give the merge file instead; nothing changed.\n";
    case RemovalSays::BLOCKED:
      return mods + " can't come out of " + level + " yet: " + of.blockers +
             " changed bytes it wrote. Take " + them + " out first; nothing changed.\n";
    case RemovalSays::LEVEL_CHANGED:
      return level + " changed since " + history +
             " was written, by a game update, an editor or another tool: its mods can't "
             "be "
             "taken out by it; nothing changed.\n";
    case RemovalSays::BACK_AT_ORIGINAL:
      return level + " is the level from before the mods that " + history +
             " lists, with none of them in: nothing to do.\n";
    case RemovalSays::HISTORY_UNUSABLE:
      return history + " is damaged, or of a later version: no mod can be taken out of " +
             level + " by it; nothing changed.\n";
    case RemovalSays::PROOF_FAILED:
      return level + " without " + mods + " would not be the level " + history +
             " says it is: nothing changed.\n";
    case RemovalSays::TOO_LARGE:
      return level + " without " + mods + " would be 4 GiB or larger: nothing changed.\n";
    case RemovalSays::PACK_REMOVED:
      return "Took the pack " + mods + " out of " + std::to_string(of.count) +
             (of.count == 1 ? " level.\n" : " levels.\n");
  }
  return "";
}

namespace {

// When a mod went in, in UTC, as "2026-12-08 10:31:05 UTC".
std::string WhenOf(int64_t time) {
  std::time_t at = static_cast<std::time_t>(time);
  const std::tm* utc = std::gmtime(&at);
  char text[40];
  if (utc == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc) == 0)
    return "at an unknown time";
  return text;
}

struct ModCounts {
  uint64_t out;  // bytes the mod took out of the level
  uint64_t in;   // bytes it put in
};

ModCounts CountsOf(const HistoryEntry& entry) {
  // The undo puts back what the mod took out, and takes out what it put in.
  MergeTotals undo = SumActions(entry.undo, entry.undoAt);
  return {undo.inserted, undo.removed};
}

}  // namespace

std::string ModsText(const char* level, const char* historyName, ModsState state,
                     const History* history,
                     const std::vector<std::vector<size_t>>& changedBy) {
  const std::string shown = Shown(level);
  const std::string file = Shown(historyName);
  std::string out;
  switch (state) {
    case ModsState::NO_HISTORY:
      return shown + " has no history beside it (" + file +
             "): no mod went in by a run that keeps one.\n";
    case ModsState::DAMAGED:
      return file + " is damaged, or of a later version: the mods in " + shown +
             " can't be told by it. The next run keeps it under another name and starts "
             "a new one.\n";
    default: break;
  }
  if (history->entries.empty()) {
    out = shown + " has no mod in it (" + file + ").\n";
  } else {
    Append(&out, "Mods in %s, oldest first (%s):\n", shown.c_str(), file.c_str());
    for (size_t i = 0; i < history->entries.size(); ++i) {
      const HistoryEntry& entry = history->entries[i];
      ModCounts counts = CountsOf(entry);
      Append(&out, "%3" PRIu64 ". %s, %s: %" PRIu64 " byte%s out, %" PRIu64 " in",
             static_cast<uint64_t>(i + 1), ModList(*history, {i}).c_str(),
             WhenOf(entry.head.time).c_str(), counts.out, counts.out == 1 ? "" : "s",
             counts.in);
      if (i < changedBy.size() && !changedBy[i].empty())
        out += "; " + ModList(*history, changedBy[i]) + " changed bytes it wrote";
      out += "\n";
    }
  }
  if (state == ModsState::LEVEL_CHANGED)
    out +=
        shown + " changed since " + file +
        " was written, by a game update, an editor or another tool: these mods may not "
        "be in it any more. The next run keeps this history under another name and "
        "starts a new one.\n";
  if (state == ModsState::BACK_AT_ORIGINAL && !history->entries.empty())
    out += shown + " is again the level from before these mods: none of them is in.\n";
  return out;
}

std::string ModsJson(const char* level, const char* historyName, ModsState state,
                     const History* history,
                     const std::vector<std::vector<size_t>>& changedBy) {
  static const char* const kStates[] = {"no history", "damaged", "mods in",
                                        "level changed", "original"};
  std::string out =
      "{\"level\": " + JsonText(level) + ", \"history\": " + JsonText(historyName) +
      ", \"state\": " + JsonText(kStates[static_cast<int>(state)]) + ", \"mods\": [";
  size_t count =
      history != nullptr && state != ModsState::NO_HISTORY && state != ModsState::DAMAGED
          ? history->entries.size()
          : 0;
  for (size_t i = 0; i < count; ++i) {
    const HistoryEntry& entry = history->entries[i];
    ModCounts counts = CountsOf(entry);
    out += i == 0 ? "" : ", ";
    out += "{\"name\": " + JsonText(entry.head.name);
    out += ", \"pack\": " +
           (entry.head.pack == 0 ? std::string("null") : JsonText(entry.head.packName));
    out += ", \"time\": " + std::to_string(entry.head.time);
    out += ", \"bytesOut\": " + std::to_string(counts.out);
    out += ", \"bytesIn\": " + std::to_string(counts.in);
    out += ", \"changedLaterBy\": [";
    const std::vector<size_t> none;
    const std::vector<size_t>& later = i < changedBy.size() ? changedBy[i] : none;
    for (size_t j = 0; j < later.size(); ++j)
      out += (j == 0 ? "" : ", ") + JsonText(history->entries[later[j]].head.name);
    out += "]}";
  }
  return out + "]}\n";
}

std::string NotFitLine(const char* mergePath, const char* levelPath,
                       const ActionFault& fault) {
  char text[FAULT_TEXT_MAX];
  FormatActionFault(fault, text, sizeof text);
  std::string line(text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::string out;
  Append(&out, "%s does not fit %s: %s", mergePath, levelPath, line.c_str());
  return out;
}

std::string ConflictLine(const CombineConflict& conflict, const char* firstPath,
                         const char* secondPath) {
  const PartAction& x = conflict.first;
  const PartAction& y = conflict.second;
  std::string out;
  // The level's offsets say where the changes meet; the record positions,
  // as show lists them, say which actions to edit.
  if (conflict.sameOffset)
    Append(&out,
           "%s and %s both insert at level offset %lu: %s's action at record position "
           "%lu and %s's at record position %lu; their order is unclear; nothing written",
           firstPath, secondPath, static_cast<unsigned long>(x.action.offset), firstPath,
           static_cast<unsigned long>(x.recordAt), secondPath,
           static_cast<unsigned long>(y.recordAt));
  else
    Append(&out,
           "%s and %s change overlapping ranges: level offsets %" PRIu64 " to %" PRIu64
           " by %s's action at record position %lu, and level offsets %" PRIu64
           " to %" PRIu64 " by %s's at record position %lu; nothing written",
           firstPath, secondPath, uint64_t{x.action.offset},
           uint64_t{x.action.offset} + x.action.removeLength, firstPath,
           static_cast<unsigned long>(x.recordAt), uint64_t{y.action.offset},
           uint64_t{y.action.offset} + y.action.removeLength, secondPath,
           static_cast<unsigned long>(y.recordAt));
  return out;
}

std::string FormatPack(PackSays message, const PackOf& of) {
  switch (message) {
    case PackSays::PUT_IN:
      return "The pack " + of.pack + " is in: " + of.count +
             (of.count == "1" ? " level" : " levels") + " changed.\n";
    case PackSays::ALREADY_IN:
      return "The pack " + of.pack + " is in already: nothing to do, nothing changed.\n";
    case PackSays::REFUSED:
      return "The pack " + of.pack + " can't go in whole: nothing changed.\n";
    case PackSays::PARTS_OVERLAP:
      return of.pack + " and " + of.count + " change the same bytes of " +
             Shown(of.level) + ": the pack can't put both in.\n";
  }
  return "";
}

std::string JsonText(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      // Bytes, not characters: each as the code point of its value.
      out += "\\u00";
      out += digits[byte >> 4];
      out += digits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

ModsState ModsStateOf(const FoundHistory& found) {
  switch (found.found) {
    case HistoryFound::NONE:
    case HistoryFound::UNREADABLE: return ModsState::NO_HISTORY;
    case HistoryFound::DAMAGED:
    case HistoryFound::LATER_VERSION: return ModsState::DAMAGED;
    case HistoryFound::WHOLE: break;
  }
  return found.fit == HistoryFit::ENDS_AT_LEVEL   ? ModsState::GOES_ON
         : found.fit == HistoryFit::LEVEL_CHANGED ? ModsState::LEVEL_CHANGED
                                                  : ModsState::BACK_AT_ORIGINAL;
}

RemovalSays SaysOfChoice(ChoiceFound choice) {
  return choice == ChoiceFound::NOTHING_IN  ? RemovalSays::NOTHING_IN
         : choice == ChoiceFound::AMBIGUOUS ? RemovalSays::AMBIGUOUS
                                            : RemovalSays::NOT_FOUND;
}
