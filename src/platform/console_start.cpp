#include "console_start.h"

ConsoleStart StartOf(unsigned consoleProcesses, const char* mergePath) {
  ConsoleStart start{consoleProcesses == 1, {}, mergePath};
  if (!start.keepOpen || mergePath == nullptr) return start;
  const char* name = mergePath;
  for (const char* at = mergePath; *at != '\0'; ++at)
    if (*at == '\\' || *at == '/') name = at + 1;
  if (name == mergePath) return start;
  auto length = static_cast<size_t>(name - 1 - mergePath);
  // A root keeps its separator: "C:" alone is drive C's current folder.
  if (length == 0 || mergePath[length - 1] == ':') ++length;
  start.folder.assign(mergePath, length);
  start.mergePath = name;
  return start;
}
