#include "rewrite_mark.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
  std::string hex;
  char pair[3];
  for (size_t i = 0; i < count; ++i) {
    snprintf(pair, sizeof pair, "%02x", bytes[i]);
    hex += pair;
  }
  return hex;
}

TEST(Sha256, KnownDigests) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the last block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    uint8_t digest[SHA256_BYTES];
    Sha256(reinterpret_cast<const uint8_t*>(c.message.data()), c.message.size(), digest);
    EXPECT_EQ(Hex(digest, SHA256_BYTES), c.digest) << c.message.size() << " bytes";
  }
}

// A mark is read back only exactly as it was written.
TEST(ReadMark, TakesOnlyAWholeMark) {
  RunNames names;
  NameRun("maps\\l.lvl", true, &names);
  EXPECT_STREQ(names.folder, "maps");
  const uint8_t level[] = "0123456789";
  RewriteMark mark = MarkFor(level, 10);
  char text[MARK_TEXT_MAX];
  std::string whole(text, FormatMark(names, mark, text, sizeof text));
  size_t sizeAt = whole.find("backup size: 10\n");
  ASSERT_NE(sizeAt, std::string::npos);

  std::string upper = whole;
  upper[upper.size() - 2] = static_cast<char>(toupper(upper[upper.size() - 2]));
  std::string huge = whole;
  huge.replace(sizeAt + 13, 2, "4294967296");
  const struct {
    const char* what;
    std::string text;
    bool whole;
  } cases[] = {
      {"as written", whole, true},
      {"cut short", whole.substr(0, whole.size() - 1), false},
      {"a byte more", whole + "\n", false},
      {"only the last lines", whole.substr(sizeAt), false},
      {"checksum in capitals", upper, upper == whole},
      {"size past 32 bits", huge, false},
      {"empty", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RewriteMark read{};
    ASSERT_EQ(ReadMark(names, reinterpret_cast<const uint8_t*>(c.text.data()),
                       c.text.size(), &read),
              c.whole);
    if (c.whole) {
      EXPECT_EQ(read.backupSize, 10u);
      EXPECT_EQ(memcmp(read.backupSha256, mark.backupSha256, SHA256_BYTES), 0);
      EXPECT_TRUE(BackupMatches(read, level, 10));
      EXPECT_FALSE(BackupMatches(read, level, 9));
    }
  }
  RunNames other;
  NameRun("l.lvl", false, &other);
  EXPECT_STREQ(other.folder, ".");
  EXPECT_FALSE(ReadMark(other, reinterpret_cast<const uint8_t*>(whole.data()),
                        whole.size(), &mark));
}

}  // namespace
