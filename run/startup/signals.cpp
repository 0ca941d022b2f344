// signals.cpp: signal dispositions of run and the switches around child
// processes that take over the terminal.  The handlers only set flags,
// except sigexit, which ends the process at once.
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "run/numeric/zsmsg.h"
#include "run/process/conc.h"
#include "run/startup/startup.h"

volatile sig_atomic_t zresc;
volatile sig_atomic_t time_out;
void (*brkhandler)(int) = SIG_IGN;

void (*vx_signal(int sig, void (*handler)(int)))(int) {
  struct sigaction sa = {}, old = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a keyboard read must see the alarm
  if (sigaction(sig, &sa, &old) < 0) return SIG_ERR;
  return old.sa_handler;
}

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

void ignore_signals() {
  vx_signal(SIGINT, SIG_IGN);
  vx_signal(SIGQUIT, SIG_IGN);
}

void son_settings() {
  settty(1, ioctl_fd);
  ignore_signals();
}

void run_settings() {
  settty(0, ioctl_fd);
  vx_signal(SIGINT, brkhandler);
  fcntl(0, F_SETFL, stdin_flag);
  start_concurrent();
}
