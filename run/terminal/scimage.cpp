// scimage.cpp: operations on a screen image: filling, erasing, inserting
// and deleting cells, field-attribute propagation, writing at the cursor,
// advancing and scrolling, copying cells out.  Works on sc (scint.h) for
// the control language (screen.cpp), the boxes and the refresh.
//
// Field attributes: a field-attribute code occupies a cell, and it and
// every cell after it up to the next code have att = its attribute.  In
// character-attribute mode every written character gets current_attribute
// instead.  Cells that an insertion or deletion opens, or that scroll in,
// are blanks in the attribute in force where they open (current_attribute
// in character-attribute mode); when an erase, insertion or deletion
// removes a code, the attribute in force before it rules the cells after
// the change again, up to the next code.
#include <cstring>

#include "run/terminal/phys.h"
#include "run/terminal/scint.h"
#include "run/terminal/tcap.h"

bool sc_is_field(uint8_t chr) {
  int cls = tc_class(chr);
  return cls >= CT_ATTR && cls < CT_LINE1;
}

bool sc_is_line1(uint8_t chr) {
  int cls = tc_class(chr);
  return cls >= CT_LINE1 && cls < CT_LINE2;
}

void sc_fillbuf(sc_image &img, int at, int n, uint8_t chr, uint8_t att) {
  sc_position *c = sc_cells(img) + at;
  for (int i = 0; i < n; i++) c[i] = {att, chr};
}

void sc_cf_fill(sc_image &img, int code, int from, int end) {
  sc_position *c = sc_cells(img);
  if (from >= end) return;
  c[from].att = uint8_t(code);
  for (int i = from + 1; i < end && !sc_is_field(c[i].chr); i++) c[i].att = uint8_t(code);
  if (&img == &sc.virt) sc.phys_upd = 1;
}

void sc_cf(sc_image &img, int code, int from, int end) {
  if (from < end && sc_cells(img)[from].att == code) return;
  sc_cf_fill(img, code, from, end);
}

// the attribute in force just before cell at (0 at the image start)
static uint8_t att_before(int at) {
  return at > 0 ? sc.virt.buf[at - 1].att : 0;
}

void sc_cf_del(int at) {
  sc_cf(sc.virt, att_before(at), at, sc.buflen);
}

// after a code went: the attribute in force at cell end - 1 rules on
static void repropagate(int end) {
  if (end < sc.buflen && !sc_is_field(sc.virt.buf[end].chr))
    sc_cf_fill(sc.virt, sc.virt.buf[end - 1].att, end, sc.buflen);
}

static bool holds_code(int from, int to) {
  for (int i = from; i < to; i++)
    if (sc_is_field(sc.virt.buf[i].chr)) return true;
  return false;
}

void sc_es(int from, int to, int flag) {
  if (from > to || from < 0 || to >= sc.buflen) return;
  sc_position *c = sc.virt.buf;
  sc.phys_upd = 1;
  if (flag == 1) {
    sc_fillbuf(sc.virt, from, to - from + 1, ' ', 0);
    return;
  }
  int i = from;
  while (i <= to && !sc_is_field(c[i].chr)) {
    if (sc.attrib_valid) c[i].att = uint8_t(sc.current_attribute);
    c[i++].chr = ' ';
  }
  if (i > to) return;
  uint8_t before = att_before(i);
  uint8_t a = sc.attrib_valid ? uint8_t(sc.current_attribute) : before;
  for (; i <= to; i++) c[i] = {a, ' '};
  if (to + 1 < sc.buflen && !sc_is_field(c[to + 1].chr))
    sc_cf_fill(sc.virt, before, to + 1, sc.buflen);
}

void sc_ic(int phys_flag, int, int col, int row, int n, int line_flag) {
  sc_image &img = phys_flag ? sc.phys : sc.virt;
  if (!img.buf || row < 0 || row >= img.nrow || col < 0 || col >= img.ncol) return;
  int from = row * img.ncol + col;
  int end = line_flag ? (row + 1) * img.ncol : img.nrow * img.ncol;
  int len = end - from, k = n < 0 ? -n : n;
  if (n == 0) return;
  if (k > len) k = len;
  bool lost = !phys_flag && (n > 0 ? holds_code(end - k, end) : holds_code(from, from + k));
  sc_position *c = img.buf;
  int open;
  if (n > 0) {
    std::memmove(c + from + k, c + from, size_t(len - k) * sizeof(sc_position));
    open = from;
  } else {
    std::memmove(c + from, c + from + k, size_t(len - k) * sizeof(sc_position));
    open = end - k;
  }
  uint8_t att;
  if (phys_flag)
    att = uint8_t(phys_blank_att());
  else
    att = sc.attrib_valid ? uint8_t(sc.current_attribute) : att_before(open);
  sc_fillbuf(img, open, k, ' ', att);
  if (phys_flag) return;
  sc.phys_upd = 1;
  if (!lost) return;
  if (n > 0)
    repropagate(end);  // the lost code ruled the cells past the region
  else if (!sc_is_field(c[from].chr))
    sc_cf_fill(sc.virt, att_before(from), from, sc.buflen);  // and those moved up
}

void sc_store(int at, uint8_t chr) {
  sc_position &c = sc.virt.buf[at];
  if (sc_is_field(c.chr)) sc_cf_del(at);
  if (sc.attrib_valid) c.att = uint8_t(sc.current_attribute);
  c.chr = chr;
  sc.phys_upd = 1;
}

void sc_scroll() {
  sc_ic(0, 0, 0, 0, -sc.virt.ncol, 0);
  if (sc.scrolled < sc.virt.nrow) sc.scrolled++;
}

void sc_advance() {
  sc_image &v = sc.virt;
  if (++v.col < v.ncol) return;
  v.col = 0;
  if (++v.row < v.nrow) return;
  v.row = short(v.nrow - 1);
  sc_scroll();
}

void sc_clear() {
  sc_fillbuf(sc.virt, 0, sc.buflen, ' ', 0);
  sc.virt.row = sc.virt.col = 0;
  sc.phys_upd = 1;
  sc.scrolled = 0;
}

int sc_copy(int start, int len, char *dest, int max_len, int attribs) {
  if (!sc.started || !sc.virt.buf || start < 0 || start >= sc.buflen) return -1;
  if (len < 0) len = 0;
  if (len > sc.buflen - start) len = sc.buflen - start;
  int need = attribs ? 2 * len : len;
  if (max_len < need || (need > 0 && !dest)) return -2;
  const sc_position *c = sc.virt.buf + start;
  for (int i = 0; i < len; i++) {
    if (attribs) {
      *dest++ = char(c[i].att);
      *dest++ = char(c[i].chr);
    } else {
      *dest++ = char(c[i].chr);
    }
  }
  return 0;
}
