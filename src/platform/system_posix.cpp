// What the programs need from the system (system.h), on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>

#include "platform_posix.h"
#include "system.h"

namespace {

// Huge pages, all faulted in by one call before the read, make reading a
// large file into fresh memory several times faster (bench/alloc_strategies);
// below this size they are not worth asking for.
constexpr size_t kHugePageWorth = size_t{2} << 20;

// Each failed try means that a run released the lock and another took it
// anew meanwhile.
constexpr int kLockTries = 8;

// Ctrl+C, Ctrl+Break, a closed terminal, and the system going down.
sigset_t Interruptions() {
  sigset_t set;
  sigemptyset(&set);
  for (int interruption : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
    sigaddset(&set, interruption);
  return set;
}

DWORD ErrorOf(int err) { return err == 0 ? NO_ERROR : WinErrorFromErrno(err); }

DWORD ErrorIf(bool failed) { return ErrorOf(failed ? errno : 0); }

FILE* FileOf(Stream stream) { return stream == Stream::STANDARD_ERROR ? stderr : stdout; }

// fsync, retried when interrupted. Returns 0 or errno.
int SyncRetrying(int fd) {
  while (fsync(fd) != 0)
    if (errno != EINTR) return errno;
  return 0;
}

}  // namespace

void SetUpProcess() { (void)signal(SIGXFSZ, SIG_IGN); }

DWORD GetFreshMemory(size_t size, uint8_t** memory) {
  void* fresh =
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (fresh == MAP_FAILED) return ErrorOf(errno);
  // Advice only: without it the pages are small and come one fault at a time,
  // which is slower but no different otherwise.
  if (size >= kHugePageWorth) {
#ifdef MADV_HUGEPAGE
    (void)madvise(fresh, size, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    (void)madvise(fresh, size, MADV_POPULATE_WRITE);
#endif
  }
  *memory = static_cast<uint8_t*>(fresh);
  return NO_ERROR;
}

void FreeFreshMemory(uint8_t* memory, size_t size) { (void)munmap(memory, size); }

DWORD MapReadOnly(HANDLE file, size_t size, const uint8_t** view) {
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_SHARED, FdFromHandle(file), 0);
  if (mapped == MAP_FAILED) return ErrorOf(errno);
  *view = static_cast<const uint8_t*>(mapped);
  return NO_ERROR;
}

void UnmapReadOnly(const uint8_t* view, size_t size) {
  (void)munmap(const_cast<uint8_t*>(view), size);
}

// As on Windows, only a handle that may write can flush.
DWORD FlushFile(HANDLE file) {
  int flags = fcntl(FdFromHandle(file), F_GETFL);
  if (flags < 0) return ErrorOf(errno);
  return (flags & O_ACCMODE) == O_RDONLY ? ERROR_ACCESS_DENIED
                                         : ErrorOf(SyncRetrying(FdFromHandle(file)));
}

DWORD FlushFolder(const char* folder) {
  int fd = OpenRetrying(folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return ErrorOf(errno);
  int err = SyncRetrying(fd);
  // A file system that can't sync a folder keeps its entries safe its own way.
  if (err == EINVAL) err = 0;
  if (close(fd) != 0 && err == 0) err = errno;
  return ErrorOf(err);
}

DWORD RenameReplacing(const char* from, const char* to) {
  return ErrorIf(rename(from, to) != 0);
}

DWORD RemoveFile(const char* path) { return ErrorIf(unlink(path) != 0); }

// An flock on the file that the path names when it is taken. A release
// deletes the file before it closes it, so a run that opened the file just
// before, and locks it just after, finds that the path names another file or
// none, and tries again: two runs never both hold the file of the name.
DWORD TakeRunLock(const char* path, RunLock* lock) {
  for (int tries = 0; tries < kLockTries; ++tries) {
    // Reading is all an flock needs, even of a lock file left read-only or by
    // another user. An existing file is opened without O_CREAT, which a folder
    // open to all (as /tmp) refuses for another user's file; a new one is
    // made with O_EXCL. A link in its place is never followed: it is no
    // lock, and goes.
    int fd = OpenRetrying(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
      fd = OpenRetrying(path, O_RDONLY | O_CREAT | O_EXCL);
      if (fd < 0 && errno == EEXIST) continue;  // made by another run meanwhile
    }
    if (fd < 0 && errno == ELOOP) {
      if (unlink(path) != 0 && errno != ENOENT) return ErrorOf(errno);
      continue;
    }
    if (fd < 0) return ErrorOf(errno);
    struct stat held {};
    struct stat named {};
    int err = fstat(fd, &held) != 0 ? errno : S_ISREG(held.st_mode) ? 0 : EISDIR;
    if (err == 0) err = TakeLock(fd, LOCK_EX);
    if (err == 0 && lstat(path, &named) != 0) err = errno;
    if (err == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      *lock = {HandleFromFd(fd), path};
      return NO_ERROR;
    }
    (void)close(fd);  // nothing was written through it
    if (err != 0 && err != ENOENT) return ErrorOf(err);
  }
  return ERROR_SHARING_VIOLATION;
}

DWORD ReleaseRunLock(RunLock* lock) {
  DWORD error = ErrorIf(unlink(lock->path) != 0);
  DWORD closed = ErrorIf(close(FdFromHandle(lock->file)) != 0);
  return error != NO_ERROR ? error : closed;
}

// Failing to hold them leaves the run as exposed as it always was, not worse:
// it goes on.
void HoldInterruptions() {
  sigset_t set = Interruptions();
  (void)sigprocmask(SIG_BLOCK, &set, nullptr);
}

// Each signal is pending once at most, however often it came; one that the
// process ignores (nohup) interrupts nothing.
bool ReleaseInterruptions() {
  sigset_t set = Interruptions();
  const struct timespec now = {0, 0};
  bool came = false;
  for (int taken; (taken = sigtimedwait(&set, nullptr, &now)) > 0;) {
    struct sigaction action {};
    if (sigaction(taken, nullptr, &action) == 0 && action.sa_handler != SIG_IGN)
      came = true;
  }
  (void)sigprocmask(SIG_UNBLOCK, &set, nullptr);
  return came;
}

bool IsConsole(Stream stream) {
  return isatty(stream == Stream::STANDARD_ERROR ? STDERR_FILENO : STDOUT_FILENO) == 1;
}

void PrintText(Stream stream, const char* format, va_list arguments) {
  if (stream == Stream::STANDARD_ERROR) (void)fflush(stdout);
  (void)vfprintf(FileOf(stream), format, arguments);
}

bool FlushText(Stream stream) {
  FILE* file = FileOf(stream);
  return fflush(file) == 0 && ferror(file) == 0;
}

// A terminal is shared with the shell that started the program.
unsigned ConsoleProcessCount() { return 0; }

DWORD CanCreateIn(const char* folder) {
  struct stat info {};
  if (stat(folder, &info) != 0) return ErrorOf(errno);
  if (!S_ISDIR(info.st_mode)) return ERROR_PATH_NOT_FOUND;
  // As the process's own user, not the one who started it.
  return ErrorIf(faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) != 0);
}

DWORD EnterFolder(const char* folder) { return ErrorIf(chdir(folder) != 0); }

void WaitForEnter() {
  if (isatty(STDIN_FILENO) != 1) return;
  for (int typed = getchar(); typed != EOF && typed != '\n'; typed = getchar()) {
  }
}
