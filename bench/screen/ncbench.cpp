// ncbench: the ncurses yardstick for the screen workload: the same form,
// field updates and list scrolls (a scrolling region, as the workload file
// describes) through curses on TERM=xterm-256color, 80x24, into a file;
// the bytes per phase, and the time of doupdate for a full-screen change
// and a one-cell change.
//   ncbench bytes   the byte table
//   ncbench time N  microseconds per frame over N frames
#include <curses.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/screen/workload.h"

namespace {

FILE *out_file;

long written() {
  std::fflush(out_file);
  return long(lseek(fileno(out_file), 0, SEEK_CUR));
}

SCREEN *start(FILE *out) {
  out_file = out;
  setenv("LINES", "24", 1);
  setenv("COLUMNS", "80", 1);
  FILE *in = std::fopen("/dev/null", "r");
  SCREEN *sp = newterm("xterm-256color", out, in);
  if (!sp) std::exit(2);
  return sp;
}

void form() {
  box(stdscr, 0, 0);
  attron(A_BOLD);
  mvaddstr(1, 30, "CUSTOMER MAINTENANCE");
  attroff(A_BOLD);
  for (int i = 0; i < 10; i++) {
    mvaddstr(wl::field_row(i), wl::label_col(i), wl::labels[i]);
    attron(A_REVERSE);
    mvaddstr(wl::field_row(i), wl::value_col(i), wl::value(i).c_str());
    attroff(A_REVERSE);
  }
  mvaddch(7, 0, ACS_LTEE);
  mvhline(7, 1, ACS_HLINE, 78);
  mvaddch(7, 79, ACS_RTEE);
  for (int r = wl::LIST_TOP; r <= wl::LIST_BOTTOM; r++)
    mvaddstr(r, 1, wl::list_line(r - wl::LIST_TOP + 1).c_str());
  move(2, 15);
}

int bytes() {
  FILE *f = std::tmpfile();
  start(f);
  long init = written();
  form();
  refresh();
  long form_bytes = written() - init;
  for (int u = 1; u <= wl::UPDATES; u++) {
    attron(A_REVERSE);
    mvaddstr(5, 54, wl::amount(1234LL * u).c_str());
    attroff(A_REVERSE);
    move(5, 54);
    refresh();
  }
  long update_bytes = written() - init - form_bytes;
  scrollok(stdscr, TRUE);
  for (int s = 1; s <= wl::SCROLLS; s++) {
    setscrreg(wl::LIST_TOP, wl::LIST_BOTTOM);
    scrl(1);
    mvaddch(wl::LIST_BOTTOM, 0, ACS_VLINE);
    mvaddch(wl::LIST_BOTTOM, 79, ACS_VLINE);
    mvaddstr(wl::LIST_BOTTOM, 1, wl::list_line(s + 15).c_str());
    move(wl::LIST_BOTTOM, 1);
    refresh();
  }
  long scroll_bytes = written() - init - form_bytes - update_bytes;
  long before = written();
  endwin();
  long end_bytes = written() - before;
  std::printf("init %ld\nform %ld\nupdate %.1f\nscroll %.1f\nendwin %ld\n", init, form_bytes,
              double(update_bytes) / wl::UPDATES, double(scroll_bytes) / wl::SCROLLS, end_bytes);
  return 0;
}

using clk = std::chrono::steady_clock;

double micros(clk::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

int timing(int frames) {
  start(std::fopen("/dev/null", "w"));
  clk::duration draw{}, update{};
  for (int f = 0; f < frames; f++) {
    auto t0 = clk::now();
    for (int r = 0; r < wl::ROWS; r++) {
      std::string row(r == wl::ROWS - 1 ? 79 : 80, char('A' + f % 2 + r % 20));
      mvaddnstr(r, 0, row.c_str(), int(row.size()));
    }
    wnoutrefresh(stdscr);
    auto t1 = clk::now();
    doupdate();
    auto t2 = clk::now();
    draw += t1 - t0;
    update += t2 - t1;
  }
  std::printf("full %.2f %.2f\n", micros(update) / frames, micros(draw + update) / frames);
  draw = update = {};
  for (int f = 0; f < frames; f++) {
    auto t0 = clk::now();
    mvaddch(11, 40, chtype('a' + f % 26));
    wnoutrefresh(stdscr);
    auto t1 = clk::now();
    doupdate();
    auto t2 = clk::now();
    draw += t1 - t0;
    update += t2 - t1;
  }
  std::printf("cell %.2f %.2f\n", micros(update) / frames, micros(draw + update) / frames);
  endwin();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "bytes") == 0) return bytes();
  if (argc >= 3 && std::strcmp(argv[1], "time") == 0) return timing(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: ncbench bytes | time N\n");
  return 2;
}
