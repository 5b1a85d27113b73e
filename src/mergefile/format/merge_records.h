// The one walk over a merge file's action records. Every reader of actions
// goes through it, so a record's layout is read in this one place.
#pragma once

#include <cstdint>

#include "format/merge_format.h"

// An action's fields, as read from a record or as written into one.
struct MergeAction {
  uint32_t offset;
  uint32_t removeLength;
  uint32_t insertLength;
  const uint8_t* data;
};

struct ActionRecord {
  uint32_t at;  // the record's position in the merge file
  uint16_t code;
  MergeAction action;
};

enum class RecordRead { RECORD, END, TRUNCATED, UNKNOWN_CODE };

struct RecordCursor {
  MergeImage merge;
  uint32_t at;  // where the next record starts
};

// A cursor on the record at `firstActionAt` (FirstActionAt, merge_checks.h).
RecordCursor RecordsFrom(const MergeImage& merge, uint32_t firstActionAt);

// Reads the record at the cursor into *record and moves past it: RECORD. At
// the end of the file: END. A record that runs past the end of the file, or
// whose code is unknown, can't be measured, so the cursor stays on it:
// TRUNCATED or UNKNOWN_CODE, with its position (and code, where it has one)
// in *record. Nothing is read outside the merge file, whatever it holds.
RecordRead NextRecord(RecordCursor* cursor, ActionRecord* record);
