// monitor.h: the command monitor, the main loop of run: runs the
// configured program, prompts for commands and program names, and offers
// breakpoints, stepping, tracing and the display and change of variables.
#pragma once

#include <cstdint>

#include "run/loader/debuginfo.h"  // the debug information the monitor shows

constexpr int ZBKP_MAX = 8;      // breakpoints
constexpr int ZBKP_CMD_LEN = 9;  // characters of a breakpoint command

struct zmonitor {
  int firsttime;                              // the configured program has been started
  int stepping;                               // 0 run, 1 step (st), 2 step over calls (sp)
  int tracing;                                // 0 off, 1 screen, else the trace file
  int tracecount;                             // entries on the trace file's line
  uint32_t zbkpt[ZBKP_MAX];                   // breakpoint addresses (offsets from zu)
  char zbkp_cmd[ZBKP_MAX][ZBKP_CMD_LEN + 1];  // command run when one is hit
  int znbkp;                                  // breakpoints set
  int zbkp_flag;                              // number (from 1) of the one just hit
  int chain_bkp;                              // stop when the program chains
  uint32_t zbkp_go;                           // stop address of go (offset from zu)
  int zbkp_go_flag;                           // 0 none, 1 armed, 255 reached
  char zbkp_go_cmd[ZBKP_CMD_LEN + 1];         // command run when it is reached
};
extern zmonitor zmon;

// Runs the configured program, then prompts for commands; never returns.
[[noreturn]] void cmd();
// Executes one monitor command line (tests, and the loop of cmd).
void monitor_line(const char *line, bool typed);
// Prompts and reads a line of at most 80 characters into line; its
// length, or -1 when the keyboard has no more input.
int get_cmd(char *line);
// Loads the program named by cmdp (cmdx characters); 0, or -1 after the
// failure message.
int loadit(const char *cmdp, int cmdx);
// mode 1 runs the loaded program from its start, 0 continues a stopped one.
void go(int mode);
// The monitor's test before each instruction; 1 when execution stops.
int debug_it(int flag, int fd);
// 1 when the current instruction begins a statement.
int muststop();
// Sets a breakpoint on target (see the manual); writes its messages.
void setbkp(const char *target);
// Writes the chain of control frames, most recent first; fd 0 to 2 is the
// screen.
void display_hierarchy(int outfd);
