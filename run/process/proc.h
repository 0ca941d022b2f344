// proc.h: the process table: eight slots for the children of run
// (programs started by the program, print pipes, keystroke pipes, the
// shell).  Slot numbers seen by callers are 1 to 8; slot 1 is kept for the
// foreground child (mode '4'), piped children take the lowest free slot
// from 2 to 8.
#pragma once

#include <sys/types.h>

constexpr int PROC_SLOTS = 8;  // slots 1 to 8

// Result codes of forkpipe and termproc.
constexpr int PROC_EFORK = -70;     // the fork failed
constexpr int PROC_ENOCHILD = -71;  // no child left to wait for
constexpr int PROC_EBADSLOT = -73;  // slot number outside 1 to 8, or a bad mode
constexpr int PROC_EBUSY = -74;     // no free slot, or the slot is not in use
constexpr int PROC_EPIPE = -78;     // a pipe cannot be created

// The table: four parallel arrays indexed by slot number - 1.
struct proc_table {
  char zmmd[PROC_SLOTS];    // mode: 0 free, '0' no pipes, '1' output piped to
                            // run, '2' input written by run, '3' both, '4'
                            // the foreground child (no pipes)
  pid_t zmps[PROC_SLOTS];   // process id of the child
  int zmst[PROC_SLOTS];     // wait status; -1 while not collected
  int zmfd[PROC_SLOTS][2];  // kept ends: [0] reads the child's output,
                            // [1] writes its input; -1 when none
};
extern proc_table proc_tab;

// Frees every slot without touching children (start-up, tests).
void proc_init();

// Starts a child in slot mode '0' to '4'.  In the parent: the slot number
// (1 to 8); in the child: 0, with the pipe ends as its standard input
// and/or output and every descriptor from 3 up closed; on failure -74 (no
// free slot), -78 (no pipe), -70 (fork failed), -73 (mode not '0'-'4').
int forkpipe(int mode);
// Ends the use of slot: closes its pipe ends; wait_mode '0' frees it
// without collecting the child (result 0), any other value waits for the
// child.  The child's exit code (0 to 255; 128 + the signal number for a
// child ended by a signal), or -73 (bad slot), -74 (slot not in use), -71
// (no child to wait for).
int termproc(int slot, int wait_mode);
// Waits until the child of slot is collected and returns its exit code as
// termproc does, leaving the slot in use with its status (the foreground
// child of slot 1).  -73, -74, -71 as termproc.
int proc_wait(int slot);
// In a child whose program cannot be started: reports prog on standard
// error and ends the child with status 1.
[[noreturn]] void child_abort(const char *prog);
// Closes the write end kept for slot (the child sees the end of its
// input); the mode becomes '1' from '3', else '0'.  0, or -73, -74 as
// termproc.
int proc_close_input(int slot);
// Ends every slot in use without waiting (exit processing).
void proc_end_all();
// Set by the screen layer: writing out what the screen holds before a
// child takes the terminal over, and the status of a collected child that
// is in no slot (the concurrent run).  Null: nothing to flush, the status
// is dropped.
extern void (*proc_flush_hook)();
extern void (*proc_exit_hook)(pid_t pid, int status);
// Closes every descriptor from 3 up (in a child before it starts a
// program).
void proc_close_from3();
