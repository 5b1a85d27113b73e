#include "level_history.h"

#include "report.h"
#include "staged_output.h"

namespace {

// The first LEVEL.history.N that names no file.
void FreeSetAsideName(const RunNames& names, char out[JOURNAL_NAME_MAX]) {
  for (unsigned number = 1;; ++number) {
    SetAsideName(names, number, out);
    uint32_t size = 0;
    LoadFailure found = SizeOfFile(out, FILE_SHARE_READ, &size);
    if (found.step == LoadStep::OPEN_FAILED && found.error == ERROR_FILE_NOT_FOUND)
      return;
  }
}

}  // namespace

void ReadLevelHistory(const RunNames& names, const Fingerprint& level,
                      LevelHistory* history) {
  LoadFailure loaded =
      LoadWhole(names.history, FILE_SHARE_READ, LoadWay::READ, &history->file);
  switch (loaded.step) {
    case LoadStep::LOADED: break;
    case LoadStep::OPEN_FAILED:
      if (loaded.error == ERROR_FILE_NOT_FOUND) {
        history->found = HistoryFound::NONE;
        return;
      }
      [[fallthrough]];
    case LoadStep::SIZE_FAILED:
    case LoadStep::READ_FAILED:
      history->found = HistoryFound::UNREADABLE;
      history->error = loaded.error;
      return;
    case LoadStep::TOO_LARGE:
      // No run writes a history that large.
      history->found = HistoryFound::DAMAGED;
      return;
  }
  FindHistory(history->file.bytes, history->file.size, level, history);
}

namespace {

// What the new history keeps: the history found, where it goes on; else a new
// one's header, in *start, with the name to set the old one aside under.
Bytes KeptHistory(const RunNames& names, const LevelHistory& history, const ModHead& head,
                  std::vector<uint8_t>* start, char setAside[JOURNAL_NAME_MAX]) {
  setAside[0] = '\0';
  if (history.GoesOn()) return {history.file.bytes, history.file.size};
  if (history.found != HistoryFound::NONE) FreeSetAsideName(names, setAside);
  StartHistory(head.before, start);
  return {start->data(), start->size()};
}

}  // namespace

bool HistoryWithMod(const RunNames& names, const LevelHistory& history,
                    const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                    const LevelImage& before, std::vector<uint8_t>* out,
                    char setAside[JOURNAL_NAME_MAX]) {
  std::vector<uint8_t> start;
  Bytes kept = KeptHistory(names, history, head, &start, setAside);
  out->assign(kept.bytes, kept.bytes + kept.size);
  return AppendModEntry(head, merge, firstActionAt, before, out);
}

bool StartHistoryDraft(const RunNames& names, const LevelHistory& history,
                       const ModHead& head, HistoryDraft* draft,
                       char setAside[JOURNAL_NAME_MAX]) {
  draft->kept = KeptHistory(names, history, head, &draft->start, setAside);
  return StartModEntry(head, *draft->merge, draft->firstActionAt, draft->kept.size,
                       &draft->fields);
}

bool WriteHistoryDraft(HANDLE file, const void* content) {
  const auto* draft = static_cast<const HistoryDraft*>(content);
  StagedOutput output = {file, draft->staging, MERGED_STAGING_SIZE, 0};
  return StageSlice(&output, draft->kept.bytes,
                    static_cast<uint32_t>(draft->kept.size)) &&
         WriteModEntry(draft->fields, *draft->merge, draft->firstActionAt, draft->before,
                       StageSlice, &output) &&
         FlushStaged(&output);
}

void SayHistorySetAside(const RunNames& names, const LevelHistory& history,
                        const char* setAside) {
  if (setAside[0] == '\0') return;
  VorandelSays message = VorandelSays::HISTORY_DAMAGED;
  if (history.found == HistoryFound::LATER_VERSION)
    message = VorandelSays::HISTORY_OF_LATER_VERSION;
  else if (history.found == HistoryFound::WHOLE)
    message = history.fit == HistoryFit::BACK_AT_ORIGINAL
                  ? VorandelSays::HISTORY_AT_ORIGINAL
                  : VorandelSays::HISTORY_OUTRUN;
  Say(message, {names.history, setAside, 0, 0, names.level});
}
