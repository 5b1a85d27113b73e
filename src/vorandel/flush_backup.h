#pragma once

#include "fingerprint.h"
#include "platform.h"

// Puts the backup, just copied, on the disk, with its name in `folder`, so
// that it outlives a power failure while the level is rewritten. Returns
// NO_ERROR, or the error of the step that failed.
DWORD FlushBackup(const char* backupName, const char* folder);

// Whether the backup holds exactly the level whose fingerprint is `level`:
// the proof that the image a run rewrites from is what the backup holds.
// Returns NO_ERROR, or the error of a backup that can't be read.
DWORD BackupHolds(const char* backupName, const Fingerprint& level, bool* holds);
