// proc.h: the process table: eight slots for children of run (programs
// started by the program, print pipes, keystroke pipes, the shell).
#pragma once

constexpr int PROC_SLOTS = 8;  // slots 1 to 8

// Starts a child in slot mode '1' to '4'.  In the parent: the slot number
// (1 to 8); in the child: 0; on failure -74 (no free slot), -78 (no pipe)
// or -70 (fork failed).
int forkpipe(int mode);
// Ends the use of slot; wait_mode '0' does not wait.  The child's exit code
// (0 to 255), 0 when not waiting, or -73 (bad slot), -74 (slot not in use),
// -71 (no child to wait for).
int termproc(int slot, int wait_mode);
