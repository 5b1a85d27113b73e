#include "journal/history.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "edits/merge_edit.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

// The fields before the names, the two name lengths and the check: an entry
// with empty names and no undo action.
constexpr uint32_t ENTRY_MIN = ENTRY_NAME_AT + 2 + ENTRY_CHECK_SIZE;
static_assert(ENTRY_BEFORE_HASH_AT == ENTRY_BEFORE_SIZE_AT + 4 &&
                  ENTRY_AFTER_HASH_AT == ENTRY_AFTER_SIZE_AT + 4 &&
                  ENTRY_MERGE_HASH_AT == ENTRY_MERGE_SIZE_AT + 4 &&
                  HISTORY_ORIGINAL_HASH_AT == HISTORY_ORIGINAL_SIZE_AT + 4,
              "each hash follows its size");

uint64_t ReadU64(const uint8_t* at) {
  return uint64_t{ReadU32(at)} | uint64_t{ReadU32(at + 4)} << 32;
}

void PutU64(uint64_t value, std::vector<uint8_t>* out) {
  PutU32(static_cast<uint32_t>(value), out);
  PutU32(static_cast<uint32_t>(value >> 32), out);
}

bool LoadableSize(const Fingerprint& print) { return print.size <= MERGE_FILE_MAX; }

// The undo's actions pass the checks against the level after, leave out no
// action that does nothing, and give a level of the size before.
bool UndoFits(const MergeImage& undo, uint32_t undoAt, const ModHead& head) {
  if (CheckActions(undo, undoAt, static_cast<uint32_t>(head.after.size)).kind !=
      FaultKind::NONE)
    return false;
  uint64_t size = head.after.size;
  RecordCursor cursor = RecordsFrom(undo, undoAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    if (action.removeLength == 0 && action.insertLength == 0) return false;
    // The checks keep the removed ranges apart inside the level: no wrap.
    size = size - action.removeLength + action.insertLength;
  }
  return size == head.before.size;
}

// Reads the entry at `at`, whose level before must be `chain`. False for
// anything a run would not have written.
// The pack's name, then each other level's, after a NUL: none of them empty,
// the name no longer than a written one.
bool ReadPackField(const uint8_t* field, uint32_t length, ModHead* head) {
  const auto* text = reinterpret_cast<const char*>(field);
  const char* end = text + length;
  const char* part = text;
  head->packName.clear();
  head->packLevels.clear();
  for (bool first = true; length != 0; first = false) {
    const auto* nul =
        static_cast<const char*>(memchr(part, '\0', static_cast<size_t>(end - part)));
    const char* partEnd = nul != nullptr ? nul : end;
    if (partEnd == part) return false;
    if (first) {
      if (partEnd - part > static_cast<std::ptrdiff_t>(ENTRY_NAME_MAX)) return false;
      head->packName.assign(part, partEnd);
    } else {
      head->packLevels.emplace_back(part, partEnd);
    }
    if (nul == nullptr) break;
    part = nul + 1;
  }
  return true;
}

bool ReadEntry(const uint8_t* bytes, uint64_t size, uint64_t at, const Fingerprint& chain,
               HistoryEntry* read) {
  const uint64_t left = size - at;
  if (left < ENTRY_MIN) return false;
  const uint8_t* entry = bytes + at;
  const uint32_t length = ReadU32(entry + ENTRY_LENGTH_AT);
  if (length < ENTRY_MIN || length > left) return false;
  const uint32_t checkAt = length - ENTRY_CHECK_SIZE;
  if (ReadU32(entry + checkAt) != ShortCheck(entry, checkAt)) return false;

  // Each length is read only where the name before it lies before the check.
  const uint32_t nameLength = ReadU16(entry + ENTRY_NAME_LENGTH_AT);
  if (nameLength > ENTRY_NAME_MAX || nameLength > checkAt - ENTRY_NAME_AT - 2)
    return false;
  const uint32_t packNameAt = ENTRY_NAME_AT + nameLength + 2;
  const uint32_t packNameLength = ReadU16(entry + packNameAt - 2);
  if (packNameLength > checkAt - packNameAt) return false;
  const uint32_t undoAt = ReadU32(entry + ENTRY_UNDO_AT);
  if (undoAt != packNameAt + packNameLength) return false;

  ModHead& head = read->head;
  head.before = ReadStoredPrint(entry + ENTRY_BEFORE_SIZE_AT);
  head.after = ReadStoredPrint(entry + ENTRY_AFTER_SIZE_AT);
  head.merge = ReadStoredPrint(entry + ENTRY_MERGE_SIZE_AT);
  head.time = static_cast<int64_t>(ReadU64(entry + ENTRY_TIME_AT));
  head.pack = ReadU64(entry + ENTRY_PACK_AT);
  if (!LoadableSize(head.before) || !LoadableSize(head.after) ||
      !LoadableSize(head.merge) || !SameFingerprint(head.before, chain))
    return false;
  if (head.pack == 0 && packNameLength != 0) return false;
  head.name.assign(reinterpret_cast<const char*>(entry + ENTRY_NAME_AT), nameLength);
  if (!ReadPackField(entry + packNameAt, packNameLength, &head)) return false;
  read->at = static_cast<uint32_t>(at);
  read->undo = {entry, checkAt};
  read->undoAt = undoAt;
  return UndoFits(read->undo, undoAt, head);
}

// Where the entry's bytes end in the history.
uint32_t EndOf(const HistoryEntry& entry) {
  return entry.at + entry.undo.size + ENTRY_CHECK_SIZE;
}

// Appends the entry's fields up to its undo, with *start where it starts.
// False, with nothing appended, where the entry would take the history to
// 4 GiB - 1 byte.
bool StartEntry(const ModHead& head, uint64_t undoSize, std::vector<uint8_t>* out,
                size_t* start, uint64_t before) {
  const size_t nameLength = std::min(head.name.size(), ENTRY_NAME_MAX);
  std::string pack = head.packName.substr(0, ENTRY_NAME_MAX);
  for (const std::string& level : head.packLevels) pack += '\0' + level;
  // A pack's levels are never cut short: such an entry would name others.
  if (pack.size() > ENTRY_PACK_MAX) return false;
  const size_t packNameLength = pack.size();
  const uint64_t undoAt = uint64_t{ENTRY_NAME_AT} + nameLength + 2 + packNameLength;
  const uint64_t length = undoAt + undoSize + ENTRY_CHECK_SIZE;
  if (before > MERGE_FILE_MAX || length > MERGE_FILE_MAX - before) return false;
  *start = out->size();
  out->reserve(out->size() + static_cast<size_t>(length));
  PutU32(static_cast<uint32_t>(length), out);
  PutU32(static_cast<uint32_t>(undoAt), out);
  AppendStoredPrint(head.before, out);
  AppendStoredPrint(head.after, out);
  AppendStoredPrint(head.merge, out);
  PutU64(static_cast<uint64_t>(head.time), out);
  PutU64(head.pack, out);
  PutU16(static_cast<uint16_t>(nameLength), out);
  out->insert(out->end(), head.name.begin(),
              head.name.begin() + static_cast<std::ptrdiff_t>(nameLength));
  PutU16(static_cast<uint16_t>(packNameLength), out);
  out->insert(out->end(), pack.begin(),
              pack.begin() + static_cast<std::ptrdiff_t>(packNameLength));
  return true;
}

void FinishEntry(size_t start, std::vector<uint8_t>* out) {
  PutU32(ShortCheck(out->data() + start, out->size() - start), out);
}

}  // namespace

HistoryRead ReadHistory(const uint8_t* bytes, size_t size, History* history) {
  *history = History{};
  if (size > MERGE_FILE_MAX || size <= HISTORY_HEADER_LENGTH_AT ||
      memcmp(bytes, HISTORY_MARKER, sizeof HISTORY_MARKER) != 0)
    return HistoryRead::DAMAGED;
  // The header's length and check are read before its version, so that a
  // later version's header, whatever its length, is told from a damaged one.
  const uint32_t headerLength = bytes[HISTORY_HEADER_LENGTH_AT];
  if (headerLength < HISTORY_HEADER_LENGTH_AT + 1 + ENTRY_CHECK_SIZE ||
      headerLength > size)
    return HistoryRead::DAMAGED;
  const uint32_t checkAt = headerLength - ENTRY_CHECK_SIZE;
  if (ReadU32(bytes + checkAt) != ShortCheck(bytes, checkAt)) return HistoryRead::DAMAGED;
  if (bytes[HISTORY_VERSION_AT] > HISTORY_VERSION) return HistoryRead::LATER_VERSION;
  if (bytes[HISTORY_VERSION_AT] != HISTORY_VERSION || headerLength != HISTORY_HEADER_SIZE)
    return HistoryRead::DAMAGED;
  history->original = ReadStoredPrint(bytes + HISTORY_ORIGINAL_SIZE_AT);
  if (!LoadableSize(history->original)) return HistoryRead::DAMAGED;

  uint64_t at = HISTORY_HEADER_SIZE;
  while (at < size) {
    HistoryEntry entry;
    if (!ReadEntry(bytes, size, at, LevelAtEnd(*history), &entry)) {
      history->entries.clear();
      return HistoryRead::DAMAGED;
    }
    at = EndOf(entry);
    history->entries.push_back(std::move(entry));
  }
  return HistoryRead::WHOLE;
}

const Fingerprint& LevelAtEnd(const History& history) {
  return history.entries.empty() ? history.original : history.entries.back().head.after;
}

HistoryFit FitOfHistory(const History& history, const Fingerprint& level) {
  if (SameFingerprint(LevelAtEnd(history), level)) return HistoryFit::ENDS_AT_LEVEL;
  if (SameFingerprint(history.original, level)) return HistoryFit::BACK_AT_ORIGINAL;
  return HistoryFit::LEVEL_CHANGED;
}

void StartHistory(const Fingerprint& original, std::vector<uint8_t>* out) {
  out->assign(HISTORY_MARKER, HISTORY_MARKER + sizeof HISTORY_MARKER);
  out->push_back(HISTORY_VERSION);
  out->push_back(static_cast<uint8_t>(HISTORY_HEADER_SIZE));
  AppendStoredPrint(original, out);
  PutU32(ShortCheck(out->data(), HISTORY_HEADER_CHECK_AT), out);
}

bool StartModEntry(const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                   uint64_t before, std::vector<uint8_t>* fields) {
  fields->clear();
  size_t start = 0;
  return StartEntry(head, UndoActionsSize(merge, firstActionAt), fields, &start, before);
}

namespace {

// The entry's bytes given to the writer, its check worked out on the way,
// gathered first: an undo is mostly records of a few bytes each.
constexpr size_t ENTRY_GATHER_SIZE = size_t{64} << 10;

struct EntryOutput {
  SliceWriter write;
  void* context;
  XXH3_state_t check;
  size_t used;
  uint8_t gathered[ENTRY_GATHER_SIZE];

  bool Pass(const uint8_t* bytes, size_t count) {
    (void)XXH3_64bits_update(&check, bytes, count);
    return write(context, bytes, static_cast<uint32_t>(count));
  }
  bool Flush() {
    bool written = used == 0 || Pass(gathered, used);
    used = 0;
    return written;
  }
  bool Give(const uint8_t* bytes, size_t count) {
    if (count > ENTRY_GATHER_SIZE - used && !Flush()) return false;
    if (count >= ENTRY_GATHER_SIZE) return Pass(bytes, count);
    memcpy(gathered + used, bytes, count);
    used += count;
    return true;
  }
};

bool GiveUndoAction(void* context, const MergeAction& undo) {
  auto* out = static_cast<EntryOutput*>(context);
  uint8_t head[RECORD_HEAD_SIZE];
  PutRecordHead(undo, head);
  return out->Give(head, RECORD_HEAD_SIZE) && out->Give(undo.data, undo.insertLength);
}

}  // namespace

bool WriteModEntry(const std::vector<uint8_t>& fields, const MergeImage& merge,
                   uint32_t firstActionAt, const LevelImage& before, SliceWriter write,
                   void* context) {
  // Too large for the stack of a browser's worker.
  std::unique_ptr<EntryOutput> out(new (std::nothrow) EntryOutput);
  if (!out) return false;
  out->write = write;
  out->context = context;
  out->used = 0;
  (void)XXH3_64bits_reset(&out->check);
  if (!out->Give(fields.data(), fields.size()) ||
      !ForEachUndoAction(merge, firstActionAt, before, GiveUndoAction, out.get()) ||
      !out->Flush())
    return false;
  std::vector<uint8_t> check;
  PutU32(static_cast<uint32_t>(XXH3_64bits_digest(&out->check)), &check);
  return write(context, check.data(), ENTRY_CHECK_SIZE);
}

bool AppendModEntry(const ModHead& head, const MergeImage& merge, uint32_t firstActionAt,
                    const LevelImage& before, std::vector<uint8_t>* out) {
  std::vector<uint8_t> fields;
  if (!StartModEntry(head, merge, firstActionAt, out->size(), &fields)) return false;
  out->reserve(out->size() +
               static_cast<size_t>(ReadU32(fields.data() + ENTRY_LENGTH_AT)));
  return WriteModEntry(
      fields, merge, firstActionAt, before,
      [](void* context, const uint8_t* bytes, uint32_t count) {
        auto* to = static_cast<std::vector<uint8_t>*>(context);
        to->insert(to->end(), bytes, bytes + count);
        return true;
      },
      out);
}

bool AppendEntry(const ModHead& head, const std::vector<MergeAction>& undo,
                 std::vector<uint8_t>* out) {
  uint64_t undoSize = 0;
  for (const MergeAction& action : undo)
    undoSize += RECORD_HEAD_SIZE + uint64_t{action.insertLength};
  size_t start = 0;
  if (!StartEntry(head, undoSize, out, &start, out->size())) return false;
  for (const MergeAction& action : undo) AppendAction(action, out);
  FinishEntry(start, out);
  return true;
}

void KeepEntriesBefore(const History& history, const uint8_t* bytes, size_t first,
                       std::vector<uint8_t>* out) {
  uint32_t end = HISTORY_HEADER_SIZE;
  if (first < history.entries.size())
    end = history.entries[first].at;
  else if (!history.entries.empty())
    end = EndOf(history.entries.back());
  out->assign(bytes, bytes + end);
}

uint64_t PackId(int64_t time, const std::vector<Fingerprint>& merges) {
  std::vector<uint8_t> fields;
  PutU64(static_cast<uint64_t>(time), &fields);
  for (const Fingerprint& merge : merges) AppendStoredPrint(merge, &fields);
  uint64_t id = XXH3_64bits(fields.data(), fields.size());
  // 0 is the pack of a mod put in alone.
  return id != 0 ? id : 1;
}

void FindHistory(const uint8_t* bytes, size_t size, const Fingerprint& level,
                 FoundHistory* found) {
  *found = FoundHistory{};
  switch (ReadHistory(bytes, size, &found->history)) {
    case HistoryRead::WHOLE:
      found->found = HistoryFound::WHOLE;
      found->fit = FitOfHistory(found->history, level);
      return;
    case HistoryRead::DAMAGED: found->found = HistoryFound::DAMAGED; return;
    case HistoryRead::LATER_VERSION: found->found = HistoryFound::LATER_VERSION; return;
  }
}
