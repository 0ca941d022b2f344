// lp.cpp: TEMPORARY stand-in for printer output, which the printing issue
// builds: the printer is "opened" without a device, and print bytes go
// straight to standard output without printer entries, modes or pipes.
#include "run/terminal/lp.h"

#include <unistd.h>
#include <cerrno>

int zprlck;

void zoppr() {
  zprlck = 1;
}
void zclpr() {
  zprlck = 0;
}
void char_to_lp(int ch) {
  char c = static_cast<char>(ch);
  ssize_t w;
  do w = write(1, &c, 1);
  while (w < 0 && errno == EINTR);
}
void lpflush(int) {}
