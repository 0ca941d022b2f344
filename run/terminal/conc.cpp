// conc.cpp: concurrent runs.  Owns conc_st and background_sequence; called by
// start-up and run_settings (start_concurrent), the quit signal and the
// shared-buffer statement (concurrent), the keyboard reader
// (wait_for_child_to_terminate) and the process table (conc_note_exit).
//
//   none --quit key: fork--> running: this run ignores interrupt and quit,
//        its screen output stays in the image (terminal output off)
//   running --the keyboard reader waits or polls: collected--> none: program
//        mode, quit re-armed, the screen control word back, a message for a
//        non-zero exit code, the whole screen redrawn
// The child clears the screen, takes one level off the CONCURRENT digit in
// the environment it hands on, restores the user's terminal modes, closes
// descriptors 3 and up and becomes CONC_RUN or run itself; when that
// fails it exits with the error number.
#include "run/terminal/conc.h"

#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/process/oscall.h"
#include "run/process/proc.h"
#include "run/terminal/keys.h"
#include "run/terminal/screen.h"
#include "run/terminal/tty.h"

const char *background_sequence = nullptr;
conc_data conc_st = {0, 0, -1};

void start_concurrent() {
  if (conc_wanted) {
    vx_signal(SIGQUIT, concurrent);
    background_sequence = conc_key ? conc_key : "";
  } else {
    vx_signal(SIGQUIT, SIG_IGN);
    background_sequence = "";
  }
  settty(0, ioctl_fd);
}

int conc_running() {
  return conc_st.child_process_number != 0;
}

// The new run, in the child.  Never returns.
[[noreturn]] static void become_concurrent_run() {
  zoutnc("\x1b\x04", 2);  // 80 columns, which clears the screen
  zflush(1);
  if (conc_wanted && *conc_wanted > '0' && *conc_wanted <= '9')
    --*const_cast<char *>(conc_wanted);  // in the environment handed on
  settty(1, ioctl_fd);
  proc_close_from3();
  const char *prog = conc_run && *conc_run ? conc_run : argvector[0];
  char *const args[] = {const_cast<char *>(prog), nullptr};
  execvp(prog, args);
  _exit(errno & 255);
}

void concurrent(int) {
  if (conc_st.child_process_number) return;
  int saved_errno = errno;
  zflush(1);
  kbd_quit_clear();
  pid_t pid = os_fork();
  if (pid == 0) become_concurrent_run();
  if (pid < 0) {
    ssize_t w = write(1, "\a", 1);
    (void)w;
  } else {
    ignore_signals();
    conc_st.save_ctl = sc_get_ctl();
    sc_set_ctl(conc_st.save_ctl & ~(SC_OUTPUT | SC_FROZEN));  // image only
    conc_st.status = -1;
    conc_st.child_process_number = pid;
  }
  errno = saved_errno;
}

void conc_note_exit(pid_t pid, int status) {
  if (pid > 0 && pid == conc_st.child_process_number) conc_st.status = status;
}

// the concurrent run's wait status, or -1 while it runs
static int collect(bool wait) {
  if (conc_st.status != -1) return conc_st.status;
  for (;;) {
    int status = 0;
    pid_t r = os_waitpid(conc_st.child_process_number, &status, wait ? 0 : WNOHANG);
    if (r == conc_st.child_process_number) return status;
    if (r == 0) return -1;
    if (errno != EINTR) return 0;  // gone without a status: take the terminal back
  }
}

int wait_for_child_to_terminate(int wait) {
  if (!conc_st.child_process_number) return 0;
  int status = collect(wait != 0);
  if (status == -1) return 0;
  conc_st.child_process_number = 0;
  conc_st.status = -1;
  run_settings();
  sc_set_ctl(conc_st.save_ctl);
  int code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : (status >> 8) & 0xFF;
  if (code != 0) {
    char text[64];
    std::snprintf(text, sizeof text, "%d: Could not start background\n\r", code);
    zsmsg(text);
  }
  zflush(2);
  return 1;
}
