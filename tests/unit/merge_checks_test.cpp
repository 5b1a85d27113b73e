#include "format/merge_checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_build.h"
#include "identity/level_record.h"
#include "words/vorandel_words.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A nameLength field, then `name` NUL-padded to `width` bytes.
Bytes Header(uint32_t nameLength, const std::string& name, size_t width) {
  Bytes out;
  Put(out, nameLength, 4);
  out.insert(out.end(), name.begin(), name.end());
  out.resize(4 + width, 0);
  return out;
}

// The vector is sized exactly, so a sanitizer sees any read past the end.
MergeImage ImageOf(Bytes& bytes) {
  return {bytes.data(), static_cast<uint32_t>(bytes.size())};
}

struct NameCase {
  const char* what;
  Bytes merge;
  bool valid;
  uint32_t firstActionAt;
};

TEST(HasValidLevelName, AcceptsOnlyWellFormedFields) {
  NameCase cases[] = {
      {"merge shorter than 4 bytes", {1, 0, 0}, false, 0},
      {"nameLength 0", Header(0, "a.lvl", 8), false, 0},
      {"nameLength 129", Header(129, "a.lvl", 129), false, 0},
      {"nameLength 128", Header(128, "a.lvl", 128), true, 132},
      {"field past the end", Header(10, "a.lvl", 6), false, 0},
      {"field ends the file", Header(6, "a.lvl", 6), true, 10},
      // The NUL right after the field must not count as its end.
      {"field without NUL", Header(5, "a.lvl", 6), false, 0},
      {"empty name", Header(4, std::string("\0abc", 4), 4), false, 0},
      {"123 chars", Header(124, std::string(123, 'n'), 124), true, 128},
      {"124 chars", Header(125, std::string(124, 'n'), 125), false, 0},
      {"junk after NUL", Header(16, std::string("abc.lvl\0JUNKJUNK", 16), 16), true, 20},
  };
  for (NameCase& c : cases) {
    SCOPED_TRACE(c.what);
    MergeImage merge = ImageOf(c.merge);
    ASSERT_EQ(HasValidLevelName(merge), c.valid);
    if (c.valid) {
      EXPECT_EQ(FirstActionAt(merge), c.firstActionAt);
    }
  }
}

TEST(IsSafeLevelName, PosixAndWindowsRules) {
  const struct {
    const char* name;
    bool posixSafe;
    bool windowsSafe;
  } cases[] = {
      {"level.lvl", true, true},
      {"a..b.lvl", true, true},
      {"maps/a.lvl", true, true},
      {"maps\\a.lvl", true, true},
      // A ':' names a stream of another file on NTFS.
      {"1:x", true, false},
      {"keep.lvl:x", true, false},
      // Control characters would reach the terminal when the name is printed.
      {"a\x1b]0;x\x07\x1b[2J", false, false},
      {"tab\tname", false, false},
      {"del\x7f", false, false},
      {"high\xe9.lvl", true, true},
      {"/etc/passwd", false, false},
      {"//server/x", false, false},
      {"../x", false, false},
      {"maps/../../x", false, false},
      {"maps/..", false, false},
      {"..", false, false},
      // Windows drops a name's trailing dots and spaces, and would open the
      // level under another name than its journal's: refused everywhere.
      {"...", false, false},
      {"keep.lvl.", false, false},
      {"maps/keep.lvl ", false, false},
      {"maps. /keep.lvl", true, true},
      {"maps./keep.lvl", true, true},
      {"..\\x", true, false},
      {"C:x", true, false},
      {"c:\\x", true, false},
      {"C:", true, false},
      {"\\x", true, false},
      {"\\\\server\\share\\x", true, false},
      // Windows drops trailing dots and spaces: these lead upwards there.
      {".. /x", true, false},
      {"x/. ./y", true, false},
      // Windows device names, in any case, with any extension or folder.
      {"con", true, false},
      {"NUL.lvl", true, false},
      {"maps/Aux", true, false},
      {"prn .txt", true, false},
      {"com1", true, false},
      {"LPT9.lvl", true, false},
      // 0 is a port digit too.
      {"COM0", true, false},
      {"lpt0.lvl", true, false},
      {"CONOUT$", true, false},
      // COM and LPT with the superscripts 1, 2, 3 of Windows-1252.
      {"COM\xb9", true, false},
      {"lpt\xb2.lvl", true, false},
      {"Com\xb3", true, false},
      {"COM\xb4", true, true},
      {"console.lvl", true, true},
      {"com10", true, true},
      {"comx", true, true},
      {"nul_level", true, true},
      {"maps.con/a", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsSafeLevelName(c.name, false), c.posixSafe);
    EXPECT_EQ(IsSafeLevelName(c.name, true), c.windowsSafe);
  }
}

// Who judges a name decides what is unsafe; every message shows the name
// with its control characters escaped.
TEST(CheckLevelName, VerdictAndMessageByRules) {
  const char* windowsOnly =
      "The name is unsafe on Windows only, where Vorandel.exe refuses it.\n";
  const struct {
    const char* name;
    NameRules rules;
    MergeVerdict verdict;
    std::string text;
  } cases[] = {
      {"CON", NameRules::POSIX, MergeVerdict::OK, ""},
      {"CON", NameRules::WINDOWS, MergeVerdict::UNSAFE_NAME,
       "Unsafe level name CON in the merge file.\n"},
      {"CON", NameRules::BOTH, MergeVerdict::UNSAFE_ON_WINDOWS,
       std::string("Unsafe level name CON in the merge file.\n") + windowsOnly},
      {"../x", NameRules::BOTH, MergeVerdict::UNSAFE_NAME,
       "Unsafe level name ../x in the merge file.\n"},
      {"a\x1b]0;t\x07\x1b[2J\x7f", NameRules::POSIX, MergeVerdict::UNSAFE_NAME,
       "Unsafe level name a\\x1B]0;t\\x07\\x1B[2J\\x7F in the merge file.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name(c.name);
    Bytes merge = Header(static_cast<uint32_t>(name.size() + 1), name, name.size() + 1);
    char text[MERGE_TEXT_MAX];
    EXPECT_EQ(CheckLevelName(ImageOf(merge), c.rules, text, sizeof text), c.verdict);
    EXPECT_EQ(text, c.text);
  }
}

// The record of the level after the name's NUL: where it lies in the field,
// and what counts as none, whole or damaged.
TEST(FindLevelRecord, NoneInANameFieldThatFailsItsCheck) {
  Bytes record;
  AppendLevelRecord({}, &record);
  auto field = [&](uint32_t length, const Bytes& bytes) {
    Bytes merge;
    Put(merge, length, 4);
    merge.insert(merge.end(), bytes.begin(), bytes.end());
    return merge;
  };
  Bytes noNul = {'l', '.', 'l', 'v', 'l'};
  noNul.insert(noNul.end(), record.begin(), record.end());
  Bytes pastTheEnd = {'l', 0};
  pastTheEnd.insert(pastTheEnd.end(), record.begin(), record.end());
  struct {
    const char* what;
    Bytes merge;
  } cases[] = {
      {"three bytes", {5, 0, 0}},
      {"no NUL in the field", field(static_cast<uint32_t>(noNul.size()), noNul)},
      {"the field longer than the file",
       field(static_cast<uint32_t>(pastTheEnd.size() + 1), pastTheEnd)},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    LevelRecord found{};
    EXPECT_EQ(FindLevelRecord(ImageOf(c.merge), &found), RecordFound::NONE);
  }
}

TEST(FindLevelRecord, BoundsOfTheNameField) {
  const std::string name = "l.lvl";
  const uint8_t a[] = "0123456789";
  const uint8_t b[] = "01234567890";
  LevelRecord record{FingerprintOf(a, 10), FingerprintOf(b, 11)};
  Bytes whole;
  AppendLevelRecord(record, &whole);
  ASSERT_EQ(whole.size(), RECORD_SIZE);
  Bytes flipped = whole;
  flipped[RECORD_SOURCE_HASH_AT] ^= 1;
  // A record of a later version, whole by its own check.
  Bytes later(RECORD_MARKER, RECORD_MARKER + sizeof RECORD_MARKER);
  later.push_back(2);
  later.push_back(10);
  uint32_t check = ShortCheck(later.data(), later.size());
  Put(later, check, 4);
  Bytes shortOfVersion1 = later;
  shortOfVersion1[RECORD_VERSION_AT] = 1;
  shortOfVersion1.resize(6);
  Put(shortOfVersion1, ShortCheck(shortOfVersion1.data(), 6), 4);
  auto part = [](const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + static_cast<ptrdiff_t>(from),
                 bytes.begin() + static_cast<ptrdiff_t>(from + count));
  };
  const struct {
    const char* what;
    Bytes tail;  // the field after the name's NUL
    RecordFound found;
  } cases[] = {
      {"nothing after the NUL", {}, RecordFound::NONE},
      {"other bytes", {'J', 'U', 'N', 'K', 0, 0}, RecordFound::NONE},
      {"the marker cut by the field's end", part(whole, 0, 3), RecordFound::NONE},
      {"whole", whole, RecordFound::RECORD},
      {"whole, then padding",
       [&] {
         Bytes padded = whole;
         padded.resize(RECORD_SIZE + 20, 0xAA);
         return padded;
       }(),
       RecordFound::RECORD},
      {"only the marker", part(whole, 0, 4), RecordFound::DAMAGED},
      {"cut by the field's end", part(whole, 0, RECORD_SIZE - 1), RecordFound::DAMAGED},
      {"a hash changed", flipped, RecordFound::DAMAGED},
      {"a length below the shortest record",
       [&] {
         Bytes tiny = part(whole, 0, 6);
         tiny[RECORD_LENGTH_AT] = 9;
         tiny.resize(20, 0);
         return tiny;
       }(),
       RecordFound::DAMAGED},
      {"a later version", later, RecordFound::NONE},
      {"version 1 of another length", shortOfVersion1, RecordFound::DAMAGED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes merge;
    Put(merge, static_cast<uint32_t>(name.size() + 1 + c.tail.size()), 4);
    merge.insert(merge.end(), name.begin(), name.end());
    merge.push_back(0);
    merge.insert(merge.end(), c.tail.begin(), c.tail.end());
    MergeImage image = ImageOf(merge);
    ASSERT_TRUE(HasValidLevelName(image));
    LevelRecord found{};
    ASSERT_EQ(FindLevelRecord(image, &found), c.found);
    char text[MERGE_TEXT_MAX];
    EXPECT_EQ(
        CheckLevelName(image, NameRules::BOTH, text, sizeof text),
        c.found == RecordFound::DAMAGED ? MergeVerdict::BAD_RECORD : MergeVerdict::OK);
    if (c.found == RecordFound::RECORD) {
      EXPECT_TRUE(SameFingerprint(found.source, record.source));
      EXPECT_TRUE(SameFingerprint(found.result, record.result));
    }
  }
}

// Only a name short enough leaves room for the record in its field.
TEST(StartMergeFile, RecordWhereTheNameLeavesRoom) {
  LevelRecord record{};
  for (size_t chars :
       {size_t{RECORD_NAME_CHARS_MAX}, size_t{RECORD_NAME_CHARS_MAX + 1}}) {
    std::string name(chars, 'n');
    SCOPED_TRACE(chars);
    bool room = HasRoomForRecord(name.c_str());
    EXPECT_EQ(room, chars == RECORD_NAME_CHARS_MAX);
    if (!room) continue;
    Bytes merge;
    StartMergeFile(name.c_str(), &merge, &record);
    EXPECT_EQ(merge.size(), LEVEL_NAME_AT + NAME_FIELD_MAX);
    MergeImage image = ImageOf(merge);
    ASSERT_TRUE(HasValidLevelName(image));
    EXPECT_EQ(FindLevelRecord(image, &record), RecordFound::RECORD);
  }
}

struct Record {
  uint16_t code;
  uint32_t offset;
  uint32_t removeLength;
  uint32_t insertLength;
  uint32_t dataBytes;  // bytes actually present, to fake truncation
};

Record Replace(uint32_t offset, uint32_t removeLength, uint32_t insertLength) {
  return {ACTION_REPLACE, offset, removeLength, insertLength, insertLength};
}

constexpr int kNoFault = -1;

struct ActionCase {
  const char* name;
  std::vector<Record> records;
  Bytes tail;  // raw bytes after the records
  uint32_t levelSize;
  FaultKind kind;
  int faultyRecord;  // index into records; records.size() means the tail
  uint16_t code;
};

std::ostream& operator<<(std::ostream& out, const ActionCase& c) { return out << c.name; }

class CheckActionsTest : public testing::TestWithParam<ActionCase> {};

TEST_P(CheckActionsTest, ReportsFirstFaultWithItsPosition) {
  const ActionCase& c = GetParam();
  Bytes bytes = Header(10, "level.lvl", 10);
  std::vector<uint32_t> starts;
  uint8_t fill = 0;
  for (const Record& r : c.records) {
    starts.push_back(static_cast<uint32_t>(bytes.size()));
    Put(bytes, r.code, 2);
    Put(bytes, r.offset, 4);
    Put(bytes, r.removeLength, 4);
    Put(bytes, r.insertLength, 4);
    for (uint32_t i = 0; i < r.dataBytes; ++i) bytes.push_back(++fill);
  }
  starts.push_back(static_cast<uint32_t>(bytes.size()));
  bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());

  MergeImage merge = ImageOf(bytes);
  ASSERT_TRUE(HasValidLevelName(merge));
  ActionFault fault = CheckActions(merge, FirstActionAt(merge), c.levelSize);
  EXPECT_EQ(fault.kind, c.kind);
  if (c.faultyRecord != kNoFault) {
    EXPECT_EQ(fault.recordAt, starts[static_cast<size_t>(c.faultyRecord)]);
    EXPECT_EQ(fault.code, c.code);
  }
}

using K = FaultKind;
const Record kUnknown3 = {3, 0, 0, 0, 0};
const Bytes kHead13 = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

const ActionCase kActionCases[] = {
    {"NoActions", {}, {}, 10, K::NONE, kNoFault, 0},
    {"OneGood", {Replace(2, 3, 4)}, {}, 10, K::NONE, kNoFault, 0},
    {"Adjacent", {Replace(2, 3, 1), Replace(5, 2, 0)}, {}, 10, K::NONE, kNoFault, 0},
    {"TwoInsertsSameOffset",
     {Replace(5, 0, 1), Replace(5, 0, 1)},
     {},
     10,
     K::NONE,
     kNoFault,
     0},
    {"InsertAtLevelEnd", {Replace(10, 0, 3)}, {}, 10, K::NONE, kNoFault, 0},
    {"RemoveUpToLevelEnd", {Replace(4, 6, 0)}, {}, 10, K::NONE, kNoFault, 0},
    {"StrayByte", {Replace(1, 1, 1)}, {2}, 10, K::TRUNCATED, 1, 0},
    {"UnknownCode", {Replace(0, 0, 0), kUnknown3}, {}, 10, K::UNKNOWN_CODE, 1, 3},
    // The code is judged before the tail is found too short for a head.
    {"UnknownCodeInShortTail", {}, {0xFF, 0xFF, 0, 0, 0}, 10, K::UNKNOWN_CODE, 0, 0xFFFF},
    {"HeadOf13Bytes", {}, kHead13, 10, K::TRUNCATED, 0, 2},
    {"DataOneBytePastEnd", {{2, 0, 0, 5, 4}}, {}, 10, K::TRUNCATED, 0, 2},
    {"HugeInsertLength", {{2, 0, 0, 0xFFFFFFFF, 16}}, {}, 10, K::TRUNCATED, 0, 2},
    {"OffsetBelowPreviousEnd",
     {Replace(4, 4, 0), Replace(7, 0, 0)},
     {},
     10,
     K::MISPLACED,
     1,
     2},
    {"RemovePastLevelEnd", {Replace(4, 7, 0)}, {}, 10, K::PAST_LEVEL_END, 0, 2},
    {"InsertPastLevelEnd", {Replace(11, 0, 0)}, {}, 10, K::PAST_LEVEL_END, 0, 2},
    // 32-bit arithmetic would wrap the end of the range to 0x10.
    {"RangeEndWraps", {Replace(0xFFFFFFF0, 0x20, 0)}, {}, 0x40, K::PAST_LEVEL_END, 0, 2},
    {"OnlyFirstFault",
     {Replace(2, 2, 1), Replace(3, 0, 0), kUnknown3, Replace(50, 0, 0)},
     {2},
     10,
     K::MISPLACED,
     1,
     2},
};

INSTANTIATE_TEST_SUITE_P(Table, CheckActionsTest, testing::ValuesIn(kActionCases),
                         [](const testing::TestParamInfo<ActionCase>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
