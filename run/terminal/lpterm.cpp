// lpterm.cpp: TEMPORARY stand-in for what printer output takes from the
// terminal capabilities and the screen interpreter, which the screen issue
// builds (cf_code, ztcvec, vx_tgoto, the transparent-printing commands
// ESC "3" and ESC "4" of zoutnc, scr_state).  Until then: the default
// line-drawing codes, the strings of the terminfo entry of TERM read here,
// ncurses' tgoto, and an interpreter that is never inside a sequence.
#include "run/terminal/lpterm.h"

#include <curses.h>
#include <term.h>
#include <termcap.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "run/terminal/screen.h"

namespace {

struct lpt_state {
  int tried;  // setupterm was called
  int have;   // the terminal's entry is loaded
};
lpt_state lt;

const char *terminal_string(const char *name) {
  if (!lt.tried) {
    lt.tried = 1;
    int err = 0;
    lt.have = cur_term || setupterm(nullptr, 1, &err) == OK;
  }
  if (!lt.have) return "";
  char *s = tigetstr(name);
  return s && s != reinterpret_cast<char *>(-1) ? s : "";
}

void send(const char *s) {
  size_t n = std::strlen(s);
  while (n > 0) {
    ssize_t w = write(1, s, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    s += w;
    n -= size_t(w);
  }
}

}  // namespace

int lpt_grf_code(int k) {
  if (k < 0 || k >= 22) return -1;
  return k < 11 ? 0x80 + k : 0x90 + k - 11;
}

const char *lpt_cap(int idx) {
  switch (idx) {
    case 0:
      return terminal_string("sgr0");
    case 38:
      return terminal_string("smacs");
    case 39:
      return terminal_string("rmacs");
    case 40:
      return terminal_string("mc5");
    case 41:
      return terminal_string("mc4");
    default:
      return "";
  }
}

const char *lpt_tgoto(const char *s, int h, int v, int *len) {
  char *up = UP, *bc = BC;
  UP = BC = nullptr;  // no cursor-motion fix-ups in a printer sequence
  const char *r = s ? tgoto(s, h, v) : "";
  UP = up;
  BC = bc;
  if (!r) r = "OOPS";
  *len = int(std::strlen(r));
  return r;
}

void lpt_transparent(int on) {
  zflush(1);
  send(lpt_cap(on ? 40 : 41));
}

int lpt_scr_busy() {
  return 0;
}

void lpt_scr_reset() {}
