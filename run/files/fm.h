// fm.h: the file layer's entry point.  fm takes one request, selects the
// open-file entry it names and carries out the operation; the record
// routines and the open and close code below it end an operation early
// with vxerxit, which unwinds to fm.
#pragma once

#include "run/files/files.h"

// What the current operation works on.
struct fm_selection {
  oftentry *entry;       // the selected entry, or null before the first selection
  fm_callblock *pclblk;  // the request being carried out
  int xclusiv;           // 1 when the selected entry holds the exclusive lock
};
extern fm_selection fm_sel;

// The unwinding record of vxerxit; only fm catches it.
struct fm_exit {
  int number;  // the error number of the operation
};

// Carries out the request; 0, or an error number (FE_*).
int fm(fm_callblock *cb);

// Selects the entry of pclblk->fm_lfn; ends the operation with 22 when
// the number is out of range or the entry is free.
void vxselect();

// Ends the current fm call with error num.  A disk that ran out of space
// (or a file that reached the size limit) during the call turns every
// error but 8 into 16.
[[noreturn]] void vxerxit(int num);

// The routine of an operation that the open option forbids: read 20,
// write 21, delete 21 on an indexed file and 2 otherwise.
void badop(oftentry *e, fm_callblock *cb);

// Marks (set) or unmarks (clr) file number n for the transaction of the
// current statement; fm_txflag_clr(-1) unmarks every file.
void fm_txflag_set(int n);
void fm_txflag_clr(int n);
