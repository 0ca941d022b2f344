// keys.cpp: TEMPORARY stand-in for the keyboard reader, which the keyboard
// issue builds: keys are the bytes of standard input, one at a time,
// without function-key sequences, maps or type-ahead.
#include "run/terminal/keys.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>

void realloc_ctrl_keys() {}

int get_char(int mode) {
  if (mode == 1) {
    struct pollfd p = {0, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return -1;
  }
  for (;;) {
    unsigned char c;
    ssize_t n = read(0, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -2;  // end of input or a read error
  }
}
