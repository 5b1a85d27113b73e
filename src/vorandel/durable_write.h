// Writing a whole file so that it reaches the disk, with interruptions held
// while a level is in pieces.
#pragma once

#include "platform.h"
#include "write_whole.h"

// Recreates the file `name` in place, writes its content and puts it on the
// disk. Returns NO_ERROR, or the error of the step that failed; *emptied
// tells whether the file was recreated, and so no longer holds what it held.
DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied);

// Puts the names created, renamed or deleted in `folder` on the disk.
DWORD FlushFolder(const char* folder);

// Between these two calls Ctrl+C, Ctrl+Break, closing the console, logoff
// and shutdown wait, so that the level is never left in pieces by them.
void HoldInterruptions();
void ReleaseInterruptions();
