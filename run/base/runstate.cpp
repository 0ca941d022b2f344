// runstate.cpp: the process-wide values of run, the signal installer and
// the exit paths' hand-over to start-up.
#include "run/base/runstate.h"

#include <unistd.h>

char **argvector;
int is_RUN;
int msg_count;
volatile sig_atomic_t zresc;
int ioctl_fd = 0;
int progunit;

void (*run_exit2)(int code) = nullptr;
void (*run_exit3)(int code) = nullptr;

void (*vx_signal(int sig, void (*handler)(int)))(int) {
  struct sigaction sa = {}, old = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a keyboard read must see the alarm
  if (sigaction(sig, &sa, &old) < 0) return SIG_ERR;
  return old.sa_handler;
}

void exitr2(int code) {
  if (run_exit2) run_exit2(code);
  _exit(code & 255);
}

void exitr3(int code) {
  if (run_exit3) run_exit3(code);
  exitr2(code);
}

void exitrun() {
  exitr3(255);
}
