// phys.cpp: terminal output.  Owns the output buffer, the physical image's
// bookkeeping (the terminal's attribute, character set and cursor
// visibility) and the refresh timing.  The physical image itself (sc.phys)
// records what the terminal shows: a cell with att 255 is unknown and is
// always rewritten; a cursor row of -1 means that the terminal's cursor is
// unknown and the next move is absolute.
//
// The refresh, row by row (sc_refsub):
//   - first differing cell and end of the last differing stretch;
//   - a row that has become one attribute's blanks from there on is erased
//     with clr_eol when that is cheaper and the erase shows that attribute;
//   - stretches separated by at most ch_cost equal cells of the same look
//     go out as one run (rewriting is cheaper than moving);
//   - the bottom-right cell of a terminal with automatic margins is written
//     only when the terminal defers the wrap (eat_newline_glitch): the
//     cursor then waits in the last column, where carriage return, line
//     feed and addressing behave as usual but a character would wrap.
// Before the rows, a virtual image that scrolled is matched by scrolling
// the terminal when that lines up more rows; the cursor is hidden while a
// refresh touches more than one row.
//
// Cursor motion (phys_cm), cheapest of: nothing; carriage return (column 0
// of the same row); carriage return and line feeds (column 0, fewer rows
// down than cv_cost, character set off); column or row addressing when the
// other coordinate stays; full addressing.
#include "run/terminal/phys.h"

#include <poll.h>
#include <sys/times.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "run/base/interp.h"
#include "run/terminal/kmap.h"
#include "run/terminal/scint.h"
#include "run/terminal/tcap.h"
#include "run/terminal/tty.h"

struct phys_out {
  char buf[ZMAX];        // zbuf
  int used;              // bytes in it (zptr)
  int fd = 1;            // stdout_fd
  std::string *capture;  // tests: collects the bytes instead
  int attribute = 255;   // phys_attribute: the terminal's map code, 255 unknown
  int acs;               // phys_state: the line-drawing character set is on
  int cvis0 = -1;        // the terminal's cursor visibility, -1 unknown
  bool pending;          // the cursor waits in the last column to wrap
  clock_t last;          // time of the last refresh, in clock ticks
  bool have_last;        // last is set
};
static phys_out po;

constexpr clock_t ZFLUSH_DELAY = 60;  // ticks between two refreshes not forced
constexpr int ZFL_COUNT = 100;        // instructions until a deferred refresh

// ---- the output buffer ----------------------------------------------------------

static bool output_on() {
  return (sc.ctl & SC_OUTPUT) != 0;
}

// writes n bytes to the terminal, waiting while a non-blocking line is full;
// a terminal that has gone away loses them
static void write_out(const char *p, size_t n) {
  if (po.capture) {
    po.capture->append(p, n);
    return;
  }
  while (n > 0) {
    ssize_t w = write(po.fd, p, n);
    if (w > 0) {
      p += w;
      n -= size_t(w);
    } else if (w < 0 && errno == EAGAIN) {
      struct pollfd pf = {po.fd, POLLOUT, 0};
      if (poll(&pf, 1, 5000) <= 0) return;
    } else if (!(w < 0 && errno == EINTR)) {
      return;
    }
  }
}

void phys_buffer_init() {
  po.used = 0;
  po.attribute = CA_UNKNOWN;
  po.acs = 0;
  po.cvis0 = -1;
  po.pending = false;
  po.have_last = false;
}

void outchr(int c) {
  if (po.used == ZMAX) {
    if (output_on()) write_out(po.buf, ZMAX);
    po.used = 0;
  }
  po.buf[po.used++] = char(c);
}

void zbuf_flush() {
  if (po.used > 0 && output_on()) write_out(po.buf, size_t(po.used));
  po.used = 0;
}

void phys_capture_for_test(std::string *sink) {
  po.capture = sink;
}

int phys_attribute() {
  return po.attribute;
}

// ---- timing -------------------------------------------------------------------

void zflush(int uncond) {
  if (!sc.started) return;
  struct tms t;
  clock_t now = times(&t);
  if (uncond || !po.have_last) {
    po.last = now;
    po.have_last = true;
  }
  if (uncond == 0) {
    if (zfl_pcnt == 0) zfl_pcnt = ZFL_COUNT;
    if (now - po.last < ZFLUSH_DELAY) return;
    po.last = now;
  }
  sc_refresh(-1, uncond == 2);
  zbuf_flush();
  zfl_pcnt = 0;
}

// ---- attributes ---------------------------------------------------------------

static bool same_ent(const camap_ent &a, const camap_ent &b) {
  return a.attribute == b.attribute && a.fg_color == b.fg_color && a.bg_color == b.bg_color;
}

static bool is_normal(int code) {
  return code != CA_UNKNOWN && same_ent(camap_get(code), camap_get(CA_NORMAL));
}

// cells that the terminal erases while showing code look like code: the
// normal look, or with back_color_erase a code that only sets colours
static bool erases_as(int code) {
  if (code == CA_UNKNOWN) return false;
  return is_normal(code) || (tc.cap.bce && camap_get(code).attribute == 0);
}

int phys_blank_att() {
  return erases_as(po.attribute) ? po.attribute : CA_UNKNOWN;
}

static void send_attributes(int attribute) {
  int a = attribute == 255 ? 0 : attribute;
  if (a <= 14 && !po.acs)
    tc_put(ztcvec[a]);
  else
    tc_put(tc_sgr(a, po.acs));
}

static void send_colours(const camap_ent &old, const camap_ent &nw) {
  bool drop = (old.fg_color != 255 && nw.fg_color == 255) ||
              (old.bg_color != 255 && nw.bg_color == 255) ||
              (same_ent(old, camap_get(CA_UNKNOWN)) && (tc.cap.setaf || tc.cap.setab));
  if (drop) tc_put(tc.cap.op);
  if (tc.cap.setab && nw.bg_color != 255) tc_put(tc_parm(tc.cap.setab, nw.bg_color));
  if (tc.cap.setaf && nw.fg_color != 255) tc_put(tc_parm(tc.cap.setaf, nw.fg_color));
}

void phys_ca(int old, int nw, int cf_flag, int new_state) {
  bool charset_too = false;
  if (new_state != po.acs) {
    po.acs = new_state;
    if (!tc.grf_state && old == nw) return;
    bool own_switch = tc.cap.smacs && tc.cap.rmacs;
    if (!tc.set_attrib_grf || (own_switch && old == nw)) {
      tc_put(new_state ? ztcvec[ZV_SMACS] : ztcvec[ZV_RMACS]);
      if (old == nw) return;
    } else {
      charset_too = true;
    }
  }
  camap_ent o = camap_get(old), n = camap_get(nw);
  if (cf_flag) {
    if (n.attribute < 16) tc_put(ztcvec[n.attribute]);
  } else if (tc.attr_mode == 0 && tc.cap.sgr) {
    if (charset_too || (n.attribute != 255 && n.attribute != o.attribute))
      send_attributes(n.attribute);
  }
  send_colours(o, n);
  po.attribute = nw;
}

// ---- cursor -----------------------------------------------------------------------

void phys_lost() {
  sc.phys.row = -1;
  po.pending = false;
  po.attribute = CA_UNKNOWN;
}

static void send_visibility() {
  if (sc.cvis1 == po.cvis0) return;
  const tc_caps &c = tc.cap;
  const char *s = sc.cvis1 == 0 ? c.civis : sc.cvis1 == 2 ? (c.cvvis ? c.cvvis : c.cnorm) : c.cnorm;
  tc_put(s);
  po.cvis0 = sc.cvis1;
}

static void absolute(int col, int row) {
  const tc_caps &c = tc.cap;
  if (c.cup) {
    tc_put(tc_parm(c.cup, row, col));
  } else if (c.hpa && c.vpa) {
    tc_put(tc_parm(c.hpa, col));
    tc_put(tc_parm(c.vpa, row));
  }
  sc.phys.col = short(col);
  sc.phys.row = short(row);
  po.pending = false;
}

void phys_cm(int col, int row, int flag) {
  sc_image &p = sc.phys;
  const tc_caps &c = tc.cap;
  bool known = p.row >= 0;
  if (flag || !known) {
    absolute(col, row);
  } else if (p.row == row && p.col == col) {
    if (po.pending) absolute(col, row);
  } else if (col == 0 && row == p.row) {
    outchr('\r');
  } else if (col == 0 && row > p.row && row - p.row < tc.cv_cost && !po.acs) {
    outchr('\r');
    for (int i = p.row; i < row; i++) outchr('\n');
  } else if (row == p.row && c.hpa) {
    tc_put(tc_parm(c.hpa, col));
  } else if (col == p.col && c.vpa) {
    tc_put(tc_parm(c.vpa, row));
  } else {
    absolute(col, row);
  }
  p.col = short(col);
  p.row = short(row);
  po.pending = false;
  send_visibility();
}

void phys_mv(int n) {
  sc_image &p = sc.phys;
  if (p.row < 0) return;
  int col = p.col + n;
  if (col < p.ncol) {
    p.col = short(col);
  } else if (!tc.am_flag) {
    p.col = short(p.ncol - 1);
  } else if (tc.cap.xenl) {
    p.col = short(p.ncol - 1);  // the wrap waits for the next character
    po.pending = true;
  } else {
    int row = p.row + col / p.ncol;
    p.col = short(col % p.ncol);
    p.row = short(row < p.nrow ? row : -1);
  }
}

// ---- sending cells --------------------------------------------------------------------

// a character's bytes through the output map; one that maps to nothing
// shows as a blank, so that the terminal's cursor keeps in step
static void send_char(uint8_t ch) {
  uint8_t mapped = table_out_p[ch];
  if (mapped) {
    outchr(mapped);
    return;
  }
  if (tab_out_2 && tab_out_3 && tab_out_4)
    for (int i = 0; tab_out_2[i]; i++)
      if (tab_out_2[i] == ch) {
        for (int k = tab_out_3[i]; k < tab_out_3[i + 1]; k++) outchr(tab_out_4[k]);
        return;
      }
  outchr(' ');
}

void phys_wrt(int at, int n) {
  sc_position *v = sc.virt.buf + at, *p = sc.phys.buf + at;
  for (int i = 0; i < n; i++) {
    p[i] = v[i];
    int cls = tc_class(v[i].chr);
    if (cls >= CT_ATTR && cls < CT_LINE1) {
      if (tc.attr_mode) {
        phys_ca(po.attribute, v[i].att, 1, po.acs);
      } else {
        phys_ca(po.attribute, 0, 0, 0);
        outchr(' ');
      }
      continue;
    }
    int want = cls >= CT_LINE1 && cls < CT_END;
    if (want != po.acs || v[i].att != po.attribute) phys_ca(po.attribute, v[i].att, 0, want);
    if (po.acs)
      tc_put(ztcvec[cls - 2]);
    else
      send_char(v[i].chr);
  }
  phys_mv(n);
}

// ---- erasing ---------------------------------------------------------------------------

void phys_es(int col, int row, int cmd) {
  sc_image &p = sc.phys;
  const tc_caps &c = tc.cap;
  int att;
  bool erase = true;
  if (tc.attr_mode) {
    int at = row * p.ncol + col;
    if (at > 0) {
      att = p.buf[at - 1].att;
    } else {
      tc_put(ztcvec[0]);
      outchr('\b');
      att = 0;
    }
  } else {
    att = cmd == 0 ? 0 : sc.current_attribute;
    if (erases_as(att)) {
      if (po.attribute != att || po.acs) phys_ca(po.attribute, att, 0, 0);
    } else {
      erase = false;
      att = CA_UNKNOWN;
      po.attribute = CA_UNKNOWN;
    }
  }
  int from = row * p.ncol + col, to = cmd == 2 ? (row + 1) * p.ncol : sc.buflen;
  if (cmd == 0) {
    from = 0;
    if (erase && c.clear) {
      tc_put(c.clear);
      p.row = p.col = 0;
      po.pending = false;
    } else {
      phys_cm(0, 0, 1);
    }
  } else if (erase) {
    phys_cm(col, row, 1);
    if (cmd == 1 && c.ed) {
      tc_put(c.ed);
    } else if (c.el) {
      int last = cmd == 2 ? row : p.nrow - 1;
      for (int r = row; r <= last; r++) {
        if (r == row + 1) outchr('\r');
        if (r > row) outchr('\n');
        tc_put(c.el);
      }
      if (last > row) phys_cm(col, row, 1);
    } else {
      att = CA_UNKNOWN;
    }
  }
  sc_fillbuf(p, from, to - from, ' ', uint8_t(att));
}

// ---- insert and delete lines ----------------------------------------------------------------

static bool send_lines(const char *parm, const char *one, int n) {
  if (n > 1 && parm) {
    tc_put(tc_parm(parm, n));
    return true;
  }
  if (!one) return false;
  for (int i = 0; i < n; i++) tc_put(one);
  return true;
}

// shifts rows of the physical image down (n > 0) or up (n < 0) from row
static void shift_rows(int row, int n) {
  sc_image &p = sc.phys;
  int w = p.ncol, k = n > 0 ? n : -n;
  int moved = p.nrow - row - k;
  if (n > 0) {
    std::memmove(p.buf + (row + k) * w, p.buf + row * w, size_t(moved * w) * sizeof(sc_position));
    sc_fillbuf(p, row * w, k * w, ' ', uint8_t(phys_blank_att()));
  } else {
    std::memmove(p.buf + row * w, p.buf + (row + k) * w, size_t(moved * w) * sizeof(sc_position));
    sc_fillbuf(p, (p.nrow - k) * w, k * w, ' ', uint8_t(phys_blank_att()));
  }
}

bool phys_lines(int row, int n) {
  if (!output_on() || n == 0 || row < 0 || row >= sc.phys.nrow) return false;
  int k = n > 0 ? n : -n;
  if (k > sc.phys.nrow - row) k = sc.phys.nrow - row;
  const tc_caps &c = tc.cap;
  if (n > 0 ? !(c.il1 || c.il) : !(c.dl1 || c.dl)) return false;
  sc_refresh(-1, 0);
  if (po.acs) phys_ca(po.attribute, po.attribute, 0, 0);
  phys_cm(sc.phys.col >= 0 ? sc.phys.col : 0, row, 0);
  bool sent = n > 0 ? send_lines(c.il, c.il1, k) : send_lines(c.dl, c.dl1, k);
  if (!sent) return false;
  shift_rows(row, n > 0 ? k : -k);
  sc.phys.row = -1;  // some terminals put the cursor in column 0
  zbuf_flush();
  return true;
}

// the virtual image scrolled up sc.scrolled rows: scroll the terminal too
// when that lines up more rows than it spoils
static void phys_scroll() {
  int k = sc.scrolled;
  sc.scrolled = 0;
  sc_image &p = sc.phys, &v = sc.virt;
  if (k <= 0 || k >= p.nrow || !(tc.cap.ind || tc.cap.dl || tc.cap.dl1)) return;
  size_t row_bytes = size_t(p.ncol) * sizeof(sc_position);
  int gain = 0;
  for (int r = 0; r + k < p.nrow; r++) {
    const sc_position *vr = v.buf + r * v.ncol;
    gain += std::memcmp(vr, p.buf + (r + k) * p.ncol, row_bytes) == 0;
    gain -= std::memcmp(vr, p.buf + r * p.ncol, row_bytes) == 0;
  }
  if (gain <= 0) return;
  if (po.acs) phys_ca(po.attribute, po.attribute, 0, 0);
  if (tc.cap.ind) {
    phys_cm(p.row >= 0 ? p.col : 0, p.nrow - 1, 0);
    if (k > 1 && tc.cap.indn)
      tc_put(tc_parm(tc.cap.indn, k));
    else
      for (int i = 0; i < k; i++) tc_put(tc.cap.ind);
  } else {
    phys_cm(0, 0, 0);
    send_lines(tc.cap.dl, tc.cap.dl1, k);
    p.row = -1;
  }
  shift_rows(0, -k);
}

// ---- magic cookies ---------------------------------------------------------------------

void phys_cf() {
  sc_image &v = sc.virt, &p = sc.phys;
  int last = sc.buflen - 1 - (tc.am_flag ? 1 : 0);
  for (int at = last; at >= 0; at--) {
    uint8_t ch = v.buf[at].chr;
    if (!sc_is_field(ch) || p.buf[at].chr == ch) continue;
    phys_cm(at % v.ncol, at / v.ncol, 0);
    p.buf[at] = v.buf[at];
    int att = v.buf[at].att;
    sc_cf_fill(p, att, at, sc.buflen);
    sc_cf(v, att, at, sc.buflen);
    camap_ent e = camap_get(att);
    if (e.attribute < 16) tc_put(ztcvec[e.attribute]);
    phys_mv(1);
  }
}

// ---- the row refresh ------------------------------------------------------------------

static bool same(const sc_position &a, const sc_position &b) {
  return a.att == b.att && a.chr == b.chr;
}

// cells that can be rewritten with one look: same attribute, same
// character set, no field-attribute code
static bool same_look(const sc_position &a, const sc_position &b) {
  int ca = tc_class(a.chr), cb = tc_class(b.chr);
  bool la = ca >= CT_LINE1 && ca < CT_END, lb = cb >= CT_LINE1 && cb < CT_END;
  return a.att == b.att && la == lb && !sc_is_field(a.chr) && !sc_is_field(b.chr);
}

// the last cell the row refresh may write, exclusive
static int row_limit(int row) {
  bool bottom = row == sc.virt.nrow - 1;
  return bottom && tc.am_flag && !tc.cap.xenl ? sc.virt.ncol - 1 : sc.virt.ncol;
}

// from column first on, the row is blanks of one erasable attribute
static bool clearable(const sc_position *v, int first, int end, int w) {
  if (!tc.cap.el || v[first].chr != ' ' || !erases_as(v[first].att)) return false;
  if (tc.attr_mode) return false;
  for (int c = first + 1; c < w; c++)
    if (!same(v[c], v[first])) return false;
  return tc.ce_cost < end - first;
}

static void send_segment(int row, int from, int to) {
  phys_cm(from, row, 0);
  phys_wrt(row * sc.virt.ncol + from, to - from);
}

static void refresh_row(int row) {
  int w = sc.virt.ncol, limit = row_limit(row);
  sc_position *v = sc.virt.buf + row * w, *p = sc.phys.buf + row * w;
  if (std::memcmp(v, p, size_t(limit) * sizeof(sc_position)) == 0) return;
  int first = 0;
  while (first < limit && same(v[first], p[first])) first++;
  if (first == limit) return;
  int end = limit;
  while (end > first && same(v[end - 1], p[end - 1])) end--;
  if (clearable(v, first, end, w)) {
    phys_cm(first, row, 0);
    if (po.attribute != v[first].att || po.acs) phys_ca(po.attribute, v[first].att, 0, 0);
    tc_put(tc.cap.el);
    sc_fillbuf(sc.phys, row * w + first, w - first, ' ', uint8_t(phys_blank_att()));
    return;
  }
  int seg = first, c = first;
  while (c < end) {
    int stop = c;
    while (stop < end && !same(v[stop], p[stop])) stop++;
    if (stop == end) {
      send_segment(row, seg, stop);
      break;
    }
    int next = stop;
    while (next < end && same(v[next], p[next])) next++;
    bool joined = next - stop <= tc.ch_cost;
    for (int g = stop; joined && g <= next; g++) joined = same_look(v[g - 1], v[g]);
    if (!joined) {
      send_segment(row, seg, stop);
      seg = next;
    }
    c = next;
  }
}

// rows whose cells differ between the images
static int rows_changed() {
  int n = 0;
  size_t bytes = size_t(sc.virt.ncol) * sizeof(sc_position);
  for (int r = 0; r < sc.virt.nrow && n < 2; r++)
    n += std::memcmp(sc.virt.buf + r * sc.virt.ncol, sc.phys.buf + r * sc.virt.ncol, bytes) != 0;
  return n;
}

void sc_refsub() {
  if (!sc.phys_upd || !sc.virt.buf) return;
  if (sc.virt.ncol != sc.phys.ncol || sc.virt.nrow != sc.phys.nrow) return;
  phys_scroll();
  int wanted = sc.cvis1;
  if (po.cvis0 != 0 && tc.cap.civis && rows_changed() > 1) {
    tc_put(tc.cap.civis);
    po.cvis0 = 0;
  }
  if (po.cvis0 == 0) sc.cvis1 = 0;  // the moves of the refresh keep it hidden
  for (int r = 0; r < sc.virt.nrow; r++) refresh_row(r);
  if (po.acs) phys_ca(po.attribute, po.attribute, 0, 0);
  sc.phys_upd = 0;
  sc.cvis1 = wanted;
  phys_cm(sc.virt.col, sc.virt.row, 0);
}

void phys_refresh() {
  if (tc.attr_mode && sc.phys_upd) phys_cf();
  sc_refsub();
}

void phys_invalidate(int x0, int y0, int x1, int y1) {
  sc_image &p = sc.phys;
  for (int r = y0; r <= y1; r++)
    for (int c = x0; c <= x1; c++) p.buf[r * p.ncol + c].att = CA_UNKNOWN;
  po.attribute = CA_UNKNOWN;
}

void phys_raw(int c) {
  outchr(c);
  zbuf_flush();
  if (c != 7) phys_lost();
}

// ---- exit ----------------------------------------------------------------------------------

void sc_reset() {
  zflush(1);
  if (msg_count) {
    struct timespec t = {5, 0};
    while (nanosleep(&t, &t) < 0 && errno == EINTR) {
    }
  }
  if (!sc.started) return;
  tc_put(tc.cap.op);
  tc_put(tc.cap.cnorm);
  if (ztcvec[0] && *ztcvec[0]) {
    tc_put(ztcvec[0]);
    if (tc.attr_mode) outchr('\b');
  }
  zbuf_flush();
}
