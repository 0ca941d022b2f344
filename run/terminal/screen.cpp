// screen.cpp: the interpreter of the screen control language (zoutnc), the
// read-only view of the virtual image, and the invalidation of a
// rectangle.  Owns sc, the state of the screen (scint.h).
//
// States (sc.mode) and what moves between them:
//   GROUND   ordinary and line-drawing bytes are stored and advance; a
//            field-attribute code is stored and propagated; control
//            bytes act (0x01 -> PASS1, ESC -> ESC)
//   PASS1    the byte goes to the terminal unchanged -> GROUND
//   ESC      a command byte: one without parameters acts -> GROUND; one
//            with parameters -> PARAMS; 0x33 -> PRT
//   PARAMS   collects 1 to 4 parameter bytes, then acts -> GROUND (0x16
//            with a count of at least 1 -> RAW)
//   RAW      attribute and character bytes, alternately, into the cells
//            from the cursor, counted -> GROUND
//   PRT      transparent printing: bytes to the terminal; ESC -> PRT_ESC
//   PRT_ESC  "4" ends it -> GROUND; 0x01, 0x09, 0x0A, 0x0B pass with the
//            next byte -> PRT_BYTE; anything else passes -> PRT
//   PRT_BYTE the byte passes unexamined -> PRT
// Nothing a program sends is refused, and nothing is ever written outside
// the image.
#include "run/terminal/screen.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>

#include "run/config/env.h"
#include "run/config/settings.h"
#include "run/terminal/phys.h"
#include "run/terminal/scint.h"
#include "run/terminal/tcap.h"

sc_state sc;

// ---- the view for the rest of run -------------------------------------------------

const sc_image *sc_view() {
  return sc.started && sc.virt.buf ? &sc.virt : nullptr;
}

sc_position sc_cell(int row, int col) {
  const sc_image *v = sc_view();
  if (!v || row < 0 || row >= v->nrow || col < 0 || col >= v->ncol) return {0, ' '};
  return v->buf[row * v->ncol + col];
}

int sc_get_ctl() {
  return sc.ctl;
}

void sc_set_ctl(int ctl) {
  zbuf_flush();
  sc.ctl = ctl & (SC_OUTPUT | SC_FROZEN);
}

int sc_in_sequence() {
  return sc.mode != SM_GROUND;
}

void sc_ground() {
  sc.mode = SM_GROUND;
}

// ---- the dump file --------------------------------------------------------------------

struct sc_dump {
  bool broken;  // a write failed: no more dumping
};
static sc_dump dump;

static void dump_bytes(const char *p, int n) {
  if (sc_dump_fd < 0 || dump.broken) return;
  while (n > 0) {
    ssize_t w = write(sc_dump_fd, p, size_t(n));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      dump.broken = true;
      return;
    }
    p += w;
    n -= int(w);
  }
}

// ---- commands --------------------------------------------------------------------------

// an attribute byte for a cell: 255 (unknown) is not a look a cell can want
static uint8_t cell_att(uint8_t a) {
  return a == CA_UNKNOWN ? uint8_t(CA_NORMAL) : a;
}

// a 1-based position byte: 0 stays on the screen at 0, past the end is the end
static short position(uint8_t p, int size) {
  int v = p == 0 ? 0 : p - 1;
  return short(v < size ? v : size - 1);
}

static void cursor_left() {
  sc_image &v = sc.virt;
  if (v.col > 0) {
    v.col--;
  } else {
    v.col = short(v.ncol - 1);
    v.row = short(v.row > 0 ? v.row - 1 : v.nrow - 1);
  }
}

static void control(uint8_t c) {
  sc_image &v = sc.virt;
  switch (c) {
    case 0x01:
      zflush(1);
      sc.mode = SM_PASS1;
      break;
    case 0x08:
      cursor_left();
      break;
    case 0x0A:
      if (v.row < v.nrow - 1)
        v.row++;
      else
        sc_scroll();
      break;
    case 0x0C:
      sc_clear();
      if (sc.ctl & SC_OUTPUT) phys_es(0, 0, 0);
      break;
    case 0x0D:
      v.col = 0;
      break;
    case 0x1B:
      sc.mode = SM_ESC;
      break;
    default:
      zflush(1);
      phys_raw(c);
      break;
  }
}

static void field_code(uint8_t c, int attribute) {
  if (vx_8bit) {
    sc_store(sc_cursor_index(), ' ');
  } else {
    sc.attrib_valid = 0;
    sc.current_attribute = 0;
    int at = sc_cursor_index();
    if (sc.virt.buf[at].chr != c) {
      sc.virt.buf[at].chr = c;
      sc_cf(sc.virt, attribute, at, sc.buflen);
      sc.phys_upd = 1;
    }
  }
  sc_advance();
}

static void ground(uint8_t c) {
  int cls = tc_class(c);
  if (cls == CT_CONTROL) {
    control(c);
  } else if (cls >= CT_ATTR && cls < CT_LINE1) {
    field_code(c, cls - CT_ATTR);
  } else {
    sc_store(sc_cursor_index(), c);
    sc_advance();
  }
}

// rows insert (n > 0) or delete (n < 0) at the cursor row: the terminal is
// told at once when it can be
static void rows(int n) {
  sc_image &v = sc.virt;
  int k = n < 0 ? -n : n;
  if (k == 0) return;
  if (k > v.nrow - v.row) k = v.nrow - v.row;
  phys_lines(v.row, n < 0 ? -k : k);
  sc_ic(0, 0, 0, v.row, (n < 0 ? -k : k) * v.ncol, 0);
}

static void erase(int to_row_end) {
  sc_image &v = sc.virt;
  int at = sc_cursor_index();
  sc_es(at, to_row_end ? (v.row + 1) * v.ncol - 1 : sc.buflen - 1, 0);
  if (sc.ctl & SC_OUTPUT) phys_es(v.col, v.row, to_row_end ? 2 : 1);
}

static void transparent_start() {
  zflush(1);
  tc_put(ztcvec[ZV_PRTR_ON]);
  zbuf_flush();
  sc.mode = SM_PRT;
}

// ESC 0x14: field-attribute code 0 at the cursor ruling with attribute a
static void field_attribute(uint8_t a) {
  int at = sc_cursor_index();
  sc.virt.buf[at].chr = cf_code[CF_ATTR];
  sc_cf(sc.virt, cell_att(a), at, sc.buflen);
  sc.phys_upd = 1;
  sc.attrib_valid = 0;
  sc.current_attribute = 0;
  sc_advance();
}

static void char_attribute(uint8_t a) {
  if (a == 255) {
    sc.attrib_valid = 0;
    sc.current_attribute = 0;
  } else if (tc.attr_mode == 0) {
    sc.attrib_valid = 1;
    sc.current_attribute = a;
  }
}

static void raw_start() {
  int count = sc.param[1] * 256 + sc.param[0];
  if (count < 1) return;
  sc.raw_left = count;
  sc.raw_chr = false;
  sc.mode = SM_RAW;
}

// the command in sc.cmd with its parameters collected
static void act() {
  sc_image &v = sc.virt;
  const uint8_t *p = sc.param;
  switch (sc.cmd) {
    case 0x09:
      v.col = position(p[0], v.ncol);
      break;
    case 0x0B:
      v.row = position(p[0], v.nrow);
      break;
    case 0x10:
      sc_ic(0, 0, v.col, v.row, p[0], 1);
      break;
    case 0x11:
      sc_ic(0, 0, v.col, v.row, -p[0], 1);
      break;
    case 0x12:
      rows(p[0]);
      break;
    case 0x13:
      rows(-p[0]);
      break;
    case 0x14:
      field_attribute(p[0]);
      break;
    case 0x15:
      char_attribute(p[0]);
      break;
    case 0x16:
      raw_start();
      break;
    case 0x17:
      sc.cvis1 = p[0] <= 2 ? p[0] : 1;
      sc.phys_upd = 1;
      break;
    case 0x18:
      sc_invalidate(p[0] - 1, p[1] - 1, p[2] - 1, p[3] - 1);
      break;
    case 0x84:
      sc_freeze(p[0]);
      break;
    case 0x85:
      sc_refresh(p[0], 0);
      break;
    default:  // 0x40-0x47, a box or line
      sc_draw_box(p[0] - 1, p[1] - 1, sc.cmd - 0x40, p[2]);
      break;
  }
}

// parameter bytes that ESC command c takes
static int params_of(uint8_t c) {
  switch (c) {
    case 0x09:
    case 0x0B:
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x15:
    case 0x17:
    case 0x84:
    case 0x85:
      return 1;
    case 0x16:
      return 2;
    case 0x18:
      return 4;
    default:
      break;
  }
  if (c >= 0x40 && c <= 0x47) return (c - 0x40) & 2 ? 3 : 2;
  return 0;
}

static void escape(uint8_t c) {
  if (params_of(c) > 0) {
    sc.cmd = c;
    sc.nparam = 0;
    sc.param[0] = sc.param[1] = sc.param[2] = sc.param[3] = 0;
    sc.mode = SM_PARAMS;
    return;
  }
  switch (c) {
    case 0x03:
    case 0x04:
      switchscreensize(42);
      break;
    case 0x05:
      switchscreensize(43);
      break;
    case 0x1D:
      erase(0);
      break;
    case 0x1E:
      erase(1);
      break;
    case 0x33:
      transparent_start();
      break;
    case 0x80:
      sc_start();
      break;
    case 0x81:
      break;
    case 0x82:
      sc_freeze(0);
      break;
    case 0x83:
      sc_refresh(0, 1);
      break;
    default:
      sc_advance();
      break;
  }
}

static void raw_byte(uint8_t c) {
  sc_position &cell = sc.virt.buf[sc_cursor_index()];
  if (sc.raw_chr) {
    cell.chr = c;
    sc_advance();
  } else {
    cell.att = cell_att(c);
  }
  sc.phys_upd = 1;
  sc.raw_chr = !sc.raw_chr;
  if (--sc.raw_left == 0) sc.mode = SM_GROUND;
}

// the printer's acknowledgement after the end of transparent printing
static void printer_handshake() {
  phys_raw(0x03);
  for (;;) {
    unsigned char b;
    ssize_t r = read(0, &b, 1);
    if (r == 1 || r == 0) return;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return;
    struct pollfd pf = {0, POLLIN, 0};
    if (poll(&pf, 1, -1) < 0 && errno != EINTR) return;
  }
}

static void transparent(uint8_t c) {
  switch (sc.mode) {
    case SM_PRT:
      if (c == 0x1B)
        sc.mode = SM_PRT_ESC;
      else
        phys_raw(c);
      return;
    case SM_PRT_ESC:
      if (c == '4') {
        if (ztcphs == 1) printer_handshake();
        tc_put(ztcvec[ZV_PRTR_OFF]);
        zbuf_flush();
        phys_lost();
        sc.mode = SM_GROUND;
        return;
      }
      phys_raw(0x1B);
      phys_raw(c);
      sc.mode = c == 0x01 || c == 0x09 || c == 0x0A || c == 0x0B ? SM_PRT_BYTE : SM_PRT;
      return;
    default:
      phys_raw(c);
      sc.mode = SM_PRT;
      return;
  }
}

static void step(uint8_t c) {
  switch (sc.mode) {
    case SM_GROUND:
      ground(c);
      return;
    case SM_PASS1:
      sc.mode = SM_GROUND;
      phys_raw(c);
      return;
    case SM_ESC:
      sc.mode = SM_GROUND;
      escape(c);
      return;
    case SM_PARAMS:
      sc.param[sc.nparam++] = c;
      if (sc.nparam < params_of(sc.cmd)) return;
      sc.mode = SM_GROUND;
      act();
      return;
    case SM_RAW:
      raw_byte(c);
      return;
    default:
      transparent(c);
      return;
  }
}

void zoutnc(const char *bytes, int n) {
  if (!bytes || n <= 0) return;
  dump_bytes(bytes, n);
  if (!sc.started || !sc.virt.buf) return;
  for (int i = 0; i < n; i++) step(static_cast<uint8_t>(bytes[i]));
}

void zoutc(int ch) {
  char c = char(ch);
  zoutnc(&c, 1);
}

void sc_control(const char *bytes, int n) {
  zoutnc(bytes, n);
}

void sc_invalidate(int x0, int y0, int x1, int y1) {
  sc_image &v = sc.virt;
  if (!v.buf) return;
  auto clip = [](int a, int last) { return a < 0 ? 0 : a > last ? last : a; };
  int c0 = clip(x0 < x1 ? x0 : x1, v.ncol - 1), c1 = clip(x0 < x1 ? x1 : x0, v.ncol - 1);
  int r0 = clip(y0 < y1 ? y0 : y1, v.nrow - 1), r1 = clip(y0 < y1 ? y1 : y0, v.nrow - 1);
  phys_invalidate(c0, r0, c1, r1);
  sc.phys_upd = 1;
  zflush(1);
}
