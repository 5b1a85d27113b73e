#include "words/tool_messages.h"

#include <cstdio>

#include "format/merge_checks.h"
#include "identity/level_record.h"

namespace {

// What a Windows error number means, in mrgtool's words.
const char* ErrorMeaning(unsigned long error) {
  switch (error) {
    case 2: return "file not found";
    case 3: return "folder in the path not found";
    case 4: return "too many open files";
    case 5: return "access denied";
    case 8: return "not enough memory";
    case 19: return "the medium is write-protected";
    case 32: return "the file is in use by another program";
    case 80: return "the file exists";
    case 112: return "the disk is full";
    case 206: return "file name too long";
    case 223: return "file too large for the system's limit";
    case 1117: return "input/output error";
    default: return "system error";
  }
}

}  // namespace

void FormatVorandel(VorandelSays message, const SaidOf& of, char* text, size_t size) {
  const char* name = of.name;
  const char* other = of.other;
  unsigned long error = of.error;
  switch (message) {
    case VorandelSays::USAGE:
      snprintf(text, size,
               "Usage:\n\tVorandel.exe [file.mrg]\n\n"
               "With [file.mrg] the file to be merged with the kelvarin level.\n");
      break;
    case VorandelSays::FILE_NOT_FOUND:
      snprintf(text, size, "File %s not found.\n", name);
      break;
    case VorandelSays::SIZE_FAILED:
      snprintf(text, size, "Can't get the size of the file (error %lu).\n", error);
      break;
    case VorandelSays::FILE_TOO_LARGE:
      snprintf(text, size, "File %s is too large.\n", name);
      break;
    case VorandelSays::READ_FAILED:
      snprintf(text, size, "Can't read the data (error %lu).\n", error);
      break;
    case VorandelSays::BACKING_UP:
      snprintf(text, size, "Backuping %s to %s\n", name, other);
      break;
    case VorandelSays::COPY_FAILED:
      snprintf(text, size, "Can't copy the file %s to %s (error %lu)", name, other,
               error);
      break;
    case VorandelSays::PROCESSING:
      snprintf(text, size, "Processing level: %s\n", name);
      break;
    case VorandelSays::DONE: snprintf(text, size, "Done !\n"); break;
    case VorandelSays::WRITE_FAILED:
      snprintf(text, size,
               "Can't write the level %s (error %lu); the level is unchanged.\n", name,
               error);
      break;
    case VorandelSays::NOR_RESTORED:
      snprintf(
          text, size,
          "Can't write the level %s (error %lu), nor restore it (error %lu); the next "
          "run restores it from %s first.\n",
          name, error, of.error2, other);
      break;
    case VorandelSays::MARK_WRITE_FAILED:
      snprintf(text, size,
               "Can't write the file %s (error %lu); the level is unchanged.\n", name,
               error);
      break;
    case VorandelSays::ALREADY_MERGED:
      snprintf(text, size,
               "%s already holds what this merge file makes: nothing to do, nothing "
               "changed.\n",
               name);
      break;
    case VorandelSays::NOT_ITS_LEVEL:
      snprintf(
          text, size,
          "%s is not the level this merge file was made for, nor the one it makes: "
          "nothing changed. Use the merge file made for this version of the level.\n",
          name);
      break;
    case VorandelSays::RECORD_DISAGREES:
      snprintf(text, size,
               "The actions of this merge file don't make of %s the level its record "
               "describes: the merge file is damaged, nothing changed.\n",
               name);
      break;
    case VorandelSays::RUN_LOCKED:
      snprintf(
          text, size,
          "Another run of Vorandel is working on %s: nothing changed; run this merge "
          "file again once it has ended.\n",
          name);
      break;
    case VorandelSays::FOLDER_FAILED:
      snprintf(text, size, "Can't enter the folder %s of the merge file (error %lu).\n",
               name, error);
      break;
    case VorandelSays::LEVEL_CHANGED:
      snprintf(text, size,
               "%s changed while it was copied to %s; the level is unchanged: run the "
               "merge file again once no other program writes to it.\n",
               name, other);
      break;
  }
}

std::string FormatMrgtool(MrgtoolSays message, const SaidOf& of) {
  char text[2048];
  // A level name reaches the terminal with its control characters escaped.
  char escaped[ESCAPED_NAME_MAX];
  const char* name = of.name;
  if (message == MrgtoolSays::NAME_REFUSED || message == MrgtoolSays::NAME_REFUSED_GIVE ||
      message == MrgtoolSays::NAME_REFUSED_FIELD ||
      message == MrgtoolSays::NAME_NOT_ASCII ||
      message == MrgtoolSays::NO_ROOM_FOR_RECORD ||
      message == MrgtoolSays::NO_ROOM_FOR_RECORD_TO_STAMP) {
    EscapeName(name, escaped, sizeof escaped);
    name = escaped;
  }
  const char* other = of.other;
  unsigned long error = of.error;
  switch (message) {
    case MrgtoolSays::NAME_REFUSED:
    case MrgtoolSays::NAME_REFUSED_GIVE:
    case MrgtoolSays::NAME_REFUSED_FIELD:
      snprintf(text, sizeof text, "can't use the level name '%s': %s%s", name, other,
               message == MrgtoolSays::NAME_REFUSED_GIVE ? "; give one with --name"
               : message == MrgtoolSays::NAME_REFUSED_FIELD
                   ? "; give one in the Level name field"
                   : "");
      break;
    case MrgtoolSays::NAME_NOT_ASCII:
      snprintf(
          text, sizeof text,
          "warning: the level name '%s' is not plain ASCII: Vorandel.exe reads its bytes "
          "in each player's code page, where they may name another file",
          name);
      break;
    case MrgtoolSays::MERGE_TOO_LARGE:
      snprintf(text, sizeof text,
               "the merge file would be too large for Vorandel (4 GiB - 1 byte or more)");
      break;
    case MrgtoolSays::NOT_REPRODUCED:
      snprintf(
          text, sizeof text,
          "internal error: the merge file made does not turn %s into %s; nothing written",
          name, other);
      break;
    case MrgtoolSays::CANT_OPEN:
    case MrgtoolSays::CANT_SIZE:
    case MrgtoolSays::CANT_READ:
    case MrgtoolSays::CANT_WRITE:
    case MrgtoolSays::CANT_REPLACE: {
      const char* failed = message == MrgtoolSays::CANT_OPEN    ? "open"
                           : message == MrgtoolSays::CANT_SIZE  ? "get the size of"
                           : message == MrgtoolSays::CANT_READ  ? "read"
                           : message == MrgtoolSays::CANT_WRITE ? "write"
                                                                : "replace";
      snprintf(text, sizeof text, "can't %s %s: %s (error %lu)", failed, name,
               ErrorMeaning(error), error);
      break;
    }
    case MrgtoolSays::FILE_TOO_LARGE:
      snprintf(text, sizeof text,
               "%s is too large: merge files and levels stay below 4 GiB - 1 byte", name);
      break;
    case MrgtoolSays::FAULT: {
      std::string line(other);
      while (!line.empty() && line.back() == '\n') line.pop_back();
      for (char& c : line)
        if (c == '\n') c = ' ';
      snprintf(text, sizeof text, "%s: %s", name, line.c_str());
      break;
    }
    case MrgtoolSays::NO_ROOM_FOR_RECORD:
      snprintf(text, sizeof text,
               "warning: the level name '%s' leaves no room for the record of the level "
               "(%lu characters at most): Vorandel can't tell by this merge file a level "
               "already merged, or of another version",
               name, static_cast<unsigned long>(RECORD_NAME_CHARS_MAX));
      break;
    case MrgtoolSays::NOT_MADE_FOR:
      snprintf(text, sizeof text, "%s is not the level %s was made for; nothing written",
               name, other);
      break;
    case MrgtoolSays::GIVEN_ITS_RESULT:
      snprintf(text, sizeof text,
               "%s is the level %s makes, not the one it was made for: give the level as "
               "it was before, such as its backup; nothing written",
               name, other);
      break;
    case MrgtoolSays::OTHER_VERSIONS:
      snprintf(text, sizeof text,
               "%s and %s are made for different versions of the level; nothing written",
               name, other);
      break;
    case MrgtoolSays::NO_ROOM_FOR_RECORD_TO_STAMP:
      snprintf(text, sizeof text,
               "%s: the level name '%s' leaves no room for the record of the level (%lu "
               "characters at most); nothing written",
               other, name, static_cast<unsigned long>(RECORD_NAME_CHARS_MAX));
      break;
    case MrgtoolSays::COMBINED_WITHOUT_RECORD:
      snprintf(text, sizeof text,
               "warning: %s has no record of its level, since what several merge files "
               "make together is known only from the level: add one with mrgtool stamp",
               name);
      break;
    case MrgtoolSays::NO_RECORD_TO_CHECK:
      snprintf(
          text, sizeof text,
          "warning: %s has no record of its level, so nothing tells whether %s is the "
          "level it was made for",
          name, other);
      break;
    case MrgtoolSays::RECORD_DISAGREES:
      snprintf(
          text, sizeof text,
          "%s: its actions don't make the level its record describes: the merge file "
          "is damaged; nothing written",
          name);
      break;
  }
  return text;
}
