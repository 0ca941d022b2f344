// iscreen.h: the intrinsic functions that build strings of the screen
// control language (written by a PRINT, they move the cursor, erase,
// insert, draw boxes, set attributes) and those that read the screen.
// Each takes the argument count (already checked against the function's
// table row), pops its arguments and pushes its result.
#pragma once

int iscr_left(int count);       // 2: [n] cursor left
int iscr_move(int count);       // 3: [column,] row
int iscr_field(int count);      // 4: [a] field attribute
int iscr_clear(int count);      // 5: clear, screen width, save and restore
int iscr_down(int count);       // 6: [n] cursor down
int iscr_ff(int count);         // 7: [n] home and clear bytes
int iscr_column(int count);     // 8: column
int iscr_erase_row(int count);  // 10: erase to the end of the row
int iscr_erase_scr(int count);  // 11: erase to the end of the screen
int iscr_right(int count);      // 12: [n] cursor right
int iscr_cr(int count);         // 13: [n] cursor to column 0
int iscr_offset(int count);     // 26: a, b: relative cursor motion
int iscr_read(int count);       // 42: screen contents
int iscr_cells(int count);      // 49: [n] insert or delete cells
int iscr_rows(int count);       // 50: [n] insert or delete rows
int iscr_box(int count);        // 51: x, y [, mode [, attribute]]
int iscr_keylabel(int count);   // 53: label of a function key
int iscr_attribute(int count);  // 55: character attribute
int iscr_colour(int count);     // 56: the colour/attribute map
int iscr_load(int count);       // 58: raw image load header
int iscr_cursor(int count);     // 59: [v] cursor visibility
int iscr_rewrite(int count);    // 60: [x0, y0, x1, y1] rewrite a rectangle
