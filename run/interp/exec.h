// exec.h: the instruction dispatch loop.
#pragma once

#include <cstdint>

// Runs the loaded program from zp.preg.  flag 0 starts it, flag 1
// continues after a breakpoint; stepping 0 run, 1 stop before each
// statement, 2 only in the current routine; tracing 0 none, 1 to the
// screen, else a file descriptor.  Returns 0 after a program stop, the
// number of an error that is not trapped (256 for error 0), or the
// nonzero result of an intrinsic that ends the run.
int execute(int flag, int stepping, int tracing);

// Limits the next runs of execute to n instructions (0: no limit); when
// the budget is used up the run ends as if the break key had been pressed
// (error 105).  For tests and the fuzz target.
void zx_budget_for_test(uint64_t n);

// With on set (and a budget), every instruction leaves its stack entries on
// the image and none is joined to the next: the plain cycle, against which
// tests compare the ordinary one.
void zx_plain_for_test(bool on);
