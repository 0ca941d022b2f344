// scbench: the screen workload through the screen control language on
// TERM=xterm-256color, 80x24.  Prints the bytes sent to the terminal per
// phase, checks the screen states by feeding the bytes to a terminal
// emulator (libvterm), and times the refresh of a full-screen change and
// of a one-cell change.
//   scbench bytes   the byte table (and the screen checks)
//   scbench time N  microseconds per frame over N frames
#include <vterm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/screen/workload.h"
#include "run/config/env.h"
#include "run/terminal/kmap.h"
#include "run/terminal/phys.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"

namespace {

std::string out;  // what the terminal receives

std::string esc(std::initializer_list<int> b) {
  std::string s = "\x1b";
  for (int c : b) s += char(c);
  return s;
}
std::string at(int row, int col) {
  return esc({0x0B, row + 1}) + esc({0x09, col + 1});
}
void put(const std::string &s) {
  zoutnc(s.data(), int(s.size()));
}
std::string grf(int element) {
  return std::string(1, char(cf_code[CF_LINE1 + element]));
}

constexpr int BOLD = 16;  // map code given the bold look, as a program would
const std::string reverse_on = esc({0x15, 4}), bold_on = esc({0x15, BOLD}),
                  plain = esc({0x15, 255});

void start() {
  phys_capture_for_test(&out);
  kmap_init();
  active_terminal = "xterm-256color";
  inicap();
  if (!sc_init()) std::exit(2);
  set_camap(BOLD, DA_BOLD, -1, -1);
}

void form() {
  put(at(0, 0) + esc({0x40, wl::COLS, wl::ROWS}));
  put(at(1, 30) + bold_on + "CUSTOMER MAINTENANCE" + plain);
  for (int i = 0; i < 10; i++) {
    put(at(wl::field_row(i), wl::label_col(i)) + wl::labels[i]);
    put(at(wl::field_row(i), wl::value_col(i)) + reverse_on + wl::value(i) + plain);
  }
  put(at(7, 0) + esc({0x44, wl::COLS, 8}));  // merged: tees on the box's sides
  for (int r = wl::LIST_TOP; r <= wl::LIST_BOTTOM; r++)
    put(at(r, 1) + wl::list_line(r - wl::LIST_TOP + 1));
  put(at(2, 15));
}

void update(int u) {
  put(at(5, 54) + reverse_on + wl::amount(1234LL * u) + plain + at(5, 54));
}

// the list moves up one line: the row delete and insert of the language
void scroll(int s) {
  put(at(wl::LIST_TOP, 1) + esc({0x13, 1}) + at(wl::LIST_BOTTOM, 1) + esc({0x12, 1}));
  put(at(wl::LIST_BOTTOM, 0) + grf(LD_VERT) + wl::list_line(s + 15) + grf(LD_VERT));
  put(at(wl::LIST_BOTTOM, 1));
}

// ---- checking the screen states with libvterm ---------------------------------------

struct emulator {
  VTerm *vt;
  VTermScreen *screen;
  size_t fed = 0;
  emulator() {
    vt = vterm_new(wl::ROWS, wl::COLS);
    vterm_set_utf8(vt, 0);
    screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
  }
  ~emulator() { vterm_free(vt); }
  void catch_up() {
    vterm_input_write(vt, out.data() + fed, out.size() - fed);
    fed = out.size();
  }
  VTermScreenCell cell(int r, int c) {
    VTermScreenCell vc;
    vterm_screen_get_cell(screen, VTermPos{r, c}, &vc);
    return vc;
  }
};

int failures = 0;

void expect_char(emulator &e, int r, int c, uint32_t ch, const char *what) {
  uint32_t got = e.cell(r, c).chars[0];
  if (got == 0) got = ' ';
  if (got == ch) return;
  if (failures++ >= 10) return;
  std::fprintf(stderr, "screen check: %s at %d,%d: U+%04X, wanted U+%04X\n", what, r, c, got, ch);
}

void expect_text(emulator &e, int r, int c, const std::string &text, bool rev, bool bold) {
  for (size_t i = 0; i < text.size(); i++) {
    expect_char(e, r, c + int(i), uint8_t(text[i]), "text");
    VTermScreenCell vc = e.cell(r, c + int(i));
    if (bool(vc.attrs.reverse) != rev || bool(vc.attrs.bold) != bold) {
      std::fprintf(stderr, "screen check: look at %d,%d\n", r, c + int(i));
      failures++;
      return;
    }
  }
}

void check_form(emulator &e, int first_line, long long balance) {
  e.catch_up();
  expect_char(e, 0, 0, 0x250C, "corner");
  expect_char(e, 0, 79, 0x2510, "corner");
  expect_char(e, 23, 0, 0x2514, "corner");
  expect_char(e, 23, 79, 0x2518, "corner");
  expect_char(e, 7, 0, 0x251C, "tee");
  expect_char(e, 7, 79, 0x2524, "tee");
  for (int c = 1; c < 79; c++) expect_char(e, 7, c, 0x2500, "line");
  for (int r = 1; r < 23; r++)
    if (r != 7) expect_char(e, r, 0, 0x2502, "side"), expect_char(e, r, 79, 0x2502, "side");
  expect_text(e, 1, 30, "CUSTOMER MAINTENANCE", false, true);
  for (int i = 0; i < 10; i++) {
    expect_text(e, wl::field_row(i), wl::label_col(i), wl::labels[i], false, false);
    std::string v = i == 7 ? wl::amount(balance) : wl::value(i);
    expect_text(e, wl::field_row(i), wl::value_col(i), v, true, false);
  }
  for (int r = wl::LIST_TOP; r <= wl::LIST_BOTTOM; r++)
    expect_text(e, r, 1, wl::list_line(first_line + r - wl::LIST_TOP), false, false);
}

void expect_cursor(emulator &e, int r, int c) {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(e.vt), &pos);
  if (pos.row == r && pos.col == c) return;
  std::fprintf(stderr, "screen check: cursor at %d,%d, wanted %d,%d\n", pos.row, pos.col, r, c);
  failures++;
}

int bytes() {
  emulator e;
  start();
  size_t init = out.size();
  form();
  zflush(1);
  size_t form_bytes = out.size() - init;
  check_form(e, 1, 0);
  expect_cursor(e, 2, 15);
  for (int u = 1; u <= wl::UPDATES; u++) {
    update(u);
    zflush(1);
  }
  size_t update_bytes = out.size() - init - form_bytes;
  check_form(e, 1, 1234LL * wl::UPDATES);
  expect_cursor(e, 5, 54);
  for (int s = 1; s <= wl::SCROLLS; s++) {
    scroll(s);
    zflush(1);
    if (s == 1) check_form(e, 2, 1234LL * wl::UPDATES);
  }
  size_t scroll_bytes = out.size() - init - form_bytes - update_bytes;
  check_form(e, wl::SCROLLS + 1, 1234LL * wl::UPDATES);
  expect_cursor(e, 22, 1);
  size_t before_end = out.size();
  sc_reset();
  size_t end_bytes = out.size() - before_end;
  std::printf("init %zu\nform %zu\nupdate %.1f\nscroll %.1f\nendwin %zu\nchecks %s\n", init,
              form_bytes, double(update_bytes) / wl::UPDATES, double(scroll_bytes) / wl::SCROLLS,
              end_bytes, failures ? "FAILED" : "passed");
  return failures ? 1 : 0;
}

// ---- time per frame ----------------------------------------------------------------

using clk = std::chrono::steady_clock;

double micros(clk::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

int timing(int frames) {
  start();
  std::string full[2];
  for (int k = 0; k < 2; k++)
    for (int r = 0; r < wl::ROWS; r++)
      full[k] += at(r, 0) + std::string(r == wl::ROWS - 1 ? 79 : 80, char('A' + k + r % 20));
  clk::duration draw{}, refresh{};
  for (int f = 0; f < frames; f++) {
    auto t0 = clk::now();
    put(full[f % 2]);
    auto t1 = clk::now();
    zflush(1);
    auto t2 = clk::now();
    draw += t1 - t0;
    refresh += t2 - t1;
    out.clear();
  }
  std::printf("full %.2f %.2f\n", micros(refresh) / frames, micros(draw + refresh) / frames);
  draw = refresh = {};
  for (int f = 0; f < frames; f++) {
    std::string one = at(11, 40) + char('a' + f % 26);
    auto t0 = clk::now();
    put(one);
    auto t1 = clk::now();
    zflush(1);
    auto t2 = clk::now();
    draw += t1 - t0;
    refresh += t2 - t1;
    out.clear();
  }
  std::printf("cell %.2f %.2f\n", micros(refresh) / frames, micros(draw + refresh) / frames);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "bytes") == 0) return bytes();
  if (argc >= 3 && std::strcmp(argv[1], "time") == 0) return timing(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: scbench bytes | time N\n");
  return 2;
}
