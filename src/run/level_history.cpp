#include "level_history.h"

#include "report.h"

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

bool HistoryWithMod(const RunNames& names, const LevelHistory& history,
                    const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                    const LevelImage& before, std::vector<uint8_t>* out,
                    char setAside[JOURNAL_NAME_MAX]) {
  setAside[0] = '\0';
  if (history.GoesOn()) {
    out->assign(history.file.bytes, history.file.bytes + history.file.size);
  } else {
    if (history.found != HistoryFound::NONE) FreeSetAsideName(names, setAside);
    StartHistory(head.before, out);
  }
  return AppendModEntry(head, merge, firstActionAt, before, out);
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
