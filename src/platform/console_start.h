// What a program does when Windows gave it a console of its own: Explorer
// opens one for a program double-clicked or given a dropped file, and closes
// it as soon as the program ends, in whatever folder Explorer chose.
#pragma once

#include <string>

struct ConsoleStart {
  bool keepOpen;          // asks for Enter at the end, and waits for it
  std::string folder;     // the folder to enter first; empty: the current one
  const char* mergePath;  // the merge file, as named from that folder
};

// From ConsoleProcessCount() and the merge file given, or nullptr. With a
// console of its own the program keeps it open, and works in the merge
// file's folder, where its level is; otherwise nothing changes. '\' and '/'
// both separate, as on Windows, the only system that gives a console of its
// own.
ConsoleStart StartOf(unsigned consoleProcesses, const char* mergePath);
