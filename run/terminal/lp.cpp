// lp.cpp: the printer unit: open and close in each printer mode, direct
// devices and files held under an exclusive lock, the printer output
// buffer and its writes (in mode 1 between the terminal's
// transparent-printing sequences), the screen's codes in a program's
// print items shown through the pager, files copied to the printer.  Owns
// zprlck, zrrmp, lp_openname, lp_ioerr and the output state; the print
// job itself is lpline.cpp's.  Called by the printer-unit statements, the
// command monitor and the exit processing.
//
// Direct modes: open flags (permission bits 0664)
//   0 write   4 write, emptied   5, 8 write, appended   6 write, created,
//   emptied   7 write, created, appended
// A file is emptied only once its lock is held, so a second run refused
// with I/O error 12 leaves the first one's output alone.
#include "run/terminal/lp.h"

#include <curses.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <term.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/loader/names.h"
#include "run/process/proc.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"
#include "run/terminal/tty.h"

int zprlck;
int zrrmp;
const char *lp_openname;
int lp_ioerr;

namespace {

struct lp_state {
  int fd = -1;            // printer output (devfd), -1 when closed
  int mode;               // the mode the printer was opened in
  int slot;               // process slot of the spooler or pager
  uint8_t obuf[LP_OBUF];  // bytes waiting to be written
  int ocnt;               // bytes in obuf
  bool scr_busy;          // mode 3: the screen was inside a sequence at the open
  bool acs;               // mode 3: the terminal's line-drawing set is on
};
lp_state lp;

void note(int err) {
  if (!lp_ioerr) lp_ioerr = err;
}

bool write_all(int fd, const uint8_t *p, int n) {
  while (n > 0) {
    ssize_t w = write(fd, p, size_t(n));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= int(w);
  }
  return true;
}

// mode 1: the printer bytes go to standard error's file on descriptor 1,
// between the screen's transparent printing on (ESC "3") and off (ESC "4",
// with the printer's handshake when PRT_HS asks for it); the kept
// descriptor 1, or -1
int port_begin() {
  zflush(1);
  int save_out = dup(1);
  if (save_out < 0) {
    zsmsg("save_out<0\r\n");
  } else if (dup2(2, 1) < 0) {
    zsmsg("dup2(2,1) failed\r\n");
  }
  zoutnc("\x1b\x33", 2);  // ESC "3"
  return save_out;
}

void port_end(int save_out) {
  zoutnc("\x1b\x34", 2);  // ESC "4"
  zflush(1);
  if (save_out < 0) return;
  if (dup2(save_out, 1) < 0) zsmsg("dup2(save_out,1) failed\r\n");
  if (close(save_out) < 0) zsmsg("close(save_out) failed\r\n");
}

// writes the printer buffer out
void write_out() {
  if (lp.ocnt == 0 || lp.fd < 0) return;
  int save_out = lp.mode == 1 ? port_begin() : -1;
  bool ok = write_all(lp.fd, lp.obuf, lp.ocnt);
  if (lp.mode == 1) port_end(save_out);
  lp.ocnt = 0;
  if (ok || lp.mode == 2) return;
  char text[80];
  std::snprintf(text, sizeof text, "lp_io.c: if (count<0) .., zrrmp=%d\r\n", lp.mode);
  zsmsg(text);
  note(16);
  if (lp.mode == 3) run_settings();
}

// the I/O error of a failed open
int open_error(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
    case EROFS:
      return 14;
    case EMFILE:
    case ENFILE:
      return 1;
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return 9;
    case EBUSY:
      return 12;
    default:
      return 4;
  }
}

int open_flags(int opt) {
  switch (opt) {
    case 5:
    case 8:
      return O_WRONLY | O_APPEND;
    case 6:
      return O_WRONLY | O_CREAT;
    case 7:
      return O_WRONLY | O_CREAT | O_APPEND;
    default:
      return O_WRONLY;  // 0; 4 and 6 are emptied once locked
  }
}

// a path ending in "lp" and digits names its printer variable
void route_from_path(const std::string &path) {
  size_t d = path.find_last_not_of("0123456789");
  if (d == std::string::npos || d + 1 == path.size() || d < 1) return;
  if (path.compare(d - 1, 2, "lp") != 0) return;
  std::string digits = path.substr(d + 1);
  if (digits.find_first_not_of('0') != std::string::npos) lcap_route(digits.c_str());
}

void close_direct() {
  settty(1, lp.fd);  // a printer line gets its settings back
  lseek(lp.fd, 0, SEEK_SET);
  lockf(lp.fd, F_ULOCK, 0);
  close(lp.fd);
}

int putc_to_lp(int c) {
  char_to_lp(c);
  return c;
}

}  // namespace

int prn_direct(int opt) {
  std::string path = "/dev/lp1";
  if (lp_openname && *lp_openname) {
    path = lp_openname;
    if ((opt == 0 || opt == 8) && fmqxu(lp_openname)) path = "/dev/" + path;
  }
  route_from_path(path);
  int fd;
  do fd = open(path.c_str(), open_flags(opt), 0664);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    note(open_error(errno));
    return -1;
  }
  if (lockf(fd, F_TLOCK, 0) < 0) {
    close(fd);
    note(12);
    return -1;
  }
  struct stat st;
  if ((opt == 4 || opt == 6) && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      ftruncate(fd, 0) < 0) {
    note(open_error(errno));
    close(fd);
    return -1;
  }
  settty(0, fd);  // a printer line: no output processing
  lp.fd = fd;
  return 0;
}

void zoppr() {
  if (zprlck) {
    note(12);
    return;
  }
  int mode = zrrmp;
  if (mode < 0 || mode > 8) {
    note(65);
    return;
  }
  lp.mode = mode;
  lp.ocnt = 0;
  lp.slot = 0;
  lp.fd = -1;
  lp.acs = false;
  lp.scr_busy = mode == 3 && sc_in_sequence();
  if (mode == 3) son_settings();
  lcap_open();
  if (mode == 1) {
    lp.fd = 1;
  } else if (mode == 2 || mode == 3) {
    int fd = output_pipe(mode == 2 ? spool_name : more_name, &lp.slot);
    if (fd <= 0) return;
    lp.fd = fd;
  } else if (prn_direct(mode) < 0) {
    return;
  }
  zprlck = 1;
}

void zclpr() {
  if (!zprlck) return;
  lcap_close();
  if (lp.mode == 3) {
    // the pager's screen ends in the normal look: the line-drawing set
    // off, a half-written screen sequence forgotten, attributes off
    bool busy = lp.scr_busy || sc_in_sequence();
    if (lp.acs || busy) str_to_lp(ztcvec[ZV_RMACS]);
    if (busy) sc_ground();
    lp.acs = false;
    str_to_lp(ztcvec[0]);
  }
  lpflush(1);
  zprlck = 0;
  if (lp.mode == 2 || lp.mode == 3) termproc(lp.slot, '1');
  if (lp.mode == 3) run_settings();
  if (lp.mode != 1 && lp.mode != 2 && lp.mode != 3) close_direct();
  lp.fd = -1;
  zrrmp = 0;
}

void lp_put(const uint8_t *bytes, int n) {
  while (n > 0) {
    int room = LP_OBUF - lp.ocnt;
    int k = n < room ? n : room;
    std::memcpy(lp.obuf + lp.ocnt, bytes, size_t(k));
    lp.ocnt += k;
    bytes += k;
    n -= k;
    if (lp.ocnt == LP_OBUF) write_out();
  }
}

void lpflush(int uncond) {
  if (!zprlck) return;
  lcap_flushline(uncond);
  write_out();
}

void str_to_lp(const char *s) {
  if (s && *s) tputs(s, 1, putc_to_lp);
}

void item_to_lp(int ch) {
  int cls = lp.mode == 3 && ch >= 128 ? tc_class(uint8_t(ch)) : CT_ORDINARY;
  if (cls < CT_ATTR || cls >= CT_END) {
    if (lp.acs) str_to_lp(ztcvec[ZV_RMACS]);  // text after a line is text again
    lp.acs = false;
    char_to_lp(ch);
    return;
  }
  int k = cls - CT_ATTR;  // ztcvec: 0-15 attributes, 16-37 line-drawing characters
  bool line = k >= ZV_LINE1;
  str_to_lp(ztcvec[line ? ZV_SMACS : ZV_RMACS]);
  lp.acs = line;
  str_to_lp(ztcvec[k]);
}

void lp_sendfile(const char *name) {
  int fd;
  do fd = open(name, O_RDONLY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  uint8_t piece[256];
  for (;;) {
    ssize_t n = read(fd, piece, sizeof piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    lp_put(piece, int(n));
  }
  close(fd);
}
