// mrgtool's commands, each run with its parsed command line and returning
// the process's exit status (mrgtool_status.h).
#pragma once

#include <vector>

struct CommandLine {
  std::vector<const char*> operands;
  const char* output;  // -o
  const char* name;    // --name
  bool json;           // --json
  const char* level;   // combine's --level
  bool noRecord;       // combine's --no-record
  bool allowEmpty;     // make's --allow-empty
};

int RunMake(const CommandLine& line);
int RunShow(const CommandLine& line);
int RunCheck(const CommandLine& line);
int RunInvert(const CommandLine& line);
int RunCombine(const CommandLine& line);
int RunStamp(const CommandLine& line);
int RunMods(const CommandLine& line);
int RunRemove(const CommandLine& line);
int RunOriginal(const CommandLine& line);
int RunApply(const CommandLine& line);
