// oscall.h: the process calls of run (pipe, fork, wait), each a thin
// wrapper so that tests can make the Nth call of a kind fail.
#pragma once

#include <sys/types.h>

enum os_call { OS_PIPE, OS_FORK, OS_WAIT, OS_CALLS };

// pipe(2); -1 with errno on failure
int os_pipe(int fd[2]);
// fork(2); -1 with errno on failure
pid_t os_fork();
// waitpid(2)
pid_t os_waitpid(pid_t pid, int *status, int options);

// Makes the nth call of the kind from now on (1 = the next) fail with err;
// nth 0 clears the failure.
void os_fail_for_test(os_call call, int nth, int err);
