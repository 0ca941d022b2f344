// phys.h: terminal output: the 512-byte output buffer, the refresh that
// brings the terminal in line with the virtual screen image by sending only
// what differs, and its timing.  The screen image (scint.h) calls it; so do
// the capabilities (init strings) and the printer (transparent printing).
#pragma once

#include <cstdint>
#include <string>

constexpr int ZMAX = 512;  // bytes of the output buffer

// Empties the output buffer and forgets the terminal's state (start-up).
void phys_buffer_init();
// Puts one byte into the output buffer, writing the buffer out when full.
void outchr(int c);
// Writes the used part of the buffer to the terminal (when output is on)
// and empties it.
void zbuf_flush();

// The refresh: places magic cookies first where the terminal needs them,
// then sends the changed stretches of every row (only when the virtual
// image changed since the last one).
void phys_refresh();
void sc_refsub();
void phys_cf();

// Moves the terminal's cursor; flag nonzero forces absolute addressing.
void phys_cm(int col, int row, int flag);
// Sends n cells of the virtual image from cell index at and copies them
// into the physical image.
void phys_wrt(int at, int n);
// Switches the terminal from map code old to code nw, and the line-drawing
// character set to new_state; cf_flag sends a field attribute's cookie.
void phys_ca(int old, int nw, int cf_flag, int new_state);
// Advances the tracked cursor after n characters were sent.
void phys_mv(int n);
// Erases on the terminal: cmd 0 the screen, 1 from (col, row) to the end of
// the screen, 2 to the end of the row.
void phys_es(int col, int row, int cmd);
// Inserts (n > 0) or deletes (n < 0) rows at row on the terminal at once,
// after a refresh; false when the terminal cannot (the image alone changes).
bool phys_lines(int row, int n);
// Sends one byte unchanged, at once (bell, transparent printing); the
// terminal's cursor and attribute count as unknown afterwards.
void phys_raw(int c);
// Forgets where the terminal's cursor is and which attribute it shows.
void phys_lost();
// Marks cells of the physical image unknown, so that they are rewritten.
void phys_invalidate(int x0, int y0, int x1, int y1);
// The attribute the terminal gives to cells that it erases itself.
int phys_blank_att();
// The terminal's current attribute code (255 unknown).
int phys_attribute();

// Tests: collect what would be written to the terminal into *sink instead
// (null: write to descriptor 1 again); set the time zflush sees.
void phys_capture_for_test(std::string *sink);
