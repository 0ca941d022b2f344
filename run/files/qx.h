// qx.h: the operations of the file layer behind fm: finding, creating,
// opening and closing files, renaming, dating, positioning, status, and
// the record routines of each organisation.  All work on the selected
// entry and request of fm_sel and end early through vxerxit.
#pragma once

#include "run/files/files.h"

// A directory search's result (findfile).
struct qxdir {
  char d_type;     // organisation found: S R I U
  char d_protect;  // 'P' when the user may not both read and write, else ' '
  int d_reclen;    // record length of a relative file, 1 indexed, 0 otherwise
};

// --- qxopen.cpp ------------------------------------------------------------
// Finds the request's file on disk and fills dir and fullname (with the
// suffix found); 0 or an error number (9 not found, 10 no directory...).
int findfile(qxdir *dir);
// 0 when the user may read and write name, else 1.
int doaccss(const char *name);
// Checks the request's organisation and option against the file found
// (type t, protected p); 0 or an error number.  May lower the option by
// 200 in the request.
int openck(char t, bool p);
void qxopen();
// Opens fullname for the selected entry with the system or ISAM mode and
// the file lock mode; failures end the operation (opfail, 12).
void filopen(int opmode, int lockmode);
// Ends an open that failed in the system call or the engine.
[[noreturn]] void opfail();
// Ends an open that failed after the file was opened.
[[noreturn]] void opexit(int n);

// --- qxfile.cpp ------------------------------------------------------------
void qxalloc();
void qxclose();
// Closes one entry (write-behind data first); 0, or the error of the
// system or the engine.  The entry is free afterwards.
int close_file(oftentry *e);
void qxclsall();
void qxrename();
void qxdate();
// Releases the selected entry's record lock; for the UNLOCK statement
// (statement set) a file without record locks gives 2.
void qxunlock(bool statement);
void qxrewind();
void qxfstat();
void qxustat();
void qxistat();  // ikey.cpp
void qxindex();  // ikey.cpp
void qxtrans();  // itrans.cpp
// The I/O error of an ISAM error number.
int fm_isam_error(int iserr);
// The held record lock of the selected entry is given up.
void fm_release_held();

// Builds the names of the request's file: vxdirname and vxbasename from
// fm_filename and fm_unit, then fullname = vxdirname/vxbasename.  Frees
// the request's name and clears it.
void fmfnm(fm_callblock *cb);

// --- record routines ---------------------------------------------------------
void rread(oftentry *e, fm_callblock *cb);  // relative, rrec.cpp
void rwrite(oftentry *e, fm_callblock *cb);
void sread(oftentry *e, fm_callblock *cb);  // sequential, srec.cpp
void swrite(oftentry *e, fm_callblock *cb);
void iread(oftentry *e, fm_callblock *cb);  // indexed, irec.cpp
void iwrite(oftentry *e, fm_callblock *cb);
void idelete(oftentry *e, fm_callblock *cb);

// --- sequential streams (srec.cpp) --------------------------------------------
// Writes out what the entry's write-behind buffer holds and gives back the
// space reserved past the end; 0, or -1 with errno.
int fm_stream_flush(oftentry *e);
// Drops the entry's buffer (a rewind, or the close after the flush).
void fm_stream_drop(oftentry *e);
