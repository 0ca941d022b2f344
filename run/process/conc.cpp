// conc.cpp: TEMPORARY stand-in for concurrent runs, which a later issue
// builds: no concurrent-run key is armed, so quit is ignored, and the
// terminal goes into program mode as the real code ends by doing.
#include "run/process/conc.h"

#include <csignal>

#include "run/startup/startup.h"

const char *background_sequence = nullptr;

void start_concurrent() {
  struct sigaction sa = {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGQUIT, &sa, nullptr);
  settty(0, ioctl_fd);
}

void conc_note_exit(pid_t, int) {}
