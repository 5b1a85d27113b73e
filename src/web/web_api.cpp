// The page's door to the merge file library: C functions on buffers in the
// WebAssembly memory, which the page's module fills and reads. Every text is
// made by the functions Vorandel and mrgtool print with, so that all three
// say the same thing. A call leaves its text, bytes and number behind for
// the web_text, web_bytes and web_number calls that read them.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "differ/merge_make.h"
#include "format/apply_actions.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "format/merge_records.h"
#include "identity/level_record.h"
#include "identity/level_verdict.h"
#include "journal/rewrite_mark.h"
#include "words/mrgtool_words.h"
#include "words/vorandel_words.h"

// The page serves players, who are on Windows: level names follow its rules.
constexpr bool kPlayersPaths = true;

// Numbers per action in show's data for the page.
constexpr uint32_t SHOW_FIELDS = 4;

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
                                   NAMED(VorandelSays, RESULT_TOO_LARGE)};
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

#undef NAMED

template <size_t N>
constexpr EnumTable Table(const char* name, const Named (&values)[N]) noexcept {
  return {name, values, N};
}

constexpr EnumTable ENUMS[] = {
    Table("NameRules", NAME_RULES),        Table("MergeVerdict", MERGE_VERDICTS),
    Table("MakeOutcome", MAKE_OUTCOMES),   Table("LevelVerdict", LEVEL_VERDICTS),
    Table("CheckOutcome", CHECK_OUTCOMES), Table("FileState", FILE_STATES),
    Table("MarkPlan", MARK_PLANS),         Table("MarkMessage", MARK_MESSAGES),
    Table("VorandelSays", VORANDEL_SAYS),  Table("MrgtoolSays", MRGTOOL_SAYS)};

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

// What Vorandel does about a mark beside the level of `merge`, from the
// three files as the page found them (FileState and Windows error numbers;
// bytes where LOADED): a MarkPlan, with Vorandel's message as text for one
// that refuses.
int web_decide_on_mark(uint8_t* merge, int markState, uint32_t markError, uint8_t* mark,
                       uint32_t markSize, int levelState, uint32_t levelError,
                       uint8_t* level, uint32_t levelSize, int backupState,
                       uint32_t backupError, uint8_t* backup, uint32_t backupSize) {
  RunNames names = NamesOf(merge);
  auto found = [](int state, uint32_t error, const uint8_t* at, uint32_t size) {
    return FoundFile{static_cast<FileState>(state), error, at, size};
  };
  MarkDecision decision =
      DecideOnMark(names, found(markState, markError, mark, markSize),
                   found(levelState, levelError, level, levelSize),
                   found(backupState, backupError, backup, backupSize));
  text.clear();
  if (decision.plan == MarkPlan::REFUSE) {
    char said[MARK_MESSAGE_MAX];
    FormatMarkMessage(decision.message, names, decision.error, said, sizeof said);
    SetMessage(said);
  }
  return static_cast<int>(decision.plan);
}

// Vorandel's MarkMessage for the level of `merge`, as text.
void web_mark_message(uint8_t* merge, int message, uint32_t error) {
  char said[MARK_MESSAGE_MAX];
  FormatMarkMessage(static_cast<MarkMessage>(message), NamesOf(merge), error, said,
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

// The names of a run on the level of `merge`, whose name passed, as JSON
// text: the level, its backup, mark and folder as Vorandel names them, and
// the folder's parts and the three files' names in it, for the page's
// folder handles.
void web_run_names(uint8_t* merge) {
  RunNames names = NamesOf(merge);
  size_t folderLength = InFolderAt(names);
  std::string parts = "[";
  for (const char* at = names.folder; folderLength != 0 && *at != '\0';) {
    size_t length = strcspn(at, "\\/");
    if (length != 0 && !(length == 1 && at[0] == '.'))
      parts += (parts.size() > 1 ? ", " : "") + JsonString(std::string(at, length));
    at += length;
    if (*at != '\0') ++at;
  }
  text = "{\"level\": " + JsonString(names.level) +
         ", \"backup\": " + JsonString(names.backup) +
         ", \"mark\": " + JsonString(names.mark) +
         ", \"folder\": " + JsonString(names.folder) + ", \"folderParts\": " + parts +
         "], \"inFolder\": {\"level\": " + JsonString(names.level + folderLength) +
         ", \"backup\": " + JsonString(names.backup + folderLength) +
         ", \"mark\": " + JsonString(names.mark + folderLength) + "}}";
}

// Whether a level of `levelSize` bytes could be the backup of `backupSize`
// merged, for a merge file without a record: the page reads the backup only
// then.
bool web_backup_wanted(uint8_t* merge, uint32_t mergeSize, uint32_t levelSize,
                       uint32_t backupSize) {
  return BackupWanted(Image(merge, mergeSize), levelSize, backupSize);
}

// Vorandel's verdict on the level before anything is touched, for a merge
// file whose name and record passed: a LevelVerdict; Vorandel's line as text
// where the run stops there (a level already merged, not its level, a record
// the actions don't make: then true), else the first faulty action's message,
// or nothing. The backup is null where there is none.
int web_judge(uint8_t* merge, uint32_t mergeSize, uint8_t* level, uint32_t levelSize,
              uint8_t* backup, uint32_t backupSize) {
  MergeImage image = Image(merge, mergeSize);
  LevelImage levelImage{level, levelSize};
  LevelImage backupImage{backup, backupSize};
  Judgement judgement =
      JudgeMerge(image, levelImage, backup != nullptr ? &backupImage : nullptr);
  RunNames names = NamesOf(merge);
  SetMessage(JudgementLine(judgement, names.level).c_str());
  number = text.empty() ? 0 : 1;
  if (text.empty() && judgement.fault.kind != FaultKind::NONE) {
    char message[FAULT_TEXT_MAX];
    FormatActionFault(judgement.fault, message, sizeof message);
    SetMessage(message);
  }
  return static_cast<int>(judgement.verdict);
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

}  // extern "C"
