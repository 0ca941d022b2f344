// iscreen.cpp: the screen intrinsics (see iscreen.h).  Owns no state.
//
// Control strings (bytes in hexadecimal; ESC is 1B):
//   2  [n]      n x 08                 12 [n]    n x ESC 20
//   3  [c,] r   ESC 09 c ESC 0B r      13 [n]    n x 0D
//   4  [a]      ESC 14 a (VX8BIT)      26 a, b   ESC 0A b, ESC 01 a (each
//   5           0C                               when not 0); 00 for 0, 0
//   5  k        ESC 03/04/05/80..83    49 [n]    ESC 10 n, or ESC 11 -n
//   5  8|9, m   ESC 84 m, ESC 85 m     50 [n]    ESC 12 n, or ESC 13 -n
//   6  [n]      n x 0A                 51 x,y..  ESC 40+mode x y [a]
//   7  [n]      n x 0C                 55 a      ESC 15 a
//   8  c        ESC 09 c               58 n      ESC 16 lo hi
//   10          ESC 1E                 59 [v]    ESC 17 v
//   11          ESC 1D                 60 [...]  ESC 18 x0 y0 x1 y1
// "n" defaults to 1.  A position, count or size byte above 255 stands
// for 255 (the screen takes it as its last row or column).  Without
// VX8BIT, 4 gives the terminal's one-byte code for the attribute.
//
// The others read the screen's state: 42 the cells of the virtual image,
// 53 a function key's label, 56 the colour/attribute map.
#include "run/intrin/iscreen.h"

#include <cstring>

#include "run/base/image.h"
#include "run/base/interp.h"
#include "run/config/settings.h"
#include "run/intrin/iarg.h"
#include "run/numeric/zops.h"
#include "run/terminal/screen.h"
#include "run/terminal/tcap.h"

namespace {

constexpr uint8_t ESC = 0x1B;

// Pushes n copies of a code: one byte, or two (ESC and the command) for a
// code above 255; built at the result area at.
void push_repeated(uint32_t at, unsigned code, uint32_t n) {
  uint32_t w = code > 255 ? 2 : 1;
  uint64_t len = uint64_t(w) * n;
  if (len > 0xFFFF) zraise(ERR_STACK);
  uint8_t *p = ia_room(at, uint32_t(len));
  for (uint32_t i = 0; i < n; i++) {
    if (w == 2) *p++ = uint8_t(code >> 8);
    *p++ = uint8_t(code);
  }
  ia_push_text(at, uint32_t(len));
}

// [n] times a code, n defaulting to 1
int repeated(int count, unsigned code) {
  uint32_t at = ia_area();
  uint32_t n = count ? uint32_t(zppos()) : 1;
  push_repeated(at, code, n);
  return 0;
}

void push(std::initializer_list<uint8_t> b) {
  ia_push_bytes(b.begin(), uint32_t(b.size()));
}

// a position: 1..255 (0 is 104)
uint8_t position() {
  uint8_t v = ia_pop_byte();
  if (v == 0) zraise(ERR_ARGS);
  return v;
}

// ESC c n, or ESC (c + 1) -n for a negative n; default 1
int insert_delete(int count, uint8_t command) {
  int32_t n = count ? zplong() : 1;
  uint8_t c = n < 0 ? uint8_t(command + 1) : command;
  int64_t m = n < 0 ? -int64_t(n) : n;
  push({ESC, c, uint8_t(m > 255 ? 255 : m)});
  return 0;
}

}  // namespace

int iscr_left(int count) {
  return repeated(count, 0x08);
}

int iscr_move(int count) {
  uint8_t row = position();
  if (count == 1) {
    push({ESC, 0x0B, row});
  } else {
    uint8_t column = position();
    push({ESC, 0x09, column, ESC, 0x0B, row});
  }
  return 0;
}

int iscr_field(int count) {
  int32_t a = count ? zplong() : 0;
  a = (a % 16 + 16) % 16;
  if (vx_8bit)
    push({ESC, 0x14, uint8_t(a)});
  else
    push({cf_code[CF_ATTR + a]});
  return 0;
}

int iscr_clear(int count) {
  if (count == 0) return repeated(0, 0x0C);
  if (count == 2) {
    uint8_t m = ia_pop_byte();
    int32_t k = zplong();
    if (k != 8 && k != 9) zraise(ERR_ARGS);
    push({ESC, uint8_t(k == 8 ? 0x84 : 0x85), m});
    return 0;
  }
  int32_t k = zplong();
  uint8_t c = k == 2 ? 0x04 : k == 3 ? 0x05 : k >= 6 && k <= 9 ? uint8_t(0x80 + k - 6) : 0x03;
  push({ESC, c});
  return 0;
}

int iscr_down(int count) {
  return repeated(count, 0x0A);
}

int iscr_ff(int count) {
  return repeated(count, 0x0C);
}

int iscr_column(int) {
  push({ESC, 0x09, position()});
  return 0;
}

int iscr_erase_row(int) {
  push({ESC, 0x1E});
  return 0;
}

int iscr_erase_scr(int) {
  push({ESC, 0x1D});
  return 0;
}

int iscr_right(int count) {
  return repeated(count, ESC << 8 | 0x20);
}

int iscr_cr(int count) {
  return repeated(count, 0x0D);
}

int iscr_offset(int) {
  uint8_t b = ia_pop_byte(), a = ia_pop_byte();
  if (a == 0 && b == 0)
    push({0});
  else if (a == 0)
    push({ESC, 0x0A, b});
  else if (b == 0)
    push({ESC, 0x01, a});
  else
    push({ESC, 0x0A, b, ESC, 0x01, a});
  return 0;
}

// 42: [row [, column, length]] [, "A"]; the cells as characters, or as
// attribute and character pairs with "A".  A request past the end of the
// screen is cut there.
int iscr_read(int count) {
  uint32_t at = ia_area();
  bool pairs = false;
  if (count > 0 && (zdesc_get(ztop_value()).type & DSC_STR)) {
    ia_text t = ia_pop_text();
    if (t.len != 1 || *zat(t.addr, 1) != 'A') zraise(ERR_ARGS);
    pairs = true;
    count--;
  }
  const sc_image *v = sc_view();
  int64_t cells = v ? int64_t(v->nrow) * v->ncol : 0;
  int64_t start = 0, len = cells;
  if (count == 3) {
    int64_t n = zppos(), col = zppos(), row = zppos();
    if (n == 0 || col == 0 || row == 0) zraise(ERR_ARGS);
    if (v && col > v->ncol) zraise(ERR_ARGS);  // not on the screen
    start = v ? (row - 1) * v->ncol + col - 1 : 0;
    len = n;
  } else if (count == 1) {
    int64_t row = zppos();
    if (row == 0) zraise(ERR_ARGS);
    start = v ? (row - 1) * v->ncol : 0;
    len = v ? v->ncol : 0;
  } else if (count != 0) {
    zraise(ERR_ARGS);  // a column without its length
  }
  if (!v || start >= cells) zraise(ERR_ARGS);
  if (len > cells - start) len = cells - start;
  uint32_t bytes = uint32_t(pairs ? 2 * len : len);
  uint8_t *p = ia_room(at, bytes);
  if (sc_copy(int(start), int(len), reinterpret_cast<char *>(p), int(bytes), pairs) != 0)
    zraise(ERR_ARGS);
  ia_push_text(at, bytes);
  return 0;
}

int iscr_cells(int count) {
  return insert_delete(count, 0x10);
}

int iscr_rows(int count) {
  return insert_delete(count, 0x12);
}

int iscr_box(int count) {
  uint8_t attribute = count == 4 ? ia_pop_byte() : 0;
  int32_t mode = count >= 3 ? zppos() : 0;
  uint8_t y = position(), x = position();
  if (mode > 7) zraise(ERR_ARGS);
  if (mode & 4)
    push({ESC, uint8_t(0x40 + mode), x, y, attribute});
  else
    push({ESC, uint8_t(0x40 + mode), x, y});
  return 0;
}

int iscr_keylabel(int) {
  int32_t k = zplong();
  const char *label = k >= 0 && k <= 10 ? keylabel[k] : nullptr;
  if (!label) label = "";
  ia_push_bytes(label, uint32_t(std::strlen(label)));
  return 0;
}

int iscr_attribute(int) {
  int32_t a = zplong();
  uint8_t v = a == -1 ? 255 : a < 0 || a > 127 ? 127 : uint8_t(a);
  push({ESC, 0x15, v});
  return 0;
}

// 56: code, attribute, foreground, background [, "S"] sets an entry of
// the map (codes 0..127); code, a, b, c, "G" reads one into the variables.
int iscr_colour(int count) {
  char what = 'S';
  if (count == 5) {
    ia_text t = ia_pop_text();
    what = t.len == 1 ? char(*zat(t.addr, 1)) : 0;
    if (what != 'S' && what != 'G') zraise(ERR_ARGS);
  }
  if (what == 'G') {
    uint32_t bg = ia_pop_var(), fg = ia_pop_var(), att = ia_pop_var();
    int32_t code = zplong();
    camap_ent e = camap_get(code == CA_UNKNOWN ? 0 : code);  // 255 and codes past the map: entry 0
    ia_set_num(att, e.attribute);
    ia_set_num(fg, e.fg_color);
    ia_set_num(bg, e.bg_color);
    return 0;
  }
  int32_t bg = zplong(), fg = zplong(), att = zplong(), code = zplong();
  if (code < 0 || code > 127) zraise(ERR_ARGS);
  if (set_camap(code, att, fg, bg) < 0) zraise(ERR_STACK);
  camap_upd = 1;
  return 0;
}

int iscr_load(int) {
  int32_t n = zplong();
  if (n < 0 || n > 32767) zraise(ERR_ARGS);
  push({ESC, 0x16, uint8_t(n), uint8_t(n >> 8)});
  return 0;
}

int iscr_cursor(int count) {
  int32_t v = count ? zppos() : 1;
  if (v > 2) zraise(ERR_ARGS);
  push({ESC, 0x17, uint8_t(v)});
  return 0;
}

int iscr_rewrite(int count) {
  if (count != 0 && count != 4) zraise(ERR_ARGS);
  if (count == 0) {  // the whole screen at its current size
    const sc_image *v = sc_view();
    int cols = v ? v->ncol : tc.cols, rows = v ? v->nrow : tc.rows;
    push({ESC, 0x18, 1, 1, uint8_t(cols > 255 ? 255 : cols), uint8_t(rows > 255 ? 255 : rows)});
    return 0;
  }
  uint8_t y1 = position(), x1 = position(), y0 = position(), x0 = position();
  push({ESC, 0x18, x0, y0, x1, y1});
  return 0;
}
