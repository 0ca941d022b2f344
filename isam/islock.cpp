// islock.cpp: locks between processes, all region locks on lock bytes far
// beyond the data (isintern.h, LOCK_*), taken through islockfn.
//
//   NAME.idx LOCK_OPEN      shared by every process that has the file open,
//                           exclusive for an ISEXCLLOCK open
//   NAME.idx LOCK_TREE      shared for the length of a reading call,
//                           exclusive for a changing call (shared opens only)
//   NAME.idx LOCK_FILE      islock
//   NAME.dat LOCK_REC + r   the lock of record r
//
// Region locks belong to the process, so the engine also records which of
// its descriptors holds each record lock (is_file.locks).
#include "isam/isintern.h"

#include <fcntl.h>
#include <cerrno>

namespace isam {

static bool refused(int e) {
  return e == EAGAIN || e == EACCES;
}

// Takes the open lock for one more descriptor; 0 or an error number.
int lock_open(is_file *f, bool excl) {
  short want;
  if (f->nopen == 0)
    want = excl ? F_WRLCK : F_RDLCK;
  else if (excl && f->nexcl == 0)
    want = F_WRLCK;
  else
    return 0;
  if (io_lock(f->idxfd, F_SETLK, want, LOCK_OPEN, 1, nullptr) == 0) return 0;
  if (refused(errno)) return EFLOCKED;
  iserrio = IO_LOCK + IO_IDX;
  return errno == EBADF ? EFLOCKED : errno;
}

// After a descriptor closed: an exclusive lock no longer needed becomes shared.
void lock_close(is_file *f, bool was_excl) {
  if (f->nopen > 0 && was_excl && f->nexcl == 0)
    io_lock(f->idxfd, F_SETLK, F_RDLCK, LOCK_OPEN, 1, nullptr);
}

void lock_tree(is_file *f, bool write) {
  if (io_lock(f->idxfd, F_SETLKW, write ? F_WRLCK : F_RDLCK, LOCK_TREE, 1, nullptr) != 0) {
    iserrio = IO_LOCK + IO_IDX;
    is_throw(errno);
  }
}

void unlock_tree(is_file *f) {
  io_lock(f->idxfd, F_SETLK, F_UNLCK, LOCK_TREE, 1, nullptr);
}

// True when another process holds the islock lock.
bool lock_file_other(is_file *f) {
  return io_lock(f->idxfd, F_GETLK, F_WRLCK, LOCK_FILE, 1, nullptr) == 1;
}

// True when record r is locked by another process or another descriptor.
bool lock_rec_other(is_file *f, uint32_t r, int isfd) {
  auto it = f->locks.find(r);
  if (it != f->locks.end()) return it->second != isfd;
  if (f->nexcl > 0) return false;
  int rc = io_lock(f->datfd, F_GETLK, F_WRLCK, LOCK_REC + r, 1, nullptr);
  if (rc < 0) {
    iserrio = IO_LOCK + IO_DAT;
    is_throw(errno);
  }
  return rc == 1;
}

// Record locks are exclusive region locks; a file this process could only
// open read-only allows shared ones, which still stop every writer.
static short rec_lock_type(const is_file *f) {
  return f->writable ? F_WRLCK : F_RDLCK;
}

// Locks record r for descriptor isfd: 0, or ELOCKED when someone else holds it.
int lock_rec(is_file *f, uint32_t r, int isfd) {
  auto it = f->locks.find(r);
  if (it != f->locks.end()) return it->second == isfd ? 0 : ELOCKED;
  if (f->nexcl > 0) return 0;
  if (io_lock(f->datfd, F_SETLK, rec_lock_type(f), LOCK_REC + r, 1, nullptr) != 0) {
    if (refused(errno)) return ELOCKED;
    iserrio = IO_LOCK + IO_DAT;
    is_throw(errno);
  }
  f->locks[r] = isfd;
  return 0;
}

// Waits until record r can be locked, then holds it for isfd.  A wait
// that would deadlock fails with ELOCKED.
void lock_rec_wait(is_file *f, uint32_t r, int isfd) {
  if (io_lock(f->datfd, F_SETLKW, rec_lock_type(f), LOCK_REC + r, 1, nullptr) != 0) {
    if (errno == EDEADLK) is_throw(ELOCKED);
    iserrio = IO_LOCK + IO_DAT;
    is_throw(errno);
  }
  f->locks[r] = isfd;
}

void unlock_rec(is_file *f, uint32_t r) {
  auto it = f->locks.find(r);
  if (it == f->locks.end()) return;
  io_lock(f->datfd, F_SETLK, F_UNLCK, LOCK_REC + r, 1, nullptr);
  f->locks.erase(it);
}

// Releases every record lock held through descriptor isfd.
void unlock_fd(is_file *f, int isfd) {
  for (auto it = f->locks.begin(); it != f->locks.end();) {
    if (it->second == isfd) {
      io_lock(f->datfd, F_SETLK, F_UNLCK, LOCK_REC + it->first, 1, nullptr);
      it = f->locks.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace isam
