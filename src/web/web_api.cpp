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

#include "apply_actions.h"
#include "merge_build.h"
#include "merge_checks.h"
#include "merge_make.h"
#include "merge_records.h"
#include "merge_text.h"
#include "rewrite_mark.h"
#include "tool_messages.h"

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

// The names of a run on the level of `merge`, whose name passed.
RunNames NamesOf(const uint8_t* merge) {
  RunNames names;
  NameRun(reinterpret_cast<const char*>(merge + LEVEL_NAME_AT), kPlayersPaths, &names);
  return names;
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

// A mark left beside the level by a run that was stopped, against the backup
// it describes: the MarkMessage that follows, RESTORED when the backup is
// what the mark says and the level may be put back from it, else
// MARK_DAMAGED or BACKUP_CHANGED.
int web_read_mark(uint8_t* merge, uint8_t* mark, uint32_t markSize, uint8_t* backup,
                  uint32_t backupSize) {
  RunNames names = NamesOf(merge);
  RewriteMark read;
  if (!ReadMark(names, mark, markSize, &read))
    return static_cast<int>(MarkMessage::MARK_DAMAGED);
  if (!BackupMatches(read, backup, backupSize))
    return static_cast<int>(MarkMessage::BACKUP_CHANGED);
  return static_cast<int>(MarkMessage::RESTORED);
}

// Vorandel's MarkMessage for the level of `merge`, as text.
void web_mark_message(uint8_t* merge, int message, uint32_t error) {
  char said[MARK_MESSAGE_MAX];
  FormatMarkMessage(static_cast<MarkMessage>(message), NamesOf(merge), error, said,
                    sizeof said);
  SetMessage(said);
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

// mrgtool check: the MergeVerdict, with mrgtool's report or Vorandel's
// message as text.
int web_check(uint8_t* merge, uint32_t mergeSize, uint8_t* level, uint32_t levelSize,
              const char* mergePath, const char* levelPath) {
  char message[MERGE_TEXT_MAX];
  MergeImage image = Image(merge, mergeSize);
  MergeVerdict verdict =
      CheckMergeFile(image, levelSize, NameRules::BOTH, message, sizeof message);
  if (verdict != MergeVerdict::OK) {
    SetMessage(message);
  } else {
    LevelImage levelImage{level, levelSize};
    text = CheckReport(mergePath, levelPath, image, FirstActionAt(image), levelImage);
  }
  return static_cast<int>(verdict);
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
