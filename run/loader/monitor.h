// monitor.h: the command monitor, the main loop of run.
#pragma once

// Runs the configured program, then prompts for commands; never returns.
[[noreturn]] void cmd();
