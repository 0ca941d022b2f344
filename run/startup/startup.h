// startup.h: the life of a run process: start-up, the signal handlers, the
// sizing of the memory image and the exit paths it installs.  The values every layer
// reads are in run/base/runstate.h, the terminal modes and signal
// dispositions in run/terminal/tty.h.
#pragma once

#include "run/base/runstate.h"
#include "run/terminal/tty.h"

// Installs the hand-over of every lower layer to the ones above it (the
// exit paths, the configuration reader's parsers, the dispatch loop's
// calls, the file and screen layers); init does it first.  Programs that
// drive the libraries without init call it themselves.
void run_hooks();

// The start-up sequence; returns only when everything is ready, else ends
// the process with code 255.
void init(int argc, char **argv);

// Sizes and places the memory image from M, C and VXWIZBUFLEN; writes the
// "M+C=" message and exits when the sum is too large.  The image stays
// unallocated (zm.zu null) when it cannot be had.
void size_image();

// Start-up's exit paths, which run_hooks installs as run_exit2 (screen
// reset, descriptor 0's flags, the user's terminal settings) and run_exit3
// (files, keystroke pipes, children, the shared buffer).
[[noreturn]] void exit_restore(int code);
[[noreturn]] void exit_release(int code);

extern volatile sig_atomic_t time_out;  // alarm ticks, counted by alarm_sub

// The break disposition (codesc when the interrupt was not ignored at
// start) and the handlers of start-up.
void set_brkhandler();
void codesc(int sig);
void sigexit(int sig);
void alarm_sub(int sig);

// Cuts name at its first "/" and returns the decimal number after it.
int getunit(char *name);
