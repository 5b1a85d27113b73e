#include "staged_output.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "system.h"
#include "temp_dir.h"

namespace {

constexpr uint32_t kCapacity = 8;

// Slices of distinct bytes, so that a slice out of place shows.
std::vector<std::string> Slices(const std::vector<uint32_t>& sizes) {
  std::vector<std::string> slices;
  char next = 'a';
  for (uint32_t size : sizes) {
    slices.emplace_back(size, next);
    next = next == 'z' ? 'a' : static_cast<char>(next + 1);
  }
  return slices;
}

HANDLE Recreate(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// Lowers the file size limit for the life of the object; a write past it
// fails, as the programs set up.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t limit) {
    SetUpProcess();
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit lowered = saved;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
  struct rlimit saved;
};

TEST(StagedOutput, WritesEverySliceInOrderHoldingAtMostTheBuffer) {
  const struct {
    const char* what;
    std::vector<uint32_t> sizes;
  } cases[] = {
      {"nothing", {}},
      {"small slices filling the buffer exactly", {3, 5, 2, 6}},
      {"small slices spilling over", {5, 5, 5, 5, 5}},
      {"slice exactly filling the rest", {3, 5, 1}},
      {"slice of the buffer's size", {8}},
      {"slice of the buffer's size after a small one", {3, 8, 2}},
      {"larger slices between small ones", {1, 20, 2, 9, 7, 17}},
      {"one byte short of the buffer", {7, 7, 7}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir.Path("out");
    uint8_t buffer[kCapacity];
    StagedOutput output = {Recreate(path), buffer, kCapacity, 0};
    ASSERT_NE(output.file, INVALID_HANDLE_VALUE);
    std::string all;
    for (const std::string& slice : Slices(c.sizes)) {
      ASSERT_TRUE(StageSlice(&output, Bytes(slice), static_cast<uint32_t>(slice.size())));
      all += slice;
      std::string written = TempDir::Read(path);
      EXPECT_EQ(written, all.substr(0, written.size()));
      EXPECT_LE(all.size() - written.size(), kCapacity);
    }
    ASSERT_TRUE(FlushStaged(&output));
    EXPECT_TRUE(CloseHandle(output.file));
    EXPECT_EQ(TempDir::Read(path), all);
  }
}

TEST(StagedOutput, WriteFailureStopsWithTheWriteError) {
  const struct {
    const char* what;
    rlim_t limit;
    std::vector<uint32_t> sizes;
    size_t failingSlice;  // past the last: the final flush fails
  } cases[] = {
      {"gathered buffer", 14, {5, 5, 5, 5, 5, 5}, 3},
      {"large slice", 14, {3, 30}, 1},
      {"gathered bytes before a large slice", 10, {6, 6, 1, 20}, 3},
      {"final flush", 14, {6, 6, 3}, 3},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir.Path("out");
    uint8_t buffer[kCapacity];
    StagedOutput output = {Recreate(path), buffer, kCapacity, 0};
    ASSERT_NE(output.file, INVALID_HANDLE_VALUE);
    std::string all;
    {
      FileSizeLimit limit(c.limit);
      std::vector<std::string> slices = Slices(c.sizes);
      for (size_t i = 0; i < slices.size(); ++i) {
        bool staged = StageSlice(&output, Bytes(slices[i]),
                                 static_cast<uint32_t>(slices[i].size()));
        EXPECT_EQ(staged, i != c.failingSlice) << "slice " << i;
        all += slices[i];
        if (!staged) break;
      }
      if (c.failingSlice == slices.size()) {
        EXPECT_FALSE(FlushStaged(&output));
      }
    }
    EXPECT_EQ(GetLastError(), ERROR_FILE_TOO_LARGE);
    EXPECT_TRUE(CloseHandle(output.file));
    EXPECT_EQ(TempDir::Read(path), all.substr(0, c.limit));
  }
}

}  // namespace
