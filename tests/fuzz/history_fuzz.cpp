// Fuzz target: arbitrary bytes as the history beside a level: read back, and
// where whole, mods taken out of it against the level.
//
// Input: byte 0's low bit asks for the history to be made true to the level
// first (each entry's fingerprints worked out by unwinding the level through
// the undos, from the last entry back, and every check made to hold), so that
// changed undos still reach the removal; byte 1 chooses the entries to take
// out (bit k: entry k; none: all of them); byte 2 is the level's size, the
// level follows, and the rest is the history.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/apply_actions.h"
#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "journal/history.h"
#include "journal/mod_stack.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Require(bool holds, const char* what) {
  if (holds) return;
  (void)fprintf(stderr, "history_fuzz: %s\n", what);
  abort();
}

void PutPrint(const Bytes& level, uint8_t* at) {
  Fingerprint print = FingerprintOf(level.data(), static_cast<uint32_t>(level.size()));
  for (size_t i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(print.size >> (8 * i));
  memcpy(at + 4, print.hash, FINGERPRINT_HASH_BYTES);
}

void PutCheck(uint8_t* bytes, size_t checkAt) {
  uint32_t check = ShortCheck(bytes, checkAt);
  for (size_t i = 0; i < 4; ++i)
    bytes[checkAt + i] = static_cast<uint8_t>(check >> (8 * i));
}

bool CollectSlice(void* context, const uint8_t* bytes, uint32_t count) {
  auto* out = static_cast<Bytes*>(context);
  out->insert(out->end(), bytes, bytes + count);
  return true;
}

// The entries, found by their lengths, get the fingerprints the undos give
// from `level` back, as far as the undos can be applied; then every check.
void MakeTrue(Bytes* history, Bytes level) {
  Bytes& h = *history;
  if (h.size() < HISTORY_HEADER_SIZE ||
      h[HISTORY_HEADER_LENGTH_AT] != HISTORY_HEADER_SIZE)
    return;
  std::vector<size_t> starts;
  const uint32_t entryMin = ENTRY_NAME_AT + 2 + ENTRY_CHECK_SIZE;
  for (size_t at = HISTORY_HEADER_SIZE; h.size() - at >= entryMin;) {
    uint32_t length = ReadU32(&h[at]);
    if (length < entryMin || length > h.size() - at) break;
    starts.push_back(at);
    at += length;
  }
  for (size_t k = starts.size(); k-- > 0;) {
    uint8_t* entry = &h[starts[k]];
    uint32_t checkAt = ReadU32(entry) - 4;
    uint32_t undoAt = ReadU32(entry + ENTRY_UNDO_AT);
    PutPrint(level, entry + ENTRY_AFTER_SIZE_AT);
    MergeImage undo{entry, checkAt};
    LevelImage image{level.data(), static_cast<uint32_t>(level.size())};
    if (undoAt > checkAt ||
        CheckActions(undo, undoAt, image.size).kind != FaultKind::NONE)
      break;
    Bytes before;
    ApplyActions(image, undo, undoAt, CollectSlice, &before);
    level = before;
    PutPrint(level, entry + ENTRY_BEFORE_SIZE_AT);
  }
  PutPrint(level, &h[HISTORY_ORIGINAL_SIZE_AT]);
  PutCheck(h.data(), HISTORY_HEADER_CHECK_AT);
  for (size_t at : starts) PutCheck(&h[at], ReadU32(&h[at]) - 4);
}

std::vector<MergeAction> UndoActions(const HistoryEntry& entry) {
  std::vector<MergeAction> actions;
  RecordCursor cursor = RecordsFrom(entry.undo, entry.undoAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD)
    actions.push_back(record.action);
  return actions;
}

bool SameHead(const ModHead& a, const ModHead& b) {
  return SameFingerprint(a.merge, b.merge) && a.time == b.time && a.pack == b.pack &&
         a.name == b.name && a.packName == b.packName;
}

// Takes out `removing` and checks what comes out against what went in.
void CheckRemoval(const History& history, const Bytes& bytes, const Bytes& level,
                  const std::vector<size_t>& removing, bool madeTrue) {
  const size_t count = history.entries.size();
  Removal removal =
      RemoveMods(history, bytes.data(),
                 {level.data(), static_cast<uint32_t>(level.size())}, removing);
  // Small levels never grow too large; a history true to its level is never
  // found damaged.
  Require(removal.outcome != RemovalOutcome::TOO_LARGE, "too large");
  if (madeTrue)
    Require(removal.outcome != RemovalOutcome::DAMAGED, "a true history damaged");
  if (removal.outcome == RemovalOutcome::BLOCKED) {
    Require(!removal.blockers.empty() && removal.level.empty(),
            "blocked without blockers");
    for (size_t blocker : removal.blockers)
      for (size_t index : removing) Require(blocker != index, "a mod taken out blocks");
    return;
  }
  if (removal.outcome != RemovalOutcome::REMOVED) return;
  History left;
  Require(ReadHistory(removal.history.data(), removal.history.size(), &left) ==
              HistoryRead::WHOLE,
          "the new history is not whole");
  Require(left.entries.size() == count - removing.size(), "entries lost or kept");
  Require(SameFingerprint(LevelAtEnd(left), removal.levelPrint) &&
              SameFingerprint(removal.levelPrint,
                              FingerprintOf(removal.level.data(),
                                            static_cast<uint32_t>(removal.level.size()))),
          "the new level is not where the new history ends");
  size_t kept = 0;
  for (size_t k = 0; k < count; ++k) {
    bool removed = false;
    for (size_t index : removing) removed = removed || index == k;
    if (removed) continue;
    Require(SameHead(history.entries[k].head, left.entries[kept++].head),
            "an entry left in changed");
  }
  if (left.entries.empty())
    Require(SameFingerprint(removal.levelPrint, history.original), "not the original");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size - 3 < data[2]) return 0;
  const bool makeTrue = (data[0] & 1) != 0;
  const Bytes level(data + 3, data + 3 + data[2]);
  Bytes bytes(data + 3 + data[2], data + size);
  if (makeTrue) MakeTrue(&bytes, level);

  // An exactly sized copy: any read past its end is a sanitizer report.
  auto* copy = new uint8_t[bytes.size()];
  if (!bytes.empty()) memcpy(copy, bytes.data(), bytes.size());
  History history;
  HistoryRead read = ReadHistory(copy, bytes.size(), &history);
  delete[] copy;
  if (read != HistoryRead::WHOLE) return 0;
  history = History{};
  (void)ReadHistory(bytes.data(), bytes.size(), &history);

  // Whole is exactly what the writer writes for what was read.
  Bytes again;
  KeepEntriesBefore(history, bytes.data(), 0, &again);
  for (const HistoryEntry& entry : history.entries)
    Require(AppendEntry(entry.head, UndoActions(entry), &again),
            "an entry can't be written");
  Require(again == bytes, "a whole history is not what the writer writes");

  if (FitOfHistory(history,
                   FingerprintOf(level.data(), static_cast<uint32_t>(level.size()))) !=
      HistoryFit::ENDS_AT_LEVEL)
    return 0;
  const size_t count = history.entries.size();
  std::vector<size_t> removing;
  for (size_t k = 0; k < count && k < 8; ++k)
    if ((data[1] >> k & 1) != 0) removing.push_back(k);
  std::vector<size_t> all;
  for (size_t k = count; k-- > 0;) all.push_back(k);
  if (!removing.empty()) CheckRemoval(history, bytes, level, removing, makeTrue);
  CheckRemoval(history, bytes, level, all, makeTrue);

  // Undoing the last mod changes all it wrote.
  if (count > 0) {
    const HistoryEntry& last = history.entries.back();
    std::vector<size_t> changed = ModsChangedBy(history, last.undo, last.undoAt);
    Require(HunksOf(last).empty() || (!changed.empty() && changed.back() == count - 1),
            "the last mod's undo changes none of it");
    // The undo of the one before is made for the level before the last.
    if (count > 1) {
      const HistoryEntry& before = history.entries[count - 2];
      (void)AppliesUnderMods(history, count - 1, before.undo, before.undoAt);
    }
  }
  return 0;
}
