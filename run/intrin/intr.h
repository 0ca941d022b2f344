// intr.h: the intrinsic functions and statements of the language.
#pragma once

// Runs intrinsic n; the argument count follows in the p-code.  Returns 0
// to go on, -1 to have the number on top turned into text, -2 to stop in
// the monitor (a chain while the chain breakpoint is set), or a loader
// status that ends the run.
int intr(int n);

// Refuses (102) the functions that wait, read the clock, start children,
// change the environment or the shared buffer, or read registers an
// earlier program left, so that random programs of the fuzz targets run
// the same way twice and never block.
void intr_confine_for_test(bool on);
