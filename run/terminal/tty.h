// tty.h: the terminal modes of run and the switches around the child
// processes that take the terminal over.
#pragma once

#include <csignal>

#include "run/base/runstate.h"

extern int stdin_flag;           // status flags of descriptor 0 at start
extern void (*brkhandler)(int);  // interrupt disposition after children

// Terminal modes of fd: option 0 program mode, 1 the saved user settings.
void settty(int option, int fd);
// Converts the VXBREAK value in place to the break character; -1 if none.
int break_char(char *value);

// Interrupt and quit ignored.
void ignore_signals();
// Before a child takes the terminal: the user's settings, signals ignored.
// After: program mode, the break disposition, descriptor 0's flags, the
// concurrent-run key.
void son_settings();
void run_settings();
