// zsmsg.cpp: the message writer used by every part of run.  Before the
// screen exists the bytes go straight to standard output.
#include "run/base/zsmsg.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>

void (*zsmsg_screen)(const char *text) = nullptr;

static void write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report it
    }
    p += w;
    n -= size_t(w);
  }
}

void zsmsg(const char *text) {
  if (zsmsg_screen) {
    zsmsg_screen(text);
    return;
  }
  write_all(1, text, std::strlen(text));
}
