// proc.cpp: the process table.  Owns proc_tab; called by the machine
// operations, the print and keystroke pipes, the monitor's shell escape
// and the exit processing.
//
// Life of a slot:
//   free --forkpipe--> in use, status -1 --collected--> in use, status set
//   in use --termproc--> free (waiting first unless wait mode '0')
// A wait collects any child: its status goes to the slot of that process
// id, whichever slot that is, so that another slot's later termproc finds
// it without blocking; a child that belongs to no slot is offered to the
// concurrent-run module.
#include "run/process/proc.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "run/base/runstate.h"
#include "run/process/oscall.h"

proc_table proc_tab;
void (*proc_flush_hook)() = nullptr;
void (*proc_exit_hook)(pid_t pid, int status) = nullptr;

static void free_slot(int i) {
  proc_tab.zmmd[i] = 0;
  proc_tab.zmps[i] = 0;
  proc_tab.zmst[i] = -1;
  proc_tab.zmfd[i][0] = proc_tab.zmfd[i][1] = -1;
}

void proc_init() {
  for (int i = 0; i < PROC_SLOTS; i++) free_slot(i);
}

static void close_fd(int fd) {
  if (fd >= 0) close(fd);
}

static void close_pair(int p[2]) {
  close_fd(p[0]);
  close_fd(p[1]);
  p[0] = p[1] = -1;
}

// Moves a pipe end that landed on 0, 1 or 2 (one of them was closed) above
// them, so that the child's redirection cannot overwrite it; -1 on failure.
static int above_std(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD, 3);
  close(fd);
  return moved;
}

static int make_pipe(int p[2]) {
  if (os_pipe(p) < 0) {
    p[0] = p[1] = -1;
    return -1;
  }
  p[0] = above_std(p[0]);
  p[1] = above_std(p[1]);
  if (p[0] < 0 || p[1] < 0) {
    close_pair(p);
    return -1;
  }
  return 0;
}

static int choose_slot(int mode) {
  if (mode == '4') return 0;
  for (int i = 1; i < PROC_SLOTS; i++)
    if (!proc_tab.zmmd[i]) return i;
  return -1;
}

void proc_close_from3() {
  if (close_range(3, ~0U, 0) == 0) return;
  long limit = sysconf(_SC_OPEN_MAX);
  if (limit < 0) limit = 1024;
  for (long fd = 3; fd < limit; fd++) close(int(fd));
}

// the child's side: the pipe ends become its standard input and output
static void child_side(int to_child[2], int from_child[2]) {
  if (to_child[0] >= 0) dup2(to_child[0], 0);
  if (from_child[1] >= 0) dup2(from_child[1], 1);
  proc_close_from3();
}

int forkpipe(int mode) {
  if (mode < '0' || mode > '4') return PROC_EBADSLOT;
  int i = choose_slot(mode);
  if (i < 0) return PROC_EBUSY;
  free_slot(i);
  proc_tab.zmmd[i] = char(mode);
  int to_child[2] = {-1, -1}, from_child[2] = {-1, -1};
  if (((mode == '2' || mode == '3') && make_pipe(to_child) < 0) ||
      ((mode == '1' || mode == '3') && make_pipe(from_child) < 0)) {
    close_pair(to_child);
    free_slot(i);
    return PROC_EPIPE;
  }
  pid_t pid = os_fork();
  if (pid < 0) {
    close_pair(to_child);
    close_pair(from_child);
    free_slot(i);
    return PROC_EFORK;
  }
  if (pid == 0) {
    child_side(to_child, from_child);
    return 0;
  }
  proc_tab.zmps[i] = pid;
  close_fd(to_child[0]);
  close_fd(from_child[1]);
  proc_tab.zmfd[i][0] = from_child[0];
  proc_tab.zmfd[i][1] = to_child[1];
  return i + 1;
}

// Stores a collected child's status in the first slot in use with its
// process id; a child of no slot may be the concurrent run.
static void store_status(pid_t pid, int status) {
  for (int i = 0; i < PROC_SLOTS; i++)
    if (proc_tab.zmmd[i] && proc_tab.zmps[i] == pid) {
      proc_tab.zmst[i] = status;
      return;
    }
  if (proc_exit_hook) proc_exit_hook(pid, status);
}

// Waits for any child, with the interrupt and quit signals ignored so that
// a key typed meanwhile cannot break the wait; 0, or -1 when there is no
// child left.
static int collect_one() {
  for (;;) {
    void (*old_int)(int) = vx_signal(SIGINT, SIG_IGN);
    void (*old_quit)(int) = vx_signal(SIGQUIT, SIG_IGN);
    int status = 0;
    pid_t pid = os_waitpid(-1, &status, 0);
    int err = errno;
    if (old_int != SIG_ERR) vx_signal(SIGINT, old_int);
    if (old_quit != SIG_ERR) vx_signal(SIGQUIT, old_quit);
    if (pid > 0) {
      store_status(pid, status);
      return 0;
    }
    if (err != EINTR) return -1;
  }
}

static int exit_code(int status) {
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return (status >> 8) & 0xFF;
}

static int check_slot(int slot) {
  if (slot < 1 || slot > PROC_SLOTS) return PROC_EBADSLOT;
  if (!proc_tab.zmmd[slot - 1]) return PROC_EBUSY;
  return 0;
}

int proc_wait(int slot) {
  if (int r = check_slot(slot)) return r;
  int i = slot - 1;
  while (proc_tab.zmst[i] == -1)
    if (collect_one() < 0) return PROC_ENOCHILD;
  return exit_code(proc_tab.zmst[i]);
}

int termproc(int slot, int wait_mode) {
  if (int r = check_slot(slot)) return r;
  int i = slot - 1;
  close_pair(proc_tab.zmfd[i]);
  int r = wait_mode == '0' ? 0 : proc_wait(slot);
  free_slot(i);
  return r;
}

int proc_close_input(int slot) {
  if (int r = check_slot(slot)) return r;
  int i = slot - 1;
  close_fd(proc_tab.zmfd[i][1]);
  proc_tab.zmfd[i][1] = -1;
  proc_tab.zmmd[i] = proc_tab.zmmd[i] == '3' ? '1' : '0';
  return 0;
}

void proc_end_all() {
  for (int slot = 1; slot <= PROC_SLOTS; slot++)
    if (proc_tab.zmmd[slot - 1]) termproc(slot, '0');
}

[[noreturn]] void child_abort(const char *prog) {
  if (proc_flush_hook) proc_flush_hook();
  static const char head[] = "\a\r\n--- RUN: ", tail[] = " not executable ---\r\n\a";
  ssize_t w = write(2, head, sizeof head - 1);
  if (prog) w = write(2, prog, std::strlen(prog));
  w = write(2, tail, sizeof tail - 1);
  (void)w;
  int fl = fcntl(0, F_GETFL);
  if (fl >= 0) fcntl(0, F_SETFL, fl & ~O_NONBLOCK);
  _exit(1);
}
