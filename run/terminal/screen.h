// screen.h: the screen as the rest of run sees it: zoutnc, the one entry
// point of the terminal-independent screen control language; the virtual
// screen image that it writes (read-only from outside); the refresh of the
// terminal (zflush); the life of the screen (start, clean-up, reset).
//
// Everything written to the screen (print statements, messages, the
// monitor, the terminal intrinsics) goes through zoutnc into the virtual
// image; zflush brings the terminal up to date with minimal output.  The
// control language is described in docs/screen.md.
#pragma once

#include <cstdint>

// A screen cell.
struct sc_position {
  uint8_t att;  // code into the colour/attribute map (tcap.h)
  uint8_t chr;  // the character; attribute and line-drawing codes as themselves
};

// A screen image.
struct sc_image {
  sc_image *next;    // next older saved image; null at the bottom
  sc_position *buf;  // the cells, row after row; null in a saved image
  short row, col;    // cursor, 0-based
  short nrow, ncol;  // size
};

// output control bits (sc_ctl)
constexpr int SC_OUTPUT = 2;  // output to the terminal is on
constexpr int SC_FROZEN = 4;  // output is frozen by the program

// ---- the control language -----------------------------------------------------
// Interprets n bytes of the screen control language into the image; a
// sequence may be split over several calls.
void zoutnc(const char *bytes, int n);
// zoutnc for one byte.
void zoutc(int ch);
// The same as zoutnc (older callers).
void sc_control(const char *bytes, int n);

// ---- reading the image (screen-reading intrinsic, control strings) ------------
// The virtual image: size, cursor and cells; null before the screen starts.
const sc_image *sc_view();
// One cell of the virtual image; a blank for a position off the screen.
sc_position sc_cell(int row, int col);
// Copies len cells from cell number start (row * ncol + col): with attribs
// as (att, chr) pairs, needing max_len >= 2 * len, else the characters,
// needing max_len >= len.  A request past the end is cut at the end.
// 0; -1 without an image or with start outside it; -2 dest too small.
int sc_copy(int start, int len, char *dest, int max_len, int attribs);
// The output control word and its restoration (concurrent runs).
int sc_get_ctl();
void sc_set_ctl(int ctl);
// The interpreter is inside a sequence (a command's parameters, a raw
// load, transparent printing); sc_ground forgets it (the pager takes the
// terminal).
int sc_in_sequence();
void sc_ground();

// ---- life and refresh ----------------------------------------------------------
// Sets up both images at the terminal's size and starts the screen; 0 when
// memory runs out.
int sc_init();
// Re-initialises the screen at its current width (clears it).
void sc_start();
// After a program: discards the saved screens, releases a frozen screen,
// ends a half-written control sequence.
void sc_cleanup();
// Restores the terminal before run exits.
void sc_reset();
// Refreshes the terminal: uncond 0 at most every 60 clock ticks (the
// dispatch loop catches up after zfl_pcnt instructions), 1 now, 2 now and
// repainting the whole screen.
void zflush(int uncond);

// ---- operations behind the language (also for the intrinsics) --------------------
// 42: 80 columns, 43: 132 columns (when the terminal has the switch).
void switchscreensize(int size);
// Saved-screen stack: 0 save into the top slot, 1 push, 2 freeze output,
// 255 discard all and save.  Raises error 106 without memory.
void sc_freeze(int cmd);
// Pops max(cnt, 1) saved screens (cnt >= 0), releases a freeze (cnt != -1)
// and refreshes; clear_flag repaints everything.
void sc_refresh(int cnt, int clear_flag);
// Frees the images and the saved screens and forgets the screen's state
// (tests that start it more than once).
void sc_reset_for_test();
// Rewrites the rectangle of columns x0..x1 and rows y0..y1 (0-based,
// ordered and clipped here) on the terminal.
void sc_invalidate(int x0, int y0, int x1, int y1);
