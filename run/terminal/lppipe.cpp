// lppipe.cpp: the pipe starter: a command run through the process table
// with its standard output read by run or its standard input written by
// run.  Used for the spooler and the pager, and by the keystroke pipes of
// the shared buffer.  The command is tried as a program file first (its
// argument 0 the part after the last "/"), then as "exec <command>" through
// /bin/sh, so that commands with arguments work.
#include <csignal>
#include <cstring>
#include <string>

#include <unistd.h>

#include "run/process/proc.h"
#include "run/terminal/lp.h"
#include "run/terminal/tty.h"

namespace {

[[noreturn]] void start_command(const char *command) {
  signal(SIGINT, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  signal(SIGPIPE, SIG_DFL);  // a reader of ours ends like any other
  const char *slash = std::strrchr(command, '/');
  std::string name = slash ? slash + 1 : command;
  char *argv[] = {name.data(), nullptr};
  execv(command, argv);
  std::string text = "exec " + std::string(command);
  execl("/bin/sh", "sh", "-c", text.c_str(), static_cast<char *>(nullptr));
  child_abort(command);
}

// direction 0: run reads the command's output; 1: run writes its input
int open_io_pipe(const char *command, int *slot, int direction) {
  *slot = 0;
  if (!command || !*command) {
    lp_ioerr = lp_ioerr ? lp_ioerr : 9;
    run_settings();
    return 0;
  }
  int s = forkpipe(direction ? '2' : '1');
  if (s < 0) {
    if (!lp_ioerr) lp_ioerr = -s;
    run_settings();
    return 0;
  }
  if (s == 0) start_command(command);
  *slot = s;
  return proc_tab.zmfd[s - 1][direction];
}

}  // namespace

int input_pipe(const char *command, int *slot) {
  return open_io_pipe(command, slot, 0);
}

int output_pipe(const char *command, int *slot) {
  return open_io_pipe(command, slot, 1);
}
