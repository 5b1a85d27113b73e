#include "console_start.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Only a console of its own keeps the window open and moves the run to the
// merge file's folder, which keeps a root's separator.
TEST(ConsoleStart, OwnConsoleOnlyKeepsItOpenAndEntersTheMergeFilesFolder) {
  const struct {
    unsigned processes;
    const char* mergePath;
    bool keepOpen;
    const char* folder;
    const char* mergePathThere;
  } cases[] = {
      {0, "C:\\mods\\m.mrg", false, "", "C:\\mods\\m.mrg"},
      {2, "C:\\mods\\m.mrg", false, "", "C:\\mods\\m.mrg"},
      {3, "mods/m.mrg", false, "", "mods/m.mrg"},
      {0, nullptr, false, "", nullptr},
      {1, nullptr, true, "", nullptr},
      {1, "m.mrg", true, "", "m.mrg"},
      {1, "C:m.mrg", true, "", "C:m.mrg"},
      {1, "C:\\Games\\data\\m.mrg", true, "C:\\Games\\data", "m.mrg"},
      {1, "C:/Games/data/m.mrg", true, "C:/Games/data", "m.mrg"},
      {1, "mods\\m.mrg", true, "mods", "m.mrg"},
      {1, "C:\\m.mrg", true, "C:\\", "m.mrg"},
      {1, "\\m.mrg", true, "\\", "m.mrg"},
      {1, "/m.mrg", true, "/", "m.mrg"},
      {1, "\\\\server\\share\\m.mrg", true, "\\\\server\\share", "m.mrg"},
      {1, "C:\\Games\\data\\", true, "C:\\Games\\data", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.processes) + " " +
                 (c.mergePath ? c.mergePath : "none"));
    ConsoleStart start = StartOf(c.processes, c.mergePath);
    EXPECT_EQ(start.keepOpen, c.keepOpen);
    EXPECT_EQ(start.folder, c.folder);
    EXPECT_STREQ(start.mergePath, c.mergePathThere);
  }
}

}  // namespace
