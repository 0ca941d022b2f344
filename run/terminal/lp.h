// lp.h: printer output: the printer unit's open and close, the bytes of
// print lines, and the pipe starters used for the spooler, the pager and
// the keystroke pipes.
//
// Printer modes (zrrmp):
//   1      the terminal's printer port (transparent printing)
//   2      a pipe to the spooler SPOOLNAME
//   3      a pipe to the pager MORENAME, shown on the screen
//   0, 4-8 a device or file opened directly (prn_direct)
#pragma once

#include <cstdint>

constexpr int LP_LINE = 512;   // bytes of a collected print line
constexpr int LP_OBUF = 1024;  // bytes of the printer output buffer

extern int zprlck;               // 1 while the printer is open
extern int zrrmp;                // printer mode: the OPEN statement sets it before zoppr
extern const char *lp_openname;  // the name given in the OPEN statement, or null
extern int lp_ioerr;             // I/O error noted by the printer, 0 none: the
                                 // first one stays until the statement clears it

// Opens the printer in mode zrrmp; on failure the printer stays closed and
// lp_ioerr holds the I/O error (65 bad mode, 14, 1, 9, 12 or 4 from the
// device, the process table's error for a pipe).
void zoppr();
// Closes the printer when it is open; the mode becomes 0.
void zclpr();
// Collects one byte of a print line.
void char_to_lp(int ch);
// Collects one byte of a program's print item: in mode 3 a line-drawing
// or attribute code of the screen language goes as the terminal's string
// for it, the line-drawing set switched on before a line-drawing
// character and off before anything else.
void item_to_lp(int ch);
// Sends a terminfo string through char_to_lp, with its padding.
void str_to_lp(const char *s);
// Prints the collected line when uncond is set or it ends a line, and
// writes the printer buffer out.  A failed write notes I/O error 16.
void lpflush(int uncond);
// Copies a file to the printer; a file that cannot be opened is skipped.
void lp_sendfile(const char *name);
// Appends bytes to the printer buffer as they are (no translation).
void lp_put(const uint8_t *bytes, int n);

// Opens the device or file of the direct modes (0, 4-8) for the printer:
// 0, or -1 with lp_ioerr set.
int prn_direct(int opt);

// Starts command with its standard output read by run (input_pipe) or its
// standard input written by run (output_pipe); the descriptor and the
// process slot (*slot), or 0 with lp_ioerr set and the terminal settings
// restored.
int input_pipe(const char *command, int *slot);
int output_pipe(const char *command, int *slot);

// The print job (lpline.cpp): start, one collected line of n bytes, end;
// the collected line printed at a flush.
void lcap_open();
void lcap_print(int n);
void lcap_close();
void lcap_flushline(int uncond);
// The printer slot that the job starts with (from a device name "lpN"):
// the printer variable LP followed by digits; null: none.
void lcap_route(const char *digits);
