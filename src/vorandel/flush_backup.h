#pragma once

#include "platform.h"

// Puts the backup, just copied, on the disk, with its name in `folder`, so
// that it outlives a power failure while the level is rewritten. Returns
// NO_ERROR, or the error of the step that failed.
DWORD FlushBackup(const char* backupName, const char* folder);
