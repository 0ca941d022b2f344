// signals.cpp: the signal handlers of run and the break disposition.  The
// handlers only set flags, except sigexit, which ends the process at once.
// The switches around child processes are in run/terminal/tty.cpp.
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "run/base/zsmsg.h"
#include "run/startup/startup.h"

volatile sig_atomic_t time_out;

void codesc(int) {
  int saved = errno;
  zresc = 1;
  if (vx_signal(SIGINT, SIG_IGN) != SIG_IGN) vx_signal(SIGINT, codesc);
  errno = saved;
}

void alarm_sub(int) {
  time_out = time_out + 1;
}

void sigexit(int sig) {
  char text[64];
  std::snprintf(text, sizeof text, "\a\r\nsignal %d received.\r\n", sig);
  zsmsg(text);
  exitrun();
}

void set_brkhandler() {
  void (*old)(int) = vx_signal(SIGINT, SIG_IGN);
  if (old != SIG_ERR && old != SIG_IGN) {
    brkhandler = codesc;
    old = vx_signal(SIGINT, codesc);
  }
  if (old == SIG_ERR) {
    char text[64];
    std::snprintf(text, sizeof text, "signal() returns error %d .\r\n", errno);
    zsmsg(text);
    msg_count++;
    exitrun();
  }
}
