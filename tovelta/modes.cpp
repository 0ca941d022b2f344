// modes.cpp: terminal modes of tovelta, switched directly through termios
// on descriptor 0 (the terminal stty would act on).  Order of changes:
//
//   echo off          before the open request
//   opost off         after a positive open reply
//   opost restored    after the end marker (and its reply)
//   echo restored     last; on a refused transfer the only restore
//
// Each change reads the current settings and flips one flag, so settings
// made by others in between are kept.  The record is also read by the
// signal handler, hence its flags are sig_atomic_t.
#include "tovelta/modes.h"

#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

struct tvmode_state {
  volatile sig_atomic_t echo_off;   // we turned ECHO off and owe its restore
  volatile sig_atomic_t echo_was;   // ECHO was set before that
  volatile sig_atomic_t opost_off;  // we turned OPOST off and owe its restore
  volatile sig_atomic_t opost_was;  // OPOST was set before that
};
static tvmode_state tvmode = {0, 0, 0, 0};

static const int TVMODE_FD = 0;
static const int TVMODE_SIGNALS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Sets (on) or clears one flag of c_lflag (local) or c_oflag; *was gets its
// earlier state.  False when the descriptor is no terminal or the change
// fails.  Only async-signal-safe calls: the handler uses it too.
static bool flip(bool local, tcflag_t flag, bool on, volatile sig_atomic_t *was) {
  struct termios t;
  int r;
  while ((r = tcgetattr(TVMODE_FD, &t)) < 0 && errno == EINTR) {
  }
  if (r < 0) return false;
  tcflag_t &f = local ? t.c_lflag : t.c_oflag;
  if (was) *was = (f & flag) != 0;
  f = on ? (f | flag) : (f & ~flag);
  while ((r = tcsetattr(TVMODE_FD, TCSADRAIN, &t)) < 0 && errno == EINTR) {
  }
  return r == 0;
}

// The caught signals stay blocked while a change and its record agree only
// in part; *old receives the mask to put back.
static void hold_signals(sigset_t *old) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : TVMODE_SIGNALS) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, old);
}

static void release_signals(const sigset_t *old) {
  sigprocmask(SIG_SETMASK, old, nullptr);
}

void tvmode_echo_off() {
  sigset_t old;
  hold_signals(&old);
  if (!tvmode.echo_off && flip(true, ECHO, false, &tvmode.echo_was)) tvmode.echo_off = 1;
  release_signals(&old);
}

void tvmode_opost_off() {
  sigset_t old;
  hold_signals(&old);
  if (!tvmode.opost_off && flip(false, OPOST, false, &tvmode.opost_was)) tvmode.opost_off = 1;
  release_signals(&old);
}

void tvmode_opost_restore() {
  sigset_t old;
  hold_signals(&old);
  if (tvmode.opost_off) flip(false, OPOST, tvmode.opost_was, nullptr);
  tvmode.opost_off = 0;
  release_signals(&old);
}

void tvmode_echo_restore() {
  sigset_t old;
  hold_signals(&old);
  if (tvmode.echo_off) flip(true, ECHO, tvmode.echo_was, nullptr);
  tvmode.echo_off = 0;
  release_signals(&old);
}

static void on_signal(int sig) {
  if (tvmode.opost_off) flip(false, OPOST, tvmode.opost_was, nullptr);
  if (tvmode.echo_off) flip(true, ECHO, tvmode.echo_was, nullptr);
  signal(sig, SIG_DFL);
  raise(sig);
}

void tvmode_catch_signals() {
  struct sigaction sa = {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : TVMODE_SIGNALS) sigaddset(&sa.sa_mask, sig);
  for (int sig : TVMODE_SIGNALS) {
    struct sigaction old;
    // a signal ignored by the parent stays ignored
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
      sigaction(sig, &sa, nullptr);
  }
}
