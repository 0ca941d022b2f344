// zinlin.h: line input from the keyboard, with echo and simple editing.
#pragma once

constexpr int ZIN_MAX = 80;      // characters of a line
constexpr int ZIN_NOECHO = 1;    // option: no echo
constexpr int ZIN_LF = 2;        // option: line feed is a key, controls are spaces
constexpr int ZIN_KEEPCASE = 4;  // option: letters as typed (else case inverted)

extern char zrlin[ZIN_MAX + 1];  // the line read last, terminated

// Reads a line into zrlin and makes it the record (zrfdp at zrlin, zrfdc
// its length); returns the length, or the keyboard's negative code (with
// an empty record) when it reports an error before the line ends:
// KBD_EPAGER while the printer's pager owns the terminal.
int zinlin(int opt);
