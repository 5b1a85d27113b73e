// Every message of the tool goes to standard output through here.
#pragma once

#if defined(__GNUC__)
#define REPORT_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define REPORT_FORMAT
#endif

// Prints a message and flushes it at once, so that what a run said stays
// on record whatever happens to the process next.
void Report(const char* format, ...) REPORT_FORMAT;

#include "journal/rewrite_mark.h"
#include "words/vorandel_words.h"

// Reports one of Vorandel's messages.
void Say(VorandelSays message, const SaidOf& of);
void Say(MarkMessage message, const RunNames& names, unsigned long error);
