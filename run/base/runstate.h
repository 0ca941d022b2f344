// runstate.h: the state of the run process that every layer reads (the
// argument vector, the break flag, the count of start-up messages, the
// terminal's descriptor), the reliable signal installer, and the exit
// paths.  Start-up takes the exit paths over (run_exit2, run_exit3); until
// it does, an exit path ends the process with its code and nothing else.
#pragma once

#include <csignal>

extern char **argvector;             // the argument vector as received
extern int is_RUN;                   // invoked as exactly "RUN"
extern int msg_count;                // start-up messages written so far
extern volatile sig_atomic_t zresc;  // break flag, set by the break handler
extern int ioctl_fd;                 // the terminal: always 0
extern int progunit;                 // unit given with the program name

// Installs handler for sig with reliable semantics (handler stays, the
// signal is held while it runs, system calls are interrupted); returns the
// disposition it replaced, or SIG_ERR.
void (*vx_signal(int sig, void (*handler)(int)))(int);

// exitr2: restores the terminal and ends the process with code & 255.
// exitr3: first closes the files, ends the children and leaves the shared
// buffer, then exitr2.  exitrun: exitr3(255).
[[noreturn]] void exitr2(int code);
[[noreturn]] void exitr3(int code);
[[noreturn]] void exitrun();

// The exit paths of start-up; they must not return.  Null: exitr2 ends
// the process at once, exitr3 goes straight to exitr2.
extern void (*run_exit2)(int code);
extern void (*run_exit3)(int code);
