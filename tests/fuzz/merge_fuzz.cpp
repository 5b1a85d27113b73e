// Fuzz target: arbitrary bytes as a merge file and a small level, through the
// tool's own checks, the record of the level, the verdicts and the action
// walk, compared with a plain model of the format.
//
// Input: byte 0 is the level's size (0 to 255), the rest is the merge file. The
// level's bytes are all distinct, so a slice taken from the wrong place shows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/apply_actions.h"
#include "format/merge_checks.h"
#include "format/merge_format.h"
#include "identity/level_verdict.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

using Bytes = std::vector<uint8_t>;

void Require(bool holds, const char* what) {
  if (holds) return;
  (void)fprintf(stderr, "merge_fuzz: %s\n", what);
  abort();
}

uint8_t LevelByte(uint32_t at) { return static_cast<uint8_t>(at * 7 + 1); }

// Little-endian field of `width` bytes at `at`; the caller has checked the bounds.
uint64_t Field(const Bytes& file, uint64_t at, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = value << 8 | file[at + static_cast<uint64_t>(i)];
  return value;
}

struct Verdict {
  bool nameValid = false;
  FaultKind fault = FaultKind::NONE;
  uint64_t faultAt = 0;
  uint64_t code = 0;
  Bytes merged;
};

// The format's rules, read straight from the file layout with 64-bit sums,
// independently of the tool's code.
Verdict Model(const Bytes& merge, const Bytes& level) {
  Verdict v;
  if (merge.size() < 4) return v;
  uint64_t nameLength = Field(merge, 0, 4);
  if (nameLength < 1 || nameLength > 128 || 4 + nameLength > merge.size()) return v;
  uint64_t nameChars = 0;
  while (nameChars < nameLength && merge[4 + nameChars] != 0) ++nameChars;
  if (nameChars == nameLength || nameChars < 1 || nameChars > 123) return v;
  v.nameValid = true;

  uint64_t at = 4 + nameLength;
  uint64_t kept = 0;  // level bytes before this are written out or dropped
  while (at < merge.size()) {
    uint64_t left = merge.size() - at;
    v.faultAt = at;
    if (left < 2) {
      v.fault = FaultKind::TRUNCATED;
      return v;
    }
    v.code = Field(merge, at, 2);
    if (v.code != 2) {
      v.fault = FaultKind::UNKNOWN_CODE;
      return v;
    }
    if (left < 14 || 14 + Field(merge, at + 10, 4) > left) {
      v.fault = FaultKind::TRUNCATED;
      return v;
    }
    uint64_t offset = Field(merge, at + 2, 4);
    uint64_t removed = Field(merge, at + 6, 4);
    uint64_t inserted = Field(merge, at + 10, 4);
    if (offset < kept) {
      v.fault = FaultKind::MISPLACED;
      return v;
    }
    if (offset + removed > level.size()) {
      v.fault = FaultKind::PAST_LEVEL_END;
      return v;
    }
    for (uint64_t i = kept; i < offset; ++i) v.merged.push_back(level[i]);
    for (uint64_t i = 0; i < inserted; ++i) v.merged.push_back(merge[at + 14 + i]);
    kept = offset + removed;
    at += 14 + inserted;
  }
  for (uint64_t i = kept; i < level.size(); ++i) v.merged.push_back(level[i]);
  v.faultAt = 0;
  v.code = 0;
  return v;
}

// The record after the name's NUL, read straight from its layout: 0 none, 1
// whole (its fields in *fields: source size, source hash, result size,
// result hash), 2 damaged.
int ModelRecord(const Bytes& merge, Bytes* fields) {
  uint64_t fieldEnd = 4 + Field(merge, 0, 4);
  uint64_t at = 4;
  while (merge[at] != 0) ++at;
  ++at;
  const uint8_t marker[] = {0x7F, 'V', 'L', 'R'};
  if (fieldEnd - at < 4 || memcmp(&merge[at], marker, 4) != 0) return 0;
  if (fieldEnd - at < 6) return 2;
  uint64_t length = merge[at + 5];
  if (length > fieldEnd - at || length < 10) return 2;
  uint64_t check = Field(merge, at + length - 4, 4);
  if (check != static_cast<uint32_t>(XXH3_64bits(&merge[at], length - 4))) return 2;
  if (merge[at + 4] != 1) return 0;
  if (length != 50) return 2;
  fields->assign(merge.begin() + static_cast<ptrdiff_t>(at + 6),
                 merge.begin() + static_cast<ptrdiff_t>(at + 46));
  return 1;
}

Bytes FieldsOf(const Fingerprint& source, const Fingerprint& result) {
  Bytes fields;
  for (const Fingerprint* print : {&source, &result}) {
    for (int i = 0; i < 4; ++i)
      fields.push_back(static_cast<uint8_t>(print->size >> (8 * i)));
    fields.insert(fields.end(), print->hash, print->hash + FINGERPRINT_HASH_BYTES);
  }
  return fields;
}

bool Unchanged(const uint8_t* buffer, const Bytes& before) {
  return before.empty() || memcmp(buffer, before.data(), before.size()) == 0;
}

struct Sink {
  Bytes bytes;
  int slices = 0;
  int failAtSlice = -1;  // the slice whose write fails, or -1
};

bool Collect(void* context, const uint8_t* bytes, uint32_t count) {
  auto* sink = static_cast<Sink*>(context);
  Require(count > 0, "an empty slice was handed over");
  if (sink->slices++ == sink->failAtSlice) return false;
  sink->bytes.insert(sink->bytes.end(), bytes, bytes + count);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > UINT32_MAX) return 0;
  const Bytes original(data + 1, data + size);
  Bytes level(data[0]);
  for (uint32_t i = 0; i < level.size(); ++i) level[i] = LevelByte(i);
  const Bytes levelBefore = level;
  const Verdict want = Model(original, level);

  // Exactly sized heap copies, as the loader makes them: any read past the
  // end of either image is a sanitizer report.
  auto* mergeBuffer = new uint8_t[original.size()];
  if (!original.empty()) memcpy(mergeBuffer, original.data(), original.size());
  auto* levelBuffer = new uint8_t[level.size()];
  if (!level.empty()) memcpy(levelBuffer, level.data(), level.size());
  const MergeImage merge = {mergeBuffer, static_cast<uint32_t>(original.size())};
  const LevelImage image = {levelBuffer, static_cast<uint32_t>(level.size())};

  bool nameValid = HasValidLevelName(merge);
  Require(nameValid == want.nameValid, "level name verdict differs from the model");
  if (nameValid) {
    char name[NAME_FIELD_MAX];
    memcpy(name, merge.buffer + LEVEL_NAME_AT, ReadU32(merge.buffer + NAME_LENGTH_AT));
    (void)IsSafeLevelName(name, true);
    (void)IsSafeLevelName(name, false);

    Bytes wantFields;
    int wantRecord = ModelRecord(original, &wantFields);
    LevelRecord record;
    RecordFound found = FindLevelRecord(merge, &record);
    Require(static_cast<int>(found) == wantRecord, "record differs from the model");
    if (found == RecordFound::RECORD)
      Require(FieldsOf(record.source, record.result) == wantFields,
              "record's fields differ from the model");

    // The verdicts, with the level as its own backup: merged, it gives itself
    // only where the actions change nothing.
    if (found != RecordFound::DAMAGED) {
      for (const LevelImage* backup : {static_cast<const LevelImage*>(nullptr), &image}) {
        Judgement judgement = JudgeMerge(merge, image, backup);
        Fingerprint levelPrint = FingerprintOf(image.buffer, image.size);
        Require(SameFingerprint(judgement.level, levelPrint),
                "level's fingerprint differs");
        if (found == RecordFound::RECORD) {
          Require(judgement.verdict == JudgeByRecord(record, levelPrint),
                  "verdict differs from the record's");
        } else if (judgement.verdict != LevelVerdict::APPLIES) {
          Require(
              backup != nullptr && want.fault == FaultKind::NONE && want.merged == level,
              "a level found merged that its backup doesn't give");
        }
        if (judgement.verdict == LevelVerdict::APPLIES &&
            judgement.fault.kind == FaultKind::NONE)
          Require(
              SameFingerprint(judgement.merged,
                              FingerprintOf(want.merged.data(),
                                            static_cast<uint32_t>(want.merged.size()))),
              "merged level's fingerprint differs from the model's");
      }
    }

    uint32_t firstActionAt = FirstActionAt(merge);
    ActionFault fault = CheckActions(merge, firstActionAt, image.size);
    Require(fault.kind == want.fault, "fault kind differs from the model");
    Require(fault.recordAt == want.faultAt, "fault position differs from the model");
    if (fault.kind == FaultKind::UNKNOWN_CODE)
      Require(fault.code == want.code, "action code differs from the model");

    if (fault.kind == FaultKind::NONE) {
      Sink sink;
      Require(ApplyActions(image, merge, firstActionAt, Collect, &sink),
              "the walk failed with a writer that never fails");
      Require(sink.bytes == want.merged, "merged level differs from the model");

      // A writer that fails stops the walk at once.
      if (sink.slices > 0) {
        Sink failing;
        failing.failAtSlice = sink.slices / 2;
        Require(!ApplyActions(image, merge, firstActionAt, Collect, &failing),
                "a failed write was not passed on");
        Require(failing.slices == sink.slices / 2 + 1,
                "the walk went on after a failure");
      }
    }
  }

  // Neither image is ever written to, accepted or rejected.
  Require(Unchanged(mergeBuffer, original), "the merge file was changed");
  Require(Unchanged(levelBuffer, levelBefore), "the level was changed");
  delete[] mergeBuffer;
  delete[] levelBuffer;
  return 0;
}
