// flock.h: file and record locks between processes, and the lock table
// that keeps one process from opening a file twice.
//
// All locks are POSIX advisory region locks on the data file itself, at
// offsets no data reaches:
//   2^62 - 2               read byte: file lock, first byte
//   2^62 - 1               write byte: file lock, second byte
//   2^62 + record offset   held-record region (record length): a record
//                          the program keeps locked between statements
//   the record's bytes     transfer region, while a record moves
//   end of file .. 2^62-2  append region, while a record is appended
//
// File lock modes and what each puts on the two bytes (1 shared, 2
// exclusive):
//   mode 0 read           read byte 1, write byte -
//   mode 1 shared update  read byte 1, write byte 1
//   mode 2 single writer  read byte 1, write byte 2
//   mode 3 exclusive      read byte 2, write byte 2
// so 0 coexists with 0, 1, 2; 1 with 0, 1; 2 with 0; 3 with nothing.
//
// Closing any descriptor of a file drops all of the process's locks on
// it.  The lock table therefore has one slot per file (device and inode)
// open in this process: the entries of one file share its descriptors,
// which are closed only when the last entry leaves, and the table applies
// the lock-mode rules between the process's own entries as the kernel
// does between processes.
#pragma once

#include <sys/types.h>
#include <cstdint>

#include "run/files/files.h"

struct flock;

constexpr off_t LK_RBYTE = (off_t(1) << 62) - 2;  // read byte
constexpr off_t LK_WBYTE = (off_t(1) << 62) - 1;  // write byte
constexpr off_t LK_SHIFT = off_t(1) << 62;        // held-record regions

// region-lock modes of rglock
enum { LK_UNLOCK = 0, LK_EXCL_WAIT = 1, LK_EXCL = 2, LK_SHARED_WAIT = 3, LK_SHARED = 4 };

// process number of the holder of a lock that was refused, -1 when none
extern pid_t lk_pid;

// The region-lock primitive: fcntl(fd, cmd, fl).  When a set request that
// does not wait is refused, lk_pid becomes the process number of the lock
// in the way.  The ISAM engine's locks go through it too.
int fcntL(int fd, int cmd, struct flock *fl);
// Locks or unlocks [begin, begin + len) in mode lk_mode (LK_*); the
// waiting modes repeat when a signal interrupts them.  0, or -1 (also for
// a mode above 4).
int fl_region(int fd, off_t begin, off_t len, int lk_mode);
// fl_region with the offsets in 32-bit halves.
int rglock(int fd, uint32_t begin_low, uint32_t begin_high, uint32_t len_low, uint32_t len_high,
           int lk_mode);
int rgunlck(int fd, uint32_t begin_low, uint32_t begin_high, uint32_t len_low, uint32_t len_high);

// Applies rmode to the read byte and wmode to the write byte of the
// selected entry: 0 leave, 1 shared, 2 exclusive, negative unlock; the
// requests do not wait.  0, or -1 when one was refused.  Nothing for an
// indexed file.  begin is not used.
int test_and_set(off_t begin, int rmode, int wmode);
// Takes the file lock of the selected entry's mode (with what the other
// entries of its file need); 0 or -1.
int opnlock();
// Gives it up, keeping what the other entries of its file need.
int closlock();
// Records the device and inode of the file being opened (fullname) in the
// selected entry; 0, or -1 after writing "OPFAIL".
int setlock();

// --- the lock table ------------------------------------------------------
// Joins the selected entry to the slot of its file (pf_dev, pf_ino):
// 0, or FE_LOCKED when an entry of this process holds an incompatible
// mode, or FE_NOMEM.
int fl_attach();
// The slot's descriptor for reading only (write 0) or reading and writing
// (write 1), opening fullname when the slot has none yet; -1 with errno.
int fl_descriptor(int write);
// The selected entry leaves its slot: its file lock is given up, and the
// descriptors are closed when it was the last.  0, or the error of close.
int fl_detach();
// True when another entry of this process holds a record lock that
// overlaps [off, off + len) of the selected entry's file.
bool fl_record_taken(off_t off, off_t len);
// Entries in the slot of the selected entry.
int fl_users();
// Forgets every slot without closing anything (tests).
void fl_reset_for_test();
