// What mrgtool prints about a merge file, as text, so that mrgtool and the
// page say the same thing byte for byte. Each line ends in "\n".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_build.h"
#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "identity/level_verdict.h"

// True for the bytes shown as they are: printable ASCII.
inline bool Printable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

// Bytes of data shown per action.
constexpr uint32_t PREVIEW_BYTES = 8;

// The first PREVIEW_BYTES of an action's data in hex, pairs split by
// `separator`, and as text with '.' for what is not printable ASCII.
std::string HexPreview(const MergeAction& action, const char* separator);
std::string TextPreview(const MergeAction& action);

// show's table: the summary, and when there are actions the column heads,
// then one ShowRow per action, for a merge file that CheckForShow let through
// with `verdict`, which marks an unsafe name.
std::string ShowHead(const char* path, const MergeImage& merge, MergeVerdict verdict);
std::string ShowRow(const ActionRecord& record);

// check's verdict on a merge file that passed every check against `level`.
std::string CheckReport(const char* mergePath, const char* levelPath,
                        const MergeImage& merge, uint32_t firstActionAt,
                        const LevelImage& level);

// The line Vorandel says for a judgement that stops it before the backup:
// a level already merged, not its level, or a record the actions don't
// make. Empty for one it goes on with.
std::string JudgementLine(const Judgement& judgement, const char* levelName);

enum class CheckOutcome { APPLIES, ALREADY_MERGED, NOT_ITS_LEVEL, FAULT };

// mrgtool check on a merge file whose name and record passed CheckLevelName:
// Vorandel's verdict on `level` (with `backup`, null when there is none),
// with what check prints into *out: the report, or Vorandel's line.
CheckOutcome CheckAgainstLevel(const MergeImage& merge, const char* mergePath,
                               const LevelImage& level, const char* levelPath,
                               const LevelImage* backup, std::string* out);

// The line after a merge file was written as `path`.
std::string WrittenReport(const char* path, const std::vector<uint8_t>& bytes);
