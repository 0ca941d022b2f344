// oscall.cpp: the process calls of run and the failures that tests plant
// in them.  Owns the countdown of each kind of call.
#include "run/process/oscall.h"

#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

struct os_failure {
  int countdown;  // calls left until the failing one; 0 = none planned
  int err;        // errno of the failing call
};

static os_failure os_fail[OS_CALLS];

// true when this call is the one planned to fail (errno then set)
static bool planned_failure(os_call call) {
  os_failure &f = os_fail[call];
  if (f.countdown == 0 || --f.countdown != 0) return false;
  errno = f.err;
  return true;
}

int os_pipe(int fd[2]) {
  if (planned_failure(OS_PIPE)) return -1;
  return pipe(fd);
}

pid_t os_fork() {
  if (planned_failure(OS_FORK)) return -1;
  return fork();
}

pid_t os_waitpid(pid_t pid, int *status, int options) {
  if (planned_failure(OS_WAIT)) return -1;
  return waitpid(pid, status, options);
}

void os_fail_for_test(os_call call, int nth, int err) {
  os_fail[call] = {nth, err};
}
