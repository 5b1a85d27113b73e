// What the programs need from the system beyond the file calls of platform.h,
// in their own words: system_posix.cpp or system_windows.cpp, as the build
// picks. Errors are Windows error numbers on every system; NO_ERROR is success.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform.h"

// Each program's main calls this first. On POSIX, a write past the file size
// limit then fails (error 223), as on Windows, instead of killing the process.
void SetUpProcess();

// Fresh zeroed memory of `size` bytes, at least 1, straight from the system:
// nothing zero-fills it again, and on POSIX a large block gets huge pages,
// faulted in at once. Given back with the same size.
DWORD GetFreshMemory(size_t size, uint8_t** memory);
void FreeFreshMemory(uint8_t* memory, size_t size);

// A read-only view of the first `size` bytes, at least 1, of a file open for
// reading. It outlives the handle.
DWORD MapReadOnly(HANDLE file, size_t size, const uint8_t** view);
void UnmapReadOnly(const uint8_t* view, size_t size);

// Puts what was written through `file`, open for writing, on the disk.
DWORD FlushFile(HANDLE file);

// Puts the names created, renamed or deleted in `folder` on the disk. A path
// that can't be opened as a folder is an error.
DWORD FlushFolder(const char* folder);

// Gives the file `from` the name `to` in one step, replacing any file there.
DWORD RenameReplacing(const char* from, const char* to);

// Deletes the file `path`; a folder is refused (error 5).
DWORD RemoveFile(const char* path);

// A lock held by one process at a time, until it is released or the process
// ends, however it ends. `path` is the caller's, kept until the release.
struct RunLock {
  HANDLE file;
  const char* path;
};

// Takes the lock on the file `path`, creating it; a file left by a process
// that died holding it, or by another user, is taken over where the system
// lets this process open it. A link in its place is never followed: it is
// replaced. Held by another process: error 32, at once. A folder, or a file
// this process may not open, in its place: the system's error. The release
// deletes the file.
DWORD TakeRunLock(const char* path, RunLock* lock);
DWORD ReleaseRunLock(RunLock* lock);

// Between these two calls Ctrl+C, Ctrl+Break, closing the console, logoff and
// shutdown (SIGINT, SIGQUIT, SIGHUP, SIGTERM) wait. The release takes those
// that came meanwhile and tells whether any did: the caller decides what
// follows. Outside a hold they end the process.
void HoldInterruptions();
[[nodiscard]] bool ReleaseInterruptions();

enum class Stream { STANDARD_OUTPUT, STANDARD_ERROR };

// Whether the stream is a console (a terminal), not a file or a pipe.
bool IsConsole(Stream stream);

// Prints on the stream as vprintf does. On a Windows console the bytes are
// read in the ANSI code page, the one that names and arguments come in, and
// shown as the characters they stand for there; elsewhere, and on a file or a
// pipe, they go out unchanged. Text on standard error first puts out what
// standard output holds, so that the two keep their order.
void PrintText(Stream stream, const char* format, va_list arguments);

// Puts out what the stream holds, and tells whether all text printed on it
// so far arrived.
bool FlushText(Stream stream);

// How many processes share this process's console: 1 when it has one of its
// own, as Explorer opens for a program double-clicked or given a dropped file;
// more when a Command Prompt or PowerShell started it; 0 without a console,
// and always on POSIX.
unsigned ConsoleProcessCount();

// NO_ERROR where this process may create files in `folder`; else why not:
// no such folder, not a folder, or no right to write in it.
DWORD CanCreateIn(const char* folder);

// Makes `folder` the current folder.
DWORD EnterFolder(const char* folder);

// Waits until Enter is pressed at the console; returns at once when standard
// input is no console, or can't be read.
void WaitForEnter();
