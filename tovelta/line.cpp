// line.cpp: the terminal line.  Sequences go out with write(2) as they
// are built, so nothing sits in a buffer when the terminal's modes change.
// Owns tvline; used by main and the data phase.
//
//   file header    ESC c "13;" size "y" pcname ESC "\"
//   open request   ESC c "34;-1;1y"
//   data block     ESC c "34;" count ";" ack "y", then count raw bytes
//   end marker     ESC c "34;0;" ack "y"
// c is '[' (or '%' for the emulator's HP mode); numbers are decimal.
#include "tovelta/line.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

tvline_state tvline = {0, 1, '[', false};

void tvline_init(int in, int out, char intro) {
  tvline = {in, out, intro, false};
}

static bool put(const void *p, size_t n) {
  const char *s = static_cast<const char *>(p);
  while (n > 0 && !tvline.failed) {
    ssize_t w = write(tvline.out, s, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      tvline.failed = true;
      break;
    }
    s += w;
    n -= size_t(w);
  }
  return !tvline.failed;
}

bool tvline_header(long long size, const char *pcname) {
  char seq[TVLINE_ROOM];
  int n = snprintf(seq, sizeof seq, "\33%c13;%lldy", tvline.intro, size);
  return put(seq, size_t(n)) && put(pcname, strlen(pcname)) && put("\33\\", 2);
}

bool tvline_open_request() {
  char seq[TVLINE_ROOM];
  int n = snprintf(seq, sizeof seq, "\33%c34;-1;1y", tvline.intro);
  return put(seq, size_t(n));
}

bool tvline_end(unsigned ack) {
  char seq[TVLINE_ROOM];
  int n = snprintf(seq, sizeof seq, "\33%c34;0;%uy", tvline.intro, ack);
  return put(seq, size_t(n));
}

bool tvline_block(unsigned char *buf, int count, unsigned ack) {
  char seq[TVLINE_ROOM];
  int n = snprintf(seq, sizeof seq, "\33%c34;%d;%uy", tvline.intro, count, ack);
  // the sequence goes right before the data so that one write carries both
  memcpy(buf + TVLINE_ROOM - n, seq, size_t(n));
  return put(buf + TVLINE_ROOM - n, size_t(n + count));
}

int tvline_reply(char reply[TVLINE_REPLY_MAX + 1]) {
  int n = 0;
  for (;;) {
    char c;
    ssize_t r = read(tvline.in, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    if (n < TVLINE_REPLY_MAX) reply[n++] = c;
    if (c == '\n') break;
  }
  reply[n] = 0;
  return n;
}
