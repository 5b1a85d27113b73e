#pragma once

#include "format/merge_format.h"
#include "platform.h"

// Puts the backup, just copied, on the disk, with its name in `folder`, so
// that it outlives a power failure while the level is rewritten. Returns
// NO_ERROR, or the error of the step that failed.
DWORD FlushBackup(const char* backupName, const char* folder);

// Whether the backup holds exactly the bytes of `level`: the proof that the
// image a run rewrites from, and whose fingerprint its mark gives for the
// backup, is what the backup holds. Returns NO_ERROR, or the error of a
// backup that can't be read.
DWORD BackupHolds(const char* backupName, const LevelImage& level, bool* holds);
