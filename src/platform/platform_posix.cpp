// The Windows file API subset of platform.h, on POSIX. Each call behaves as
// the tool relies on it behaving on Windows, and reports failures through
// GetLastError with Windows error numbers.
#include "platform_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

thread_local DWORD lastError = NO_ERROR;

// Linux moves at most about 2 GiB per call; stay well below it.
constexpr size_t kMaxTransfer = size_t{1} << 30;
constexpr size_t kCopyChunk = size_t{1} << 20;

struct ErrnoMapping {
  int err;
  DWORD winError;
};

const ErrnoMapping kErrorTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EROFS, ERROR_WRITE_PROTECT},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EEXIST, ERROR_FILE_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {EIO, ERROR_IO_DEVICE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
};

BOOL Fail(int err) {
  lastError = WinErrorFromErrno(err);
  return FALSE;
}

HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

int FdFromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

// An flock held through another open file stands for a Windows open that
// does not share. Returns 0 or an errno value.
int TakeLock(int fd, int operation) {
  while (flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return EWOULDBLOCK;
    return 0;  // a file system without flock: no exclusion to be had
  }
  return 0;
}

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens a regular file and locks it before anything else happens to it.
// Directories, devices and pipes are refused, as Windows refuses them as
// files; O_NONBLOCK keeps a pipe from hanging the open. Returns 0 or errno.
int OpenLocked(const char* path, int flags, int lockOperation, int* fdOut,
               struct stat* info) {
  int fd = OpenRetrying(path, flags);
  if (fd < 0) return errno;

  int err = 0;
  if (fstat(fd, info) != 0)
    err = errno;  // NOLINT(bugprone-branch-clone): fstat's errno, not fcntl's
  else if (S_ISDIR(info->st_mode))
    err = EISDIR;
  else if (!S_ISREG(info->st_mode))
    err = EACCES;
  else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
    err = errno;
  else
    err = TakeLock(fd, lockOperation);
  if (err != 0) {
    close(fd);
    return err;
  }
  *fdOut = fd;
  return 0;
}

// A folder, opened to flush its entries: neither locked nor checked further.
// ENOTDIR when `path` is no folder.
int OpenFolder(const char* path, int* fdOut) {
  int fd = OpenRetrying(path, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return errno;
  *fdOut = fd;
  return 0;
}

// Asks the system to start writing the file's dirty pages to the disk now,
// without waiting, so that a later flush finds little left to do. Advice
// only: where it can't be had, the flush does it all.
void StartWriteback(int fd) {
#ifdef __linux__
  (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
}

// fsync, retried when interrupted. Returns 0 or errno.
int SyncRetrying(int fd) {
  while (fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Reads until `size` bytes or the end of the file. Returns 0 or errno.
int ReadFully(int fd, unsigned char* bytes, size_t size, size_t* done) {
  *done = 0;
  while (*done < size) {
    ssize_t n = read(fd, bytes + *done, std::min(size - *done, kMaxTransfer));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    *done += static_cast<size_t>(n);
  }
  return 0;
}

// Growing a file past the size limit must fail the write, as it does on
// Windows, not kill the process halfway through a rewrite. The calls that
// grow files set this once, when they first run.
void FailWritesPastTheSizeLimit() {
  static const bool ignored = signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
  (void)ignored;
}

// Writes all `size` bytes. Returns 0 or errno.
int WriteFully(int fd, const unsigned char* bytes, size_t size, size_t* done) {
  FailWritesPastTheSizeLimit();
  *done = 0;
  while (*done < size) {
    ssize_t n = write(fd, bytes + *done, std::min(size - *done, kMaxTransfer));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    *done += static_cast<size_t>(n);
  }
  return 0;
}

// Errors by which a way of copying says it cannot copy these files at all,
// rather than that the copy failed: the next way is tried.
bool CopyWayUnsupported(int err) {
  return err == ENOSYS || err == EXDEV || err == EOPNOTSUPP || err == EINVAL;
}

// Moves up to `count` bytes from `at` in `from` to the same place in `to` the
// given way. Returns the count moved (0 at the end of `from`) or -1 with errno.
ssize_t CopyStep(int from, int to, off_t at, size_t count, CopyWay way,
                 unsigned char* chunk) {
  switch (way) {
#ifdef __linux__
    case CopyWay::KERNEL_COPY: {
      off_t in = at;
      off_t out = at;
      return copy_file_range(from, &in, to, &out, count, 0);
    }
    case CopyWay::SEND_FILE: {
      off_t in = at;
      if (lseek(to, at, SEEK_SET) < 0) return -1;
      return sendfile(to, from, &in, count);
    }
#endif
    default: {
      size_t got;
      size_t put;
      int err = 0;
      if (lseek(from, at, SEEK_SET) < 0 || lseek(to, at, SEEK_SET) < 0) err = errno;
      if (err == 0) err = ReadFully(from, chunk, std::min(count, kCopyChunk), &got);
      if (err == 0) err = WriteFully(to, chunk, got, &put);
      if (err != 0) {
        errno = err;
        return -1;
      }
      return static_cast<ssize_t>(got);
    }
  }
}

// Copies the bytes from `at` up to `end` or the end of the file, whichever
// comes first, the first way of *way that works here; *way keeps it for the
// next range. The read/write chunk is allocated on first use. Returns 0 or
// errno.
int CopyRange(int from, int to, off_t at, off_t end, CopyWay* way,
              std::unique_ptr<unsigned char[]>* chunk) {
  while (at < end) {
    if (*way == CopyWay::READ_WRITE && !*chunk) {
      chunk->reset(new (std::nothrow) unsigned char[kCopyChunk]);
      if (!*chunk) return ENOMEM;
    }
    size_t want = std::min(kMaxTransfer, static_cast<size_t>(end - at));
    ssize_t n = CopyStep(from, to, at, want, *way, chunk->get());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && *way != CopyWay::READ_WRITE && CopyWayUnsupported(errno)) {
      *way = *way == CopyWay::KERNEL_COPY ? CopyWay::SEND_FILE : CopyWay::READ_WRITE;
      continue;
    }
    if (n < 0) return errno;
    if (n == 0) break;
    at += n;
  }
  return 0;
}

// What VirtualAlloc puts in the page before the address it returns, for
// VirtualFree: the size of the whole mapping.
constexpr size_t kMappingHead = 4096;
// Huge pages, all faulted in by one call before the read, make reading a
// large file into fresh memory several times faster (bench/alloc_strategies);
// below this size they are not worth asking for.
constexpr size_t kHugePageWorth = size_t{2} << 20;

}  // namespace

int CopyFileContent(int from, int to, off_t size, CopyWay way) {
  FailWritesPastTheSizeLimit();
  std::unique_ptr<unsigned char[]> chunk;
  for (off_t at = 0; at < size;) {
    off_t data = lseek(from, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) data = at;                // no hole support: copy it all
    if (data >= size) break;
    off_t hole = lseek(from, data, SEEK_HOLE);
    if (hole < 0 || hole > size) hole = size;
    int err = CopyRange(from, to, data, hole, &way, &chunk);
    if (err != 0) return err;
    at = hole;
  }
  return ftruncate(to, size) == 0 ? 0 : errno;
}

namespace {

CopyWay FirstCopyWay() {
#ifdef __linux__
  return CopyWay::KERNEL_COPY;
#else
  return CopyWay::READ_WRITE;
#endif
}

}  // namespace

DWORD WinErrorFromErrno(int err) {
  for (const ErrnoMapping& mapping : kErrorTable)
    if (mapping.err == err) return mapping.winError;
  return ERROR_GEN_FAILURE;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD attributes,
                          HANDLE) {
  int flags = O_RDONLY;
  if ((access & GENERIC_WRITE) != 0)
    flags = (access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS:
      flags |= O_CREAT;
      truncate = true;
      break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncate = true; break;
    default: lastError = ERROR_INVALID_PARAMETER; return INVALID_HANDLE_VALUE;
  }

  int fd = -1;
  if ((attributes & FILE_FLAG_BACKUP_SEMANTICS) != 0 && disposition == OPEN_EXISTING) {
    int err = OpenFolder(path, &fd);
    if (err == 0) return HandleFromFd(fd);
    if (err != ENOTDIR) {
      Fail(err);
      return INVALID_HANDLE_VALUE;
    }
  }
  // The file is emptied only once the lock is held, so that a file another
  // program holds is never cut short.
  struct stat info;
  int err = OpenLocked(path, flags, shareMode == 0 ? LOCK_EX : LOCK_SH, &fd, &info);
  if (err == 0 && truncate && ftruncate(fd, 0) != 0) {
    err = errno;
    close(fd);
  }
  if (err != 0) {
    Fail(err);
    return INVALID_HANDLE_VALUE;
  }
  return HandleFromFd(fd);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  struct stat info;
  if (fstat(FdFromHandle(file), &info) != 0) {
    Fail(errno);
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<uint64_t>(info.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  lastError = NO_ERROR;
  return static_cast<DWORD>(size);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD bytesRead,
                     LPOVERLAPPED) {
  size_t done;
  int err =
      ReadFully(FdFromHandle(file), static_cast<unsigned char*>(buffer), toRead, &done);
  if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(done);
  return err == 0 ? TRUE : Fail(err);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED) {
  size_t done;
  int err = WriteFully(FdFromHandle(file), static_cast<const unsigned char*>(buffer),
                       toWrite, &done);
  if (written != nullptr) *written = static_cast<DWORD>(done);
  if (err != 0) return Fail(err);
  StartWriteback(FdFromHandle(file));
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  return close(FdFromHandle(object)) == 0 ? TRUE : Fail(errno);
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
  int fd = FdFromHandle(file);
  struct stat info;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fstat(fd, &info) != 0) return Fail(errno);
  if (S_ISDIR(info.st_mode)) {
    // A file system that can't sync a folder keeps its entries safe its own way.
    int err = SyncRetrying(fd);
    return err == 0 || err == EINVAL ? TRUE : Fail(err);
  }
  // As on Windows, only a handle that may write can flush.
  if ((flags & O_ACCMODE) == O_RDONLY) return Fail(EACCES);
  int err = SyncRetrying(fd);
  return err == 0 ? TRUE : Fail(err);
}

BOOL WINAPI CopyFileA(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists) {
  int from;
  struct stat source {};
  int err = OpenLocked(existingPath, O_RDONLY, LOCK_SH, &from, &source);
  if (err != 0) return Fail(err);

  int to;
  struct stat target {};
  int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : 0);
  err = OpenLocked(newPath, flags, LOCK_EX, &to, &target);
  if (err != 0) {
    close(from);
    return Fail(err);
  }
  // Emptying the target must never empty the source through a link.
  if (source.st_dev == target.st_dev && source.st_ino == target.st_ino) err = EWOULDBLOCK;
  // A new, empty backup is left as it is: emptying a file marks it, on some
  // file systems, to be flushed to disk at once when it is closed.
  if (err == 0 && target.st_size != 0 && ftruncate(to, 0) != 0) err = errno;
  if (err == 0) err = CopyFileContent(from, to, source.st_size, FirstCopyWay());
  if (err == 0 && fchmod(to, source.st_mode & 0777) != 0) err = errno;
  if (err == 0) {
    // The copy keeps the source's modification time when it may, as a
    // Windows copy does; the content is what matters.
    const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    futimens(to, times);
    StartWriteback(to);
  }
  if (close(to) != 0 && err == 0) err = errno;
  close(from);
  return err == 0 ? TRUE : Fail(err);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
  struct stat info;
  if (stat(path, &info) != 0) return Fail(errno);
  mode_t mode = info.st_mode & 07777;
  if (attributes == FILE_ATTRIBUTE_NORMAL)
    mode |= S_IWUSR;
  else if (attributes == FILE_ATTRIBUTE_READONLY)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    return Fail(EINVAL);
  return chmod(path, mode) == 0 ? TRUE : Fail(errno);
}

DWORD WINAPI GetLastError(void) { return lastError; }

namespace {

struct ControlSignal {
  int signal;
  DWORD event;
};

const ControlSignal kControlSignals[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};

PHANDLER_ROUTINE controlHandler = nullptr;

sigset_t ControlSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const ControlSignal& control : kControlSignals) sigaddset(&set, control.signal);
  return set;
}

}  // namespace

// The handler is called with the signals held, never from a signal handler,
// so it may do anything; a signal it does not handle takes its usual course
// once they are let through again.
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  if (handler == nullptr || (add ? controlHandler != nullptr : handler != controlHandler))
    return Fail(EINVAL);
  sigset_t set = ControlSignalSet();
  if (add) {
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return Fail(errno);
    controlHandler = handler;
    return TRUE;
  }
  controlHandler = nullptr;
  // Each signal is pending once at most, however often it came.
  sigset_t pending;
  if (sigpending(&pending) != 0) sigemptyset(&pending);
  std::vector<int> unhandled;
  for (const ControlSignal& control : kControlSignals) {
    if (sigismember(&pending, control.signal) != 1) continue;
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, control.signal);
    int taken;
    if (sigwait(&one, &taken) == 0 && !handler(control.event)) unhandled.push_back(taken);
  }
  if (sigprocmask(SIG_UNBLOCK, &set, nullptr) != 0) return Fail(errno);
  for (int signal : unhandled) raise(signal);
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// The system's own signature: the address is not written through.
// cppcheck-suppress constParameter
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType,
                           DWORD protect) {
  if (address != nullptr || size == 0 || allocationType != (MEM_COMMIT | MEM_RESERVE) ||
      protect != PAGE_READWRITE || size > SIZE_MAX - kMappingHead) {
    Fail(EINVAL);
    return nullptr;
  }
  size_t length = kMappingHead + size;
  void* mapping =
      mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    Fail(errno);
    return nullptr;
  }
  if (size >= kHugePageWorth) {
    // Advice only: without it the pages are small and come one fault at a
    // time, which is slower but no different otherwise.
#ifdef MADV_HUGEPAGE
    (void)madvise(mapping, length, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    (void)madvise(mapping, length, MADV_POPULATE_WRITE);
#endif
  }
  *static_cast<size_t*>(mapping) = length;
  return static_cast<unsigned char*>(mapping) + kMappingHead;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  if (address == nullptr || size != 0 || freeType != MEM_RELEASE) return Fail(EINVAL);
  void* mapping = static_cast<unsigned char*>(address) - kMappingHead;
  return munmap(mapping, *static_cast<size_t*>(mapping)) == 0 ? TRUE : Fail(errno);
}

BOOL WINAPI MoveFileExA(LPCSTR existingPath, LPCSTR newPath, DWORD flags) {
  if ((flags & MOVEFILE_REPLACE_EXISTING) != 0)
    return rename(existingPath, newPath) == 0 ? TRUE : Fail(errno);
  // Without the flag an existing target is kept: link fails on it.
  if (link(existingPath, newPath) != 0) {
    if (errno != EEXIST) return Fail(errno);
    lastError = ERROR_ALREADY_EXISTS;
    return FALSE;
  }
  return unlink(existingPath) == 0 ? TRUE : Fail(errno);
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  struct stat info;
  if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) return Fail(EISDIR);
  return unlink(path) == 0 ? TRUE : Fail(errno);
}

HANDLE WINAPI GetStdHandle(DWORD which) {
  switch (which) {
    case STD_OUTPUT_HANDLE: return HandleFromFd(STDOUT_FILENO);
    case STD_ERROR_HANDLE: return HandleFromFd(STDERR_FILENO);
    default: lastError = ERROR_INVALID_PARAMETER; return INVALID_HANDLE_VALUE;
  }
}

BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode) {
  if (!isatty(FdFromHandle(console))) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  *mode = 0;
  return TRUE;
}

// A mapping is a second descriptor of the file. A view lies one page after
// an anonymous page that holds the length of both, which munmap needs and
// UnmapViewOfFile is not given.
HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect,
                                 DWORD maxSizeHigh, DWORD maxSizeLow, LPCSTR name) {
  if (protect != PAGE_READONLY || maxSizeHigh != 0 || maxSizeLow != 0 ||
      name != nullptr) {
    lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  struct stat info;
  if (fstat(FdFromHandle(file), &info) != 0) {
    Fail(errno);
    return nullptr;
  }
  if (info.st_size == 0) {
    lastError = ERROR_FILE_INVALID;
    return nullptr;
  }
  int fd = fcntl(FdFromHandle(file), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  return HandleFromFd(fd);
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh,
                            DWORD offsetLow, SIZE_T bytes) {
  struct stat info;
  uint64_t offset = uint64_t{offsetHigh} << 32 | offsetLow;
  if (access != FILE_MAP_READ ||
      offset % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) != 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  if (fstat(FdFromHandle(mapping), &info) != 0) {
    Fail(errno);
    return nullptr;
  }
  auto fileSize = static_cast<uint64_t>(info.st_size);
  if (offset >= fileSize || bytes > fileSize - offset) {
    lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  size_t size = bytes != 0 ? bytes : static_cast<size_t>(fileSize - offset);
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (size > SIZE_MAX - page) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  size_t length = page + size;
  void* area =
      mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) {
    Fail(errno);
    return nullptr;
  }
  *static_cast<size_t*>(area) = length;
  void* view =
      mmap(static_cast<unsigned char*>(area) + page, size, PROT_READ,
           MAP_SHARED | MAP_FIXED, FdFromHandle(mapping), static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    Fail(errno);
    munmap(area, length);
    return nullptr;
  }
  return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID address) {
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<uintptr_t>(address);
  // No view starts off a page boundary or without its length page before it.
  if (at % page != 0 || at < page ||
      msync(reinterpret_cast<void*>(at - page), page, MS_ASYNC) != 0) {
    lastError = ERROR_INVALID_ADDRESS;
    return FALSE;
  }
  const void* area = static_cast<const unsigned char*>(address) - page;
  size_t length = *static_cast<const size_t*>(area);
  return munmap(const_cast<void*>(area), length) == 0 ? TRUE : Fail(errno);
}
