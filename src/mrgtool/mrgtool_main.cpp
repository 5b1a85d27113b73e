// mrgtool: makes, inspects, checks, inverts and combines merge files.
#include <cstdio>
#include <cstring>

#include "mrgtool_commands.h"
#include "mrgtool_status.h"

#ifndef MRGTOOL_VERSION
#define MRGTOOL_VERSION "unknown"
#endif

namespace {

const char TOOL_HELP[] =
    "Usage: mrgtool COMMAND ARGUMENTS...\n"
    "\n"
    "Makes, inspects, checks, inverts and combines the merge files that Vorandel\n"
    "applies to a level.\n"
    "\n"
    "Commands:\n"
    "  make ORIGINAL MODIFIED -o OUT.mrg [--name LEVEL]\n"
    "                       write a merge file that turns ORIGINAL into MODIFIED\n"
    "  show FILE.mrg [--json]\n"
    "                       list the level name and the actions of a merge file\n"
    "  check FILE.mrg [LEVEL]\n"
    "                       check a merge file against its level as Vorandel does\n"
    "  invert FILE.mrg ORIGINAL -o UNDO.mrg\n"
    "                       write the merge file that undoes FILE.mrg\n"
    "  combine A.mrg B.mrg... -o OUT.mrg\n"
    "                       join merge files for one level into one merge file\n"
    "\n"
    "  mrgtool COMMAND --help   describes a command\n"
    "  mrgtool --version        prints the version\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on a wrong command line.\n";

struct Command {
  const char* name;
  size_t operandsMin;
  size_t operandsMax;
  bool takesOutput;  // -o FILE, then required
  bool takesName;
  bool takesJson;
  const char* usage;
  const char* help;
};

constexpr size_t MANY = static_cast<size_t>(-1);

const Command COMMANDS[] = {
    {"make", 2, 2, true, true, false,
     "mrgtool make ORIGINAL MODIFIED -o OUT.mrg [--name LEVEL]",
     "Writes OUT.mrg, a merge file that turns ORIGINAL into MODIFIED byte for byte.\n"
     "The merge file names the level LEVEL, by default ORIGINAL's file name without\n"
     "its folders; Vorandel opens the level by that name in the folder it runs in.\n"
     "A level name has 1 to 123 characters, is not an absolute path and has no\n"
     "'..' component. The merge file is checked against both files before it is\n"
     "written, and written whole or not at all. Identical files give a merge file\n"
     "without actions.\n"
     "\n"
     "  -o, --output OUT.mrg   the merge file to write (replaced if it exists)\n"
     "  --name LEVEL           the level name to put in the merge file\n"},
    {"show", 1, 1, false, false, true, "mrgtool show FILE.mrg [--json]",
     "Prints the level name, the number of actions, the bytes removed and inserted,\n"
     "the change in the level's size and a table of the actions: the record's\n"
     "position in the merge file, offset, removeLength, insertLength and the first\n"
     "bytes of data in hex and as text.\n"
     "\n"
     "  --json   print the same as one JSON object; dataHex and dataText hold at\n"
     "           most the first 8 bytes of data\n"},
    {"check", 1, 2, false, false, false, "mrgtool check FILE.mrg [LEVEL]",
     "Runs Vorandel's checks on FILE.mrg against LEVEL (by default the level the\n"
     "merge file names, from the current folder), without writing anything. Prints\n"
     "the size the level would have and exits with 0, or prints Vorandel's message\n"
     "for the first fault and exits with 1. Both go to standard output; a file that\n"
     "can't be read is reported on standard error.\n"},
    {"invert", 2, 2, true, false, false, "mrgtool invert FILE.mrg ORIGINAL -o UNDO.mrg",
     "Writes UNDO.mrg, a merge file that turns the level FILE.mrg makes of ORIGINAL\n"
     "back into ORIGINAL: the uninstall of a mod. ORIGINAL is the level as it was\n"
     "before FILE.mrg was applied.\n"
     "\n"
     "  -o, --output UNDO.mrg   the merge file to write (replaced if it exists)\n"},
    {"combine", 1, MANY, true, false, false, "mrgtool combine A.mrg B.mrg... -o OUT.mrg",
     "Writes OUT.mrg, one merge file with the actions of all the given merge files,\n"
     "which must name the same level. When two of them change overlapping ranges of\n"
     "the level, or both insert at the same offset, the order of their changes is\n"
     "unclear: combine names both files and the level offsets and writes nothing.\n"
     "\n"
     "  -o, --output OUT.mrg   the merge file to write (replaced if it exists)\n"},
};

int UsageError(const Command* command, const char* format, const char* detail) {
  fprintf(stderr, "mrgtool: ");
  fprintf(stderr, format, detail);
  if (command != nullptr)
    fprintf(stderr, "\nUsage: %s\nTry 'mrgtool %s --help'.\n", command->usage,
            command->name);
  else
    fprintf(stderr, "\nTry 'mrgtool --help'.\n");
  return MRGTOOL_USAGE;
}

// "--output=X" gives X for "--output"; nullptr when `arg` is another option.
const char* InlineValue(const char* arg, const char* option) {
  size_t length = strlen(option);
  return strncmp(arg, option, length) == 0 && arg[length] == '=' ? arg + length + 1
                                                                 : nullptr;
}

int RunCommand(const Command& command, int argc, char** argv) {
  CommandLine line{{}, nullptr, nullptr, false};
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      line.operands.push_back(arg);
      continue;
    }
    if (strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      printf("Usage: %s\n\n%s", command.usage, command.help);
      return MRGTOOL_OK;
    } else if (command.takesJson && strcmp(arg, "--json") == 0) {
      line.json = true;
    } else if (command.takesOutput &&
               (strcmp(arg, "-o") == 0 || strcmp(arg, "--output") == 0 ||
                InlineValue(arg, "--output") != nullptr)) {
      if (line.output != nullptr) return UsageError(&command, "%s given twice", "-o");
      line.output = InlineValue(arg, "--output");
      if (line.output == nullptr) {
        if (i + 1 == argc) return UsageError(&command, "%s needs a file name", arg);
        line.output = argv[++i];
      }
    } else if (command.takesName &&
               (strcmp(arg, "--name") == 0 || InlineValue(arg, "--name") != nullptr)) {
      if (line.name != nullptr) return UsageError(&command, "%s given twice", "--name");
      line.name = InlineValue(arg, "--name");
      if (line.name == nullptr) {
        if (i + 1 == argc) return UsageError(&command, "%s needs a level name", arg);
        line.name = argv[++i];
      }
    } else {
      return UsageError(&command, "unknown option '%s'", arg);
    }
  }
  if (line.operands.size() < command.operandsMin)
    return UsageError(&command, "%s: too few arguments", command.name);
  if (line.operands.size() > command.operandsMax)
    return UsageError(&command, "%s: too many arguments", command.name);
  if (command.takesOutput && line.output == nullptr)
    return UsageError(&command, "%s: the output file is missing (-o FILE)", command.name);
  if (line.output != nullptr && line.output[0] == '\0')
    return UsageError(&command, "%s: the output file name is empty", command.name);

  if (strcmp(command.name, "make") == 0) return RunMake(line);
  if (strcmp(command.name, "show") == 0) return RunShow(line);
  if (strcmp(command.name, "check") == 0) return RunCheck(line);
  if (strcmp(command.name, "invert") == 0) return RunInvert(line);
  return RunCombine(line);
}

int Run(int argc, char** argv) {
  if (argc < 2) return UsageError(nullptr, "%s", "a command is missing");
  const char* first = argv[1];
  if (strcmp(first, "-h") == 0 || strcmp(first, "--help") == 0 ||
      strcmp(first, "help") == 0) {
    fputs(TOOL_HELP, stdout);
    return MRGTOOL_OK;
  }
  if (strcmp(first, "--version") == 0) {
    printf("mrgtool %s\n", MRGTOOL_VERSION);
    return MRGTOOL_OK;
  }
  for (const Command& command : COMMANDS)
    if (strcmp(first, command.name) == 0) return RunCommand(command, argc, argv);
  return UsageError(nullptr, "unknown command '%s'", first);
}

}  // namespace

int main(int argc, char** argv) {
  int status = Run(argc, argv);
  // Output that never arrived is a failure, not a success.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "mrgtool: can't write to standard output\n");
    return MRGTOOL_FAILED;
  }
  return status;
}
