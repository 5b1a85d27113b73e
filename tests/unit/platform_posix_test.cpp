#include "platform_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace {

TEST(WinErrorFromErrno, MapsEachErrno) {
  const struct {
    int err;
    DWORD winError;
  } cases[] = {
      {ENOENT, 2},       {ENOTDIR, 3},  {EACCES, 5},   {EPERM, 5},   {EISDIR, 5},
      {EWOULDBLOCK, 32}, {ENOSPC, 112}, {EDQUOT, 112}, {EFBIG, 223}, {ENAMETOOLONG, 206},
      {EROFS, 19},       {EMFILE, 4},   {ENOMEM, 8},   {EIO, 1117},  {EXDEV, 31},
      {ELOOP, 1921},     {EINVAL, 87},  {ETXTBSY, 32}, {ENFILE, 4},  {EBADF, 6},
      {EEXIST, 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(WinErrorFromErrno(c.err), c.winError);
  }
}

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

TEST_F(PosixApi, CreateFileFailuresGiveWindowsErrors) {
  dir.Write("file", "x");
  ASSERT_EQ(mkdir(dir.Path("folder").c_str(), 0755), 0);
  const struct {
    const char* what;
    std::string name;
    DWORD access;
    DWORD disposition;
    DWORD error;
  } cases[] = {
      {"missing", "missing", GENERIC_READ, OPEN_EXISTING, 2},
      {"file as folder", "file/x", GENERIC_READ, OPEN_EXISTING, 3},
      {"folder read", "folder", GENERIC_READ, OPEN_EXISTING, 5},
      {"folder write", "folder", GENERIC_WRITE, CREATE_ALWAYS, 5},
      {"long component", std::string(300, 'n'), GENERIC_READ, OPEN_EXISTING, 206},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Open(dir.Path(c.name), c.access, 0, c.disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
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
      {"truncate, shared read", GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING},
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
  EXPECT_TRUE(FlushFileBuffers(file));
  EXPECT_TRUE(CloseHandle(file));

  file = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[64] = {};
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "fresh");
  // As on Windows, a handle that can't write can't flush.
  EXPECT_FALSE(FlushFileBuffers(file));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(file));
  // Now a closed descriptor: a bogus handle.
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
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

TEST(VirtualAlloc, GivesZeroedWritableMemoryUntilReleased) {
  for (size_t size : {size_t{1}, size_t{4096}, size_t{3} << 20}) {
    SCOPED_TRACE(size);
    auto* bytes = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0] | bytes[size / 2] | bytes[size - 1], 0);
    bytes[0] = bytes[size - 1] = 1;
    EXPECT_TRUE(VirtualFree(bytes, 0, MEM_RELEASE));
  }
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(VirtualAlloc(nullptr, SIZE_MAX, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
            nullptr);
  EXPECT_NE(GetLastError(), NO_ERROR);
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

TEST_F(PosixApi, MoveFileExReplacesOnlyWhenTold) {
  std::string from = dir.Write("from", "new");
  std::string to = dir.Write("to", "old");
  EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(TempDir::Read(to), "old");
  EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(TempDir::Read(to), "new");
  EXPECT_NE(access(from.c_str(), F_OK), 0);
  EXPECT_TRUE(MoveFileExA(to.c_str(), dir.Path("fresh").c_str(), 0));
  EXPECT_EQ(TempDir::Read(dir.Path("fresh")), "new");
}

TEST_F(PosixApi, DeleteFileRemovesFilesNotFolders) {
  std::string file = dir.Write("f", "x");
  ASSERT_EQ(mkdir(dir.Path("folder").c_str(), 0755), 0);
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_NE(access(file.c_str(), F_OK), 0);
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileA(dir.Path("folder").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

std::vector<DWORD> controlEvents;

BOOL WINAPI Handled(DWORD event) {
  controlEvents.push_back(event);
  return TRUE;
}

BOOL WINAPI NotHandled(DWORD) { return FALSE; }

TEST(ConsoleControl, SignalsWaitForTheHandlerToBeRemovedThenReachIt) {
  controlEvents.clear();
  ASSERT_TRUE(SetConsoleCtrlHandler(Handled, TRUE));
  kill(getpid(), SIGTERM);
  kill(getpid(), SIGINT);
  EXPECT_TRUE(controlEvents.empty());
  ASSERT_TRUE(SetConsoleCtrlHandler(Handled, FALSE));
  EXPECT_EQ(controlEvents, (std::vector<DWORD>{CTRL_C_EVENT, CTRL_SHUTDOWN_EVENT}));
  // An event the handler does not take ends the process as the signal would.
  EXPECT_EXIT(
      {
        SetConsoleCtrlHandler(NotHandled, TRUE);
        raise(SIGHUP);
        SetConsoleCtrlHandler(NotHandled, FALSE);
        _exit(0);
      },
      testing::KilledBySignal(SIGHUP), "");
}

TEST_F(PosixApi, OnlyATerminalIsAConsole) {
  HANDLE file = Open(dir.Write("f", "x"), GENERIC_READ, 0, OPEN_EXISTING);
  DWORD mode = 0;
  EXPECT_FALSE(GetConsoleMode(file, &mode));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(file);
  EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), reinterpret_cast<HANDLE>(intptr_t{2}));
  int terminal = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (terminal >= 0) {
    EXPECT_TRUE(GetConsoleMode(reinterpret_cast<HANDLE>(intptr_t{terminal}), &mode));
    close(terminal);
  }
}

TEST_F(PosixApi, MappedViewShowsTheFileAndOutlivesItsHandles) {
  HANDLE file = Open(dir.Write("f", "mapped content"), GENERIC_READ, FILE_SHARE_READ,
                     OPEN_EXISTING);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  LPVOID view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_TRUE(CloseHandle(file));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(view), 14), "mapped content");
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);

  HANDLE empty = Open(dir.Write("empty", ""), GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_EQ(CreateFileMappingA(empty, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
  CloseHandle(empty);
}

}  // namespace
