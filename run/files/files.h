// files.h: the file request, the open-file table and the error numbers of
// the file layer.  Chief header of run/files.
//
// A file statement fills one request (fm_callblock) and hands it to fm
// (fm.h), which works on the open-file table: entry n - 1 belongs to file
// number n, 1 to F.  Each entry carries the read, write and delete
// routines of its organisation, or badop where the open option forbids
// the operation.
//
// Organisations and their names on disk:
//   S  sequential, counted records   NAME.saa
//   R  relative, fixed-length        NAME.r + record-length code (2 chars)
//   I  indexed (ISAM engine)         NAME.dat and NAME.idx
//   U  unstructured: lines; opened with a record length it is relative
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>

#include "isam/isam.h"

// Errors of the file layer and of the record routines (returned by fm).
enum {
  FE_TOOMANY = 1,    // too many files open, or directory unreadable
  FE_NOTIDX = 2,     // delete on a non-indexed file; record number 0
  FE_BADOP = 3,      // operation not valid
  FE_IO = 4,         // other input/output error, short transfer
  FE_CREATE = 5,     // file cannot be created
  FE_EXISTS = 7,     // file exists
  FE_NOREC = 8,      // indexed: the record is missing (the engine's 28)
  FE_NOTFOUND = 9,   // file not found
  FE_NODIR = 10,     // directory not found, or no unit
  FE_UNIT = 11,      // file number out of range or already open
  FE_LOCKED = 12,    // file locked by another process
  FE_NOMEM = 13,     // out of memory
  FE_ACCESS = 14,    // access denied, file protected
  FE_OPTION = 15,    // option not allowed for this organisation
  FE_EOF = 16,       // end of file; no space left on device
  FE_RECLEN = 17,    // record longer than the file's record length
  FE_NOCHANGE = 18,  // file cannot be deleted, renamed or dated
  FE_SEQMODE = 19,   // sequential access on a file not in mode "S"
  FE_NOREAD = 20,    // read not allowed by the open option
  FE_NOWRITE = 21,   // write not allowed by the open option
  FE_NOTOPEN = 22,   // file not open
  FE_RECLOCK = 23,   // record locked
  FE_NOTHELD = 24,   // indexed: rewrite or delete without a held record
  FE_NOTISAM = 30,   // file is not indexed
  FE_RNF = 31,       // indexed: no record with the key
  FE_DUPKEY = 32,    // indexed: the key exists in an index without duplicates
  FE_INTX = 33,      // operation not allowed during a transaction
  FE_KEYDESC = 34,   // key or record description rejected at create
  FE_BADFILE = 35,   // indexed: the file is damaged, its index and data disagree
  FE_BADKEY = 37,    // indexed: no index fits the key parts; bad or existing index
  FE_PRIMKEY = 38,   // indexed: the primary index cannot be removed
  FE_VALUE = 61,     // invalid request value
  FE_DATA = 62,      // data does not fit or is not valid
  FE_FORMAT = 63,    // format error
  FE_KEYPART = 64,   // key part error
  FE_CONFLICT = 65,  // conflicting options
  FE_NEEDFILE = 66,  // the operation needs a data file unit
  FE_PAGER = 67,     // keyboard read while the printer's pager owns the terminal
  FE_NOCURR = 199,   // indexed: a sequential read found no record to move from
};

// fm operation codes
enum {
  FMOP_READ = 0,
  FMOP_WRITE = 3,
  FMOP_DELETE = 4,
  FMOP_UNLOCK = 5,
  FMOP_REWIND = 6,
  FMOP_CREATE = 7,
  FMOP_OPEN = 8,
  FMOP_CLOSE = 9,
  FMOP_DATE = 10,
  FMOP_RENAME = 11,
  FMOP_ADDINDEX = 12,
  FMOP_DELINDEX = 13,
  FMOP_BEGIN = 15,
  FMOP_COMMIT = 16,
  FMOP_ROLLBACK = 17,
  FMOP_USTAT = 20,
  FMOP_FSTAT = 21,
  FMOP_ISTAT = 22,
  FMOP_CLOSEALL = 23,
  FMOP_SELECT = 24,
};

constexpr int FM_MAXREC = 1280;              // longest relative record
constexpr int FM_RECBUF = 32752;             // record room of a non-indexed file
constexpr int64_t FM_RNUM_BAD = 2147483647;  // refused record number

// The request of one file operation.
struct fm_callblock {
  int16_t fm_lfn;          // file number, 1 to F (255 terminal, 0 printer)
  int16_t fm_unit;         // unit of the name; negative: none
  int64_t fm_rnum;         // record number from 1; at create: records to preallocate
  long fm_mtime;           // modification time (status)
  size_t fm_rlen;          // record length; the length transferred
  size_t fm_klen;          // key length
  struct keydesc fm_keyd;  // key description
  int16_t fm_knum;         // key number
  int16_t fm_flag;         // open option, or close option 0, 1, 2
  char *fm_filename;       // file name, owned until the names are built
  uint8_t *fm_key;         // key value
  uint8_t *fm_data;        // record buffer
  char *fm_dte;            // date text (status)
  char fm_opcode;          // operation (FMOP_*)
  char fm_recfmt;          // record format: 'F' fixed, 'V' variable (status)
  char fm_org;             // organisation requested: S R I U or space
  char fm_lock;            // lock the record on this transfer when non-zero
  char fm_mode;            // access mode: 'R' by number, 'S' sequential, 'P' backward
  char fm_type;            // organisation found (status)
  int64_t fm_st[4];        // status numbers: count, free, current, index (status)
};

struct oftentry;
// A record operation of an open file; failures end the fm call (vxerxit).
using fm_op = void (*)(oftentry *e, fm_callblock *cb);

// One open file.
struct oftentry {
  int16_t pfdis;              // system descriptor, or ISAM file number for "I"
  int16_t inuse;              // 0 free, 1 open shared, -1 open with the exclusive lock
  char pftype;                // organisation found on disk: S R I U
  char porg;                  // access organisation
  char popt;                  // open option modulo 100
  char popt2;                 // indexed file used without a primary key
  int16_t punum;              // unit number
  size_t prlen;               // record length seen by the program
  size_t pklen;               // primary key length (indexed)
  int16_t pknum;              // current index (indexed), 1 when none
  int16_t pkprim;             // primary key index, -1 when none
  fm_op pread;                // read routine or badop
  fm_op pwrite;               // write routine or badop
  fm_op pdelete;              // delete routine or badop
  int64_t pcurec;             // current record: relative files the last record
                              // transferred, indexed files the ISAM record number
  uint8_t *pkbuf;             // key and record buffer (indexed)
  char prtct;                 // 'P' when the user may not both read and write
  char plock;                 // 1 while a record lock is held
  char prev_mode;             // access mode of a read that met a locked record
  char *pfname;               // full path (without the ISAM suffixes), owned
  size_t pfnlen;              // its length
  dev_t pf_dev;               // device of the file (indexed: of its .dat)
  ino_t pf_ino;               // inode of the file
  int lock_entry;             // slot in the lock table (flock.h), -1 none
  char pflock;                // the file lock mode is counted in the slot
  int lock_mode;              // file lock mode 0 to 3
  int op_mode;                // open flags (system or ISAM mode)
  char tx_flag;               // the file takes part in the current transaction
  int64_t pheld;              // file offset of the held record (plock set)
  int64_t ppos;               // sequential files: offset of the next byte
  struct fm_stream *pstream;  // read-ahead or write-behind buffer, or null
};

extern oftentry *oftable;  // zrfeq entries, allocated at start-up
extern int oftable_len;    // number of entries

// Allocates the zeroed table of n entries; 0, or -1 without memory.
int fm_alloc_oftable(int n);
