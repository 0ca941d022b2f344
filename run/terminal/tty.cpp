// tty.cpp: the two terminal modes, and the switches around a child process
// that takes the terminal over.  The user's settings of the terminal
// (and of one second device, a printer line) are read once on first use
// and kept for the life of the process; program mode is derived from them.
//
// Program mode of the terminal, from the saved settings:
//   c_oflag  0                      no output processing at all
//   c_iflag  INLCR IGNCR ICRNL IUCLC cleared, the rest kept
//   c_lflag  ISIG when a break or concurrent-run key is set, else 0
//   VMIN 1, VTIME 0                 a read returns with the first byte
//   VQUIT    first byte of the concurrent-run key, else disabled
//   VINTR    the VXBREAK character, else disabled
// A printer line only gets c_oflag 0.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>

#include "run/config/settings.h"
#include "run/terminal/conc.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"
#include "run/terminal/tty.h"

int stdin_flag;
void (*brkhandler)(int) = SIG_IGN;

struct saved_tty {
  int fd;            // descriptor the copy belongs to, -1 when none
  bool saved;        // the settings have been read
  struct termios t;  // the user's settings
};

// [0] the terminal (ioctl_fd), [1] a second device
static saved_tty saved[2] = {{-1, false, {}}, {-1, false, {}}};

static int tc_get(int fd, struct termios *t) {
  int r;
  while ((r = tcgetattr(fd, t)) < 0 && errno == EINTR) {
  }
  return r;
}

static int tc_set(int fd, const struct termios *t) {
  int r;
  while ((r = tcsetattr(fd, TCSADRAIN, t)) < 0 && errno == EINTR) {
  }
  return r;
}

int break_char(char *value) {
  if (!value || !*value) return -1;
  int c;
  if (value[0] == '^' && value[1]) {
    c = value[1] & 31;
  } else if (value[0] == '\\' && value[1]) {
    c = 0;
    for (const char *p = value + 1; *p >= '0' && *p <= '7'; p++) c = (c * 8 + (*p - '0')) % 256;
  } else {
    c = (unsigned char)value[0];
  }
  // stored in place: converting the value again gives the same character
  value[0] = char(c);
  if (c != 0 && value[1]) value[1] = 0;
  return c;
}

static void program_mode(struct termios *t) {
  int brk = vx_break ? break_char(const_cast<char *>(vx_break)) : -1;
  bool conc = background_sequence && *background_sequence;
  t->c_oflag = 0;
  t->c_iflag &= ~tcflag_t(INLCR | IGNCR | ICRNL | IUCLC);
  t->c_lflag = (brk >= 0 || conc) ? ISIG : 0;
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
  t->c_cc[VQUIT] = conc ? cc_t(*background_sequence) : cc_t(_POSIX_VDISABLE);
  t->c_cc[VINTR] = brk >= 0 ? cc_t(brk) : cc_t(_POSIX_VDISABLE);
}

void settty(int option, int fd) {
  zflush(1);
  saved_tty &s = fd == ioctl_fd ? saved[0] : saved[1];
  if (s.fd != fd) s = {fd, false, {}};
  if (option == 1) {
    if (s.saved) tc_set(fd, &s.t);
    return;
  }
  if (!s.saved) {
    if (tc_get(fd, &s.t) < 0) return;  // not a terminal: nothing to change
    s.saved = true;
    if (fd == ioctl_fd) ztc_ospeed = unsigned(s.t.c_cflag) & 0x100F;
  }
  struct termios t = s.t;
  if (fd == ioctl_fd)
    program_mode(&t);
  else
    t.c_oflag = 0;
  tc_set(fd, &t);
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
