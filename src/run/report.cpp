#include "report.h"

#include <cstdarg>
#include <cstring>

#include "system.h"

namespace {

// Whether the last message printed left its line open.
bool lineOpen = false;

void Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PrintText(Stream::STANDARD_OUTPUT, format, arguments);
  va_end(arguments);
  // A message that can't be written has nowhere else to go; the exit status
  // still tells the outcome.
  (void)FlushText(Stream::STANDARD_OUTPUT);
}

}  // namespace

void Report(const char* text) {
  size_t length = strlen(text);
  if (length == 0) return;
  Print("%s", text);
  lineOpen = text[length - 1] != '\n';
}

void EndOpenLine() {
  if (lineOpen) Report("\n");
}

void Say(VorandelSays message, const SaidOf& of) {
  char text[SAYS_TEXT_MAX];
  FormatVorandel(message, of, text, sizeof text);
  Report(text);
}

void Say(MarkMessage message, const RunNames& names, unsigned long error) {
  char text[MARK_MESSAGE_MAX];
  FormatMarkMessage(message, names, error, text, sizeof text);
  Report(text);
}
