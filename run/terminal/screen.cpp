// screen.cpp: TEMPORARY stand-in for the screen image and refresh, which a
// later issue builds.  Nothing is buffered yet, so there is nothing to
// flush or reset; messages go straight to standard output (zsmsg).
#include "run/terminal/screen.h"

int sc_init() {
  return 1;
}
void sc_cleanup() {}
void sc_reset() {}
void zflush(int) {}
// Control sequences need the screen image to mean anything; dropped.
void sc_control(const char *, int) {}
