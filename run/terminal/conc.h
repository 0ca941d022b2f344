// conc.h: concurrent runs: a key on the terminal starts a new run (or the
// CONC_RUN program) on the same terminal while the interrupted run goes
// on in the background, silent on the terminal, until it next needs a key.
#pragma once

#include <sys/types.h>

// the concurrent-run key armed as the terminal's quit character: CONC_KEY
// while the feature is on, else the empty string; null before start-up
extern const char *background_sequence;

struct conc_data {
  pid_t child_process_number;  // the running concurrent run, 0 when none
  int save_ctl;                // the screen control word when it started
  int status;                  // its wait status once collected, else -1
};
extern conc_data conc_st;

// Arms the quit signal and the concurrent-run key from CONCURRENT and
// CONC_KEY (or disarms them), then puts the terminal into program mode.
void start_concurrent();
// Starts a concurrent run: the handler of the quit signal while the feature
// is on.  When the fork fails the terminal bell rings.
void concurrent(int sig);
// 1 while a concurrent run exists.
int conc_running();
// Checks (wait 0) or waits for the end of the concurrent run; 1 when it
// has ended and this run has taken the terminal back (program mode, the
// screen redrawn, ": Could not start background" after a non-zero exit
// code), else 0.
int wait_for_child_to_terminate(int wait);
// Takes the status of a child that the process table collected while
// waiting for another one: kept when it is the concurrent run.
void conc_note_exit(pid_t pid, int status);
