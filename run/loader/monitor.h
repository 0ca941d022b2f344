// monitor.h: the command monitor, the main loop of run.
#pragma once

// Runs the configured program, then prompts for commands; never returns.
[[noreturn]] void cmd();

// Saves the debug information of the running program before a chain with
// return; popd restores it (mode 0) on the return.
void pushd();
void popd(int mode);
