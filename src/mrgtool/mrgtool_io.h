// mrgtool's files and messages. Its errors go to standard error, each
// prefixed with "mrgtool: ", and name the file and the system's error.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"
#include "system.h"
#include "whole_file.h"
#include "words/mrgtool_words.h"

#if defined(__GNUC__)
#define MRGTOOL_FORMAT(at) __attribute__((format(printf, (at), (at) + 1)))
#else
#define MRGTOOL_FORMAT(at)
#endif

// Prints as printf does, on standard output or standard error: every word
// of mrgtool goes through here, so that a Windows console shows names as
// they were typed.
void Print(Stream stream, const char* format, ...) MRGTOOL_FORMAT(2);

// Prints "mrgtool: ", the message and a line end on standard error.
void PrintError(const char* format, ...) MRGTOOL_FORMAT(1);

// The same for one of mrgtool's messages that the page shows too.
void Say(MrgtoolSays message, const SaidOf& of);

// A whole file's bytes, read-only: mapped into memory where the system can,
// else read. Released with the record.
struct FileBytes : WholeFile {
  FileBytes() = default;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() { ReleaseWhole(this); }
};

// Loads a whole file of less than 4 GiB - 1 byte, the merge tool's limit.
// Prints why on failure. The file must not shrink while it is loaded.
bool ReadWholeFile(const char* path, FileBytes* file);

// Writes `size` bytes as the file `path`, through a new file beside it that
// then replaces `path`: a failure leaves no partial file behind. Prints why
// on failure.
bool WriteFileReplacing(const char* path, const uint8_t* bytes, size_t size);
