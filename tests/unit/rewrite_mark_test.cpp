#include "journal/rewrite_mark.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// The mark Vorandel 1.0.0 left for a backup of 10 bytes.
std::string MarkOf10(const std::string& level) {
  return "Vorandel is rewriting the level " + level +
         ".\nIf this file is still here once no run is going on, a run was stopped "
         "before it finished: the next run on this level first puts " +
         level + " back from " + level +
         ".bak. Leave this file where it is.\nbackup size: 10\nbackup sha256, first "
         "half: " +
         std::string(64, 'a') + "\nbackup sha256, second half: " + std::string(64, 'b') +
         "\n";
}

TEST(LevelFolder, BySystemSeparators) {
  const struct {
    const char* name;
    bool windowsPaths;
    const char* folder;
  } cases[] = {
      {"l.lvl", false, "."},
      {"maps/l.lvl", false, "maps"},
      {"a/b/l.lvl", false, "a/b"},
      {"maps\\l.lvl", true, "maps"},
      {"maps/l.lvl", true, "maps"},
      // On POSIX a backslash is a character of the name, not a separator.
      {"\\x.lvl", false, "."},
      {"maps\\l.lvl", false, "."},
  };
  for (const auto& c : cases) {
    char folder[NAME_FIELD_MAX];
    LevelFolder(c.name, c.windowsPaths, folder);
    EXPECT_STREQ(folder, c.folder) << c.name;
  }
}

struct MarkCase {
  const char* what;
  std::string text;
  MarkRead read;
};

// A mark is read back only exactly as a run writes it.
TEST(ReadMark, TakesOnlyAWholeMark) {
  RunNames names;
  NameRun("maps\\l.lvl", true, &names);
  const uint8_t level[] = "0123456789";
  const uint8_t merged[] = "0123abc6789";
  RewriteMark mark{FingerprintOf(level, 10), FingerprintOf(merged, 11), 4, "", 3};
  char text[MARK_TEXT_MAX];
  std::string whole(text, FormatMark(names, mark, text, sizeof text));
  RewriteMark of11 = mark;
  of11.version = 2;
  std::string ofVersion11(text, FormatMark(names, of11, text, sizeof text));
  RewriteMark inPack = mark;
  snprintf(inPack.pack, sizeof inPack.pack, "%s", "maps\\a.lvl.pack");
  std::string packed(text, FormatMark(names, inPack, text, sizeof text));
  // The same level under other spellings, as another merge file names it.
  auto spelled = [&](const char* spelling, bool windowsPaths) {
    RunNames other;
    NameRun(spelling, windowsPaths, &other);
    return std::string(text, FormatMark(other, mark, text, sizeof text));
  };
  size_t tail = whole.find("backup size: 10\nbackup xxh3-128: ");
  ASSERT_NE(tail, std::string::npos);
  ASSERT_NE(whole.find("\nmerged size: 11\nmerged xxh3-128: "), std::string::npos);
  // Cut short in its head or in its tail, it is no mark: none is written.
  for (size_t room : {size_t{10}, whole.size()})
    EXPECT_EQ(FormatMark(names, mark, text, room), 0U) << room;

  // A hex letter of the last digest in capitals, a digit made another.
  size_t digest = whole.find("merged xxh3-128: ") + 17;
  std::string upper = whole;
  size_t letter = upper.find_first_of("abcdef", digest);
  ASSERT_LT(letter, digest + 32) << "no hex letter in the last digest";
  upper[letter] = static_cast<char>(toupper(upper[letter]));
  std::string otherDigit = whole;
  size_t digit = otherDigit.find_first_of("0123456789", digest);
  otherDigit[digit] = otherDigit[digit] == '0' ? '1' : '0';
  std::string huge = whole;
  huge.replace(tail + 13, 2, "18446744073709551616");
  std::string of10 = MarkOf10("maps\\l.lvl");
  const MarkCase cases[] = {
      {"as written", whole, MarkRead::WHOLE},
      {"of Vorandel 1.1.0", ofVersion11, MarkRead::WHOLE},
      {"of a pack", packed, MarkRead::WHOLE},
      {"the level spelled with '/'", spelled("maps/l.lvl", true), MarkRead::WHOLE},
      {"the level spelled with './'", spelled(".\\maps\\L.LVL", true), MarkRead::WHOLE},
      {"another level", spelled("maps\\k.lvl", true), MarkRead::DAMAGED},
      {"named from the level's folder", spelled("l.lvl", true), MarkRead::WHOLE},
      {"cut short", whole.substr(0, whole.size() - 1), MarkRead::DAMAGED},
      {"a byte more", whole + "\n", MarkRead::DAMAGED},
      {"only the last lines", whole.substr(tail), MarkRead::DAMAGED},
      {"checksum in capitals", upper, MarkRead::DAMAGED},
      {"another checksum", otherDigit, MarkRead::WHOLE},
      {"size past 64 bits", huge, MarkRead::DAMAGED},
      {"empty", "", MarkRead::DAMAGED},
      {"of Vorandel 1.0.0", of10, MarkRead::OF_VERSION_1_0},
      {"of 1.0.0, cut short", of10.substr(0, of10.size() - 2), MarkRead::DAMAGED},
      {"of 1.0.0, a digest in capitals",
       of10.substr(0, of10.find("aaaa")) + "A" + of10.substr(of10.find("aaaa") + 1),
       MarkRead::DAMAGED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RewriteMark read{};
    ASSERT_EQ(ReadMark(names, Bytes(c.text), c.text.size(), &read), c.read);
    if (c.read == MarkRead::OF_VERSION_1_0) {
      EXPECT_EQ(read.backup.size, 10u);
    }
  }
  RewriteMark read{};
  ASSERT_EQ(ReadMark(names, Bytes(whole), whole.size(), &read), MarkRead::WHOLE);
  EXPECT_TRUE(SameFingerprint(read.backup, mark.backup));
  EXPECT_TRUE(SameFingerprint(read.merged, mark.merged));
  EXPECT_EQ(read.firstChange, 4u);
  ASSERT_EQ(ReadMark(names, Bytes(packed), packed.size(), &read), MarkRead::WHOLE);
  EXPECT_STREQ(read.pack, inPack.pack);
  ASSERT_EQ(ReadMark(names, Bytes(ofVersion11), ofVersion11.size(), &read),
            MarkRead::WHOLE);
  EXPECT_EQ(read.firstChange, 0u);
  RunNames posix;
  NameRun("./maps//l.lvl", false, &posix);
  std::string posixMark(text, FormatMark(posix, mark, text, sizeof text));
  NameRun("maps/l.lvl", false, &posix);
  EXPECT_EQ(ReadMark(posix, Bytes(posixMark), posixMark.size(), &read), MarkRead::WHOLE);
  // POSIX names are told apart by case.
  NameRun("maps/L.lvl", false, &posix);
  EXPECT_EQ(ReadMark(posix, Bytes(posixMark), posixMark.size(), &read),
            MarkRead::DAMAGED);
  RunNames other;
  NameRun("l.lvl", false, &other);
  EXPECT_EQ(ReadMark(other, Bytes(whole), whole.size(), &read), MarkRead::DAMAGED);
}

// What a run does about a mark, for each state of the mark, the level and
// the backup it finds.
TEST(DecideOnMark, EachFileAsFound) {
  RunNames names;
  NameRun("l.lvl", false, &names);
  const std::string original = "0123456789";
  const std::string merged = "0123abc6789";
  const std::string half = "0123a";
  char text[MARK_TEXT_MAX];
  RewriteMark written{FingerprintOf(Bytes(original), 10),
                      FingerprintOf(Bytes(merged), 11), 4, "", 3};
  std::string mark(text, FormatMark(names, written, text, sizeof text));
  written.version = 2;
  std::string of11(text, FormatMark(names, written, text, sizeof text));
  // A merge that shrinks the level, and a restore of its backup stopped midway.
  const std::string shrunk = "01";
  RewriteMark shrinking{FingerprintOf(Bytes(original), 10),
                        FingerprintOf(Bytes(shrunk), 2), 1, "", 3};
  std::string shrinkingMark(text, FormatMark(names, shrinking, text, sizeof text));
  const std::string restoredHalf = "012345";
  const std::string putBack = "0123456789 and more of the player's";
  const std::string otherStart = "9123a";
  std::string of10 = MarkOf10("l.lvl");
  auto loaded = [](const std::string& bytes) {
    return FoundFile{FileState::LOADED, 0, Bytes(bytes),
                     static_cast<uint32_t>(bytes.size())};
  };
  const FoundFile missing{FileState::MISSING, 2, nullptr, 0};
  const FoundFile unreadable{FileState::UNREADABLE, 5, nullptr, 0};
  const FoundFile tooLarge{FileState::TOO_LARGE, 0, nullptr, 0};
  const std::string changed = "0123456788";
  const std::string damaged = mark.substr(1);  // outlives the table, which points into it
  const struct {
    const char* what;
    FoundFile mark, level, backup;
    MarkPlan plan;
    MarkMessage message;
    unsigned long error;
  } cases[] = {
      {"no mark", missing, loaded(half), unreadable, MarkPlan::NOTHING, {}, 0},
      {"mark unreadable", unreadable, loaded(half), loaded(original), MarkPlan::REFUSE,
       MarkMessage::MARK_UNREADABLE, 5},
      {"mark too large", tooLarge, loaded(half), loaded(original), MarkPlan::REFUSE,
       MarkMessage::MARK_DAMAGED, 0},
      {"mark damaged", loaded(damaged), loaded(merged), loaded(original),
       MarkPlan::REFUSE, MarkMessage::MARK_DAMAGED, 0},
      {"level in pieces",
       loaded(mark),
       loaded(half),
       loaded(original),
       MarkPlan::RESTORE,
       {},
       0},
      {"level missing",
       loaded(mark),
       missing,
       loaded(original),
       MarkPlan::RESTORE,
       {},
       0},
      {"level as it was",
       loaded(mark),
       loaded(original),
       loaded(original),
       MarkPlan::RESTORE,
       {},
       0},
      {"level finished",
       loaded(mark),
       loaded(merged),
       missing,
       MarkPlan::CLEAR_MARK,
       {},
       0},
      // A level the player put in place since is kept.
      {"level longer than any the run leaves",
       loaded(mark),
       loaded(putBack),
       loaded(original),
       MarkPlan::KEEP_LEVEL,
       {},
       0},
      {"level longer, backup missing",
       loaded(mark),
       loaded(putBack),
       missing,
       MarkPlan::KEEP_LEVEL,
       {},
       0},
      {"level other before the first change",
       loaded(mark),
       loaded(otherStart),
       loaded(original),
       MarkPlan::KEEP_LEVEL,
       {},
       0},
      {"mark of 1.1.0, level other but short",
       loaded(of11),
       loaded(otherStart),
       loaded(original),
       MarkPlan::RESTORE,
       {},
       0},
      {"restore stopped midway, longer than the merged level",
       loaded(shrinkingMark),
       loaded(restoredHalf),
       loaded(original),
       MarkPlan::RESTORE,
       {},
       0},
      {"backup missing", loaded(mark), loaded(half), missing, MarkPlan::REFUSE,
       MarkMessage::BACKUP_UNREADABLE, 2},
      {"backup unreadable", loaded(mark), loaded(half), unreadable, MarkPlan::REFUSE,
       MarkMessage::BACKUP_UNREADABLE, 5},
      {"backup too large", loaded(mark), loaded(half), tooLarge, MarkPlan::REFUSE,
       MarkMessage::BACKUP_CHANGED, 0},
      {"backup changed", loaded(mark), loaded(half), loaded(changed), MarkPlan::REFUSE,
       MarkMessage::BACKUP_CHANGED, 0},
      {"backup is the merged level", loaded(mark), loaded(half), loaded(merged),
       MarkPlan::REFUSE, MarkMessage::BACKUP_CHANGED, 0},
      {"mark of 1.0.0", loaded(of10), loaded(merged), loaded(original), MarkPlan::REFUSE,
       MarkMessage::MARK_OF_1_0, 0},
      {"mark of 1.0.0, backup resized", loaded(of10), loaded(half), loaded(merged),
       MarkPlan::REFUSE, MarkMessage::BACKUP_CHANGED, 0},
      {"mark of 1.0.0, backup missing", loaded(of10), loaded(half), missing,
       MarkPlan::REFUSE, MarkMessage::BACKUP_UNREADABLE, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MarkDecision decision = DecideOnMark(names, c.mark, c.level, c.backup);
    EXPECT_EQ(decision.plan, c.plan);
    if (c.plan != MarkPlan::REFUSE) continue;
    EXPECT_EQ(decision.message, c.message);
    EXPECT_EQ(decision.error, c.error);
  }
}

}  // namespace
