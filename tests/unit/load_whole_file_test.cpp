#include "load_whole_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "temp_dir.h"

namespace {

struct Loaded {
  bool ok;
  uint8_t* buffer;
  uint32_t size;
  std::string printed;
};

Loaded Load(const std::string& path) {
  Loaded result{false, nullptr, 0, {}};
  testing::internal::CaptureStdout();
  result.ok = LoadWholeFile(path.c_str(), &result.buffer, &result.size);
  result.printed = testing::internal::GetCapturedStdout();
  return result;
}

class LoadWholeFileTest : public testing::Test {
 protected:
  TempDir dir;
};

TEST_F(LoadWholeFileTest, LoadsExactBytesSilently) {
  for (const std::string& bytes : {std::string(), std::string("lvl\0\x01\xFE\xFFtail", 11)}) {
    SCOPED_TRACE(bytes.size());
    Loaded loaded = Load(dir.Write("file", bytes));
    EXPECT_TRUE(loaded.ok);
    EXPECT_NE(loaded.buffer, nullptr);  // even for an empty file
    ASSERT_EQ(loaded.size, bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(loaded.buffer), loaded.size), bytes);
    EXPECT_EQ(loaded.printed, "");
    delete[] loaded.buffer;
  }
}

TEST_F(LoadWholeFileTest, UnopenablePathsAreReportedNotFound) {
  ASSERT_EQ(mkdir(dir.Path("folder").c_str(), 0755), 0);
  for (const char* name : {"missing", "folder"}) {
    std::string path = dir.Path(name);
    SCOPED_TRACE(path);
    Loaded loaded = Load(path);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.printed, "File " + path + " not found.\n");
  }
}

TEST_F(LoadWholeFileTest, SizesFrom0xFFFFFFFFUpAreTooLarge) {
  // 4 GiB alone has a low half of 0 and must not pass for an empty file.
  for (off_t size : {off_t{0xFFFFFFFF}, off_t{1} << 32, (off_t{1} << 32) + 1}) {
    SCOPED_TRACE(size);
    std::string path = dir.Sparse("huge", size);
    Loaded loaded = Load(path);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.printed, "File " + path + " is too large.\n");
  }
}

}  // namespace
