// scbox.cpp: boxes and lines in the virtual image (ESC 0x40-0x47).
//
// A box runs from the cursor to (x, y), corners ordered and clipped to the
// screen.  Mode bits: 1 fill the inside with blanks, 2 an attribute is
// given (else the character attribute in character-attribute mode, else
// none), 4 merge with line-drawing characters already there.
//   width and height >= 2: corners, sides and top and bottom lines;
//   one column: a vertical line; one row: a horizontal line;
//   one cell: a vertical line in that cell.
// Merging treats each element as the set of its arms (left, right, up,
// down) and stores the element with the union.  The end cells of a single
// line add only the arm along the line; the sides of a filled box lose the
// arm that points into the box.  Line-drawing set 2 characters are
// replaced, not merged.
#include "run/terminal/scint.h"
#include "run/terminal/tcap.h"

enum { ARM_L = 1, ARM_R = 2, ARM_U = 4, ARM_D = 8 };

// arms of each element, in the order of cf_code
static const uint8_t arms_of[LINE_ELEMENTS] = {ARM_R | ARM_D,
                                               ARM_L | ARM_D,
                                               ARM_R | ARM_U,
                                               ARM_L | ARM_U,
                                               ARM_L | ARM_R | ARM_D,
                                               ARM_L | ARM_U | ARM_D,
                                               ARM_R | ARM_U | ARM_D,
                                               ARM_L | ARM_R | ARM_U,
                                               ARM_L | ARM_R,
                                               ARM_U | ARM_D,
                                               ARM_L | ARM_R | ARM_U | ARM_D};

static int element_of(int arms) {
  for (int e = 0; e < LINE_ELEMENTS; e++)
    if (arms_of[e] == arms) return e;
  return -1;
}

struct box_look {
  bool merge;  // mode bit 4
  bool has_att;
  uint8_t att;
};

// Stores element e at cell (col, row): merged with a set 1 element there
// by adding the arms `add` and then removing `drop`.
static void set_grf(const box_look &b, int col, int row, int e, int add, int drop) {
  int at = row * sc.virt.ncol + col;
  uint8_t old = sc.virt.buf[at].chr;
  int put = e;
  if (b.merge && sc_is_line1(old)) {
    int merged = element_of((arms_of[tc_class(old) - CT_LINE1] | add) & ~drop);
    if (merged >= 0) put = merged;
  } else if (drop) {
    int cut = element_of(arms_of[e] & ~drop);
    if (cut >= 0) put = cut;
  }
  sc_store(at, cf_code[CF_LINE1 + put]);
  if (b.has_att) sc.virt.buf[at].att = b.att;
}

static int clip(int v, int last) {
  return v < 0 ? 0 : v > last ? last : v;
}

static void line_vertical(const box_look &b, int col, int y0, int y1) {
  for (int r = y1; r >= y0; r--) {
    int along = (r > y0 ? ARM_U : 0) | (r < y1 ? ARM_D : 0);
    set_grf(b, col, r, LD_VERT, along ? along : ARM_U | ARM_D, 0);
  }
}

static void line_horizontal(const box_look &b, int row, int x0, int x1) {
  for (int c = x1; c >= x0; c--) {
    int along = (c > x0 ? ARM_L : 0) | (c < x1 ? ARM_R : 0);
    set_grf(b, c, row, LD_HORIZ, along, 0);
  }
}

static void fill_inside(const box_look &b, int mode, int x0, int y0, int x1, int y1) {
  if (!(mode & 3)) return;
  for (int r = y0 + 1; r < y1; r++)
    for (int c = x0 + 1; c < x1; c++) {
      int at = r * sc.virt.ncol + c;
      if (mode & 1) sc_store(at, ' ');
      sc.virt.buf[at].att = b.has_att ? b.att : 0;
    }
}

void sc_draw_box(int x, int y, int mode, int attr) {
  sc_image &v = sc.virt;
  if (!v.buf) return;
  int x0 = clip(v.col < x ? v.col : x, v.ncol - 1), x1 = clip(v.col < x ? x : v.col, v.ncol - 1);
  int y0 = clip(v.row < y ? v.row : y, v.nrow - 1), y1 = clip(v.row < y ? y : v.row, v.nrow - 1);
  box_look b = {(mode & 4) != 0, false, 0};
  if (mode & 2) {
    b.has_att = true;
    b.att = uint8_t(attr == CA_UNKNOWN ? CA_NORMAL : attr);
  } else if (sc.attrib_valid) {
    b.has_att = true;
    b.att = uint8_t(sc.current_attribute);
  }
  if (x0 == x1) {
    line_vertical(b, x0, y0, y1);
  } else if (y0 == y1) {
    line_horizontal(b, y0, x0, x1);
  } else {
    int in = mode & 1;
    set_grf(b, x0, y0, LD_UL, arms_of[LD_UL], 0);
    set_grf(b, x1, y0, LD_UR, arms_of[LD_UR], 0);
    set_grf(b, x0, y1, LD_LL, arms_of[LD_LL], 0);
    set_grf(b, x1, y1, LD_LR, arms_of[LD_LR], 0);
    for (int r = y1 - 1; r > y0; r--) {
      set_grf(b, x0, r, LD_VERT, ARM_U | ARM_D, in ? ARM_R : 0);
      set_grf(b, x1, r, LD_VERT, ARM_U | ARM_D, in ? ARM_L : 0);
    }
    for (int c = x1 - 1; c > x0; c--) {
      set_grf(b, c, y0, LD_HORIZ, ARM_L | ARM_R, in ? ARM_D : 0);
      set_grf(b, c, y1, LD_HORIZ, ARM_L | ARM_R, in ? ARM_U : 0);
    }
    fill_inside(b, mode, x0, y0, x1, y1);
  }
  sc.phys_upd = 1;
}
