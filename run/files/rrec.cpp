// rrec.cpp: record transfer of relative files (fixed-length records
// addressed by number from 1), with the record locks between processes.
// fm reaches rread and rwrite through the entry's pread and pwrite.
//
// Locks of one transfer (none when the file is open exclusively, when the
// open option forbids writing, or for a read without the lock option):
//
//   read, record not yet held    held region, no wait   refused: 23
//                                (then, refused: the transfer region,
//                                waiting, around the read; the data is
//                                delivered with 23)
//   write, record not yet held   held region, no wait   refused: 23, and
//                                nothing is written
//   write                        transfer region, waiting, around it
//   append                       append region, waiting, around it
//
// A read under the held lock needs no transfer lock: no other process can
// write the record meanwhile, since a write needs the held lock too.  A
// read that comes back short (a record being appended) is repeated under
// the transfer lock.  A held lock of another record is released first;
// the lock option 0 releases the held lock after the transfer.
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/files/qx.h"

// the offset of the record the request names; 2, 61 and 19 as errors
static off_t position(const oftentry *e, const fm_callblock *cb) {
  off_t rl = off_t(e->prlen);
  if (cb->fm_mode == 'R') {
    if (cb->fm_rnum == 0) vxerxit(FE_NOTIDX);
    if (cb->fm_rnum < 0 || cb->fm_rnum > (LK_RBYTE - rl) / rl) vxerxit(FE_VALUE);
    return off_t(cb->fm_rnum - 1) * rl;
  }
  if (cb->fm_mode != 'S') vxerxit(FE_VALUE);
  if (e->pcurec >= (LK_RBYTE - rl) / rl) vxerxit(FE_VALUE);
  return off_t(e->pcurec) * rl;
}

static bool refused(int err) {
  return err == EAGAIN || err == EACCES;
}

void fm_release_held() {
  oftentry *e = fm_sel.entry;
  if (!e->plock) return;
  e->plock = 0;
  if (e->pftype != 'I') fl_region(e->pfdis, LK_SHIFT + e->pheld, off_t(e->prlen), LK_UNLOCK);
}

// Takes the held lock of the record at off: true, false when another
// process (or another entry of this one) holds it; other failures: 4.
static bool hold(oftentry *e, off_t off) {
  if (fl_record_taken(off, off_t(e->prlen))) {
    lk_pid = getpid();
    return false;
  }
  if (fl_region(e->pfdis, LK_SHIFT + off, off_t(e->prlen), LK_EXCL) == 0) {
    e->plock = 1;
    e->pheld = off;
    return true;
  }
  if (refused(errno)) return false;
  vxerxit(FE_IO);
}

// the transfer region of the record at off, locked (mode) or released
static void transfer_lock(const oftentry *e, off_t off, int mode) {
  if (fl_region(e->pfdis, off, off_t(e->prlen), mode) < 0 && mode != LK_UNLOCK) vxerxit(FE_IO);
}

// reads the record at off into cb->fm_data; the bytes read, or 4
static ssize_t read_at(const oftentry *e, fm_callblock *cb, off_t off) {
  ssize_t n = fs_pread_all(e->pfdis, cb->fm_data, e->prlen, off);
  if (n < 0) vxerxit(FE_IO);
  return n;
}

void rread(oftentry *e, fm_callblock *cb) {
  lk_pid = -1;
  if (cb->fm_rlen < e->prlen) vxerxit(FE_RECLEN);
  off_t off = position(e, cb);
  bool locking = e->inuse != -1 && e->pwrite != badop && cb->fm_lock;
  if (e->plock && (!locking || off != e->pheld)) fm_release_held();
  bool taken = false, locked_out = false;
  if (locking && !e->plock) {
    taken = hold(e, off);
    locked_out = !taken;
  }
  ssize_t n;
  if (locked_out) {
    transfer_lock(e, off, LK_EXCL_WAIT);
    n = read_at(e, cb, off);
    transfer_lock(e, off, LK_UNLOCK);
  } else {
    n = read_at(e, cb, off);
    if (n > 0 && size_t(n) < e->prlen && locking) {
      transfer_lock(e, off, LK_EXCL_WAIT);
      n = read_at(e, cb, off);
      transfer_lock(e, off, LK_UNLOCK);
    }
  }
  if (n == 0 || size_t(n) < e->prlen) {
    if (taken) fm_release_held();
    vxerxit(n == 0 ? FE_EOF : FE_IO);
  }
  e->pcurec = off / off_t(e->prlen) + 1;
  cb->fm_rlen = e->prlen;
  if (locked_out) vxerxit(FE_RECLOCK);
}

// the end of the file, where an appended record goes: rounded up to a
// whole record
static off_t append_offset(const oftentry *e) {
  struct stat st;
  if (fsys.fstat(e->pfdis, &st) < 0) vxerxit(FE_IO);
  off_t rl = off_t(e->prlen);
  return (st.st_size + rl - 1) / rl * rl;
}

// writes the padded record at off; a short write of an appended record is
// cut off again, so that the file keeps whole records only
static void write_at(const oftentry *e, const fm_callblock *cb, off_t off, bool append) {
  ssize_t n = fs_pwrite_all(e->pfdis, cb->fm_data, e->prlen, off);
  if (n == ssize_t(e->prlen)) return;
  int err = errno;
  if (append && n > 0) fsys.ftruncate(e->pfdis, off);
  errno = err;
  vxerxit(FE_IO);
}

void rwrite(oftentry *e, fm_callblock *cb) {
  lk_pid = -1;
  if (cb->fm_rlen > e->prlen) vxerxit(FE_RECLEN);
  std::memset(cb->fm_data + cb->fm_rlen, ' ', e->prlen - cb->fm_rlen);
  bool append = e->porg == 'S', locking = e->inuse != -1;
  off_t off = append ? -1 : position(e, cb);
  if (e->plock && (!locking || off != e->pheld)) fm_release_held();
  if (!locking) {
    if (append) {
      off_t rl = off_t(e->prlen);
      off = (e->ppos + rl - 1) / rl * rl;
    }
    write_at(e, cb, off, append);
    if (append) e->ppos = off + off_t(e->prlen);
  } else if (append) {
    off_t from = append_offset(e);
    if (fl_region(e->pfdis, from, LK_RBYTE - from, LK_EXCL_WAIT) < 0) vxerxit(FE_IO);
    off = append_offset(e);
    try {
      write_at(e, cb, off, true);
    } catch (const fm_exit &) {
      int err = errno;
      fl_region(e->pfdis, from, LK_RBYTE - from, LK_UNLOCK);
      errno = err;
      throw;
    }
    fl_region(e->pfdis, from, LK_RBYTE - from, LK_UNLOCK);
  } else {
    if (!e->plock && !hold(e, off)) vxerxit(FE_RECLOCK);
    transfer_lock(e, off, LK_EXCL_WAIT);
    try {
      write_at(e, cb, off, false);
    } catch (const fm_exit &) {
      int err = errno;
      transfer_lock(e, off, LK_UNLOCK);
      errno = err;
      throw;
    }
    transfer_lock(e, off, LK_UNLOCK);
  }
  e->pcurec = off / off_t(e->prlen) + 1;
  if (!cb->fm_lock) fm_release_held();
}
