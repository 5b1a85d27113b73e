// Vorandel's run: a merge file applied to its level, with every verdict
// before anything is touched, under the level's lock and journal.
#pragma once

// Loads the merge file at `mergePath` and merges it into the level it names,
// as main's one argument asks; returns the process's exit status, after
// saying what happened.
int RunMergeFile(const char* mergePath);
