// Vorandel: patches a level file with a merge file, after backing it up.
#include "console_start.h"
#include "exit_status.h"
#include "merge_run.h"
#include "report.h"
#include "system.h"
#include "words/vorandel_words.h"

namespace {

// The usage text, or the merge; with a console of its own, in the merge
// file's folder.
int Run(const ConsoleStart& start) {
  if (start.mergePath == nullptr) {
    Say(VorandelSays::USAGE, {});
    return STATUS_OK;
  }
  // The level's name is relative to the folder the run works in: where that
  // can't be the merge file's, nothing is done.
  if (!start.folder.empty()) {
    DWORD error = EnterFolder(start.folder.c_str());
    if (error != NO_ERROR) {
      Say(VorandelSays::FOLDER_FAILED, {start.folder.c_str(), {}, error});
      return STATUS_FAILED;
    }
  }
  return RunMergeFile(start.mergePath);
}

}  // namespace

int main(int argc, char** argv) {
  SetUpProcess();
  ConsoleStart start = StartOf(ConsoleProcessCount(), argc < 2 ? nullptr : argv[1]);
  int status = Run(start);
  if (start.keepOpen) {
    EndOpenLine();
    Report(PRESS_ENTER);
    WaitForEnter();
  }
  return status;
}
