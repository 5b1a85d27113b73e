// Internals of the POSIX backend that its tests reach directly.
#pragma once

#include "platform.h"

// The Windows error number that stands for a POSIX errno value.
DWORD WinErrorFromErrno(int err);
