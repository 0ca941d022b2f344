// files.h: the file request and the open-file table.  Chief header of
// run/files.
#pragma once

// One entry per file number (entry n - 1 belongs to file number n).
// TEMPORARY: the file-layer issue gives the entry its full set of fields;
// start-up only allocates the table.
struct oftentry {
  int pfd;       // operating-system descriptor, 0 when the unit is closed
  char *pfname;  // name without suffix, owned by the entry
};

extern oftentry *oftable;  // zrfeq entries, allocated at start-up
extern int oftable_len;    // number of entries

// Allocates the zeroed table of n entries; 0, or -1 without memory.
int fm_alloc_oftable(int n);
