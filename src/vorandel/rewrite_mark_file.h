// The mark beside the level while it is rewritten (rewrite_mark.h), on the disk.
#pragma once

#include <cstdint>

#include "platform.h"
#include "rewrite_mark.h"

// The mark for the level in memory. Its two halves are hashed at once, on
// two processors where there are.
RewriteMark MarkLevel(const uint8_t* level, uint32_t size);

// Writes the mark and puts it, and its name, on the disk; the level may be
// recreated only after this succeeded. Returns NO_ERROR or the error of the
// step that failed, and then leaves no mark behind.
DWORD LeaveMark(const RunNames& names, const RewriteMark& mark);

// Deletes the mark, and puts the deletion on the disk.
DWORD ClearMark(const RunNames& names);

enum class Restore { NOT_MARKED, RESTORED, FAILED };

// Where an earlier run left a mark, puts the level back from the backup that
// the mark describes, clears the mark and says so: RESTORED. Where that can't
// be done safely, touches nothing, says why and what to do, and keeps the
// mark: FAILED. Interruptions wait while the level is written.
Restore RestoreIfMarked(const RunNames& names);
