// Fuzz target: arbitrary bytes as the mark beside a level, as a mod's archive
// could leave them: read back, and decided on against a level and a backup.
//
// Input: byte 0 chooses the level and the backup the decision is given (its
// low bits: the level is the backup, the merged level, or missing; the next:
// the backup is whole, missing or changed); the rest is the mark.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "journal/rewrite_mark.h"
#include "words/vorandel_words.h"

namespace {

void Require(bool holds, const char* what) {
  if (holds) return;
  (void)fprintf(stderr, "mark_fuzz: %s\n", what);
  abort();
}

const uint8_t BACKUP[] = "0123456789";
const uint8_t MERGED[] = "0123abc6789";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  RunNames names;
  NameRun("maps/l.lvl", false, &names);
  // An exactly sized copy: any read past its end is a sanitizer report.
  std::vector<uint8_t> mark(data + 1, data + size);
  auto* bytes = new uint8_t[mark.size()];
  if (!mark.empty()) memcpy(bytes, mark.data(), mark.size());

  RewriteMark read{};
  MarkRead kind = ReadMark(names, bytes, mark.size(), &read);
  // A whole mark is exactly what a run writes for what it read.
  if (kind == MarkRead::WHOLE) {
    char text[MARK_TEXT_MAX];
    size_t length = FormatMark(names, read, text, sizeof text);
    Require(length == mark.size() && memcmp(text, bytes, length) == 0,
            "a mark read as whole is not what a run writes");
  }

  const FoundFile missing{FileState::MISSING, 2, nullptr, 0};
  const FoundFile levels[] = {
      {FileState::LOADED, 0, BACKUP, 10}, {FileState::LOADED, 0, MERGED, 11}, missing};
  const FoundFile backups[] = {
      {FileState::LOADED, 0, BACKUP, 10}, missing, {FileState::LOADED, 0, MERGED, 11}};
  const FoundFile& level = levels[(data[0] & 3) % 3];
  const FoundFile& backup = backups[((data[0] >> 2) & 3) % 3];
  MarkDecision decision = DecideOnMark(
      names, {FileState::LOADED, 0, bytes, static_cast<uint32_t>(mark.size())}, level,
      backup);
  // Nothing but a whole mark of this version ever lets a run write the level.
  if (decision.plan == MarkPlan::RESTORE || decision.plan == MarkPlan::CLEAR_MARK)
    Require(kind == MarkRead::WHOLE, "a run acts on a mark that is not whole");
  if (decision.plan == MarkPlan::RESTORE)
    Require(backup.state == FileState::LOADED &&
                SameFingerprint(FingerprintOf(backup.bytes, backup.size), read.backup),
            "a restore from a backup the mark doesn't describe");
  Require(decision.plan != MarkPlan::NOTHING, "a mark that is there was passed over");
  char message[MARK_MESSAGE_MAX];
  FormatMarkMessage(decision.message, names, decision.error, message, sizeof message);
  delete[] bytes;
  return 0;
}
