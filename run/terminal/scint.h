// scint.h: the screen's own state, shared by its modules (the control
// language in screen.cpp, image operations in scimage.cpp, boxes in
// scbox.cpp, the saved-screen stack in scstack.cpp, terminal output in
// phys.cpp) and written only by them.
#pragma once

#include <cstddef>

#include "run/terminal/screen.h"

// Interpreter states (scr_state): ground; after 0x01; after ESC; collecting
// the parameters of an ESC command; the raw image load; transparent
// printing (passing, after ESC, one protected byte).
enum sc_mode { SM_GROUND, SM_PASS1, SM_ESC, SM_PARAMS, SM_RAW, SM_PRT, SM_PRT_ESC, SM_PRT_BYTE };

struct sc_state {
  sc_image virt;          // sc_virt: what the program wants; next = saved stack
  sc_image phys;          // sc_phys: what the terminal shows; row -1 = cursor unknown
  int buflen;             // cells of one image (nrow * ncol)
  int ctl = SC_OUTPUT;    // sc_ctl
  int started;            // sc_started
  int attrib_valid;       // character-attribute mode on
  int current_attribute;  // its attribute
  int phys_upd;           // the virtual image changed since the last refresh
  int cvis1 = 1;          // wanted cursor visibility: 0 off, 1 normal, 2 very visible
  int cnt;                // saved screens on the stack
  int scrolled;           // rows the virtual image scrolled up since the last refresh
  sc_mode mode;           // scr_state
  uint8_t cmd;            // ESC command whose parameters are collected
  uint8_t nparam;         // parameters collected
  uint8_t param[4];       // the parameters
  int raw_left;           // bytes of a raw image load still to come
  bool raw_chr;           // the next raw byte is a character (else an attribute)
  char *pool;             // saved-screen pool (VXSCREEN), null without
  std::size_t pool_size;  // its bytes
  std::size_t pool_used;  // bytes taken, from the start
};
extern sc_state sc;

// ---- cells ----------------------------------------------------------------------
inline sc_position *sc_cells(sc_image &img) {
  return img.buf ? img.buf : reinterpret_cast<sc_position *>(&img + 1);
}
inline int sc_cursor_index() {
  return sc.virt.row * sc.virt.ncol + sc.virt.col;
}
// class of a cell's character is a field-attribute code
bool sc_is_field(uint8_t chr);
bool sc_is_line1(uint8_t chr);

// ---- image operations (scimage.cpp) ---------------------------------------------------
// Fills n cells from cell index at of img.
void sc_fillbuf(sc_image &img, int at, int n, uint8_t chr, uint8_t att);
// Erases virtual cells from..to (indices, inclusive): flag 1 clears to
// attribute 0, flag 0 follows the attribute rules.
void sc_es(int from, int to, int flag);
// Inserts (n > 0) or deletes (n < 0) cells at (col, row) of the physical
// (phys_flag) or virtual image; the region is the rest of the row
// (line_flag) or of the screen.
void sc_ic(int phys_flag, int vidflag, int col, int row, int n, int line_flag);
// Gives att code to cell from and the following cells up to end (index,
// exclusive), stopping before the next field-attribute code; nothing when
// from already has it.
void sc_cf(sc_image &img, int code, int from, int end);
// The same without the check of the first cell.
void sc_cf_fill(sc_image &img, int code, int from, int end);
// Propagates the attribute in force before cell at over the cells it rules.
void sc_cf_del(int at);
// Writes a character into cell at (attribute rules).
void sc_store(int at, uint8_t chr);
// Moves the cursor one cell on; past the end the image scrolls.
void sc_advance();
// Scrolls the virtual image up one row; the cursor keeps its place.
void sc_scroll();
// Clears the virtual image, cursor home.
void sc_clear();

// ---- boxes (scbox.cpp) -----------------------------------------------------------------
void sc_draw_box(int x, int y, int mode, int attr);

// ---- the saved-screen pool (scstack.cpp) ---------------------------------------------
// Sets up the pool for VXSCREEN screens; false when VXSCREEN is too large
// or memory runs out.
bool scinit();
sc_image *scalloc(std::size_t len);
void scfree(sc_image *img);
// Gives both images new cells of nrow x ncol; false without memory.
bool sc_resize(int nrow, int ncol);
