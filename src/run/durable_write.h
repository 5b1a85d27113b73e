// Writing a whole file so that it reaches the disk.
#pragma once

#include "platform.h"
#include "write_whole.h"

// Recreates the file `name` in place, writes its content and puts it on the
// disk. Returns NO_ERROR, or the error of the step that failed; *emptied
// tells whether the file was recreated, and so no longer holds what it held.
DWORD WriteDurably(const char* name, ContentWriter write, const void* content,
                   bool* emptied);

// Writes a file of the run's own, `name`, anew and puts it on the disk: what
// stood under that name goes first, a link included, which is replaced and
// never written through. Returns NO_ERROR, or the error of the step that failed.
DWORD WriteOwnFile(const char* name, ContentWriter write, const void* content);
