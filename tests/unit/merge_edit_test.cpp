#include "edits/merge_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "differ/merge_make.h"
#include "format/merge_checks.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Act {
  uint32_t offset;
  uint32_t remove;
  std::string data;
};

Bytes MergeOf(const std::vector<Act>& acts, const char* name = "l.lvl") {
  Bytes out;
  StartMergeFile(name, &out);
  for (const Act& act : acts)
    AppendAction({act.offset, act.remove, static_cast<uint32_t>(act.data.size()),
                  reinterpret_cast<const uint8_t*>(act.data.data())},
                 &out);
  return out;
}

std::vector<Act> ActsOf(const Bytes& merge) {
  MergeImage image{merge.data(), static_cast<uint32_t>(merge.size())};
  std::vector<Act> acts;
  RecordCursor cursor = RecordsFrom(image, FirstActionAt(image));
  ActionRecord record;
  while (NextRecord(&cursor, &record) == RecordRead::RECORD) {
    const MergeAction& action = record.action;
    acts.push_back({action.offset, action.removeLength,
                    std::string(action.data, action.data + action.insertLength)});
  }
  return acts;
}

TEST(CombineMerges, JoinsInLevelOrderOrNamesTheConflict) {
  const struct {
    const char* what;
    std::vector<std::vector<Act>> parts;
    std::vector<Act> joined;  // when there is no conflict
    int firstPart;            // else the parts of the two actions named: -1 for none
    int secondPart;
    bool sameOffset;
  } cases[] = {
      {"interleaved",
       {{{0, 1, "A"}, {20, 0, "C"}}, {{10, 2, "B"}}},
       {{0, 1, "A"}, {10, 2, "B"}, {20, 0, "C"}},
       -1,
       -1,
       false},
      {"adjacent ranges",
       {{{0, 5, "A"}}, {{5, 5, "B"}}},
       {{0, 5, "A"}, {5, 5, "B"}},
       -1,
       -1,
       false},
      {"insert where the other removes",
       {{{5, 3, ""}}, {{5, 0, "X"}}},
       {{5, 0, "X"}, {5, 3, ""}},
       -1,
       -1,
       false},
      {"one part's inserts at one offset keep their order",
       {{{5, 0, "B"}, {5, 0, "A"}}, {{9, 1, "Z"}}},
       {{5, 0, "B"}, {5, 0, "A"}, {9, 1, "Z"}},
       -1,
       -1,
       false},
      {"no-op actions are left out",
       {{{3, 0, ""}}, {{3, 1, "Q"}}},
       {{3, 1, "Q"}},
       -1,
       -1,
       false},
      {"overlapping removals", {{{0, 10, "A"}}, {{5, 1, "B"}}}, {}, 0, 1, false},
      {"insert inside a removed range", {{{0, 10, ""}}, {{4, 0, "X"}}}, {}, 0, 1, false},
      {"same offset, both remove", {{{4, 2, ""}}, {{4, 1, ""}}}, {}, 0, 1, false},
      {"same-offset inserts", {{{4, 0, "A"}}, {{4, 0, "B"}}}, {}, 0, 1, true},
      // The pure insertion comes first at its offset.
      {"insert and replace at one offset",
       {{{4, 1, "R"}}, {{4, 0, "I"}}},
       {},
       1,
       0,
       true},
      // The range that reaches furthest is named, with the action inside it.
      {"conflict with the third part",
       {{{0, 1, "A"}}, {{50, 1, "B"}}, {{40, 20, ""}}},
       {},
       2,
       1,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bytes> files;
    for (const auto& acts : c.parts) files.push_back(MergeOf(acts));
    std::vector<CombinePart> parts;
    for (Bytes& file : files) {
      MergeImage image{file.data(), static_cast<uint32_t>(file.size())};
      parts.push_back({image, FirstActionAt(image)});
    }
    Bytes out;
    CombineConflict conflict{};
    EditOutcome outcome = CombineMerges(parts, "l.lvl", &out, &conflict);
    if (c.firstPart < 0) {
      ASSERT_EQ(outcome, EditOutcome::OK);
      std::vector<Act> joined = ActsOf(out);
      ASSERT_EQ(joined.size(), c.joined.size());
      for (size_t i = 0; i < joined.size(); ++i) {
        EXPECT_EQ(joined[i].offset, c.joined[i].offset);
        EXPECT_EQ(joined[i].remove, c.joined[i].remove);
        EXPECT_EQ(joined[i].data, c.joined[i].data);
      }
      MergeImage image{out.data(), static_cast<uint32_t>(out.size())};
      EXPECT_EQ(CheckActions(image, FirstActionAt(image), 100).kind, FaultKind::NONE);
    } else {
      ASSERT_EQ(outcome, EditOutcome::CONFLICT);
      EXPECT_EQ(conflict.first.part, static_cast<size_t>(c.firstPart));
      EXPECT_EQ(conflict.second.part, static_cast<size_t>(c.secondPart));
      EXPECT_EQ(conflict.sameOffset, c.sameOffset);
      EXPECT_TRUE(out.empty());
    }
  }
}

// make's proof: a merge file is written only when its record reads back and
// its actions, applied, give the modified level exactly.
TEST(MergeFileFromEdits, WrittenOnlyWhenItReproduces) {
  const std::string original = "0123456789";
  const std::string modified = "01ab456789!";
  const struct {
    const char* what;
    std::vector<Edit> edits;
    MakeOutcome outcome;
  } cases[] = {
      {"the edits", {{2, 2, 2, 2}, {10, 0, 10, 1}}, MakeOutcome::OK},
      {"an edit missing", {{2, 2, 2, 2}}, MakeOutcome::NOT_REPRODUCED},
      {"data from the wrong place",
       {{2, 2, 3, 2}, {10, 0, 10, 1}},
       MakeOutcome::NOT_REPRODUCED},
      {"one byte too few removed",
       {{2, 1, 2, 2}, {10, 0, 10, 1}},
       MakeOutcome::NOT_REPRODUCED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes out;
    EXPECT_EQ(MergeFileFromEdits(reinterpret_cast<const uint8_t*>(original.data()), 10,
                                 reinterpret_cast<const uint8_t*>(modified.data()), 11,
                                 c.edits, "l.lvl", &out),
              c.outcome);
  }
}

TEST(InvertMerge, MovesEachUndoByWhatTheActionsBeforeItChanged) {
  // Level "0123456789": "0" -> "AB", remove "45", insert "xyz" before "8".
  Bytes original{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  Bytes merge = MergeOf({{0, 1, "AB"}, {4, 2, ""}, {8, 0, "xyz"}, {9, 0, ""}});
  MergeImage image{merge.data(), static_cast<uint32_t>(merge.size())};
  LevelImage level{original.data(), static_cast<uint32_t>(original.size())};
  Bytes undo;
  ASSERT_EQ(InvertMerge(image, level, &undo), EditOutcome::OK);
  std::vector<Act> acts = ActsOf(undo);
  ASSERT_EQ(acts.size(), 3u);  // the no-op is left out
  EXPECT_EQ(acts[0].offset, 0u);
  EXPECT_EQ(acts[0].remove, 2u);
  EXPECT_EQ(acts[0].data, "0");
  EXPECT_EQ(acts[1].offset, 5u);
  EXPECT_EQ(acts[1].remove, 0u);
  EXPECT_EQ(acts[1].data, "45");
  EXPECT_EQ(acts[2].offset, 7u);
  EXPECT_EQ(acts[2].remove, 3u);
  EXPECT_EQ(acts[2].data, "");
}

}  // namespace
