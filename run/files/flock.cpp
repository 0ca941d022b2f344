// flock.cpp: region locks, the file-level lock modes and the lock table
// (flock.h).  Owns lk_pid and the table fl; called by the open and close
// code, the record routines and, through islockfn, the ISAM engine.
#include "run/files/flock.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <new>
#include <vector>

#include "run/base/zsmsg.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/loader/names.h"

pid_t lk_pid = -1;

// One file open in this process.
struct fl_slot {
  dev_t dev;  // identity of the file
  ino_t ino;
  int fd_ro;     // descriptor opened for reading, -1 none
  int fd_rw;     // descriptor opened for reading and writing, -1 none
  int users;     // entries in the slot; 0: the slot is free
  int nmode[4];  // entries holding each file lock mode
  int indexed;   // the entries are indexed files (the engine's descriptors)
  int rheld;     // what the read byte holds now: 0, 1 shared, 2 exclusive
  int wheld;     // what the write byte holds now
};

struct fl_table {
  std::vector<fl_slot> slots;  // grows, never shrinks; free slots reused
};
static fl_table fl;

static const int RMOD[4] = {1, 1, 1, 2};  // read byte per lock mode
static const int WMOD[4] = {0, 1, 2, 2};  // write byte per lock mode

int fcntL(int fd, int cmd, struct flock *fl_req) {
  int r = fsys.lock(fd, cmd, fl_req);
  if (r < 0 && cmd == F_SETLK && fl_req->l_type != F_UNLCK &&
      (errno == EAGAIN || errno == EACCES)) {
    int saved = errno;
    struct flock probe = *fl_req;
    lk_pid = fsys.lock(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? probe.l_pid : -1;
    errno = saved;
  }
  return r;
}

int fl_region(int fd, off_t begin, off_t len, int lk_mode) {
  static const short TYPE[5] = {F_UNLCK, F_WRLCK, F_WRLCK, F_RDLCK, F_RDLCK};
  if (lk_mode < 0 || lk_mode > 4) return -1;
  struct flock req = {};
  req.l_type = TYPE[lk_mode];
  req.l_whence = SEEK_SET;
  req.l_start = begin;
  req.l_len = len;
  bool wait = lk_mode == LK_EXCL_WAIT || lk_mode == LK_SHARED_WAIT;
  int r;
  do r = fcntL(fd, wait ? F_SETLKW : F_SETLK, &req);
  while (r < 0 && wait && errno == EINTR);
  return r < 0 ? -1 : 0;
}

static off_t join(uint32_t low, uint32_t high) {
  return off_t(uint64_t(high) << 32 | low);
}

int rglock(int fd, uint32_t begin_low, uint32_t begin_high, uint32_t len_low, uint32_t len_high,
           int lk_mode) {
  return fl_region(fd, join(begin_low, begin_high), join(len_low, len_high), lk_mode);
}

int rgunlck(int fd, uint32_t begin_low, uint32_t begin_high, uint32_t len_low, uint32_t len_high) {
  return rglock(fd, begin_low, begin_high, len_low, len_high, LK_UNLOCK);
}

// the request for one lock byte: 1 shared, 2 exclusive, negative unlock
static int lock_byte(int fd, off_t at, int mode) {
  return fl_region(fd, at, 1, mode < 0 ? LK_UNLOCK : mode == 1 ? LK_SHARED : LK_EXCL);
}

int test_and_set(off_t, int rmode, int wmode) {
  oftentry *e = fm_sel.entry;
  if (e->pftype == 'I') return 0;
  int fd = e->pfdis, r = 0;
  if (rmode != 0 && (r = lock_byte(fd, LK_RBYTE, rmode)) < 0) return r;
  if (wmode != 0) {
    r = lock_byte(fd, LK_WBYTE, wmode);
    if (r < 0 && rmode > 0) fl_region(fd, LK_RBYTE, 1, LK_UNLOCK);
  }
  return r;
}

static fl_slot *slot_of(const oftentry *e) {
  return e->lock_entry >= 0 ? &fl.slots[size_t(e->lock_entry)] : nullptr;
}

// Brings the slot's lock bytes to what its entries need now.
static int apply(fl_slot *s) {
  int r = 0, w = 0;
  for (int m = 0; m < 4; m++)
    if (s->nmode[m] > 0) {
      if (RMOD[m] > r) r = RMOD[m];
      if (WMOD[m] > w) w = WMOD[m];
    }
  int dr = r == s->rheld ? 0 : r == 0 ? -s->rheld : r;
  int dw = w == s->wheld ? 0 : w == 0 ? -s->wheld : w;
  if (dr == 0 && dw == 0) return 0;
  if (test_and_set(0, dr, dw) < 0) return -1;
  s->rheld = r;
  s->wheld = w;
  return 0;
}

int opnlock() {
  fl_slot *s = slot_of(fm_sel.entry);
  return s && !s->indexed ? apply(s) : 0;
}

int closlock() {
  oftentry *e = fm_sel.entry;
  fl_slot *s = slot_of(e);
  if (!s || !e->pflock) return 0;
  e->pflock = 0;
  s->nmode[e->lock_mode]--;
  return s->indexed ? 0 : apply(s);
}

int setlock() {
  char path[VXPATH_MAX + 8];
  const oftentry *e = fm_sel.entry;
  std::snprintf(path, sizeof path, "%s%s", fullname, e->pftype == 'I' ? ".dat" : "");
  struct stat st;
  if (fsys.stat(path, &st) < 0) {
    zsmsg("OPFAIL\r\n");
    return -1;
  }
  fm_sel.entry->pf_dev = st.st_dev;
  fm_sel.entry->pf_ino = st.st_ino;
  return 0;
}

// true when mode a of one entry and mode b of another may be held together
static bool compatible(int a, int b) {
  static const bool BOTH[4][4] = {
      {true, true, true, false}, {true, true, false, false}, {true, false, false, false}, {}};
  return BOTH[a][b];
}

int fl_attach() {
  oftentry *e = fm_sel.entry;
  bool indexed = e->pftype == 'I';
  size_t free_at = fl.slots.size();
  for (size_t i = 0; i < fl.slots.size(); i++) {
    fl_slot &s = fl.slots[i];
    if (s.users == 0) {
      if (free_at == fl.slots.size()) free_at = i;
      continue;
    }
    if (s.dev != e->pf_dev || s.ino != e->pf_ino) continue;
    if (bool(s.indexed) != indexed) return FE_LOCKED;
    for (int m = 0; m < 4; m++)
      if (s.nmode[m] > 0 && !compatible(m, e->lock_mode)) return FE_LOCKED;
    s.users++;
    s.nmode[e->lock_mode]++;
    e->lock_entry = int(i);
    e->pflock = 1;
    return 0;
  }
  if (free_at == fl.slots.size()) {
    try {
      fl.slots.push_back({});
    } catch (const std::bad_alloc &) {
      return FE_NOMEM;
    }
  }
  fl_slot &s = fl.slots[free_at];
  s = fl_slot{e->pf_dev, e->pf_ino, -1, -1, 1, {0, 0, 0, 0}, indexed, 0, 0};
  s.nmode[e->lock_mode]++;
  e->lock_entry = int(free_at);
  e->pflock = 1;
  return 0;
}

int fl_descriptor(int write) {
  fl_slot *s = slot_of(fm_sel.entry);
  int *fd = write ? &s->fd_rw : &s->fd_ro;
  if (*fd < 0) *fd = fs_open(fullname, (write ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
  return *fd;
}

int fl_detach() {
  oftentry *e = fm_sel.entry;
  fl_slot *s = slot_of(e);
  if (!s) return 0;
  closlock();
  e->lock_entry = -1;
  if (--s->users > 0) return 0;
  int err = 0;
  for (int *fd : {&s->fd_ro, &s->fd_rw})
    if (*fd >= 0) {
      if (fsys.close(*fd) < 0 && err == 0) err = errno;
      *fd = -1;
    }
  s->indexed = 0;
  return err;
}

bool fl_record_taken(off_t off, off_t len) {
  const oftentry *e = fm_sel.entry;
  const fl_slot *s = slot_of(e);
  if (!s || s->users < 2) return false;
  for (int i = 0; i < oftable_len; i++) {
    const oftentry &o = oftable[i];
    if (&o == e || !o.inuse || o.lock_entry != e->lock_entry || !o.plock) continue;
    if (o.pheld < off + len && off < o.pheld + off_t(o.prlen)) return true;
  }
  return false;
}

int fl_users() {
  const fl_slot *s = slot_of(fm_sel.entry);
  return s ? s->users : 0;
}

void fl_reset_for_test() {
  fl.slots.clear();
  lk_pid = -1;
}
