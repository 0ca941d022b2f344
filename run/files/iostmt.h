// iostmt.h: the file statements (READ, WRITE, PRINT, INPUT, OPEN, CLOSE,
// DELETE, UNLOCK, REWIND, ALLOCATE, RENAME, DATE, the index and the
// transaction statements).  Each runs in three phases driven by the
// dispatch loop: ioinit reads the statement's operation and options and
// carries out an operation without data items; zionbr and ziostr move one
// item each between a variable and the record, the terminal or the
// printer; ioterm writes the record or the line end and turns an error
// into a jump to the EOF or ERR label, or into a runtime error.  The
// record cursor and the FMT string are the registers of the record
// formats (run/numeric/zfmt.h).
//
// Units: 255 the terminal, 0 the printer, 1 to F the data files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "run/files/files.h"

constexpr int IOBUF_SIZE = 32754;  // the record buffer; records start at its second byte

// Statement registers.
extern fm_callblock iob;           // the request of the current statement
extern uint8_t iobuf[IOBUF_SIZE];  // the record buffer of non-indexed files
extern int zrerf;                  // I/O error of the statement (the first one wins)
extern int zrerf_lock;             // error reported at the end only if nothing else failed
extern int zrcar;                  // line ends after terminal and printer output
extern uint32_t zkeyd;             // descriptor of the KEY variable, 0 none
extern uint32_t zpreg_IOI;         // address of a READ run in two passes, 0 none

// The line reader of INPUT and of READ from the terminal: zinlin; the
// interpreter's fuzz target, which has no keyboard, puts its own here.
extern int (*io_readline)(int opt);

// The three phases.
void ioinit();
void zionbr();
void ziostr();
void ioterm();
// Records n as the statement's error unless one is recorded; returns the
// recorded one.
int ioier(int n);
// Writes one byte of output to the statement's unit.
void ftpnd(int ch);
// The error path gives up a statement that a runtime error interrupted.
void io_abandon();
// True between the start and the end of a statement (the record buffer
// is in use).
bool io_busy();
