// The page's door to the merge file library: C functions on buffers in the
// WebAssembly memory, which the page's module fills and reads. Every text is
// made by the functions Vorandel and mrgtool print with, so that all three
// say the same thing. A call leaves its text, bytes and number behind for
// the web_text, web_bytes and web_number calls that read them.
//
// A job on a level names it first (web_run_names, web_level_names); the calls
// after that work on that level, and what each finds stays for the next: the
// level's history, Vorandel's judgement, and the change the job makes (its
// mark, the new history, the name an old history is kept under). Each job
// runs on a fresh instance, so nothing of one job reaches another.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "differ/merge_make.h"
#include "format/apply_actions.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "format/merge_records.h"
#include "identity/level_record.h"
#include "identity/level_verdict.h"
#include "journal/history.h"
#include "journal/history_verdict.h"
#include "journal/mod_stack.h"
#include "journal/pack_journal.h"
#include "journal/rewrite_mark.h"
#include "words/mrgtool_words.h"
#include "words/vorandel_words.h"

// The page serves players, who are on Windows: level names follow its rules.
constexpr bool kPlayersPaths = true;

// Numbers per action in show's data for the page.
constexpr uint32_t SHOW_FIELDS = 4;

// Windows' ERROR_FILE_TOO_LARGE, which Vorandel names for a history that
// would be too large to write.
constexpr uint32_t kFileTooLarge = 223;

// The page's own outcomes, which its worker reads by name (web_enums) as it
// reads the library's.
//
// Vorandel's verdict before the backup, the history's included (web_judge):
// go on; go on after the line that names the mods it changes; back up, then
// stop on the faulty action; stop, done already; stop, refused.
enum class Judged { GO_ON, OVER_MODS, FAULTY, DONE_ALREADY, REFUSED };
// A level given by its path from the data folder (web_level_names): taken;
// refused by mrgtool's rule for the level's file name; or reaching outside
// the folder, which the page can't.
enum class LevelPath { TAKEN, NAME_REFUSED, OUTSIDE };
// How a removal ends, as mrgtool's (removal_run.h): REMOVED goes on to write
// the level; the others stop with their line, NOTHING_IN a success.
enum class Removed { REMOVED, NOTHING_IN, BLOCKED, FAILED };

// Given by the page's worker (web_imports.js): how far a long diff has come;
// and that memory the library needs can't be had, which ends the job there.
#if defined(__wasm__)
extern "C" void web_progress(double done, double total);
extern "C" void web_out_of_memory();
#else
static void web_progress(double, double) {}
static void web_out_of_memory() {}
#endif

namespace {

std::string text;
std::vector<uint8_t> bytes;
double number = 0;

// The history beside the job's level as found, with the page's bytes of it,
// which stay for the job: the entries point into them.
struct PageHistory : FoundHistory {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
};

// The job's level, as the calls before left it.
struct JobLevel {
  RunNames names{};
  PageHistory history;
  Judgement judgement{};
  Fingerprint mergePrint{};
  // The change: its mark, the level's history once it is in, and the name the
  // old history is kept under first, if any.
  RewriteMark mark{};
  std::vector<uint8_t> newHistory;
  char setAside[JOURNAL_NAME_MAX] = "";
};

JobLevel job;

// A level of the pack the job puts in, as the calls left it once it was
// judged, with its merge file and the level as read; `id` is the page's.
struct PackLevel {
  JobLevel level;
  std::string key;  // the lock order's
  int id;
  std::string name;  // the part's, as the history names it
  const uint8_t* merge;
  uint32_t mergeSize;
  const uint8_t* at;
  uint32_t size;
};

// The pack the job puts in, as mrgtool apply does (pack_run.cpp): its name,
// when it goes in, every part's fingerprint, the levels it changes, in the
// order of their locks once web_pack_journal sorted them, and its journal.
struct PagePack {
  std::string name;
  int64_t time = 0;
  std::vector<Fingerprint> prints;
  std::vector<PackLevel> levels;
  std::string journal;
};

PagePack pack;

MergeImage Image(const uint8_t* buffer, uint32_t size) { return {buffer, size}; }

// The tools' messages end in a line end; the page's log adds its own.
void SetMessage(const char* message) {
  size_t length = strlen(message);
  text.assign(message, length > 0 && message[length - 1] == '\n' ? length - 1 : length);
}

void ReportProgress(void*, uint64_t done, uint64_t total) {
  web_progress(static_cast<double>(done), static_cast<double>(total));
}

bool CopySlice(void* context, const uint8_t* slice, uint32_t count) {
  auto** out = static_cast<uint8_t**>(context);
  memcpy(*out, slice, count);
  *out += count;
  return true;
}

// A JSON string of bytes taken as Latin-1 characters; names hold no control
// bytes, which the name checks refuse.
std::string JsonString(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

struct Named {
  const char* name;
  int value;
};

struct EnumTable {
  const char* name;
  const Named* values;
  size_t count;
};

// The enumerator's name is written once, so that name and number can't part.
#define NAMED(type, value) \
  Named { #value, static_cast < int>(type::value) }

constexpr Named NAME_RULES[] = {NAMED(NameRules, POSIX), NAMED(NameRules, WINDOWS),
                                NAMED(NameRules, BOTH)};
constexpr Named MERGE_VERDICTS[] = {NAMED(MergeVerdict, OK),
                                    NAMED(MergeVerdict, BAD_NAME),
                                    NAMED(MergeVerdict, UNSAFE_NAME),
                                    NAMED(MergeVerdict, BAD_ACTION),
                                    NAMED(MergeVerdict, UNSAFE_ON_WINDOWS),
                                    NAMED(MergeVerdict, BAD_RECORD)};
constexpr Named MAKE_OUTCOMES[] = {NAMED(MakeOutcome, OK),
                                   NAMED(MakeOutcome, FILE_TOO_LARGE),
                                   NAMED(MakeOutcome, NOT_REPRODUCED)};
constexpr Named LEVEL_VERDICTS[] = {NAMED(LevelVerdict, APPLIES),
                                    NAMED(LevelVerdict, ALREADY_MERGED),
                                    NAMED(LevelVerdict, NOT_ITS_LEVEL)};
constexpr Named CHECK_OUTCOMES[] = {
    NAMED(CheckOutcome, APPLIES), NAMED(CheckOutcome, ALREADY_MERGED),
    NAMED(CheckOutcome, NOT_ITS_LEVEL), NAMED(CheckOutcome, FAULT)};
constexpr Named FILE_STATES[] = {NAMED(FileState, MISSING), NAMED(FileState, UNREADABLE),
                                 NAMED(FileState, TOO_LARGE), NAMED(FileState, LOADED)};
constexpr Named MARK_PLANS[] = {NAMED(MarkPlan, NOTHING), NAMED(MarkPlan, CLEAR_MARK),
                                NAMED(MarkPlan, RESTORE), NAMED(MarkPlan, REFUSE),
                                NAMED(MarkPlan, KEEP_LEVEL)};
constexpr Named MARK_MESSAGES[] = {
    NAMED(MarkMessage, RESTORED),          NAMED(MarkMessage, RESTORE_FAILED),
    NAMED(MarkMessage, BACKUP_UNREADABLE), NAMED(MarkMessage, BACKUP_CHANGED),
    NAMED(MarkMessage, MARK_UNREADABLE),   NAMED(MarkMessage, MARK_DAMAGED),
    NAMED(MarkMessage, MARK_KEPT),         NAMED(MarkMessage, MARK_OF_1_0),
    NAMED(MarkMessage, STOPPED_RESTORED),  NAMED(MarkMessage, MERGED_MARK_KEPT),
    NAMED(MarkMessage, LEVEL_KEPT)};
constexpr Named VORANDEL_SAYS[] = {NAMED(VorandelSays, USAGE),
                                   NAMED(VorandelSays, FILE_NOT_FOUND),
                                   NAMED(VorandelSays, SIZE_FAILED),
                                   NAMED(VorandelSays, FILE_TOO_LARGE),
                                   NAMED(VorandelSays, READ_FAILED),
                                   NAMED(VorandelSays, BACKING_UP),
                                   NAMED(VorandelSays, COPY_FAILED),
                                   NAMED(VorandelSays, PROCESSING),
                                   NAMED(VorandelSays, DONE),
                                   NAMED(VorandelSays, WRITE_FAILED),
                                   NAMED(VorandelSays, NOR_RESTORED),
                                   NAMED(VorandelSays, MARK_WRITE_FAILED),
                                   NAMED(VorandelSays, ALREADY_MERGED),
                                   NAMED(VorandelSays, NOT_ITS_LEVEL),
                                   NAMED(VorandelSays, RECORD_DISAGREES),
                                   NAMED(VorandelSays, LEVEL_CHANGED),
                                   NAMED(VorandelSays, RUN_LOCKED),
                                   NAMED(VorandelSays, FOLDER_FAILED),
                                   NAMED(VorandelSays, LOCK_FAILED),
                                   NAMED(VorandelSays, RESULT_TOO_LARGE),
                                   NAMED(VorandelSays, HISTORY_UNREADABLE),
                                   NAMED(VorandelSays, PACK_UNCHANGED),
                                   NAMED(VorandelSays, PACK_IN_PIECES),
                                   NAMED(VorandelSays, PACK_JOURNAL_KEPT)};
constexpr Named MRGTOOL_SAYS[] = {NAMED(MrgtoolSays, NAME_REFUSED),
                                  NAMED(MrgtoolSays, NAME_REFUSED_GIVE),
                                  NAMED(MrgtoolSays, NAME_REFUSED_FIELD),
                                  NAMED(MrgtoolSays, NAME_NOT_ASCII),
                                  NAMED(MrgtoolSays, MERGE_TOO_LARGE),
                                  NAMED(MrgtoolSays, NOT_REPRODUCED),
                                  NAMED(MrgtoolSays, CANT_OPEN),
                                  NAMED(MrgtoolSays, CANT_SIZE),
                                  NAMED(MrgtoolSays, CANT_READ),
                                  NAMED(MrgtoolSays, CANT_WRITE),
                                  NAMED(MrgtoolSays, CANT_REPLACE),
                                  NAMED(MrgtoolSays, FILE_TOO_LARGE),
                                  NAMED(MrgtoolSays, FAULT),
                                  NAMED(MrgtoolSays, NO_ROOM_FOR_RECORD),
                                  NAMED(MrgtoolSays, NOT_MADE_FOR),
                                  NAMED(MrgtoolSays, GIVEN_ITS_RESULT),
                                  NAMED(MrgtoolSays, OTHER_VERSIONS),
                                  NAMED(MrgtoolSays, RECORD_DISAGREES),
                                  NAMED(MrgtoolSays, NO_ROOM_FOR_RECORD_TO_STAMP),
                                  NAMED(MrgtoolSays, COMBINED_WITHOUT_RECORD),
                                  NAMED(MrgtoolSays, NO_RECORD_TO_CHECK)};
constexpr Named PACK_SAYS[] = {NAMED(PackSays, PUT_IN), NAMED(PackSays, ALREADY_IN),
                               NAMED(PackSays, REFUSED)};
constexpr Named JUDGED[] = {NAMED(Judged, GO_ON), NAMED(Judged, OVER_MODS),
                            NAMED(Judged, FAULTY), NAMED(Judged, DONE_ALREADY),
                            NAMED(Judged, REFUSED)};
constexpr Named LEVEL_PATHS[] = {NAMED(LevelPath, TAKEN), NAMED(LevelPath, NAME_REFUSED),
                                 NAMED(LevelPath, OUTSIDE)};
constexpr Named REMOVALS[] = {NAMED(Removed, REMOVED), NAMED(Removed, NOTHING_IN),
                              NAMED(Removed, BLOCKED), NAMED(Removed, FAILED)};

#undef NAMED

template <size_t N>
constexpr EnumTable Table(const char* name, const Named (&values)[N]) noexcept {
  return {name, values, N};
}

constexpr EnumTable ENUMS[] = {Table("NameRules", NAME_RULES),
                               Table("MergeVerdict", MERGE_VERDICTS),
                               Table("MakeOutcome", MAKE_OUTCOMES),
                               Table("LevelVerdict", LEVEL_VERDICTS),
                               Table("CheckOutcome", CHECK_OUTCOMES),
                               Table("FileState", FILE_STATES),
                               Table("MarkPlan", MARK_PLANS),
                               Table("MarkMessage", MARK_MESSAGES),
                               Table("VorandelSays", VORANDEL_SAYS),
                               Table("MrgtoolSays", MRGTOOL_SAYS),
                               Table("Judged", JUDGED),
                               Table("LevelPath", LEVEL_PATHS),
                               Table("Removed", REMOVALS),
                               Table("PackSays", PACK_SAYS)};

// The names of a run on the level of `merge`, whose name passed.
RunNames NamesOf(const uint8_t* merge) {
  RunNames names;
  NameRun(reinterpret_cast<const char*>(merge + LEVEL_NAME_AT), kPlayersPaths, &names);
  return names;
}

// Where the file's own name starts in the level name: after the folder and
// the separator that ends it. LevelFolder gives "." both for a name without
// a folder and for one in "./", so the name itself tells them apart.
size_t InFolderAt(const RunNames& names) {
  size_t length = strlen(names.folder);
  bool inFolder = strncmp(names.level, names.folder, length) == 0 &&
                  (names.level[length] == '\\' || names.level[length] == '/');
  return inFolder ? length + 1 : 0;
}

// The parts of a folder's path as a JSON array, "." parts left out.
std::string FolderParts(const char* folder) {
  std::string parts = "[";
  for (const char* at = folder; *at != '\0';) {
    size_t length = strcspn(at, "\\/");
    if (length != 0 && !(length == 1 && at[0] == '.'))
      parts += (parts.size() > 1 ? ", " : "") + JsonString(std::string(at, length));
    at += length;
    if (*at != '\0') ++at;
  }
  return parts + "]";
}

// The job's names as JSON text: each file of the run as Vorandel names it,
// the folder and its parts, and each file's name in that folder (from `cut`
// on), for the page's folder handles.
std::string NamesJson(const char* folder, const std::string& parts, size_t cut) {
  const RunNames& names = job.names;
  std::string all;
  std::string inFolder;
  const std::pair<const char*, const char*> files[] = {
      {"level", names.level},     {"backup", names.backup},
      {"mark", names.mark},       {"markDraft", names.markDraft},
      {"history", names.history}, {"historyDraft", names.historyDraft}};
  for (const auto& [key, name] : files) {
    const char* separator = all.empty() ? "" : ", ";
    all += separator + JsonString(key) + ": " + JsonString(name);
    inFolder += separator + JsonString(key) + ": " + JsonString(name + cut);
  }
  return "{" + all +
         ", \"key\": " + JsonString(LockOrderKey(names.level, kPlayersPaths)) +
         ", \"folder\": " + JsonString(folder) + ", \"folderParts\": " + parts +
         ", \"inFolder\": {" + inFolder + "}}";
}

// Vorandel's message, without its line end, as text.
void SayVorandel(VorandelSays message, const SaidOf& of) {
  char said[SAYS_TEXT_MAX];
  FormatVorandel(message, of, said, sizeof said);
  SetMessage(said);
}

// The history beside the job's level of fingerprint `level`, from the file
// as the page found it (a FileState, with the Windows error or the bytes),
// read as the runs read it (ReadLevelHistory).
void FindHistory(int state, uint32_t error, const uint8_t* at, uint32_t size,
                 const Fingerprint& level) {
  PageHistory& found = job.history;
  found = PageHistory{};
  switch (static_cast<FileState>(state)) {
    case FileState::MISSING: return;
    case FileState::UNREADABLE:
      found.found = HistoryFound::UNREADABLE;
      found.error = error;
      return;
    // No run writes a history that large.
    case FileState::TOO_LARGE: found.found = HistoryFound::DAMAGED; return;
    case FileState::LOADED: break;
  }
  FindHistory(at, size, level, &found);
  found.bytes = at;
  found.size = size;
}

// Where a merge first writes other bytes than the level's: its first
// action's offset, or the level's end for a merge file without actions; as
// Vorandel's mark gives it (merge_run.cpp).
uint32_t FirstChangeOf(const MergeImage& merge, uint32_t levelSize) {
  RecordCursor cursor = RecordsFrom(merge, FirstActionAt(merge));
  ActionRecord record;
  return NextRecord(&cursor, &record) == RecordRead::RECORD ? record.action.offset
                                                            : levelSize;
}

// mrgtool mods on the job's level, with its history as found: false with
// mrgtool's error as text; else true with its list as text, its --json list
// as bytes, and the number 1 where the mods can be taken out.
bool ListMods() {
  const RunNames& names = job.names;
  const PageHistory& found = job.history;
  if (found.found == HistoryFound::UNREADABLE) {
    text = MRGTOOL_PREFIX +
           FormatMrgtool(MrgtoolSays::CANT_READ, {names.history, {}, found.error});
    return false;
  }
  ModsState state = ModsStateOf(found);
  std::vector<std::vector<size_t>> changedBy;
  if (state == ModsState::GOES_ON) changedBy = BlockersOfEach(found.history);
  const History* shown = found.found == HistoryFound::WHOLE ? &found.history : nullptr;
  text = ModsText(names.level, names.history, state, shown, changedBy);
  std::string json = ModsJson(names.level, names.history, state, shown, changedBy);
  bytes.assign(json.begin(), json.end());
  number = state == ModsState::GOES_ON && !found.history.entries.empty() ? 1 : 0;
  return true;
}

// The history the job's level will have once the mod `head` is in, as
// Vorandel writes it (HistoryWithMod), and the change's mark; see
// web_history_with_mod.
bool HistoryWith(const ModHead& head, const MergeImage& image, const LevelImage& before) {
  const PageHistory& found = job.history;
  job.newHistory.clear();
  if (found.GoesOn())
    job.newHistory.assign(found.bytes, found.bytes + found.size);
  else
    StartHistory(head.before, &job.newHistory);
  number = found.found != HistoryFound::NONE && !found.GoesOn() ? 1 : 0;
  job.mark = {head.before, head.after, FirstChangeOf(image, before.size), "", 3};
  return AppendModEntry(head, image, FirstActionAt(image), before, &job.newHistory);
}

}  // namespace

extern "C" {

// The worker's first call. Without a handler, operator new aborts as any
// other fault does, and the page could not tell a lack of memory from a
// fault of its own.
void web_start() {
  std::set_new_handler([] {
    web_out_of_memory();
    abort();
  });
}

// Null when the memory can't be had; never null for 0 bytes.
uint8_t* web_alloc(uint32_t size) {
  return static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
}

const char* web_text() { return text.data(); }
uint32_t web_text_size() { return static_cast<uint32_t>(text.size()); }
const uint8_t* web_bytes() { return bytes.data(); }
uint32_t web_bytes_size() { return static_cast<uint32_t>(bytes.size()); }
double web_number() { return number; }

// The verdict on the level name (a MergeVerdict) by `rules` (a NameRules):
// the text is the name when it is fine, else Vorandel's message.
int web_check_name(uint8_t* merge, uint32_t size, int rules) {
  char message[MERGE_TEXT_MAX];
  MergeImage image = Image(merge, size);
  MergeVerdict verdict =
      CheckLevelName(image, static_cast<NameRules>(rules), message, sizeof message);
  if (verdict == MergeVerdict::OK)
    text = reinterpret_cast<const char*>(merge + LEVEL_NAME_AT);
  else
    SetMessage(message);
  return static_cast<int>(verdict);
}

// Every action against a level of `levelSize` bytes, for a merge file whose
// name passed: false with Vorandel's message, or true with the merged size.
bool web_check_actions(uint8_t* merge, uint32_t mergeSize, uint32_t levelSize) {
  MergeImage image = Image(merge, mergeSize);
  if (!HasValidLevelName(image)) return false;
  uint32_t first = FirstActionAt(image);
  ActionFault fault = CheckActions(image, first, levelSize);
  if (fault.kind != FaultKind::NONE) {
    char message[FAULT_TEXT_MAX];
    FormatActionFault(fault, message, sizeof message);
    SetMessage(message);
    return false;
  }
  MergeTotals totals = SumActions(image, first);
  number = static_cast<double>(uint64_t{levelSize} - totals.removed + totals.inserted);
  return true;
}

// The merged level into `out`, which holds `outSize` bytes. Whatever the page
// checked before, the actions are checked here again, and nothing is written
// unless the merged level is exactly `outSize` bytes: false then.
bool web_apply(uint8_t* merge, uint32_t mergeSize, uint8_t* level, uint32_t levelSize,
               uint8_t* out, uint32_t outSize) {
  MergeImage image = Image(merge, mergeSize);
  LevelImage levelImage{level, levelSize};
  if (!HasValidLevelName(image)) return false;
  uint32_t first = FirstActionAt(image);
  if (CheckActions(image, first, levelSize).kind != FaultKind::NONE) return false;
  MergeTotals totals = SumActions(image, first);
  if (uint64_t{levelSize} - totals.removed + totals.inserted != outSize) return false;
  ApplyActions(levelImage, image, first, CopySlice, &out);
  return true;
}

// The level name mrgtool make gives by default; the text.
void web_default_name(const char* originalPath) {
  text = DefaultLevelName(originalPath, kPlayersPaths);
}

// One of Vorandel's messages (a VorandelSays), without its line end, as text.
void web_vorandel_says(int message, const char* name, const char* other, uint32_t error,
                       uint32_t error2) {
  char said[SAYS_TEXT_MAX];
  FormatVorandel(static_cast<VorandelSays>(message), {name, other, error, error2}, said,
                 sizeof said);
  SetMessage(said);
}

// One of mrgtool's errors (a MrgtoolSays), as mrgtool prints it, as text.
void web_mrgtool_says(int message, const char* name, const char* other, uint32_t error) {
  text = MRGTOOL_PREFIX +
         FormatMrgtool(static_cast<MrgtoolSays>(message), {name, other, error});
}

// True for a name of plain ASCII, which reaches the level on any system.
bool web_plain_ascii(const char* name) { return IsPlainAscii(name); }

// True, with why as text, for a name make can't put in a merge file.
bool web_name_fault(const char* levelName) {
  text = LevelNameFault(levelName);
  return !text.empty();
}

// What Vorandel does about a mark beside the job's level, from the three
// files as the page found them (FileState and Windows error numbers; bytes
// where LOADED): a MarkPlan, with Vorandel's message as text for one that
// refuses. For CLEAR_MARK the number is 1 where the history's draft beside
// the mark is the stopped run's own, to be put in place, and 0 where it is
// no run's (a mark of Vorandel 1.1.0, which wrote no history), to go.
int web_decide_on_mark(int markState, uint32_t markError, uint8_t* mark,
                       uint32_t markSize, int levelState, uint32_t levelError,
                       uint8_t* level, uint32_t levelSize, int backupState,
                       uint32_t backupError, uint8_t* backup, uint32_t backupSize) {
  const RunNames& names = job.names;
  auto found = [](int state, uint32_t error, const uint8_t* at, uint32_t size) {
    return FoundFile{static_cast<FileState>(state), error, at, size};
  };
  MarkDecision decision =
      DecideOnMark(names, found(markState, markError, mark, markSize),
                   found(levelState, levelError, level, levelSize),
                   found(backupState, backupError, backup, backupSize));
  text.clear();
  number = decision.mark.version == 2 ? 0 : 1;
  if (decision.plan == MarkPlan::REFUSE) {
    char said[MARK_MESSAGE_MAX];
    FormatMarkMessage(decision.message, names, decision.error, said, sizeof said);
    SetMessage(said);
  }
  return static_cast<int>(decision.plan);
}

// Vorandel's MarkMessage for the job's level, as text.
void web_mark_message(int message, uint32_t error) {
  char said[MARK_MESSAGE_MAX];
  FormatMarkMessage(static_cast<MarkMessage>(message), job.names, error, said,
                    sizeof said);
  SetMessage(said);
}

// The library's enums that the page acts on, by name, as JSON text: the
// page holds no numbers of its own.
void web_enums() {
  text = "{";
  const char* separator = "";
  for (const EnumTable& table : ENUMS) {
    text += separator;
    text += JsonString(table.name) + ": {";
    for (size_t i = 0; i < table.count; ++i)
      text += (i == 0 ? "" : ", ") + JsonString(table.values[i].name) + ": " +
              std::to_string(table.values[i].value);
    text += "}";
    separator = ", ";
  }
  text += "}";
}

// Names the job's level after the merge file `merge`, whose name passed: the
// names of Vorandel's run as JSON text: the level, its backup, mark, the
// mark's draft, history and the history's draft as Vorandel names them, the
// level's folder and its parts, and the files' names in it, for the page's
// folder handles.
void web_run_names(uint8_t* merge) {
  job.names = NamesOf(merge);
  size_t cut = InFolderAt(job.names);
  text =
      NamesJson(job.names.folder, cut != 0 ? FolderParts(job.names.folder) : "[]", cut);
}

// Names the job's level by `path`, a level given to mrgtool mods, remove or
// original from the data folder: a LevelPath. Where TAKEN, the names as
// web_run_names gives them, as mrgtool names them: after the level's file
// name, in its folder (the path's folder, which mrgtool enters). Else
// mrgtool's refusal as text, or for OUTSIDE nothing: mrgtool may leave the
// folder, the page can't.
int web_level_names(const char* path) {
  std::string file = path;
  std::string folder;
  size_t cut = file.find_last_of("\\/");
  if (cut != std::string::npos) {
    folder = file.substr(0, cut == 0 ? 1 : cut);
    file = file.substr(cut + 1);
  }
  text.clear();
  if (file.empty() || file.size() > NAME_CHARS_MAX ||
      !IsSafeLevelName(file.c_str(), kPlayersPaths)) {
    text = MRGTOOL_PREFIX + FormatMrgtool(MrgtoolSays::LEVEL_NAME_REFUSED, {path});
    return static_cast<int>(LevelPath::NAME_REFUSED);
  }
  if (strlen(path) > NAME_CHARS_MAX || !IsSafeLevelName(path, kPlayersPaths))
    return static_cast<int>(LevelPath::OUTSIDE);
  NameRun(file.c_str(), kPlayersPaths, &job.names);
  text = NamesJson(folder.c_str(), FolderParts(folder.c_str()), 0);
  return static_cast<int>(LevelPath::TAKEN);
}

// LEVEL.history.N, a name to keep the old history under, as JSON text: the
// name and its name in the level's folder. The job keeps the latest one.
void web_set_aside_name(uint32_t count) {
  SetAsideName(job.names, count, job.setAside);
  text = "{\"name\": " + JsonString(job.setAside) +
         ", \"inFolder\": " + JsonString(job.setAside + InFolderAt(job.names)) + "}";
}

// Whether a level of `levelSize` bytes could be the backup of `backupSize`
// merged, for a merge file without a record: the page reads the backup only
// then.
bool web_backup_wanted(uint8_t* merge, uint32_t mergeSize, uint32_t levelSize,
                       uint32_t backupSize) {
  return BackupWanted(Image(merge, mergeSize), levelSize, backupSize);
}

// Vorandel's verdict on the level before anything is touched, the level's
// history's included, for a merge file whose name and record passed: a
// Judged, with Vorandel's line as text (empty for GO_ON; for FAULTY, the
// first faulty action's message, said once the backup is made). The backup
// is null where there is none; the history is as the page found it (a
// FileState, the Windows error, its bytes where LOADED, which stay for the
// job).
int web_judge(uint8_t* merge, uint32_t mergeSize, uint8_t* level, uint32_t levelSize,
              uint8_t* backup, uint32_t backupSize, int historyState,
              uint32_t historyError, uint8_t* history, uint32_t historySize) {
  MergeImage image = Image(merge, mergeSize);
  LevelImage levelImage{level, levelSize};
  LevelImage backupImage{backup, backupSize};
  const RunNames& names = job.names;
  const Judgement& judgement = job.judgement =
      JudgeMerge(image, levelImage, backup != nullptr ? &backupImage : nullptr);
  FindHistory(historyState, historyError, history, historySize, judgement.level);
  const PageHistory& found = job.history;
  text.clear();
  if (found.found == HistoryFound::UNREADABLE) {
    SayVorandel(VorandelSays::HISTORY_UNREADABLE, {names.history, {}, found.error});
    return static_cast<int>(Judged::REFUSED);
  }
  job.mergePrint = FingerprintOf(merge, mergeSize);
  HistoryJudgement byHistory{HistoryVerdict::NOTHING, {}, false};
  if (found.GoesOn())
    byHistory = JudgeByHistory(found.history, job.mergePrint, image, judgement);
  std::string line = HistoryLine(byHistory, found.history, names.level, false);
  switch (byHistory.verdict) {
    case HistoryVerdict::ALREADY_IN:
      SetMessage(line.c_str());
      return static_cast<int>(Judged::DONE_ALREADY);
    case HistoryVerdict::MADE_BEFORE:
      SetMessage(line.c_str());
      return static_cast<int>(Judged::REFUSED);
    default: break;
  }
  SetMessage(JudgementLine(judgement, names.level).c_str());
  if (!text.empty())
    return static_cast<int>(judgement.verdict == LevelVerdict::ALREADY_MERGED
                                ? Judged::DONE_ALREADY
                                : Judged::REFUSED);
  if (judgement.fault.kind != FaultKind::NONE) {
    char message[FAULT_TEXT_MAX];
    FormatActionFault(judgement.fault, message, sizeof message);
    SetMessage(message);
    return static_cast<int>(Judged::FAULTY);
  }
  if (byHistory.verdict != HistoryVerdict::OVER_MODS)
    return static_cast<int>(Judged::GO_ON);
  SetMessage(line.c_str());
  return static_cast<int>(Judged::OVER_MODS);
}

// The history the level will have once the merge web_judge let go on is in,
// as Vorandel writes it (HistoryWithMod): the one found with the mod's entry
// added, where it goes on; else a new one from the level before the mod, and
// then the number is 1: the old one, if any, is kept under another name
// first. The mod is named `mergeName` and went in at `time`, in seconds since
// 1970. Also the change's mark. False with Vorandel's line where the history
// would be too large.
bool web_history_with_mod(uint8_t* merge, uint32_t mergeSize, uint8_t* level,
                          uint32_t levelSize, double time, const char* mergeName) {
  const Judgement& judgement = job.judgement;
  ModHead head{judgement.level,
               judgement.merged,
               job.mergePrint,
               static_cast<int64_t>(time),
               0,
               mergeName,
               "",
               {}};
  if (HistoryWith(head, Image(merge, mergeSize), {level, levelSize})) return true;
  SayVorandel(VorandelSays::MARK_WRITE_FAILED,
              {job.names.historyDraft, {}, kFileTooLarge});
  return false;
}

// Vorandel's line for the history found, kept under the latest name
// web_set_aside_name gave, as a new one starts (SayHistorySetAside), as text.
void web_set_aside_line() {
  const PageHistory& found = job.history;
  const RunNames& names = job.names;
  SayVorandel(SetAsideSays(found), {names.history, job.setAside, 0, 0, names.level});
}

// The change's mark, as Vorandel writes it beside the level (FormatMark), as
// text.
void web_mark_text() {
  char said[MARK_TEXT_MAX];
  size_t length = FormatMark(job.names, job.mark, said, sizeof said);
  text.assign(said, length);
}

// The level's history once the change is in, whole.
const uint8_t* web_history_bytes() { return job.newHistory.data(); }
uint32_t web_history_size() { return static_cast<uint32_t>(job.newHistory.size()); }

// mrgtool mods on the job's level, with its history as web_judge takes it
// (ListMods).
bool web_mods(uint8_t* level, uint32_t levelSize, int historyState, uint32_t historyError,
              uint8_t* history, uint32_t historySize) {
  FindHistory(historyState, historyError, history, historySize,
              FingerprintOf(level, levelSize));
  return ListMods();
}

// The job's change is in: the level is what the mark says the change makes,
// and its history the new one.
void web_change_made() {
  FindHistory(static_cast<int>(FileState::LOADED), 0, job.newHistory.data(),
              static_cast<uint32_t>(job.newHistory.size()), job.mark.merged);
}

// mrgtool mods on the job's level as the job last found or left it, without
// reading it again (ListMods).
bool web_mods_now() { return ListMods(); }

// mrgtool remove NAME, or mrgtool original where `every`, on the job's level
// with its history as web_judge takes it, up to the change (RemoveFromLevel):
// a Removed, with the line said at the end as text: mrgtool's, or Vorandel's
// for a history that can't be read. For REMOVED, the new level as bytes, the
// new history and the change's mark, and the line is said once it is in.
int web_remove(uint8_t* level, uint32_t levelSize, int historyState,
               uint32_t historyError, uint8_t* history, uint32_t historySize,
               const char* name, bool every) {
  const RunNames& names = job.names;
  LevelImage levelImage{level, levelSize};
  Fingerprint print = FingerprintOf(level, levelSize);
  FindHistory(historyState, historyError, history, historySize, print);
  const PageHistory& found = job.history;
  RemovalOf of{names.level, names.history, "", ""};
  auto end = [&of](RemovalSays message, Removed removed) {
    SetMessage(FormatRemoval(message, of).c_str());
    return static_cast<int>(removed);
  };
  switch (found.found) {
    case HistoryFound::NONE: return end(RemovalSays::NO_HISTORY, Removed::FAILED);
    case HistoryFound::UNREADABLE:
      SayVorandel(VorandelSays::HISTORY_UNREADABLE, {names.history, {}, found.error});
      return static_cast<int>(Removed::FAILED);
    case HistoryFound::DAMAGED:
    case HistoryFound::LATER_VERSION:
      return end(RemovalSays::HISTORY_UNUSABLE, Removed::FAILED);
    case HistoryFound::WHOLE: break;
  }
  // A level back at its original has no mod in it: nothing to do.
  if (found.fit == HistoryFit::BACK_AT_ORIGINAL)
    return end(RemovalSays::BACK_AT_ORIGINAL, Removed::NOTHING_IN);
  if (found.fit != HistoryFit::ENDS_AT_LEVEL)
    return end(RemovalSays::LEVEL_CHANGED, Removed::FAILED);
  RemovalSays why = RemovalSays::NOT_FOUND;
  ChoiceFound choice = ChoiceFound::FOUND;
  std::vector<size_t> chosen = ChosenMods(found.history, nullptr, name, every, &choice);
  why = SaysOfChoice(choice);
  std::string mods = ModList(found.history, chosen);
  of.mods = every ? mods : Shown(name);
  if (chosen.empty())
    return end(why,
               why == RemovalSays::NOTHING_IN ? Removed::NOTHING_IN : Removed::FAILED);
  Removal removal = RemoveMods(found.history, found.bytes, levelImage, chosen);
  switch (removal.outcome) {
    case RemovalOutcome::REMOVED: break;
    case RemovalOutcome::BLOCKED: {
      of.blockers = ModList(found.history, removal.blockers);
      of.count = removal.blockers.size();
      return end(RemovalSays::BLOCKED, Removed::BLOCKED);
    }
    case RemovalOutcome::DAMAGED: return end(RemovalSays::PROOF_FAILED, Removed::FAILED);
    case RemovalOutcome::TOO_LARGE: return end(RemovalSays::TOO_LARGE, Removed::FAILED);
  }
  job.mark = {print, removal.levelPrint, FirstDifference(levelImage, removal.level), "",
              3};
  job.newHistory = std::move(removal.history);
  bytes = std::move(removal.level);
  return end(every ? RemovalSays::EVERY_REMOVED : RemovalSays::REMOVED, Removed::REMOVED);
}

// True where the level name leaves room for a record: else make warns.
bool web_has_room_for_record(const char* levelName) {
  return HasRoomForRecord(levelName);
}

// mrgtool make, for a name that passed web_name_fault: a MakeOutcome; when
// OK the merge file is the bytes and mrgtool's line the text.
int web_make(uint8_t* original, uint32_t originalSize, uint8_t* modified,
             uint32_t modifiedSize, const char* levelName, const char* outPath) {
  bytes.clear();
  MakeOutcome outcome = MakeMergeFile(original, originalSize, modified, modifiedSize,
                                      levelName, ReportProgress, nullptr, &bytes);
  if (outcome == MakeOutcome::OK) text = WrittenReport(outPath, bytes);
  return static_cast<int>(outcome);
}

// mrgtool check: a CheckOutcome, with what mrgtool prints as text: its report,
// Vorandel's verdict or its message. The merge file's name and record must
// have passed web_check_name with both systems' rules. The backup is null
// where there is none.
int web_check(uint8_t* merge, uint32_t mergeSize, uint8_t* level, uint32_t levelSize,
              uint8_t* backup, uint32_t backupSize, const char* mergePath,
              const char* levelPath) {
  MergeImage image = Image(merge, mergeSize);
  LevelImage levelImage{level, levelSize};
  LevelImage backupImage{backup, backupSize};
  std::string said;
  CheckOutcome outcome =
      CheckAgainstLevel(image, mergePath, levelImage, levelPath,
                        backup != nullptr ? &backupImage : nullptr, nullptr, &said);
  SetMessage(said.c_str());
  return static_cast<int>(outcome);
}

// How many 32-bit numbers web_show gives per action.
uint32_t web_show_stride() { return SHOW_FIELDS; }

// mrgtool show: false with mrgtool's error; or true with the summary and
// column heads as text and, as bytes, SHOW_FIELDS 32-bit numbers per action:
// its record's position, offset, removeLength and insertLength.
bool web_show(uint8_t* merge, uint32_t size, const char* path) {
  char message[MERGE_TEXT_MAX];
  MergeImage image = Image(merge, size);
  MergeVerdict verdict = CheckForShow(image, message, sizeof message);
  if (!ShowsAnyway(verdict)) {
    text = MRGTOOL_PREFIX + FormatMrgtool(MrgtoolSays::FAULT, {path, message});
    return false;
  }
  text = ShowHead(path, image, verdict);
  bytes.clear();
  RecordCursor cursor = RecordsFrom(image, FirstActionAt(image));
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    for (uint32_t value :
         {record.at, action.offset, action.removeLength, action.insertLength})
      PutU32(value, &bytes);
  }
  return true;
}

// The first `rows` rows of show's table, for a merge file web_show took.
void web_show_rows(uint8_t* merge, uint32_t size, uint32_t rows) {
  MergeImage image = Image(merge, size);
  text.clear();
  RecordCursor cursor = RecordsFrom(image, FirstActionAt(image));
  ActionRecord record;
  for (; rows > 0 && NextRecord(&cursor, &record) == RecordRead::RECORD; --rows)
    text += ShowRow(record);
}

// A pack of merge files put in as mrgtool apply puts it (pack_run.cpp), a
// merge file a level: the pack `name`, going in at `time` (seconds since
// 1970), forgetting any other.
void web_pack_start(const char* name, double time) {
  pack = PagePack{};
  pack.name = name;
  pack.time = static_cast<int64_t>(time);
}

// A part of the pack, each in the order given: its merge file.
void web_pack_part(uint8_t* merge, uint32_t size) {
  pack.prints.push_back(FingerprintOf(merge, size));
}

// The job's level, as web_judge let its part `merge` go in on the level as
// read (`level`), is one the pack changes; `id` is the page's for it, and
// `name` the part's, as its history entry names it.
void web_pack_keep(int id, const char* name, uint8_t* merge, uint32_t mergeSize,
                   uint8_t* level, uint32_t levelSize) {
  std::string key = LockOrderKey(job.names.level, kPlayersPaths);
  pack.levels.push_back(
      {std::move(job), std::move(key), id, name, merge, mergeSize, level, levelSize});
}

// The levels the pack changes in the order of their locks, and the pack's
// journal beside the first: as JSON text, the page's ids in that order and
// the journal's name, as Vorandel names it and in its level's folder; the
// journal's content as bytes (FormatPackJournal).
void web_pack_journal() {
  // In the order of the locks, ties as given: the journal lies beside the first.
  std::vector<PackLevel>& levels = pack.levels;
  for (size_t i = 1; i < levels.size(); ++i)
    for (size_t j = i; j > 0 && levels[j].key < levels[j - 1].key; --j)
      std::swap(levels[j], levels[j - 1]);
  std::string order;
  for (const PackLevel& level : pack.levels)
    order += (order.empty() ? "" : ", ") + std::to_string(level.id);
  const RunNames& first = pack.levels.front().level.names;
  pack.journal = std::string(first.level) + PACK_SUFFIX;
  PackJournal content{pack.name, {}};
  for (const PackLevel& level : pack.levels)
    content.levels.push_back(
        NameFromLevel(pack.journal.c_str(), level.level.names.level, kPlayersPaths));
  std::string journal = FormatPackJournal(content);
  bytes.assign(journal.begin(), journal.end());
  text = "{\"order\": [" + order + "], \"name\": " + JsonString(pack.journal) +
         ", \"inFolder\": " + JsonString(pack.journal.substr(InFolderAt(first))) + "}";
}

// The change of the pack's level `index`, in the order web_pack_journal gave,
// which becomes the job's level: its history with its part's entry, which
// names the pack and its other levels, and its mark, which names the journal,
// as mrgtool apply writes them; the number 1 where the old history is kept
// under another name first, as web_history_with_mod. False with Vorandel's
// line where the history would be too large.
bool web_pack_change(uint32_t index) {
  PackLevel& level = pack.levels[index];
  job = std::move(level.level);
  ModHead head{job.judgement.level,
               job.judgement.merged,
               job.mergePrint,
               pack.time,
               PackId(pack.time, pack.prints),
               level.name,
               pack.name,
               {}};
  for (const PackLevel& other : pack.levels)
    if (&other != &level)
      head.packLevels.push_back(
          NameFromLevel(job.names.level, other.level.names.level, kPlayersPaths));
  if (!HistoryWith(head, Image(level.merge, level.mergeSize), {level.at, level.size})) {
    SayVorandel(VorandelSays::RESULT_TOO_LARGE, {job.names.level});
    return false;
  }
  std::string journal =
      NameFromLevel(job.names.level, pack.journal.c_str(), kPlayersPaths);
  snprintf(job.mark.pack, sizeof job.mark.pack, "%s", journal.c_str());
  return true;
}

// The pack's line (a PackSays) for `count` levels, as mrgtool apply prints
// it, as text.
void web_pack_says(int message, uint32_t count) {
  SetMessage(FormatPack(static_cast<PackSays>(message),
                        {"", Shown(pack.name), std::to_string(count)})
                 .c_str());
}

// Vorandel's line `line` about the pack's part `path`, as mrgtool apply says
// it ("PART: LINE"), as text.
void web_of_part(const char* path, const char* line) { text = Shown(path) + ": " + line; }

// For a whole mark `mark` beside the job's level that names a pack's
// journal, the journal's name from the data folder as JSON text: the name,
// its folder's parts and its name in that folder; true then. The pack was
// stopped before it was in where the journal is still there.
bool web_mark_journal(uint8_t* mark, uint32_t size) {
  RewriteMark read{};
  if (ReadMark(job.names, mark, size, &read) != MarkRead::WHOLE || read.pack[0] == '\0')
    return false;
  std::string journal = NameBesideLevel(job.names.level, read.pack, kPlayersPaths);
  size_t cut = journal.find_last_of('/');
  std::string folder = cut == std::string::npos ? "" : journal.substr(0, cut);
  text = "{\"name\": " + JsonString(journal) +
         ", \"folderParts\": " + FolderParts(folder.c_str()) + ", \"inFolder\": " +
         JsonString(journal.substr(cut == std::string::npos ? 0 : cut + 1)) + "}";
  return true;
}

}  // extern "C"
