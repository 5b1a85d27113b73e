// mrgtool: makes, inspects, checks, inverts and combines merge files.
#include <cstring>
#include <string>

#include "console_start.h"
#include "differ/merge_make.h"
#include "mrgtool_commands.h"
#include "mrgtool_io.h"
#include "mrgtool_status.h"
#include "system.h"

#ifndef MRGTOOL_VERSION
#define MRGTOOL_VERSION "unknown"
#endif

namespace {

const char TOOL_HELP[] =
    "Usage: mrgtool COMMAND ARGUMENTS...\n"
    "\n"
    "Makes, inspects, checks, inverts, combines and stamps the merge files that\n"
    "Vorandel applies to a level, and lists and takes out the mods in a level.\n"
    "\n"
    "Commands:\n"
    "  make ORIGINAL MODIFIED -o OUT.mrg [--name LEVEL] [--allow-empty]\n"
    "                       write a merge file that turns ORIGINAL into MODIFIED\n"
    "  show FILE.mrg [--json]\n"
    "                       list the level name and the actions of a merge file\n"
    "  check FILE.mrg [LEVEL]\n"
    "                       check a merge file against its level as Vorandel does\n"
    "  invert FILE.mrg ORIGINAL -o UNDO.mrg\n"
    "                       write the merge file that undoes FILE.mrg\n"
    "  combine A.mrg B.mrg... -o OUT.mrg [--level LEVEL | --no-record]\n"
    "                       join merge files for one level into one merge file\n"
    "  stamp FILE.mrg LEVEL -o OUT.mrg\n"
    "                       add the record of its level to an older merge file\n"
    "\n"
    "For players, on a level and the history Vorandel keeps beside it:\n"
    "  apply A.mrg B.mrg... [--name PACK]\n"
    "                       put in a mod made of several merge files, whole or not at\n"
    "                       all\n"
    "  mods LEVEL [--json]  list the mods in the level, oldest first\n"
    "  remove MOD [LEVEL]   take one mod out, wherever it stands\n"
    "  original LEVEL       take every mod out: the level as before the first\n"
    "                       mod went in\n"
    "\n"
    "  mrgtool COMMAND --help   describes a command\n"
    "  mrgtool --version        prints the version\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on a wrong command line; check\n"
    "gives 3 for a level already merged and 4 for a level it is not for; make\n"
    "gives 5 for identical files; remove gives 6 where later mods must come out\n"
    "first.\n";

// Text wrapped into lines of at most 80 columns, for the terminal.
std::string WrapText(const std::string& text) {
  constexpr size_t WIDTH = 80;
  std::string out;
  size_t lineStart = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t wordEnd = text.find(' ', at);
    if (wordEnd == std::string::npos) wordEnd = text.size();
    if (out.size() > lineStart && out.size() - lineStart + 1 + (wordEnd - at) > WIDTH) {
      out += '\n';
      lineStart = out.size();
    } else if (out.size() > lineStart) {
      out += ' ';
    }
    out.append(text, at, wordEnd - at);
    at = wordEnd + 1;
  }
  return out;
}

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
     "mrgtool make ORIGINAL MODIFIED -o OUT.mrg [--name LEVEL] [--allow-empty]",
     "Writes OUT.mrg, a merge file that turns ORIGINAL into MODIFIED byte for byte,\n"
     "with the record of both: their sizes and fingerprints. The merge file names the\n"
     "level LEVEL, by default ORIGINAL's file name without its folders; Vorandel\n"
     "opens the level by that name in the folder it runs in.\n"
     "{name rules}\n"
     "The merge file is checked against both files before it is written, and written\n"
     "whole or not at all. Identical files, such as a modified level never saved,\n"
     "are refused with status 5: nothing is written.\n"
     "\n"
     "  -o, --output OUT.mrg   the merge file to write (replaced if it exists)\n"
     "  --name LEVEL           the level name to put in the merge file\n"
     "  --allow-empty          write a merge file without actions for identical files\n"},
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
     "merge file names, from the current folder), without writing anything, and\n"
     "gives Vorandel's verdict:\n"
     "  0  it applies: prints the size the level would have;\n"
     "  3  LEVEL already is what FILE.mrg makes (by its record, or, for a merge file\n"
     "     without one, because it makes LEVEL of LEVEL.bak): Vorandel changes nothing;\n"
     "  4  LEVEL is neither the level FILE.mrg was made for nor what it makes;\n"
     "  1  a fault: prints Vorandel's message for the first one.\n"
     "Verdicts and faults go to standard output; a file that can't be read is\n"
     "reported on standard error.\n"},
    {"invert", 2, 2, true, false, false, "mrgtool invert FILE.mrg ORIGINAL -o UNDO.mrg",
     "Writes UNDO.mrg, a merge file that turns the level FILE.mrg makes of ORIGINAL\n"
     "back into ORIGINAL: the uninstall of a mod. ORIGINAL is the level as it was\n"
     "before FILE.mrg was applied, such as its backup. A level Vorandel would not\n"
     "merge FILE.mrg into is refused, as check judges it: one its record names as\n"
     "another, or the level FILE.mrg makes (for a merge file without a record, one it\n"
     "makes of ORIGINAL.bak), or one it would make 4 GiB or larger. UNDO.mrg has a\n"
     "record of its own.\n"
     "\n"
     "  -o, --output UNDO.mrg   the merge file to write (replaced if it exists)\n"},
    {"combine", 1, MANY, true, false, false,
     "mrgtool combine A.mrg B.mrg... -o OUT.mrg [--level LEVEL | --no-record]",
     "Writes OUT.mrg, one merge file with the actions of all the given merge files,\n"
     "which must name the same level. When two of them change overlapping ranges of\n"
     "the level, or both insert at the same offset, the order of their changes is\n"
     "unclear: combine names both files, the level offsets and the actions' record\n"
     "positions, and writes nothing.\n"
     "What several merge files make together is known only from the level, so OUT.mrg\n"
     "gets the record of its level from --level: each merge file is checked against\n"
     "LEVEL as check does, and the record holds LEVEL's fingerprint and that of what\n"
     "OUT.mrg makes of it. Without --level, a single merge file keeps its record,\n"
     "and for anything else combine writes nothing unless --no-record is given.\n"
     "\n"
     "  -o, --output OUT.mrg   the merge file to write (replaced if it exists)\n"
     "  --level LEVEL          the level the merge files were made for\n"
     "  --no-record            write OUT.mrg without a record of its level\n"},
    {"stamp", 2, 2, true, false, false, "mrgtool stamp FILE.mrg LEVEL -o OUT.mrg",
     "Writes OUT.mrg, FILE.mrg with the record of its level added: the size and\n"
     "fingerprint of LEVEL, the level FILE.mrg was made for, and of the level it\n"
     "makes of it. FILE.mrg must apply to LEVEL as check judges it: the level it\n"
     "makes (by its record, or of LEVEL.bak), one its record names as another, and\n"
     "one it would make 4 GiB or larger are refused. The name and the actions stay\n"
     "as they are.\n"
     "\n"
     "  -o, --output OUT.mrg   the merge file to write (replaced if it exists)\n"},
    {"apply", 1, MANY, false, true, false, "mrgtool apply A.mrg B.mrg... [--name PACK]",
     "Puts in a mod made of several merge files, one or more for each level it changes,\n"
     "as one pack: every level holds all of it afterwards, or none of it. Every merge\n"
     "file is judged first, as Vorandel judges it; where one can't go in, nothing\n"
     "changes, and a line for each says why. Merge files that their levels hold already\n"
     "are left as they are. Then every level is locked, backed up and marked, the "
     "pack's\n"
     "journal names them all, every level is rewritten, and the pack counts once its\n"
     "journal is gone: a run stopped anywhere is put right by the next run on any of\n"
     "its levels, for every level alike. Two merge files for one level go in one after\n"
     "the other, in the order given; where they change the same bytes, nothing changes.\n"
     "Each level's history records its part of the pack, and mrgtool remove given any\n"
     "part, or the pack's name, takes the whole pack out.\n"
     "\n"
     "  --name PACK   the pack's name, by default the folder its merge files share, or\n"
     "                the first merge file's name\n"},
    {"mods", 1, 1, false, false, true, "mrgtool mods LEVEL [--json]",
     "Lists the mods in LEVEL, oldest first, from the history Vorandel keeps beside it\n"
     "(LEVEL.history): each merge file's name, when it went in, how many bytes it took\n"
     "out and put in, and which later mods changed bytes it wrote, which must come out\n"
     "before it can. Says so where the level changed since the history was written.\n"
     "\n"
     "  --json   print the same as one JSON object\n"},
    {"remove", 1, 2, false, false, false, "mrgtool remove MOD [LEVEL]",
     "Takes one mod out of LEVEL, wherever it stands: MOD is its merge file, or its\n"
     "name as mrgtool mods lists it. LEVEL is by default the level MOD's merge file\n"
     "names. The mods put in after it stay in. A part of a pack takes the whole pack\n"
     "out. The run backs the level up, proves the result before it writes it, and\n"
     "can be stopped anywhere, as Vorandel's. Where later mods changed bytes MOD\n"
     "wrote, nothing changes: it names them, to take out first, and exits with 6.\n"},
    {"original", 1, 1, false, false, false, "mrgtool original LEVEL",
     "Takes every mod out of LEVEL: the level as it was before the first mod its\n"
     "history records, proven by its fingerprint, as remove does.\n"},
};

// A command's help, with the level name rules as make states them.
std::string HelpOf(const Command& command) {
  std::string help = command.help;
  const std::string token = "{name rules}";
  size_t at = help.find(token);
  if (at != std::string::npos) help.replace(at, token.size(), WrapText(LevelNameRules()));
  return help;
}

int UsageError(const Command* command, const char* format, const char* detail) {
  Print(Stream::STANDARD_ERROR, "mrgtool: ");
  Print(Stream::STANDARD_ERROR, format, detail);
  if (command != nullptr)
    Print(Stream::STANDARD_ERROR, "\nUsage: %s\nTry 'mrgtool %s --help'.\n",
          command->usage, command->name);
  else
    Print(Stream::STANDARD_ERROR, "\nTry 'mrgtool --help'.\n");
  return MRGTOOL_USAGE;
}

// "--output=X" gives X for "--output"; nullptr when `arg` is another option.
const char* InlineValue(const char* arg, const char* option) {
  size_t length = strlen(option);
  return strncmp(arg, option, length) == 0 && arg[length] == '=' ? arg + length + 1
                                                                 : nullptr;
}

int RunCommand(const Command& command, int argc, char** argv) {
  CommandLine line{{}, nullptr, nullptr, false, nullptr, false, false};
  const bool makes = strcmp(command.name, "make") == 0;
  const bool combines = strcmp(command.name, "combine") == 0;
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
      Print(Stream::STANDARD_OUTPUT, "Usage: %s\n\n%s", command.usage,
            HelpOf(command).c_str());
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
    } else if (combines &&
               (strcmp(arg, "--level") == 0 || InlineValue(arg, "--level") != nullptr)) {
      if (line.level != nullptr) return UsageError(&command, "%s given twice", "--level");
      line.level = InlineValue(arg, "--level");
      if (line.level == nullptr) {
        if (i + 1 == argc) return UsageError(&command, "%s needs a file name", arg);
        line.level = argv[++i];
      }
    } else if (combines && strcmp(arg, "--no-record") == 0) {
      line.noRecord = true;
    } else if (makes && strcmp(arg, "--allow-empty") == 0) {
      line.allowEmpty = true;
    } else {
      return UsageError(&command, "unknown option '%s'", arg);
    }
  }
  if (line.level != nullptr && line.noRecord)
    return UsageError(&command, "%s", "--level and --no-record exclude each other");
  if (line.level != nullptr && line.level[0] == '\0')
    return UsageError(&command, "%s: the level file name is empty", command.name);
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
  if (strcmp(command.name, "stamp") == 0) return RunStamp(line);
  if (strcmp(command.name, "mods") == 0) return RunMods(line);
  if (strcmp(command.name, "apply") == 0) return RunApply(line);
  if (strcmp(command.name, "remove") == 0) return RunRemove(line);
  if (strcmp(command.name, "original") == 0) return RunOriginal(line);
  return RunCombine(line);
}

// A console of its own is one Explorer opened for a double-click: there the
// help is what a missing command calls for.
int Run(int argc, char** argv, const ConsoleStart& start) {
  if (argc < 2 && start.keepOpen) {
    Print(Stream::STANDARD_OUTPUT, "%s", TOOL_HELP);
    return MRGTOOL_OK;
  }
  if (argc < 2) return UsageError(nullptr, "%s", "a command is missing");
  const char* first = argv[1];
  if (strcmp(first, "-h") == 0 || strcmp(first, "--help") == 0 ||
      strcmp(first, "help") == 0) {
    Print(Stream::STANDARD_OUTPUT, "%s", TOOL_HELP);
    return MRGTOOL_OK;
  }
  if (strcmp(first, "--version") == 0) {
    Print(Stream::STANDARD_OUTPUT, "mrgtool %s\n", MRGTOOL_VERSION);
    return MRGTOOL_OK;
  }
  for (const Command& command : COMMANDS)
    if (strcmp(first, command.name) == 0) return RunCommand(command, argc, argv);
  return UsageError(nullptr, "unknown command '%s'", first);
}

}  // namespace

int main(int argc, char** argv) {
  SetUpProcess();
  ConsoleStart start = StartOf(ConsoleProcessCount(), nullptr);
  int status = Run(argc, argv, start);
  // Output that never arrived is a failure, not a success.
  if (!FlushText(Stream::STANDARD_OUTPUT)) {
    Print(Stream::STANDARD_ERROR, "mrgtool: can't write to standard output\n");
    status = MRGTOOL_FAILED;
  }
  if (start.keepOpen) {
    Print(Stream::STANDARD_OUTPUT, "%s", PRESS_ENTER);
    (void)FlushText(Stream::STANDARD_OUTPUT);
    WaitForEnter();
  }
  return status;
}
