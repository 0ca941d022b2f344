// screen.cpp: TEMPORARY stand-in for the screen image and refresh, which a
// later issue builds.  Nothing is buffered yet, so there is nothing to
// flush or reset; messages go straight to standard output (zsmsg), and
// zoutnc passes printable text and line ends straight to standard output
// while it drops the control sequences, which need the image to mean
// anything.
#include "run/terminal/screen.h"

#include <unistd.h>
#include <cerrno>

int sc_init() {
  return 1;
}
void sc_cleanup() {}
void sc_reset() {}
void zflush(int) {}
void sc_control(const char *, int) {}

static int in_escape;  // bytes of an ESC sequence still to drop

void zoutnc(const char *bytes, int n) {
  for (int i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (in_escape) {
      in_escape--;
      continue;
    }
    if (c == 0x1b) {
      in_escape = 1;
      continue;
    }
    if (c < 0x20 && c != '\r' && c != '\n' && c != '\b' && c != '\t') continue;
    ssize_t w;
    do w = write(1, &c, 1);
    while (w < 0 && errno == EINTR);
  }
}

void zoutc(int ch) {
  char c = static_cast<char>(ch);
  zoutnc(&c, 1);
}
