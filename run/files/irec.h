// irec.h: indexed files below fm: the record routines' helpers, the
// index lookup and the transactions (irec.cpp, ikey.cpp, itrans.cpp).
//
// An open indexed unit keeps its record in pkbuf: the key area (pklen
// bytes, the primary key) followed by the data (prlen bytes); the whole
// buffer is the engine's record.  Key part starts of the language are
// 1-based and relative to the two areas: -1 is the first byte of the key
// area, 1 the first byte of the data.
#pragma once

#include <cstddef>

#include "run/files/files.h"

// What a unit knows of its current index (pknum).
struct ix_unit {
  keydesc kd;  // the index's description
  int cmplen;  // bytes compared by keyed reads: 0 the whole key, else a
               // partial key chosen by positioning on leading key parts
};

// The state of entry e (of oftable); 13 when it cannot be had.
ix_unit *ix_state(const oftentry *e);

// --- irec.cpp ----------------------------------------------------------------

// 35 when the last successful read found a record whose key is not the
// key it was searched by; reported at the end of the statement, after the
// data reached the program.  0 otherwise.
extern int iread_note;

// Ends the operation with the I/O error of engine error iserr, after the
// message (ierrprt) for the errors that have no number of their own.
[[noreturn]] void ierxit(int iserr);
// Writes "ISAM error N" and, for the engine's own numbers, its text.
void ierrprt(int iserr);
// Releases the record lock that e holds (none on an exclusive file,
// which needs none); inside a transaction the engine keeps the locks of
// the transaction.  plock becomes 0.
void isrel_rec(oftentry *e);
// Writes the changes of a file opened exclusively out to the system
// (not for the open options 6 and 14, which leave it to the close).
void iflush(oftentry *e);
// Makes index knum (description kd, compared length cmplen) current and
// places the unit before its first record, or after its last (last set).
void ix_start(oftentry *e, int knum, const keydesc &kd, int cmplen, bool last);
// Positioning of an indexed unit (REWIND): on the index whose leading
// parts the request names (fm_keyd), or on index fm_knum when given, else
// on the current one; at the end for access mode "P".
void ix_rewind(oftentry *e, fm_callblock *cb);

// --- ikey.cpp ----------------------------------------------------------------

// Turns the language's part starts of kd into record offsets for a key
// area of klen bytes; 0, or 37 for a start of 0 or one before the key area.
int key_trans(keydesc *kd, size_t klen);
// The first index of e whose parts begin with the parts of want (start
// and length equal, the last part of want may be shorter): its number,
// its description in *into and the bytes the parts of want cover in
// *covered.  -1 when none fits, or when the parts do not cover the whole
// key and partial is not set.
int find_indx(oftentry *e, const keydesc &want, bool partial, keydesc *into, int *covered);
// The description of index knum of e (and the file's in *di when given);
// 37 when there is no such index.
void get_info(oftentry *e, int knum, dictinfo *di, keydesc *kd);
// The number of the index of e whose parts are exactly those of kd, or -1.
int getk_num(oftentry *e, const keydesc &kd);

// --- itrans.cpp --------------------------------------------------------------

// BEGIN, COMMIT and ROLLBACK (fm operations 15, 16, 17).
void qxisbegin();
void qxiscommit();
void qxisrollbk();
// Closes the units marked for the transaction (the engine's descriptors
// only: the entries stay); the first engine error, or 0.
int vx_txclose();
// Opens the closed marked units again, with the transaction bit (trans
// 1), without it (0) or with the mode they had (-1), each at the start of
// its current index.  A unit that cannot be opened is closed for good.
// The first engine error, or 0.
int vx_txreopen(int trans);
