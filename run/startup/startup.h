// startup.h: the life of a run process: start-up, terminal modes, signal
// dispositions and the exit paths.
#pragma once

#include <csignal>

extern char **argvector;                // the argument vector as received
extern int is_RUN;                      // invoked as exactly "RUN"
extern int msg_count;                   // start-up messages written so far
extern int stdin_flag;                  // status flags of descriptor 0 at start
extern volatile sig_atomic_t zresc;     // break flag, set by codesc
extern volatile sig_atomic_t time_out;  // alarm ticks, counted by alarm_sub
extern void (*brkhandler)(int);         // interrupt disposition after children
extern int ioctl_fd;                    // the terminal: always 0
extern int progunit;                    // unit given with the program name

// The start-up sequence; returns only when everything is ready, else ends
// the process with code 255.
void init(int argc, char **argv);

// Sizes and places the memory image from M, C and VXWIZBUFLEN; writes the
// "M+C=" message and exits when the sum is too large.  The image stays
// unallocated (zm.zu null) when it cannot be had.
void size_image();

// Terminal modes of fd: option 0 program mode, 1 the saved user settings.
void settty(int option, int fd);
// Converts the VXBREAK value in place to the break character; -1 if none.
int break_char(char *value);

void set_brkhandler();
void codesc(int sig);
void sigexit(int sig);
void alarm_sub(int sig);
void ignore_signals();
void son_settings();
void run_settings();
// Installs handler for sig with reliable semantics (handler stays, the
// signal is held while it runs, system calls are interrupted); returns the
// disposition it replaced, or SIG_ERR.
void (*vx_signal(int sig, void (*handler)(int)))(int);

// Writes the load-failure message for loader result error.
void nofind(int error, const char *pname);
// Cuts name at its first "/" and returns the decimal number after it.
int getunit(char *name);

[[noreturn]] void exitr2(int code);
[[noreturn]] void exitr3(int code);
[[noreturn]] void exitrun();
