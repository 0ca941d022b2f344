// lpterm.h: what printer output takes from the terminal side: the
// line-drawing codes of the screen language, the terminal's attribute,
// alternate-character-set and transparent-printing strings, the parameter
// expander for the form length, and the screen interpreter's state around
// the pager.
#pragma once

// The byte of line-drawing code k (0-10 set 1, 11-21 set 2, each in the
// order corners, tees, horizontal, vertical, cross).
int lpt_grf_code(int k);
// Terminal string: 0 attribute combination 0, 38 enter and 39 exit the
// alternate character set, 40 and 41 transparent printing on and off;
// the empty string when the terminal has none.
const char *lpt_cap(int idx);
// Expands a termcap-style parameter string for column h and line v; the
// result and its length (*len).
const char *lpt_tgoto(const char *s, int h, int v, int *len);
// Transparent printing on the terminal: on (1) or off (0); the bytes
// between go straight to descriptor 1.
void lpt_transparent(int on);
// The screen interpreter around the pager: 1 when it is inside a
// sequence; its reset to the ground state.
int lpt_scr_busy();
void lpt_scr_reset();
