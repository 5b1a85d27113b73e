// Internals of the POSIX backend that its tests reach directly.
#pragma once

#include <sys/types.h>

#include "platform.h"

// The Windows error number that stands for a POSIX errno value.
DWORD WinErrorFromErrno(int err);

// The ways CopyFileA moves bytes, each the fallback for the one before it
// where the system or the file system cannot do it.
enum class CopyWay { KERNEL_COPY, SEND_FILE, READ_WRITE };

// Copies `size` bytes of `from` into the empty `to`, starting with `way`, and
// leaves holes where the source has them: a sparse level gives an equally
// sparse backup instead of gigabytes of written zeros. Returns 0 or errno.
int CopyFileContent(int from, int to, off_t size, CopyWay way);
