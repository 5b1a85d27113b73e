// Every message of the tool goes to standard output through here.
#pragma once

// Prints a message and flushes it at once, so that what a run said stays
// on record whatever happens to the process next.
void Report(const char* text);

// Ends the line a message left open (the copy's message has no line end), so
// that what follows begins a line of its own.
void EndOpenLine();

#include "journal/rewrite_mark.h"
#include "words/vorandel_words.h"

// Reports one of Vorandel's messages.
void Say(VorandelSays message, const SaidOf& of);
void Say(MarkMessage message, const RunNames& names, unsigned long error);
