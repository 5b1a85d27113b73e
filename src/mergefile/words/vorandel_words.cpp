#include "words/vorandel_words.h"

#include <cstdio>

#include "format/merge_checks.h"
#include "identity/level_record.h"
#include "journal/rewrite_mark.h"

void FormatVorandel(VorandelSays message, const SaidOf& of, char* text, size_t size) {
  const char* name = of.name;
  const char* other = of.other;
  unsigned long error = of.error;
  switch (message) {
    case VorandelSays::USAGE:
      snprintf(text, size,
               "Usage:\n\tVorandel.exe [file.mrg]\n\n"
               "With [file.mrg] the file to be merged with the kelvarin level.\n");
      break;
    case VorandelSays::FILE_NOT_FOUND:
      snprintf(text, size, "File %s not found.\n", name);
      break;
    case VorandelSays::SIZE_FAILED:
      snprintf(text, size, "Can't get the size of the file (error %lu).\n", error);
      break;
    case VorandelSays::FILE_TOO_LARGE:
      snprintf(text, size, "File %s is too large.\n", name);
      break;
    case VorandelSays::READ_FAILED:
      snprintf(text, size, "Can't read the data (error %lu).\n", error);
      break;
    case VorandelSays::BACKING_UP:
      snprintf(text, size, "Backuping %s to %s\n", name, other);
      break;
    case VorandelSays::COPY_FAILED:
      snprintf(text, size, "Can't copy the file %s to %s (error %lu)", name, other,
               error);
      break;
    case VorandelSays::PROCESSING:
      snprintf(text, size, "Processing level: %s\n", name);
      break;
    case VorandelSays::DONE: snprintf(text, size, "Done !\n"); break;
    case VorandelSays::WRITE_FAILED:
      snprintf(text, size,
               "Can't write the level %s (error %lu); the level is unchanged.\n", name,
               error);
      break;
    case VorandelSays::NOR_RESTORED:
      snprintf(
          text, size,
          "Can't write the level %s (error %lu), nor restore it (error %lu); the next "
          "run restores it from %s first.\n",
          name, error, of.error2, other);
      break;
    case VorandelSays::MARK_WRITE_FAILED:
      snprintf(text, size,
               "Can't write the file %s (error %lu); the level is unchanged.\n", name,
               error);
      break;
    case VorandelSays::ALREADY_MERGED:
      snprintf(text, size,
               "%s already holds what this merge file makes: nothing to do, nothing "
               "changed.\n",
               name);
      break;
    case VorandelSays::NOT_ITS_LEVEL:
      snprintf(
          text, size,
          "%s is not the level this merge file was made for, nor the one it makes: "
          "nothing changed. Use the merge file made for this version of the level.\n",
          name);
      break;
    case VorandelSays::RECORD_DISAGREES:
      snprintf(text, size,
               "The actions of this merge file don't make of %s the level its record "
               "describes: the merge file is damaged, nothing changed.\n",
               name);
      break;
    case VorandelSays::RUN_LOCKED:
      snprintf(
          text, size,
          "Another run of Vorandel is working on %s: nothing changed; run this merge "
          "file again once it has ended.\n",
          name);
      break;
    case VorandelSays::FOLDER_FAILED:
      snprintf(text, size, "Can't enter the folder %s of the merge file (error %lu).\n",
               name, error);
      break;
    case VorandelSays::LOCK_FAILED:
      snprintf(text, size,
               "Can't take the lock %s (error %lu): nothing changed. If no other run is "
               "working on %s, delete %s, then run this merge file again.\n",
               name, error, other, name);
      break;
    case VorandelSays::HISTORY_DAMAGED:
      snprintf(
          text, size,
          "%s is damaged: it is kept as %s, and a new history of %s starts with this "
          "run.\n",
          name, other, of.third);
      break;
    case VorandelSays::HISTORY_OF_LATER_VERSION:
      snprintf(
          text, size,
          "%s was written by a later version of Vorandel: it is kept as %s, and a new "
          "history of %s starts with this run.\n",
          name, other, of.third);
      break;
    case VorandelSays::HISTORY_AT_ORIGINAL:
      snprintf(
          text, size,
          "%s is again the level from before the mods that %s lists, with none of them "
          "in: that history is kept as %s, and a new one starts with this run.\n",
          of.third, name, other);
      break;
    case VorandelSays::HISTORY_OUTRUN:
      snprintf(text, size,
               "%s changed since %s was written, by a game update, an editor or another "
               "tool: that history is kept as %s, and a new one starts with this run.\n",
               of.third, name, other);
      break;
    case VorandelSays::HISTORY_UNREADABLE:
      snprintf(text, size, "Can't read %s (error %lu): nothing changed.\n", name, error);
      break;
    case VorandelSays::PACK_ROLLED_BACK:
      snprintf(text, size,
               "A run on the pack %s was stopped midway: every level of it is as it was "
               "before that run, and %s is deleted.\n",
               name, other);
      break;
    case VorandelSays::PACK_UNCHANGED:
      snprintf(text, size,
               "Every level of the pack %s is as it was before: nothing of it went in.\n",
               name);
      break;
    case VorandelSays::PACK_IN_PIECES:
      snprintf(
          text, size,
          "The levels of the pack %s can't all be put back now: the next run on any of "
          "them puts every one back from its backup first, as %s tells it.\n",
          name, other);
      break;
    case VorandelSays::PACK_JOURNAL_KEPT:
      snprintf(
          text, size,
          "Can't delete %s (error %lu), the journal of the pack %s, so the pack is not "
          "in: the next run on any of its levels takes it out of every one.\n",
          name, error, other);
      break;
    case VorandelSays::PACK_JOURNAL_DAMAGED:
      if (error != 0)
        snprintf(
            text, size,
            "Can't read %s (error %lu), the journal of a pack that was stopped before "
            "it was in: nothing changed.\n",
            name, error);
      else
        snprintf(
            text, size,
            "%s, the journal of a pack that was stopped before it was in, is damaged: "
            "put each level it names back from its .bak, then delete it and their "
            ".merging marks.\n",
            name);
      break;
    case VorandelSays::ALREADY_IN:
      snprintf(
          text, size,
          "%s already holds what this merge file makes, with %s put in since: nothing "
          "to do, nothing changed.\n",
          name, other);
      break;
    case VorandelSays::MADE_BEFORE:
      snprintf(
          text, size,
          "%s is not the level this merge file was made for, nor the one it makes: "
          "nothing changed. It was made for the level before %s went in: take %s out "
          "first with mrgtool remove.\n",
          name, other, error == 1 ? "it" : "them");
      break;
    case VorandelSays::OVER_MODS:
      snprintf(text, size,
               "This merge file changes bytes that %s wrote in %s: it goes in over %s.\n",
               other, name, error == 1 ? "it" : "them");
      break;
    case VorandelSays::RESULT_TOO_LARGE:
      snprintf(
          text, size,
          "%s would be 4 GiB or larger once merged, more than Vorandel can read back: "
          "nothing changed.\n",
          name);
      break;
    case VorandelSays::LEVEL_CHANGED:
      snprintf(text, size,
               "%s changed while it was copied to %s; the level is unchanged: run the "
               "merge file again once no other program writes to it.\n",
               name, other);
      break;
  }
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

MergeVerdict CheckLevelName(const MergeImage& merge, NameRules rules, char* text,
                            size_t size) {
  text[0] = '\0';
  if (!HasValidLevelName(merge)) {
    snprintf(text, size, "Invalid level name in the merge file.\n");
    return MergeVerdict::BAD_NAME;
  }
  const auto* name = reinterpret_cast<const char*>(merge.buffer + LEVEL_NAME_AT);
  bool safeHere = IsSafeLevelName(name, rules == NameRules::WINDOWS);
  bool safeOnWindows = rules != NameRules::BOTH || IsSafeLevelName(name, true);
  LevelRecord record;
  if (safeHere && safeOnWindows) {
    if (FindLevelRecord(merge, &record) != RecordFound::DAMAGED) return MergeVerdict::OK;
    snprintf(text, size, "Damaged level record in the merge file.\n");
    return MergeVerdict::BAD_RECORD;
  }
  char shown[ESCAPED_NAME_MAX];
  EscapeName(name, shown, sizeof shown);
  snprintf(text, size, "Unsafe level name %s in the merge file.\n%s", shown,
           safeHere
               ? "The name is unsafe on Windows only, where Vorandel.exe refuses it.\n"
               : "");
  return safeHere ? MergeVerdict::UNSAFE_ON_WINDOWS : MergeVerdict::UNSAFE_NAME;
}

MergeVerdict CheckMergeFile(const MergeImage& merge, uint32_t levelSize, NameRules rules,
                            char* text, size_t size) {
  MergeVerdict verdict = CheckLevelName(merge, rules, text, size);
  if (verdict != MergeVerdict::OK) return verdict;
  ActionFault fault = CheckActions(merge, FirstActionAt(merge), levelSize);
  if (fault.kind == FaultKind::NONE) return MergeVerdict::OK;
  FormatActionFault(fault, text, size);
  return MergeVerdict::BAD_ACTION;
}

std::string JudgementLine(const Judgement& judgement, const char* levelName) {
  char text[SAYS_TEXT_MAX];
  text[0] = '\0';
  if (judgement.verdict == LevelVerdict::ALREADY_MERGED)
    FormatVorandel(VorandelSays::ALREADY_MERGED, {levelName}, text, sizeof text);
  else if (judgement.verdict == LevelVerdict::NOT_ITS_LEVEL)
    FormatVorandel(VorandelSays::NOT_ITS_LEVEL, {levelName}, text, sizeof text);
  else if (judgement.fault.kind == FaultKind::NONE && judgement.tooLarge)
    FormatVorandel(VorandelSays::RESULT_TOO_LARGE, {levelName}, text, sizeof text);
  else if (judgement.fault.kind == FaultKind::NONE && !judgement.recordHolds)
    FormatVorandel(VorandelSays::RECORD_DISAGREES, {levelName}, text, sizeof text);
  return text;
}

void FormatMarkMessage(MarkMessage message, const RunNames& names, unsigned long error,
                       char* text, size_t size) {
  const char* level = names.level;
  const char* backup = names.backup;
  const char* mark = names.mark;
  switch (message) {
    case MarkMessage::RESTORED:
      snprintf(text, size,
               "Restored %s from %s: a run was stopped while it rewrote the level.\n",
               level, backup);
      break;
    case MarkMessage::RESTORE_FAILED:
      snprintf(text, size,
               "Can't restore %s from %s (error %lu); the next run tries again.\n", level,
               backup, error);
      break;
    case MarkMessage::BACKUP_UNREADABLE:
      snprintf(text, size,
               "A run was stopped while it rewrote %s, and %s can't be read (error %lu): "
               "put the level back from a copy of your own, then delete %s.\n",
               level, backup, error, mark);
      break;
    case MarkMessage::BACKUP_CHANGED:
      snprintf(
          text, size,
          "A run was stopped while it rewrote %s, and %s no longer holds the level as "
          "it was: put the level back from a copy of your own, then delete %s.\n",
          level, backup, mark);
      break;
    case MarkMessage::MARK_UNREADABLE:
      snprintf(text, size,
               "Can't read %s (error %lu), the mark of a run that was stopped while it "
               "rewrote %s: copy %s over the level if it holds the level as it was, then "
               "delete the mark.\n",
               mark, error, level, backup);
      break;
    case MarkMessage::MARK_DAMAGED:
      snprintf(text, size,
               "%s, the mark of a run that was stopped while it rewrote %s, is damaged: "
               "copy %s over the level if it holds the level as it was, then delete the "
               "mark.\n",
               mark, level, backup);
      break;
    case MarkMessage::MARK_KEPT:
      snprintf(text, size,
               "Can't delete %s (error %lu): until it is gone, each run first puts %s "
               "back from %s.\n",
               mark, error, level, backup);
      break;
    case MarkMessage::MARK_OF_1_0:
      snprintf(text, size,
               "%s is the mark of a run of Vorandel 1.0.0 that was stopped while it "
               "rewrote %s: copy %s over the level if it holds the level as it was, then "
               "delete the mark and run the merge file again.\n",
               mark, level, backup);
      break;
    case MarkMessage::STOPPED_RESTORED:
      snprintf(text, size,
               "Stopped: %s was put back from %s first, and nothing was merged.\n", level,
               backup);
      break;
    case MarkMessage::LEVEL_KEPT:
      snprintf(text, size,
               "%s was put in place after a run was stopped while it rewrote the level: "
               "it is kept as it is, and the stopped run's mark %s is deleted.\n",
               level, mark);
      break;
    case MarkMessage::MERGED_MARK_KEPT:
      snprintf(text, size,
               "Merged %s, but can't delete %s (error %lu): delete it before the level "
               "changes again, or the next run puts the level back from %s.\n",
               level, mark, error, backup);
      break;
  }
}

std::string Shown(const std::string& name) {
  static const char digits[] = "0123456789ABCDEF";
  std::string shown;
  for (char c : name) {
    auto byte = static_cast<uint8_t>(c);
    if (!IsControlByte(byte)) {
      shown += c;
      continue;
    }
    shown += "\\x";
    shown += digits[byte >> 4];
    shown += digits[byte & 0xF];
  }
  return shown;
}

std::string ModList(const History& history, const std::vector<size_t>& entries) {
  std::string list;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ModHead& head = history.entries[entries[i]].head;
    if (i != 0) list += i + 1 == entries.size() ? " and " : ", ";
    list += Shown(head.name);
    if (head.pack != 0) list += " (pack " + Shown(head.packName) + ")";
  }
  return list;
}

std::string HistoryLine(const HistoryJudgement& judgement, const History& history,
                        const char* levelName, bool applies) {
  std::string mods = ModList(history, judgement.mods);
  // Room for the message with as long a list as there is.
  std::vector<char> room(SAYS_TEXT_MAX + mods.size(), '\0');
  char* text = room.data();
  size_t size = room.size();
  SaidOf of{levelName, mods.c_str(), static_cast<unsigned long>(judgement.mods.size())};
  switch (judgement.verdict) {
    case HistoryVerdict::NOTHING: break;
    case HistoryVerdict::ALREADY_IN:
      FormatVorandel(judgement.mods.empty() ? VorandelSays::ALREADY_MERGED
                                            : VorandelSays::ALREADY_IN,
                     of, text, size);
      break;
    case HistoryVerdict::MADE_BEFORE: {
      FormatVorandel(VorandelSays::MADE_BEFORE, of, text, size);
      std::string line = text;
      if (applies && judgement.appliesOnceOut)
        line +=
            "It changes none of the bytes they wrote: once they are out, it applies.\n";
      return line;
    }
    case HistoryVerdict::OVER_MODS:
      FormatVorandel(VorandelSays::OVER_MODS, of, text, size);
      break;
  }
  return text;
}

VorandelSays SetAsideSays(const FoundHistory& found) {
  if (found.found == HistoryFound::LATER_VERSION)
    return VorandelSays::HISTORY_OF_LATER_VERSION;
  if (found.found != HistoryFound::WHOLE) return VorandelSays::HISTORY_DAMAGED;
  return found.fit == HistoryFit::BACK_AT_ORIGINAL ? VorandelSays::HISTORY_AT_ORIGINAL
                                                   : VorandelSays::HISTORY_OUTRUN;
}
