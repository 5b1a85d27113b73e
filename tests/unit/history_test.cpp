#include "journal/history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "journal/mod_stack.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One action of a mod, in the positions of the level before it.
struct Act {
  uint32_t at;
  uint32_t removed;
  std::string data;
};
using Mod = std::vector<Act>;

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }
Fingerprint Print(const Bytes& b) {
  return FingerprintOf(b.data(), static_cast<uint32_t>(b.size()));
}

Bytes Applied(const Bytes& level, const Mod& mod) {
  Bytes out;
  uint32_t kept = 0;
  for (const Act& act : mod) {
    out.insert(out.end(), level.data() + kept, level.data() + act.at);
    out.insert(out.end(), act.data.begin(), act.data.end());
    kept = act.at + act.removed;
  }
  out.insert(out.end(), level.data() + kept, level.data() + level.size());
  return out;
}

Bytes MergeOf(const Mod& mod) {
  Bytes out;
  StartMergeFile("l.lvl", &out);
  for (const Act& act : mod)
    AppendAction({act.at, act.removed, static_cast<uint32_t>(act.data.size()),
                  reinterpret_cast<const uint8_t*>(act.data.data())},
                 &out);
  return out;
}

// The history of `mods` put in on `original` in order, named by their
// numbers; odd ones went in as a pack. *level: the level they make.
Bytes HistoryOf(const Bytes& original, const std::vector<Mod>& mods, Bytes* level,
                const std::vector<size_t>& names = {}) {
  Bytes history;
  StartHistory(Print(original), &history);
  *level = original;
  for (size_t i = 0; i < mods.size(); ++i) {
    Bytes merge = MergeOf(mods[i]);
    MergeImage image{merge.data(), static_cast<uint32_t>(merge.size())};
    Bytes after = Applied(*level, mods[i]);
    ModHead head{Print(*level),
                 Print(after),
                 Print(merge),
                 -5 + static_cast<int64_t>(i),
                 i % 2,
                 std::to_string(names.empty() ? i : names[i]),
                 i % 2 ? "set" : "",
                 i % 2 ? std::vector<std::string>{"b.lvl", "../c.lvl"}
                       : std::vector<std::string>{}};
    EXPECT_TRUE(AppendModEntry(head, image, FirstActionAt(image),
                               {level->data(), static_cast<uint32_t>(level->size())},
                               &history));
    *level = after;
  }
  return history;
}

History Read(const Bytes& bytes, HistoryRead want = HistoryRead::WHOLE) {
  History history;
  EXPECT_EQ(ReadHistory(bytes.data(), bytes.size(), &history), want);
  return history;
}

Removal Remove(const Bytes& history, const Bytes& level,
               const std::vector<size_t>& which) {
  return RemoveMods(Read(history), history.data(),
                    {level.data(), static_cast<uint32_t>(level.size())}, which);
}

void Put32(Bytes* bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i)
    (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t Get32(const Bytes& bytes, size_t at) { return ReadU32(bytes.data() + at); }

// The header's and each entry's check made to hold again after a change, the
// entries found by their lengths alone.
void Reseal(Bytes* h) {
  size_t at = (*h)[HISTORY_HEADER_LENGTH_AT];
  if (at < 10 || at > h->size()) return;
  Put32(h, at - 4, ShortCheck(h->data(), at - 4));
  while (h->size() - at >= 8) {
    uint32_t length = Get32(*h, at);
    if (length < 8 || length > h->size() - at) return;
    Put32(h, at + length - 4, ShortCheck(h->data() + at, length - 4));
    at += length;
  }
}

// Two entries: one replaces "23" with "XYZ"; the other, a pack's, puts "<" in
// front and removes "9ab".
const Bytes ORIGINAL = Of("0123456789abcdef");
const std::vector<Mod> TWO_MODS = {{{2, 2, "XYZ"}}, {{0, 0, "<"}, {10, 3, ""}}};

TEST(ReadHistory, RefusesEachKindOfDamage) {
  Bytes level;
  const Bytes whole = HistoryOf(ORIGINAL, TWO_MODS, &level);
  const size_t e0 = HISTORY_HEADER_SIZE;
  const size_t e1 = e0 + Get32(whole, e0);
  const size_t undo0 = e0 + Get32(whole, e0 + ENTRY_UNDO_AT);
  const size_t undo1 = e1 + Get32(whole, e1 + ENTRY_UNDO_AT);
  using Change = std::function<void(Bytes&)>;
  auto put = [](size_t at, uint8_t byte) -> Change {
    return [=](Bytes& h) { h[at] = byte; };
  };
  auto put32 = [](size_t at, uint32_t v) -> Change {
    return [=](Bytes& h) { Put32(&h, at, v); };
  };
  // `bytes` put in at `at`, in entry 1 whose undo then starts `late` bytes later.
  auto grow = [&](size_t at, const Bytes& bytes, uint32_t late) -> Change {
    return [=](Bytes& h) {
      h.insert(h.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
      Put32(&h, e1, Get32(h, e1) + static_cast<uint32_t>(bytes.size()));
      Put32(&h, e1 + ENTRY_UNDO_AT, Get32(h, e1 + ENTRY_UNDO_AT) + late);
    };
  };
  Bytes nothing;
  AppendAction({13, 0, 0, nullptr}, &nothing);
  const struct {
    const char* what;
    Change change;
  } damaged[] = {
      {"no marker", put(1, 'v')},
      {"version 0", put(HISTORY_VERSION_AT, 0)},
      {"header length 29", put(HISTORY_HEADER_LENGTH_AT, 29)},
      {"header length 31",
       [](Bytes& h) {
         h[HISTORY_HEADER_LENGTH_AT] = 31;
         h.insert(h.begin() + 26, 0);
       }},
      {"original of 4 GiB - 1",
       [](Bytes& h) {
         h.resize(HISTORY_HEADER_SIZE);
         Put32(&h, HISTORY_ORIGINAL_SIZE_AT, 0xFFFFFFFF);
       }},
      {"entry length short of its names", put32(e1, ENTRY_NAME_AT + 3)},
      {"name past the entry", put(e1 + ENTRY_NAME_LENGTH_AT, 0xF0)},
      {"pack name past the entry", put(e1 + ENTRY_NAME_AT + 1, 0xF0)},
      // The name "1" grown to 1026 bytes, the entry whole otherwise.
      {"name longer than 1024",
       [&](Bytes& h) {
         grow(e1 + ENTRY_NAME_AT, Bytes(1025, 'n'), 1025)(h);
         h[e1 + ENTRY_NAME_LENGTH_AT] = 1026 & 0xFF;
         h[e1 + ENTRY_NAME_LENGTH_AT + 1] = 1026 >> 8;
       }},
      {"undo a byte late",
       put(e1 + ENTRY_UNDO_AT, uint8_t(whole[e1 + ENTRY_UNDO_AT] + 1))},
      {"a byte between the names and the undo", grow(undo1, {0}, 1)},
      {"pack name without a pack",
       [&](Bytes& h) { std::fill_n(h.data() + e1 + ENTRY_PACK_AT, 8, 0); }},
      {"merge file of 4 GiB - 1", put32(e0 + ENTRY_MERGE_SIZE_AT, 0xFFFFFFFF)},
      {"first entry not from the original",
       put(HISTORY_ORIGINAL_HASH_AT, uint8_t(whole[HISTORY_ORIGINAL_HASH_AT] ^ 1))},
      {"chain broken",
       put(e1 + ENTRY_BEFORE_HASH_AT, uint8_t(whole[e1 + ENTRY_BEFORE_HASH_AT] ^ 1))},
      {"undo past the level after", put32(undo1 + RECORD_HEAD_SIZE + OFFSET_AT, 16)},
      {"undo actions out of order", put32(undo1 + RECORD_HEAD_SIZE + OFFSET_AT, 0)},
      {"undo action of unknown code", put(undo0 + CODE_AT, 3)},
      {"undo action cut short", put32(undo0 + INSERT_LENGTH_AT, 3)},
      // Still inside the level after, but it gives a level a byte short.
      {"undo not giving the size before", put32(undo0 + REMOVE_LENGTH_AT, 2)},
      {"undo action that does nothing", grow(whole.size() - 4, nothing, 0)},
      {"bytes after the last entry", [](Bytes& h) { h.push_back(0); }},
  };
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.what);
    Bytes h = whole;
    c.change(h);
    Reseal(&h);
    EXPECT_TRUE(Read(h, HistoryRead::DAMAGED).entries.empty());
  }
  // A later version's whole header, of any length, whatever follows it.
  Bytes later = whole;
  later[HISTORY_VERSION_AT] = 9;
  later[HISTORY_HEADER_LENGTH_AT] = 40;
  later.insert(later.begin() + HISTORY_HEADER_CHECK_AT, 10, 0);
  Reseal(&later);
  Read(later, HistoryRead::LATER_VERSION);
  // Any byte changed, or the history cut anywhere but between entries.
  for (size_t at = 0; at < whole.size(); ++at) {
    Bytes h = whole;
    h[at] ^= 0x20;
    Read(h, HistoryRead::DAMAGED);
    Read(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(at)),
         at == e0 || at == e1 ? HistoryRead::WHOLE : HistoryRead::DAMAGED);
  }
}

TEST(ReadHistory, ReadsBackWhatWasWritten) {
  Bytes level;
  Bytes bytes = HistoryOf(ORIGINAL, TWO_MODS, &level);
  History history = Read(bytes);
  ASSERT_EQ(history.entries.size(), 2u);
  const ModHead& head = history.entries[1].head;
  EXPECT_TRUE(head.name == "1" && head.packName == "set" && head.pack == 1 &&
              head.time == -4 && SameFingerprint(head.after, Print(level)));
  EXPECT_EQ(head.packLevels, (std::vector<std::string>{"b.lvl", "../c.lvl"}));
  EXPECT_EQ(FitOfHistory(history, Print(level)), HistoryFit::ENDS_AT_LEVEL);
  EXPECT_EQ(FitOfHistory(history, Print(ORIGINAL)), HistoryFit::BACK_AT_ORIGINAL);
  EXPECT_EQ(FitOfHistory(history, head.before), HistoryFit::LEVEL_CHANGED);
  EXPECT_EQ(EntryBefore(history, head.before), 1u);
  // Written again from what was read, an entry is the same bytes.
  std::vector<MergeAction> undo;
  RecordCursor cursor = RecordsFrom(history.entries[1].undo, history.entries[1].undoAt);
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD)
    undo.push_back(record.action);
  Bytes again;
  KeepEntriesBefore(history, bytes.data(), 1, &again);
  ASSERT_TRUE(AppendEntry(head, undo, &again));
  EXPECT_EQ(again, bytes);
  // A name is cut to the longest an entry holds.
  ModHead longName = head;
  longName.before = head.after;
  longName.name.assign(ENTRY_NAME_MAX + 9, 'n');
  ASSERT_TRUE(AppendEntry(longName, {}, &again));
  EXPECT_EQ(Read(again).entries[2].head.name, std::string(ENTRY_NAME_MAX, 'n'));
  EXPECT_NE(PackId(0, {}), PackId(1, {}));
}

// The rule of which later changes block an earlier mod's way out, each case
// a mod on "0123456789" and later ones; removing the first gives `left`, or
// is blocked by exactly `blockers`: those that change what it wrote, and
// those that change what they wrote.
TEST(RemoveMods, BlockedExactlyByTheRule) {
  const struct {
    const char* what;
    std::vector<Mod> mods;
    const char* left;
    std::vector<size_t> blockers;
  } cases[] = {
      {"insertion right before written bytes",
       {{{4, 2, "XY"}}, {{4, 0, "i"}}},
       "0123i456789",
       {}},
      {"insertion right after written bytes",
       {{{4, 2, "XY"}}, {{6, 0, "i"}}},
       "012345i6789",
       {}},
      {"insertion inside written bytes", {{{4, 2, "XY"}}, {{5, 0, "i"}}}, nullptr, {1}},
      {"removal of a written byte", {{{4, 2, "XY"}}, {{5, 2, ""}}}, nullptr, {1}},
      {"replacement just before", {{{4, 2, "XY"}}, {{2, 2, "r"}}}, "01r456789", {}},
      {"removal just after", {{{4, 2, "XY"}}, {{6, 2, ""}}}, "01234589", {}},
      {"insertion at an insertion's end",
       {{{4, 0, "XY"}}, {{6, 0, "i"}}},
       "0123i456789",
       {}},
      {"insertion at a deletion's point", {{{4, 2, ""}}, {{4, 0, "i"}}}, nullptr, {1}},
      {"removal across a deletion's point", {{{4, 2, ""}}, {{3, 2, ""}}}, nullptr, {1}},
      {"removal up to a deletion's point",
       {{{4, 2, ""}}, {{2, 2, "r"}}},
       "01r456789",
       {}},
      {"replacement from a deletion's point",
       {{{4, 2, ""}}, {{4, 1, "r"}}},
       "012345r789",
       {}},
      {"insertion beside a deletion's point",
       {{{4, 2, ""}}, {{3, 0, "i"}}},
       "012i3456789",
       {}},
      // Once the blocker is out, these stand at the deletion's point.
      {"insertion before a blocker's at a deletion's point",
       {{{4, 2, ""}}, {{4, 0, "i"}}, {{4, 0, "j"}}},
       nullptr,
       {1, 2}},
      {"insertion after a blocker's at a deletion's point",
       {{{4, 2, ""}}, {{4, 0, "i"}}, {{5, 0, "j"}}},
       nullptr,
       {1, 2}},
      {"insertion beside a blocker",
       {{{4, 2, ""}}, {{4, 0, "i"}}, {{3, 0, "j"}}},
       nullptr,
       {1}},
      // "0123WzzZ6789": "j" goes in between what were "Y" and "Z".
      {"insertion inside written bytes a blocker changed twice",
       {{{4, 2, "WXYZ"}}, {{5, 1, ""}, {6, 1, "zz"}}, {{7, 0, "j"}}},
       nullptr,
       {1, 2}},
      {"removal of a blocker's other bytes",
       {{{4, 2, "XY"}}, {{0, 1, "a"}, {5, 0, "i"}}, {{0, 1, ""}}},
       nullptr,
       {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes original = Of("0123456789");
    Bytes level;
    Bytes bytes = HistoryOf(original, c.mods, &level);
    Removal removal = Remove(bytes, level, {0});
    if (c.left == nullptr) {
      EXPECT_EQ(removal.outcome, RemovalOutcome::BLOCKED);
      EXPECT_EQ(removal.blockers, c.blockers);
      EXPECT_TRUE(removal.level.empty() && removal.history.empty());
    } else {
      ASSERT_EQ(removal.outcome, RemovalOutcome::REMOVED);
      EXPECT_EQ(std::string(removal.level.begin(), removal.level.end()), c.left);
    }
    // The same rule, with the last mod as a merge file yet to go in: it
    // changes the first mod's bytes where, gone in, it changes them itself,
    // not only bytes of a mod that changed them before.
    std::vector<size_t> direct = BlockersOf(Read(bytes), 0);
    Bytes history = HistoryOf(original, {c.mods.begin(), c.mods.end() - 1}, &level);
    Bytes merge = MergeOf(c.mods.back());
    MergeImage image{merge.data(), static_cast<uint32_t>(merge.size())};
    std::vector<size_t> changed =
        ModsChangedBy(Read(history), image, FirstActionAt(image));
    EXPECT_EQ(!changed.empty() && changed[0] == 0,
              !direct.empty() && direct.back() == c.mods.size() - 1);
  }
}

// A merge file made for the level before the mods goes under them only where
// none of them would block it.
TEST(AppliesUnderMods, OnlyWhereNoModWouldBlockIt) {
  const struct {
    const char* what;
    Mod merge;  // made for the original
    bool applies;
  } cases[] = {
      {"apart", {{9, 1, "A"}}, true},
      {"beside what the mods changed", {{3, 1, "A"}, {6, 0, "B"}}, true},
      {"a byte a mod wrote", {{5, 1, "A"}}, false},
      {"a byte a later mod removed", {{6, 1, "A"}}, false},
      {"an insertion where a mod inserts", {{1, 0, "A"}}, false},
      {"a deletion where a mod inserts", {{0, 1, ""}}, false},
  };
  Bytes level;
  // "I" put in at 1 and "45" replaced, then "6" removed.
  const Bytes bytes =
      HistoryOf(Of("0123456789"), {{{1, 0, "I"}, {4, 2, "XY"}}, {{7, 1, ""}}}, &level);
  History history = Read(bytes);
  for (const auto& c : cases) {
    Bytes file = MergeOf(c.merge);
    MergeImage image{file.data(), static_cast<uint32_t>(file.size())};
    EXPECT_EQ(AppliesUnderMods(history, 0, image, FirstActionAt(image)), c.applies)
        << c.what;
  }
}

// The mods numbered 0 to count - 1.
std::vector<size_t> FirstOf(size_t count) {
  std::vector<size_t> numbers(count);
  for (size_t k = 0; k < count; ++k) numbers[k] = k;
  return numbers;
}

// Random mods, each changing bytes no other one is near, in the positions of
// the original: the level with any of them is the original with those.
struct Stack {
  Bytes original;
  std::vector<Mod> mods;

  Bytes LevelWith(const std::vector<size_t>& in) const {
    Mod all;
    for (size_t m : in) all.insert(all.end(), mods[m].begin(), mods[m].end());
    std::sort(all.begin(), all.end(),
              [](const Act& a, const Act& b) { return a.at < b.at; });
    return Applied(original, all);
  }
  // Mod m in the positions of the level with the mods `before`.
  Mod Placed(size_t m, const std::vector<size_t>& before) const {
    Mod placed = mods[m];
    for (size_t k = 0; k < placed.size(); ++k)
      for (size_t other : before)
        for (const Act& o : mods[other])
          if (o.at < mods[m][k].at)
            placed[k].at = placed[k].at + uint32_t(o.data.size()) - o.removed;
    return placed;
  }
};

Stack RandomStack(std::mt19937* random) {
  auto pick = [&](uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(*random);
  };
  Stack stack;
  stack.original.resize(pick(24, 80));
  for (uint8_t& b : stack.original) b = static_cast<uint8_t>(pick('a', 'z'));
  stack.mods.resize(pick(2, 6));
  size_t count = 0;
  // An insertion, a deletion or a change of the same size; a byte at least
  // between any two.
  for (uint32_t at = pick(0, 3); at + 4 < stack.original.size();
       at += pick(1, 6), ++count) {
    uint32_t kind = pick(0, 2);
    uint32_t removed = kind == 0 ? 0 : pick(1, 3);
    uint32_t inserted = kind == 1 ? 0 : kind == 2 ? removed : pick(1, 3);
    size_t m =
        count < stack.mods.size() ? count : pick(0, uint32_t(stack.mods.size()) - 1);
    stack.mods[m].push_back({at, removed, std::string(inserted, char('0' + count % 10))});
    at += removed;
  }
  stack.mods.resize(std::min(stack.mods.size(), count));
  return stack;
}

// Random stacks: each mod comes out, one or two at a time in any order,
// leaving the level the model gives and a history whose every entry is
// between the levels the model gives. With mods over them that change what
// some wrote, those are blocked by exactly the mods over them; taken out
// with those, or all at once, they leave the model's level.
TEST(RemoveMods, RandomStacksAgainstAPlainModel) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const Stack stack = RandomStack(&random);
    const size_t apart = stack.mods.size();
    std::vector<Mod> placed;
    for (size_t m = 0; m < apart; ++m) placed.push_back(stack.Placed(m, FirstOf(m)));
    Bytes level;
    Bytes bytes = HistoryOf(stack.original, placed, &level);
    std::vector<size_t> left = FirstOf(apart);
    while (!left.empty()) {
      std::vector<size_t> which{random() % left.size()};
      if (left.size() > 1 && random() % 3 == 0)
        which.push_back((which[0] + 1) % left.size());
      Removal removal = Remove(bytes, level, which);
      ASSERT_EQ(removal.outcome, RemovalOutcome::REMOVED);
      std::sort(which.rbegin(), which.rend());
      for (size_t index : which) left.erase(left.begin() + std::ptrdiff_t(index));
      ASSERT_EQ(removal.level, stack.LevelWith(left));
      History history = Read(removal.history);
      ASSERT_EQ(history.entries.size(), left.size());
      for (size_t k = 0; k < left.size(); ++k) {
        const ModHead& head = history.entries[k].head;
        EXPECT_EQ(head.name, std::to_string(left[k]));
        std::vector<size_t> in(left.begin(), left.begin() + std::ptrdiff_t(k));
        EXPECT_TRUE(SameFingerprint(head.before, Print(stack.LevelWith(in))));
        in.push_back(left[k]);
        EXPECT_TRUE(SameFingerprint(head.after, Print(stack.LevelWith(in))));
      }
      level = removal.level;
      bytes = removal.history;
    }
    EXPECT_EQ(level, stack.original);

    // One or two mods over them, each changing a written byte or putting a
    // byte in at a deletion's point, of some actions; each of these adds a
    // byte, which the second one's positions count.
    std::vector<Mod> over(1 + random() % 2);
    std::vector<std::vector<size_t>> blockers(apart);
    for (size_t m = 0; m < apart; ++m)
      for (const Act& act : stack.Placed(m, FirstOf(apart))) {
        if (random() % 3 != 0) continue;
        size_t o = random() % over.size();
        over[o].push_back(act.data.empty() ? Act{act.at, 0, "#"} : Act{act.at, 1, "##"});
        blockers[m].push_back(apart + o);
      }
    for (Mod& mod : over)
      std::sort(mod.begin(), mod.end(),
                [](const Act& a, const Act& b) { return a.at < b.at; });
    for (size_t o = 1; o < over.size(); ++o)
      for (Act& act : over[o]) {
        const uint32_t at = act.at;
        for (const Act& first : over[0]) act.at += first.at < at ? 1 : 0;
      }
    for (std::vector<size_t>& b : blockers) {
      std::sort(b.begin(), b.end());
      b.erase(std::unique(b.begin(), b.end()), b.end());
    }
    placed.insert(placed.end(), over.begin(), over.end());
    bytes = HistoryOf(stack.original, placed, &level);
    for (size_t m = 0; m < apart; ++m) {
      SCOPED_TRACE(m);
      Removal alone = Remove(bytes, level, {m});
      EXPECT_EQ(alone.blockers, blockers[m]);
      if (blockers[m].empty()) continue;
      EXPECT_TRUE(alone.outcome == RemovalOutcome::BLOCKED && alone.level.empty() &&
                  alone.history.empty());
      std::vector<size_t> which = FirstOf(placed.size());
      which.erase(which.begin(), which.begin() + std::ptrdiff_t(apart));
      which.push_back(m);
      Removal together = Remove(bytes, level, which);
      ASSERT_EQ(together.outcome, RemovalOutcome::REMOVED);
      std::vector<size_t> others = FirstOf(apart);
      others.erase(others.begin() + std::ptrdiff_t(m));
      EXPECT_EQ(together.level, stack.LevelWith(others));
    }
    Removal all = Remove(bytes, level, FirstOf(placed.size()));
    ASSERT_EQ(all.outcome, RemovalOutcome::REMOVED);
    EXPECT_EQ(all.level, stack.original);
    EXPECT_TRUE(Read(all.history).entries.empty());
  }
}

// Nothing is given where the level, the history or the request disagree,
// whether or not a mod would be blocked.
TEST(RemoveMods, RefusesWhatDisagrees) {
  Bytes level;
  // The second mod removes the "Y" the first wrote.
  const Bytes bytes = HistoryOf(ORIGINAL, {{{2, 2, "XYZ"}}, {{3, 1, ""}}}, &level);
  const size_t e1 = HISTORY_HEADER_SIZE + Get32(bytes, HISTORY_HEADER_SIZE);
  const size_t undo1 = e1 + Get32(bytes, e1 + ENTRY_UNDO_AT);
  const struct {
    const char* what;
    std::function<void(Bytes& history, Bytes& level)> change;
    std::vector<size_t> which;
  } cases[] = {
      {"another level", [](Bytes&, Bytes& l) { l[3] ^= 1; }, {0}},
      // Entry 1's undo puts back "Q": its level before is not what it says.
      {"an undo's data changed",
       [&](Bytes& h, Bytes&) { h[undo1 + RECORD_HEAD_SIZE] = 'Q'; },
       {1}},
      {"the same entry twice", [](Bytes&, Bytes&) {}, {1, 1}},
      {"no such entry", [](Bytes&, Bytes&) {}, {2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes h = bytes;
    Bytes l = level;
    c.change(h, l);
    Reseal(&h);
    Removal removal = Remove(h, l, c.which);
    EXPECT_EQ(removal.outcome, RemovalOutcome::DAMAGED);
    EXPECT_TRUE(removal.level.empty() && removal.history.empty());
  }
}

}  // namespace
