// mrgtool's commands for players: the mods in a level, and taking them out.
#include <string>
#include <vector>

#include "format/merge_checks.h"
#include "identity/fingerprint.h"
#include "journal/history.h"
#include "journal/mod_stack.h"
#include "journal/run_names.h"
#include "level_history.h"
#include "mrgtool_commands.h"
#include "mrgtool_io.h"
#include "mrgtool_merge_input.h"
#include "mrgtool_status.h"
#include "pack_run.h"
#include "removal_run.h"
#include "words/mrgtool_words.h"

namespace {

// The level given on the command line, as a run names it: its file name, in
// its folder, which becomes the current one. False after saying why not.
bool EnterLevelFolder(const char* path, std::string* name) {
  std::string folder;
  std::string file = path;
  size_t cut = file.find_last_of(kWindowsPaths ? "\\/" : "/");
  if (cut != std::string::npos) {
    folder = file.substr(0, cut == 0 ? 1 : cut);
    file = file.substr(cut + 1);
  }
  if (file.empty() || file.size() > NAME_CHARS_MAX ||
      !IsSafeLevelName(file.c_str(), kWindowsPaths)) {
    Say(MrgtoolSays::LEVEL_NAME_REFUSED, {path});
    return false;
  }
  if (!folder.empty()) {
    DWORD error = EnterFolder(folder.c_str());
    if (error != NO_ERROR) {
      Say(MrgtoolSays::CANT_OPEN, {folder.c_str(), {}, error});
      return false;
    }
  }
  *name = file;
  return true;
}

int StatusOf(RemovalEnd end) {
  switch (end) {
    case RemovalEnd::REMOVED:
    case RemovalEnd::NOTHING_IN: return MRGTOOL_OK;
    case RemovalEnd::BLOCKED: return MRGTOOL_BLOCKED;
    case RemovalEnd::FAILED: break;
  }
  return MRGTOOL_FAILED;
}

}  // namespace

int RunMods(const CommandLine& line) {
  std::string level;
  if (!EnterLevelFolder(line.operands[0], &level)) return MRGTOOL_FAILED;
  RunNames names;
  NameRun(level.c_str(), kWindowsPaths, &names);
  FileBytes levelFile;
  if (!ReadWholeFile(names.level, &levelFile)) return MRGTOOL_FAILED;
  LevelHistory history;
  ReadLevelHistory(names, FingerprintOf(levelFile.bytes, levelFile.size), &history);
  if (history.found == HistoryFound::UNREADABLE) {
    Say(MrgtoolSays::CANT_READ, {names.history, {}, history.error});
    return MRGTOOL_FAILED;
  }
  ModsState state = ModsStateOf(history);
  std::vector<std::vector<size_t>> changedBy;
  if (state == ModsState::GOES_ON) changedBy = BlockersOfEach(history.history);
  const History* shown =
      history.found == HistoryFound::WHOLE ? &history.history : nullptr;
  std::string text = line.json
                         ? ModsJson(names.level, names.history, state, shown, changedBy)
                         : ModsText(names.level, names.history, state, shown, changedBy);
  Print(Stream::STANDARD_OUTPUT, "%s", text.c_str());
  return MRGTOOL_OK;
}

int RunRemove(const CommandLine& line) {
  const char* mod = line.operands[0];
  ModChoice choice{false, false, {}, mod};
  // A merge file that is there is known by its fingerprint; else the name is
  // the one mrgtool mods lists.
  MergeInput input;
  std::string level;
  if (LoadMergeInputQuietly(mod, &input)) {
    choice.byMerge = true;
    choice.merge = FingerprintOf(input.merge.buffer, input.merge.size);
    if (line.operands.size() < 2 && input.levelName != nullptr) level = input.levelName;
  }
  if (line.operands.size() > 1 && !EnterLevelFolder(line.operands[1], &level))
    return MRGTOOL_FAILED;
  if (level.empty()) {
    Say(MrgtoolSays::LEVEL_MISSING, {mod});
    return MRGTOOL_USAGE;
  }
  return StatusOf(RunRemoval(level.c_str(), choice));
}

int RunOriginal(const CommandLine& line) {
  std::string level;
  if (!EnterLevelFolder(line.operands[0], &level)) return MRGTOOL_FAILED;
  return StatusOf(RunRemoval(level.c_str(), ModChoice{true, false, {}, ""}));
}

namespace {

// A pack's name by default: the folder its merge files share, or the first
// merge file's name.
std::string PackNameOf(const std::vector<const char*>& paths) {
  std::string folder;
  for (const char* path : paths) {
    std::string one = path;
    size_t cut = one.find_last_of(kWindowsPaths ? "\\/" : "/");
    one = cut == std::string::npos ? "" : one.substr(0, cut);
    if (path == paths[0]) folder = one;
    if (one != folder || one.empty()) return paths[0];
  }
  size_t cut = folder.find_last_of(kWindowsPaths ? "\\/" : "/");
  std::string last = cut == std::string::npos ? folder : folder.substr(cut + 1);
  return last.empty() || last == "." || last == ".." ? paths[0] : last;
}

}  // namespace

int RunApply(const CommandLine& line) {
  std::string name = line.name != nullptr ? line.name : PackNameOf(line.operands);
  if (name.empty() || HasControlByte(name.c_str()) || name.size() > ENTRY_NAME_MAX) {
    Say(MrgtoolSays::PACK_NAME_REFUSED, {name.c_str()});
    return MRGTOOL_USAGE;
  }
  switch (RunPack(line.operands, name)) {
    case PackEnd::PUT_IN:
    case PackEnd::ALREADY_IN: return MRGTOOL_OK;
    case PackEnd::REFUSED:
    case PackEnd::FAILED: break;
  }
  return MRGTOOL_FAILED;
}
