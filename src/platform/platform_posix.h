// Internals of the POSIX backend, shared by its two files and reached by its
// tests.
#pragma once

#include <sys/types.h>

#include "platform.h"

// The Windows error number that stands for a POSIX errno value.
DWORD WinErrorFromErrno(int err);

// A handle is a file descriptor.
inline HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

inline int FdFromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

// open(), retried when interrupted; O_NONBLOCK keeps a pipe from hanging it.
int OpenRetrying(const char* path, int flags);

// An flock held through another open file stands for a Windows open that
// does not share. Returns 0 or an errno value; 0 on a file system without
// flock, where there is no exclusion to be had.
int TakeLock(int fd, int operation);

// The ways CopyFileA moves bytes, each the fallback for the one before it
// where the system or the file system cannot do it.
enum class CopyWay { KERNEL_COPY, SEND_FILE, READ_WRITE };

// Copies `size` bytes of `from` into the empty `to`, starting with `way`, and
// leaves holes where the source has them: a sparse level gives an equally
// sparse backup instead of gigabytes of written zeros. Returns 0 or errno.
int CopyFileContent(int from, int to, off_t size, CopyWay way);
