#include "platform_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "system.h"
#include "temp_dir.h"

namespace {

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

mode_t Mode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Holds an flock through its own open file, as another program would.
struct LockHolder {
  explicit LockHolder(const std::string& path)
      : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~LockHolder() {
    if (fd >= 0) close(fd);
  }
  bool Lock(int operation) const {
    return fd >= 0 && flock(fd, operation | LOCK_NB) == 0;
  }
  int fd;
};

class PosixApi : public testing::Test {
 protected:
  TempDir dir;
};

DWORD OpenError(const std::string& path, DWORD access, DWORD disposition) {
  HANDLE file = Open(path, access, 0, disposition);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return NO_ERROR;
}

// A write to a device that is always full, as a full disk is.
DWORD FullDiskError() {
  HANDLE full = HandleFromFd(open("/dev/full", O_WRONLY | O_CLOEXEC));
  DWORD written = 0;
  DWORD error = WriteFile(full, "x", 1, &written, nullptr) ? NO_ERROR : GetLastError();
  CloseHandle(full);
  return error;
}

// The failures a player can meet come out of the calls as the numbers the
// messages document.
TEST_F(PosixApi, FailuresGiveTheDocumentedWindowsErrors) {
  std::string file = dir.Write("file", "x");
  std::string folder = dir.Path("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  std::string loop = dir.Path("loop");
  ASSERT_EQ(symlink("loop", loop.c_str()), 0);
  std::string missing = dir.Path("missing");
  std::string longName = dir.Path(std::string(300, 'n'));
  uint8_t* memory = nullptr;
  const struct {
    const char* what;
    DWORD got;
    DWORD error;
  } cases[] = {
      {"missing", OpenError(missing, GENERIC_READ, OPEN_EXISTING), 2},
      {"file as folder", OpenError(file + "/x", GENERIC_READ, OPEN_EXISTING), 3},
      {"folder read", OpenError(folder, GENERIC_READ, OPEN_EXISTING), 5},
      {"folder write", OpenError(folder, GENERIC_WRITE, CREATE_ALWAYS), 5},
      {"long component", OpenError(longName, GENERIC_READ, OPEN_EXISTING), 206},
      {"link loop", OpenError(loop, GENERIC_READ, OPEN_EXISTING), 1921},
      {"full disk", FullDiskError(), 112},
      {"memory", GetFreshMemory(SIZE_MAX, &memory), 8},
      {"flush of a missing folder", FlushFolder(missing.c_str()), 2},
      {"flush of a file as a folder", FlushFolder(file.c_str()), 3},
      {"delete a missing file", RemoveFile(missing.c_str()), 2},
      {"delete a folder", RemoveFile(folder.c_str()), 5},
      {"rename over a folder", RenameReplacing(file.c_str(), folder.c_str()), 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.error);
  }
  EXPECT_EQ(FlushFolder(folder.c_str()), NO_ERROR);
}

TEST_F(PosixApi, LockedFileIsRefusedAndKeepsItsContent) {
  std::string path = dir.Write("locked", "keep me");
  LockHolder holder(path);
  ASSERT_TRUE(holder.Lock(LOCK_EX));
  const struct {
    const char* what;
    DWORD access;
    DWORD share;
    DWORD disposition;
  } cases[] = {
      {"read, no sharing", GENERIC_READ, 0, OPEN_EXISTING},
      {"create always", GENERIC_WRITE, 0, CREATE_ALWAYS},
      {"create always, shared read", GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Open(path, c.access, c.share, c.disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(TempDir::Read(path), "keep me");
  }
  EXPECT_FALSE(CopyFileA(path.c_str(), dir.Path("copy").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST_F(PosixApi, GetFileSizeSplitsSizesAbove4GiB) {
  const struct {
    off_t size;
    DWORD low;
  } cases[] = {{(off_t{4} << 30) + 7, 7}, {(off_t{5} << 30) + 7, 0x40000007}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    HANDLE file = Open(dir.Sparse("big", c.size), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(file, &high), c.low);
    EXPECT_EQ(high, 1u);
    EXPECT_TRUE(CloseHandle(file));
  }
}

TEST_F(PosixApi, WriteReadCloseRoundTrip) {
  std::string path = dir.Write("f", "older and longer content");
  HANDLE file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 0;
  EXPECT_TRUE(WriteFile(file, "fresh", 5, &count, nullptr));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(FlushFile(file), NO_ERROR);
  EXPECT_TRUE(CloseHandle(file));

  file = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[64] = {};
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "fresh");
  // As on Windows, a handle that can't write can't flush.
  EXPECT_EQ(FlushFile(file), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(file));
  // Now a closed descriptor: a bogus handle.
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), 6u);  // invalid handle
}

TEST_F(PosixApi, CopyFileCopiesContentAndPermissionBits) {
  for (mode_t mode : {mode_t{0444}, mode_t{0600}, mode_t{0755}}) {
    SCOPED_TRACE(mode);
    std::string from = dir.Write("from-" + std::to_string(mode), "payload");
    std::string to = from + "-copy";
    ASSERT_EQ(chmod(from.c_str(), mode), 0);
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
    EXPECT_EQ(TempDir::Read(to), "payload");
    EXPECT_EQ(Mode(to), mode);
  }
}

TEST_F(PosixApi, CopyFileOverExistingOrFromMissingSource) {
  std::string from = dir.Write("from", "new");
  std::string to = dir.Write("to", "old and longer");
  EXPECT_FALSE(CopyFileA(from.c_str(), to.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(TempDir::Read(to), "old and longer");
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  EXPECT_EQ(TempDir::Read(to), "new");

  std::string nowhere = dir.Path("nowhere");
  EXPECT_FALSE(CopyFileA(dir.Path("missing").c_str(), nowhere.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(access(nowhere.c_str(), F_OK), 0);
}

TEST_F(PosixApi, CopyFileIsByteExactAcrossChunks) {
  // Exactly 3 MiB, and 3 MiB plus a tail.
  for (size_t size : {size_t{3} << 20, (size_t{3} << 20) + 17}) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& b : bytes) {
      state = state * 1103515245u + 12345u;
      b = static_cast<char>(state >> 24);
    }
    std::string from = dir.Write("big", bytes);
    std::string to = dir.Path("big-copy");
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
    EXPECT_TRUE(TempDir::Read(to) == bytes);
  }
}

constexpr off_t kMiB = off_t{1} << 20;

// A file of `size` bytes with data in the given ranges and holes elsewhere.
std::string Layout(const std::string& path, off_t size,
                   const std::vector<std::pair<off_t, off_t>>& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  uint32_t state = 12345;
  for (const auto& [begin, end] : data) {
    std::string bytes(static_cast<size_t>(end - begin), '\0');
    for (char& b : bytes) {
      state = state * 1103515245u + 12345u;
      b = static_cast<char>(state >> 24);
    }
    EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), begin),
              static_cast<ssize_t>(bytes.size()));
  }
  EXPECT_EQ(ftruncate(fd, size), 0);
  close(fd);
  return path;
}

off_t Allocated(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_blocks * 512 : -1;
}

// Runs CopyFileContent from `from` into a new file `to` starting with `way`.
int CopyContent(const std::string& from, const std::string& to, CopyWay way) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  struct stat info;
  int err = in < 0 || out < 0 || fstat(in, &info) != 0
                ? errno
                : CopyFileContent(in, out, info.st_size, way);
  close(in);
  close(out);
  return err;
}

const struct {
  const char* what;
  CopyWay way;
} kCopyWays[] = {
    {"kernel copy", CopyWay::KERNEL_COPY},
    {"sendfile", CopyWay::SEND_FILE},
    {"read and write", CopyWay::READ_WRITE},
};

TEST_F(PosixApi, CopyFileContentKeepsBytesAndHolesEveryWay) {
  const struct {
    const char* what;
    off_t size;
    std::vector<std::pair<off_t, off_t>> data;
  } layouts[] = {
      {"empty", 0, {}},
      {"no holes, past the chunk size", 3 * kMiB + 17, {{0, 3 * kMiB + 17}}},
      {"hole in the middle", 4 * kMiB, {{0, kMiB}, {3 * kMiB, 4 * kMiB}}},
      {"holes at both ends", 4 * kMiB, {{kMiB + 5, 2 * kMiB + 7}}},
      {"only a hole", 4 * kMiB, {}},
  };
  for (const auto& way : kCopyWays) {
    for (const auto& layout : layouts) {
      SCOPED_TRACE(std::string(way.what) + ", " + layout.what);
      std::string from = Layout(dir.Path("from"), layout.size, layout.data);
      std::string to = dir.Path("to");
      ASSERT_EQ(CopyContent(from, to, way.way), 0);
      EXPECT_TRUE(TempDir::Read(to) == TempDir::Read(from));
      EXPECT_LE(Allocated(to), Allocated(from) + kMiB);
    }
  }
}

TEST_F(PosixApi, CopyFileContentPastTheFileSizeLimitFailsEveryWay) {
  std::string from = Layout(dir.Path("from"), 2 * kMiB, {{0, 2 * kMiB}});
  SetUpProcess();
  for (const auto& way : kCopyWays) {
    SCOPED_TRACE(way.what);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(kMiB + 5);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    int err = CopyContent(from, dir.Path("to"), way.way);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(err, EFBIG);
  }
}

// Where the kernel cannot copy between two file systems, the copy still
// happens, by the next way.
TEST_F(PosixApi, CopyFileBetweenFileSystems) {
  struct stat shm;
  struct stat here;
  if (stat("/dev/shm", &shm) != 0 || stat(dir.Path("").c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  char other[] = "/dev/shm/vorandel-XXXXXX";
  int fd = mkstemp(other);
  ASSERT_GE(fd, 0);
  close(fd);
  Layout(other, 3 * kMiB + 17, {{0, 3 * kMiB + 17}});
  std::string to = dir.Path("to");
  EXPECT_TRUE(CopyFileA(other, to.c_str(), FALSE));
  EXPECT_TRUE(TempDir::Read(to) == TempDir::Read(other));
  EXPECT_TRUE(CopyFileA(to.c_str(), other, FALSE));
  EXPECT_TRUE(TempDir::Read(to) == TempDir::Read(other));
  unlink(other);
}

TEST(FreshMemory, IsZeroedAndWritableUntilFreed) {
  for (size_t size : {size_t{1}, size_t{4096}, size_t{3} << 20}) {
    SCOPED_TRACE(size);
    uint8_t* bytes = nullptr;
    ASSERT_EQ(GetFreshMemory(size, &bytes), NO_ERROR);
    EXPECT_EQ(bytes[0] | bytes[size / 2] | bytes[size - 1], 0);
    bytes[0] = bytes[size - 1] = 1;
    FreeFreshMemory(bytes, size);
  }
}

TEST_F(PosixApi, SetFileAttributesNormalRestoresOwnerWrite) {
  std::string path = dir.Write("ro", "x");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Mode(path), mode_t{0644});
  EXPECT_FALSE(SetFileAttributesA(dir.Path("missing").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace

namespace {

TEST_F(PosixApi, RenameReplacesAndRemoveDeletes) {
  std::string from = dir.Write("from", "new");
  std::string to = dir.Write("to", "old");
  EXPECT_EQ(RenameReplacing(from.c_str(), to.c_str()), NO_ERROR);
  EXPECT_EQ(TempDir::Read(to), "new");
  EXPECT_NE(access(from.c_str(), F_OK), 0);
  EXPECT_EQ(RemoveFile(to.c_str()), NO_ERROR);
  EXPECT_NE(access(to.c_str(), F_OK), 0);
}

TEST_F(PosixApi, RunLockIsHeldOnceAndLeavesNoFile) {
  std::string path = dir.Path("l.lvl.lock");
  RunLock first;
  RunLock second;
  ASSERT_EQ(TakeRunLock(path.c_str(), &first), NO_ERROR);
  EXPECT_EQ(TakeRunLock(path.c_str(), &second), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReleaseRunLock(&first), NO_ERROR);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  // A holder killed leaves its file, unlocked: the next run takes it.
  EXPECT_EXIT(
      {
        RunLock dying;
        if (TakeRunLock(path.c_str(), &dying) == NO_ERROR) raise(SIGKILL);
        _exit(1);
      },
      testing::KilledBySignal(SIGKILL), "");
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  ASSERT_EQ(TakeRunLock(path.c_str(), &second), NO_ERROR);
  EXPECT_EQ(ReleaseRunLock(&second), NO_ERROR);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// A run that opened the lock file just before its holder released it, and
// locks it just after, holds a deleted file: it must try again, or it and
// the next run to create the file would both hold the lock.
TEST_F(PosixApi, RunLockTakenAndReleasedInTurnIsNeverHeldTwice) {
  std::string path = dir.Path("l.lvl.lock");
  std::atomic<int> holders{0};
  std::atomic<int> most{0};
  std::atomic<int> failedReleases{0};
  auto run = [&] {
    for (int i = 0; i < 20000; ++i) {
      RunLock lock;
      if (TakeRunLock(path.c_str(), &lock) != NO_ERROR) continue;
      int now = ++holders;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      --holders;
      if (ReleaseRunLock(&lock) != NO_ERROR) ++failedReleases;
    }
  };
  std::thread other(run);
  run();
  other.join();
  EXPECT_EQ(most.load(), 1);
  EXPECT_EQ(failedReleases.load(), 0);
}

// Each of Ctrl+C, Ctrl+Break, a closed terminal and the system going down
// waits while held, is taken and told by the release, and once released
// takes its usual course again; one the process ignores is none.
TEST(Interruptions, WaitWhileHeldAndAreToldByTheRelease) {
  for (int interruption : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
    SCOPED_TRACE(interruption);
    HoldInterruptions();
    kill(getpid(), interruption);
    kill(getpid(), interruption);
    EXPECT_TRUE(ReleaseInterruptions());
    HoldInterruptions();
    EXPECT_FALSE(ReleaseInterruptions());
    EXPECT_EXIT(
        {
          HoldInterruptions();
          (void)ReleaseInterruptions();
          kill(getpid(), interruption);
          _exit(0);
        },
        testing::KilledBySignal(interruption), "");
  }
  ASSERT_NE(signal(SIGHUP, SIG_IGN), SIG_ERR);
  HoldInterruptions();
  kill(getpid(), SIGHUP);
  EXPECT_FALSE(ReleaseInterruptions());
  ASSERT_NE(signal(SIGHUP, SIG_DFL), SIG_ERR);
}

// Each stream is told apart from the other, one on a terminal of its own (a
// new pseudo-terminal) and the other on a file.
TEST_F(PosixApi, OnlyATerminalIsAConsole) {
  int file = open(dir.Write("f", "x").c_str(), O_WRONLY | O_CLOEXEC);
  int pty = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(file >= 0 && pty >= 0 && grantpt(pty) == 0 && unlockpt(pty) == 0);
  int terminal = open(ptsname(pty), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(terminal, 0);
  const struct {
    int output;
    int error;
  } cases[] = {{terminal, file}, {file, terminal}, {file, file}};
  int savedOutput = dup(STDOUT_FILENO);
  int savedError = dup(STDERR_FILENO);
  for (const auto& c : cases) {
    dup2(c.output, STDOUT_FILENO);
    dup2(c.error, STDERR_FILENO);
    bool output = IsConsole(Stream::STANDARD_OUTPUT);
    bool error = IsConsole(Stream::STANDARD_ERROR);
    dup2(savedOutput, STDOUT_FILENO);
    dup2(savedError, STDERR_FILENO);
    EXPECT_EQ(output, c.output == terminal);
    EXPECT_EQ(error, c.error == terminal);
  }
  for (int fd : {savedOutput, savedError, terminal, pty, file}) close(fd);
}

TEST_F(PosixApi, MappedViewShowsTheFileAndOutlivesItsHandle) {
  HANDLE file = Open(dir.Write("f", "mapped content"), GENERIC_READ, FILE_SHARE_READ,
                     OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const uint8_t* view = nullptr;
  ASSERT_EQ(MapReadOnly(file, 14, &view), NO_ERROR);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view), 14), "mapped content");
  UnmapReadOnly(view, 14);
}

}  // namespace
