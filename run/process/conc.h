// conc.h: concurrent runs of run on the same terminal.
#pragma once

#include <sys/types.h>

// the concurrent-run key sequence; its first character becomes the quit
// character of the terminal; null when none
extern const char *background_sequence;

// Arms the quit signal and the concurrent-run key, then puts the terminal
// into program mode.
void start_concurrent();
// Takes the status of a child that the process table collected while
// waiting for another one: kept when it is the concurrent run.
void conc_note_exit(pid_t pid, int status);
