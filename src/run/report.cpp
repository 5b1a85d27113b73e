#include "report.h"

#include <cstdarg>

#include "system.h"

void Report(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  PrintText(Stream::STANDARD_OUTPUT, format, arguments);
  va_end(arguments);
  // A message that can't be written has nowhere else to go; the exit status
  // still tells the outcome.
  (void)FlushText(Stream::STANDARD_OUTPUT);
}

void Say(VorandelSays message, const SaidOf& of) {
  char text[SAYS_TEXT_MAX];
  FormatVorandel(message, of, text, sizeof text);
  Report("%s", text);
}

void Say(MarkMessage message, const RunNames& names, unsigned long error) {
  char text[MARK_MESSAGE_MAX];
  FormatMarkMessage(message, names, error, text, sizeof text);
  Report("%s", text);
}
