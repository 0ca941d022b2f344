// keys_bench: the keyboard reader on a real pseudo-terminal.
//   latency  the time from a key written to the master side until get_char
//            returns it: median and 99th percentile, for a plain key and a
//            three-byte cursor key (xterm's up arrow)
//   paste    10,000 keys written at once by another process: all delivered,
//            in order, and the keys per second; once plain characters only,
//            once with every tenth key a cursor key
// Usage: keys_bench [ROUNDS]
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <curses.h>
#include <term.h>

#include "run/terminal/keys.h"

using clk = std::chrono::steady_clock;

static int master_fd = -1;

static void put(const std::string &s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t w = write(master_fd, s.data() + off, s.size() - off);
    if (w <= 0) std::exit(2);
    off += size_t(w);
  }
}

// Microseconds per key: median and 99th percentile.
static void latency(const char *what, const std::string &key, int code, int rounds) {
  std::vector<double> us;
  for (int i = 0; i < rounds; i++) {
    auto t0 = clk::now();
    put(key);
    int k = get_char(0);
    auto t1 = clk::now();
    if (k != code) {
      std::fprintf(stderr, "%s: got %x, want %x\n", what, unsigned(k), unsigned(code));
      std::exit(1);
    }
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("latency %-12s median %7.1f us   p99 %7.1f us   (%d keys)\n", what, us[us.size() / 2],
              us[us.size() * 99 / 100], rounds);
}

// keys written at once by a child process, read back in order
static void paste(const char *what, int count, bool cursor_keys, const std::string &up) {
  std::string text;
  std::vector<int> want;
  for (int i = 0; i < count; i++) {
    if (cursor_keys && i % 10 == 9) {
      text += up;
      want.push_back(0x0B);
    } else {
      char c = char('a' + i % 26);
      text += c;
      want.push_back(c);
    }
  }
  auto t0 = clk::now();
  pid_t pid = fork();
  if (pid == 0) {
    put(text);
    _exit(0);
  }
  for (int i = 0; i < count; i++) {
    int k = get_char(0);
    if (k != want[size_t(i)]) {
      std::fprintf(stderr, "%s: key %d is %x, want %x\n", what, i, unsigned(k),
                   unsigned(want[size_t(i)]));
      std::exit(1);
    }
  }
  double s = std::chrono::duration<double>(clk::now() - t0).count();
  waitpid(pid, nullptr, 0);
  std::printf("paste   %-12s %d keys, all in order, %.3f s, %.0f keys/s\n", what, count, s,
              count / s);
}

int main(int argc, char **argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 10000;
  int slave;
  struct termios t = {};
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (openpty(&master_fd, &slave, nullptr, &t, nullptr) < 0) return 2;
  dup2(slave, 0);
  close(slave);
  int err;
  if (setupterm("xterm", 1, &err) != 0) {
    std::fprintf(stderr, "no terminfo entry for xterm\n");
    return 2;
  }
  fill_ctrl_keys();
  realloc_ctrl_keys();
  std::string up = tigetstr("kcuu1");
  latency("plain key", "a", 'a', rounds);
  latency("cursor key", up, 0x0B, rounds);
  paste("plain", 10000, false, up);
  paste("mixed", 10000, true, up);
  return 0;
}
