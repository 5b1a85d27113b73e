// What mrgtool's process ends with.
#pragma once

constexpr int MRGTOOL_OK = 0;
constexpr int MRGTOOL_FAILED = 1;  // the command was understood but did not succeed
constexpr int MRGTOOL_USAGE = 2;   // the command line was wrong
// check's verdicts besides "it applies" (MRGTOOL_OK), as Vorandel gives them.
constexpr int MRGTOOL_ALREADY_MERGED = 3;
constexpr int MRGTOOL_NOT_ITS_LEVEL = 4;
// make's refusal of two identical files, which give a merge file that changes
// nothing: an author's slip, such as a modified level never saved.
constexpr int MRGTOOL_IDENTICAL = 5;
// remove's: later mods changed bytes the mod wrote, and must come out first.
constexpr int MRGTOOL_BLOCKED = 6;
