// The Windows file calls of platform.h, on POSIX. Each behaves as the tools
// rely on it behaving on Windows, and reports failures through GetLastError
// with Windows error numbers.
#include "platform_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

thread_local DWORD lastError = NO_ERROR;

// Linux moves at most about 2 GiB per call; stay well below it.
constexpr size_t kMaxTransfer = size_t{1} << 30;
constexpr size_t kCopyChunk = size_t{1} << 20;

struct ErrnoMapping {
  int err;
  DWORD winError;
};

// Each POSIX error that a call may meet, and the Windows error that stands
// for it: docs/messages.md's table.
const ErrnoMapping kErrorTable[] = {
    {ENOENT, 2},       {ENOTDIR, 3},        {EMFILE, 4},  {ENFILE, 4},  {EACCES, 5},
    {EPERM, 5},        {EISDIR, 5},         {EBADF, 6},   {ENOMEM, 8},  {EROFS, 19},
    {EWOULDBLOCK, 32}, {ETXTBSY, 32},       {EEXIST, 80}, {EINVAL, 87}, {ENOSPC, 112},
    {EDQUOT, 112},     {ENAMETOOLONG, 206}, {EFBIG, 223}, {EIO, 1117},  {ELOOP, 1921}};

BOOL Fail(int err) {
  lastError = WinErrorFromErrno(err);
  return FALSE;
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
  // The size is the one the lock holds still: another writer may have
  // changed it before.
  if (err == 0 && fstat(fd, info) != 0) err = errno;
  if (err != 0) {
    close(fd);
    return err;
  }
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

// Reads until `size` bytes or the end of the file. Returns 0 or errno.
int ReadFully(int fd, unsigned char* bytes, size_t size, size_t* done) {
  for (*done = 0; *done < size;) {
    ssize_t n = read(fd, bytes + *done, std::min(size - *done, kMaxTransfer));
    if (n < 0 && errno != EINTR) return errno;
    if (n == 0) break;
    if (n > 0) *done += static_cast<size_t>(n);
  }
  return 0;
}

// Writes all `size` bytes. Returns 0 or errno.
int WriteFully(int fd, const unsigned char* bytes, size_t size, size_t* done) {
  for (*done = 0; *done < size;) {
    ssize_t n = write(fd, bytes + *done, std::min(size - *done, kMaxTransfer));
    if (n < 0 && errno != EINTR) return errno;
    if (n == 0) return ENOSPC;
    if (n > 0) *done += static_cast<size_t>(n);
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
      size_t got = 0;
      size_t put = 0;
      int err = lseek(from, at, SEEK_SET) < 0 || lseek(to, at, SEEK_SET) < 0 ? errno : 0;
      if (err == 0) err = ReadFully(from, chunk, std::min(count, kCopyChunk), &got);
      if (err == 0) err = WriteFully(to, chunk, got, &put);
      errno = err;
      return err == 0 ? static_cast<ssize_t>(got) : -1;
    }
  }
}

#ifdef __linux__
constexpr CopyWay kFirstCopyWay = CopyWay::KERNEL_COPY;
#else
constexpr CopyWay kFirstCopyWay = CopyWay::READ_WRITE;
#endif

}  // namespace

int CopyFileContent(int from, int to, off_t size, CopyWay way) {
  std::unique_ptr<unsigned char[]> chunk;  // for READ_WRITE, once it is the way
  for (off_t at = 0; at < size;) {
    off_t data = lseek(from, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) data = at;                // no hole support: copy it all
    if (data >= size) break;
    off_t end = lseek(from, data, SEEK_HOLE);
    if (end < 0 || end > size) end = size;
    for (at = data; at < end;) {
      if (way == CopyWay::READ_WRITE && !chunk) {
        chunk.reset(new (std::nothrow) unsigned char[kCopyChunk]);
        if (!chunk) return ENOMEM;
      }
      size_t want = std::min(kMaxTransfer, static_cast<size_t>(end - at));
      ssize_t n = CopyStep(from, to, at, want, way, chunk.get());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && way != CopyWay::READ_WRITE && CopyWayUnsupported(errno)) {
        way = way == CopyWay::KERNEL_COPY ? CopyWay::SEND_FILE : CopyWay::READ_WRITE;
        continue;
      }
      if (n < 0) return errno;
      at = n == 0 ? end : at + n;  // 0: the file ended early
    }
  }
  return ftruncate(to, size) == 0 ? 0 : errno;
}

int TakeLock(int fd, int operation) {
  // A lock that doesn't wait is never interrupted.
  return flock(fd, operation | LOCK_NB) != 0 && errno == EWOULDBLOCK ? EWOULDBLOCK : 0;
}

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

DWORD WinErrorFromErrno(int err) {
  for (const ErrnoMapping& mapping : kErrorTable)
    if (mapping.err == err) return mapping.winError;
  return ERROR_GEN_FAILURE;
}

// Opens existing files, or creates them (CREATE_NEW) or empties them
// (CREATE_ALWAYS) for writing.
HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void*,
                   DWORD disposition, DWORD, HANDLE) {
  int flags = (access & GENERIC_WRITE) == 0  ? O_RDONLY
              : (access & GENERIC_READ) != 0 ? O_RDWR
                                             : O_WRONLY;
  if (disposition != OPEN_EXISTING)
    flags |= disposition == CREATE_NEW ? O_CREAT | O_EXCL : O_CREAT;
  // The file is emptied only once the lock is held, so that a file another
  // program holds is never cut short.
  int fd = -1;
  struct stat info;
  int err = OpenLocked(path, flags, shareMode == 0 ? LOCK_EX : LOCK_SH, &fd, &info);
  if (err == 0 && disposition == CREATE_ALWAYS && ftruncate(fd, 0) != 0) {
    err = errno;
    close(fd);
  }
  if (err != 0) Fail(err);
  return err == 0 ? HandleFromFd(fd) : INVALID_HANDLE_VALUE;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
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

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* bytesRead, void*) {
  size_t done;
  int err =
      ReadFully(FdFromHandle(file), static_cast<unsigned char*>(buffer), toRead, &done);
  if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(done);
  return err == 0 ? TRUE : Fail(err);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void*) {
  size_t done;
  int err = WriteFully(FdFromHandle(file), static_cast<const unsigned char*>(buffer),
                       toWrite, &done);
  if (written != nullptr) *written = static_cast<DWORD>(done);
  if (err != 0) return Fail(err);
  StartWriteback(FdFromHandle(file));
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  return close(FdFromHandle(object)) == 0 ? TRUE : Fail(errno);
}

BOOL CopyFileA(const char* existingPath, const char* newPath, BOOL failIfExists) {
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
  if (err == 0) err = CopyFileContent(from, to, source.st_size, kFirstCopyWay);
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

// Read-only, or else writable by its owner.
BOOL SetFileAttributesA(const char* path, DWORD attributes) {
  struct stat info;
  if (stat(path, &info) != 0) return Fail(errno);
  mode_t mode = info.st_mode & 07777;
  if (attributes == FILE_ATTRIBUTE_READONLY)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  return chmod(path, mode) == 0 ? TRUE : Fail(errno);
}

DWORD GetLastError() { return lastError; }
