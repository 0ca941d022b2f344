// scdriver: a test program that drives the screen the way run does, for the
// tests that watch a real terminal.  It starts like run (settings, program
// mode, capabilities, screen), then reads commands from the terminal, one
// per line, and answers each on the descriptor (or the file, a fifo) named
// by SCDRIVER_ACK:
//   w HEX...   zoutnc with the bytes          -> "ok"
//   f N        zflush(N)                       -> "ok"
//   c          the cursor, every row of the virtual image as text, "end"
//   q          exit through run's exit path (the terminal is reset)
// A runtime error raised by a command answers "err N".
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/base/interp.h"
#include "run/config/env.h"
#include "run/startup/startup.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"

static int ack_fd = -1;

static void answer(const std::string &text) {
  std::string line = text + "\n";
  const char *p = line.data();
  size_t n = line.size();
  while (n > 0) {
    ssize_t w = write(ack_fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) _exit(3);
    p += w;
    n -= size_t(w);
  }
}

// one line from the terminal (program mode: no echo, no line editing)
static bool read_line(std::string &line) {
  line.clear();
  for (;;) {
    char c;
    ssize_t r = read(0, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (c == '\r' || c == '\n') return true;
    line += c;
  }
}

static std::string unhex(const std::string &text) {
  std::string out;
  unsigned v = 0;
  int digits = 0;
  for (char c : text) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) continue;
    v = v * 16 + unsigned(d);
    if (++digits == 2) {
      out += char(v);
      v = 0;
      digits = 0;
    }
  }
  return out;
}

static std::string image_text() {
  const sc_image *v = sc_view();
  if (!v) return "none";
  std::string s = std::to_string(v->row) + " " + std::to_string(v->col);
  for (int r = 0; r < v->nrow; r++) {
    s += "\n";
    for (int c = 0; c < v->ncol; c++) s += char(sc_cell(r, c).chr);
  }
  return s;
}

static void command(const std::string &line) {
  switch (line.empty() ? ' ' : line[0]) {
    case 'w': {
      std::string bytes = unhex(line.substr(1));
      zoutnc(bytes.data(), int(bytes.size()));
      answer("ok");
      return;
    }
    case 'f':
      zflush(std::atoi(line.c_str() + 1));
      answer("ok");
      return;
    case 'c':
      answer(image_text() + "\nend");
      return;
    case 'q':
      answer("ok");
      exitr2(0);
    default:
      answer("?");
      return;
  }
}

int main(int argc, char **argv) {
  const char *ack = std::getenv("SCDRIVER_ACK");  // a descriptor, or a path to open
  ack_fd = !ack ? 2 : ack[0] == '/' ? open(ack, O_WRONLY) : std::atoi(ack);
  if (ack_fd < 0) return 2;
  run_hooks();
  settty(0, 0);
  if (env_init(argc, argv) < 0) return 2;
  inicap();
  if (!sc_init()) return 2;
  zflush(1);  // the cleared screen
  answer("ready");
  std::string line;
  while (read_line(line)) {
    try {
      command(line);
    } catch (const zerror_jump &e) {
      answer("err " + std::to_string(e.number));
    }
  }
  exitr2(0);
}
