// isfile.cpp: the descriptor table and the calls on whole files: isbuild,
// isopen, isclose, iserase, isrename, isflush, isindexinfo, isaddindex,
// isdelindex, islock, isunlock, iscleanup.
//
// Descriptors are small numbers, the lowest free one first.  All
// descriptors of one file pair in this process share one is_file and so
// one pair of operating-system descriptors: closing any descriptor of a
// file would drop every region lock the process holds on it.
#include "isam/isintern.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>

namespace isam {

struct is_table {
  std::vector<is_fd *> fds;      // by ISAM descriptor, nullptr when free
  std::vector<is_file *> files;  // open file pairs
};
static is_table tab;

std::vector<is_fd *> &fd_table() {
  return tab.fds;
}

void is_throw(int err) {
  throw is_error{err};
}

is_fd *fd_lookup(int isfd) {
  if (isfd < 0 || size_t(isfd) >= tab.fds.size() || !tab.fds[size_t(isfd)]) is_throw(ENOTOPEN);
  return tab.fds[size_t(isfd)];
}

// NAME + suffix; EFNAME when the path or one of its names is longer than
// the system allows.
static std::string path_of(const char *name, const char *suffix) {
  if (!name || !*name) is_throw(EFNAME);
  size_t len = std::strlen(name);
  if (len + 4 >= PATH_MAX) is_throw(EFNAME);
  size_t part = 0;
  for (size_t i = 0; i < len; i++) {
    part = name[i] == '/' ? 0 : part + 1;
    if (part > NAME_MAX) is_throw(EFNAME);
  }
  if (part + 4 > NAME_MAX) is_throw(EFNAME);
  return std::string(name) + suffix;
}

// A system error as iserrno: a name too long for the system is EFNAME.
static int sys_err(int e) {
  return e == ENAMETOOLONG ? EFNAME : e;
}

// Checks an open mode: one access mode, at most one lock mode.
static void check_mode(int mode) {
  int locks = ((mode & ISAUTOLOCK) != 0) + ((mode & ISMANULOCK) != 0) + ((mode & ISEXCLLOCK) != 0);
  if ((mode & 3) == 3 || locks > 1 ||
      (mode & ~(3 | ISTRANS | ISNOLOG | ISAUTOLOCK | ISMANULOCK | ISEXCLLOCK)) != 0)
    is_throw(EBADARG);
}

static is_file *find_file(uint64_t dev, uint64_t ino) {
  for (is_file *f : tab.files)
    if (f->dev == dev && f->ino == ino) return f;
  return nullptr;
}

static void file_free(is_file *f) {
  cache_drop(f);
  jnl_forget(f);
  cache_unmap(f);
  if (f->map) munmap(f->map, f->maplen);
  io_close(f->idxfd);
  io_close(f->datfd);
  io_close(f->jnlfd);
  for (size_t i = 0; i < tab.files.size(); i++)
    if (tab.files[i] == f) tab.files.erase(tab.files.begin() + long(i));
  delete f;
}

// Opens the operating-system files of a pair not yet open in this process.
static is_file *file_load(const char *name, bool wantwrite) {
  std::string dat = path_of(name, ".dat"), idx = path_of(name, ".idx");
  auto *f = new is_file;
  f->name = name;
  f->writable = true;
  f->idxfd = io_open(idx.c_str(), O_RDWR, 0);
  if (f->idxfd < 0 && errno == EACCES && !wantwrite) {
    f->writable = false;
    f->idxfd = io_open(idx.c_str(), O_RDONLY, 0);
  }
  if (f->idxfd >= 0) f->datfd = io_open(dat.c_str(), f->writable ? O_RDWR : O_RDONLY, 0);
  if (f->idxfd < 0 || f->datfd < 0) {
    int e = errno;
    iserrio = IO_OPEN + (f->idxfd < 0 ? IO_IDX : IO_DAT);
    io_close(f->idxfd);
    delete f;
    is_throw(sys_err(e));
  }
  f->abspath = name;
  if (name[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) f->abspath = std::string(cwd) + "/" + name;
  }
  tab.files.push_back(f);
  return f;
}

// Reads and checks the dictionary of a newly loaded file.
static void file_read_dict(is_file *f) {
  int64_t isz, dsz;
  io_sync_size(f->idxfd, &isz);
  io_sync_size(f->datfd, &dsz);
  unsigned char d[DICT_HDR + MAX_KEYS * DICT_IXLEN];
  size_t len = size_t(std::min<int64_t>(isz, int64_t(sizeof d)));
  io_pread(f->idxfd, d, len, 0, IO_IDX);
  dict_decode(f, d, len, isz, dsz);
  disk_sync(f);
  // Calls on a shared file read the change count from a shared mapping of
  // the dictionary node, and changes write the dictionary through it.
  int prot = f->writable ? PROT_READ | PROT_WRITE : PROT_READ;
  void *m = mmap(nullptr, f->nodesize, prot, MAP_SHARED, f->idxfd, 0);
  if (m != MAP_FAILED) {
    f->map = static_cast<unsigned char *>(m);
    f->maplen = f->nodesize;
    f->mapw = f->writable;
  }
}

static int fd_new(is_file *f, int mode) {
  size_t i = 0;
  while (i < tab.fds.size() && tab.fds[i]) i++;
  if (ismaxfds > 0 && i >= size_t(ismaxfds)) is_throw(ETOOMANY);
  if (i == tab.fds.size()) tab.fds.push_back(nullptr);
  auto *d = new is_fd;
  d->f = f;
  d->mode = mode;
  d->cur = 1;
  d->pos = P_BEGIN;
  tab.fds[i] = d;
  return int(i);
}

int file_open(const char *name, int mode) {
  check_mode(mode);
  bool excl = (mode & ISEXCLLOCK) != 0, write = (mode & 3) != ISINPUT;
  std::string dat = path_of(name, ".dat");
  struct stat st;
  if (stat(dat.c_str(), &st) != 0) is_throw(sys_err(errno));
  size_t used = 0;
  for (is_fd *x : tab.fds) used += x != nullptr;
  if (ismaxfds > 0 && used >= size_t(ismaxfds)) is_throw(ETOOMANY);
  is_file *f = find_file(uint64_t(st.st_dev), uint64_t(st.st_ino));
  bool fresh = f == nullptr;
  if (fresh) {
    f = file_load(name, write);
    f->dev = uint64_t(st.st_dev);
    f->ino = uint64_t(st.st_ino);
  } else if (write && !f->writable) {
    is_throw(EACCES);
  }
  bool upgraded = false;
  try {
    int rc = lock_open(f, excl);
    if (rc != 0) is_throw(rc);
    upgraded = !fresh && excl && f->nexcl == 0;
    if (fresh) {
      bool tl = !excl;
      if (tl) lock_tree(f, false);
      try {
        file_read_dict(f);
        // a change cut short by a crash is undone by an exclusive opener
        // here, by the first call on a shared open
        if (excl && (f->state & DICT_PENDING)) {
          if (!f->writable) is_throw(EBADFILE);
          jnl_recover(f);
        }
      } catch (...) {
        if (tl) unlock_tree(f);
        throw;
      }
      if (tl) unlock_tree(f);
    }
    int isfd = fd_new(f, mode);
    f->nopen++;
    if (excl) f->nexcl++;
    return isfd;
  } catch (...) {
    if (fresh)
      file_free(f);
    else if (upgraded)
      lock_close(f, true);  // back to the shared open lock
    throw;
  }
}

}  // namespace isam

using namespace isam;

int isopen(const char *name, int mode) {
  return api_call([&] {
    int isfd = file_open(name, mode);
    tx_opened(tab.fds[size_t(isfd)]->f);
    return isfd;
  });
}

int isbuild(const char *name, int reclen, struct keydesc *key, int mode) {
  return api_call([&] {
    check_mode(mode);
    if (mode & ISVARLEN) is_throw(EBADARG);
    if (!key || reclen < 1) is_throw(EBADARG);
    if (reclen > MAX_RECLEN) is_throw(EROWSIZE);
    if (key_check(key, reclen, true) != 0) is_throw(EBADKEY);
    std::string dat = path_of(name, ".dat"), idx = path_of(name, ".idx");
    int dfd = io_open(dat.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (dfd < 0) {
      iserrio = IO_CREA + IO_DAT;
      is_throw(sys_err(errno));
    }
    int ifd = io_open(idx.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (ifd < 0) {
      int e = errno;
      iserrio = IO_CREA + IO_IDX;
      io_close(dfd);
      unlink(dat.c_str());
      is_throw(sys_err(e));
    }
    unlink(jnl_path(name).c_str());  // a journal left by an erased namesake
    is_file nf;
    nf.nojournal = true;
    nf.idxfd = ifd;
    nf.datfd = dfd;
    nf.nodesize = NODE_SIZE;
    nf.reclen = reclen;
    nf.nnodes = 1;
    nf.ix.resize(1);
    key_fill(&nf.ix[0], key);
    try {
      if (key->k_nparts > 0) {
        nf.ix[0].root = node_alloc(&nf, NODE_LEAF, 0);
        nf.ix[0].height = 1;
      }
      std::vector<unsigned char> zero(NODE_SIZE);
      io_pwrite(ifd, zero.data(), zero.size(), 0, IO_IDX);  // node 0 whole
      nf.dict_dirty = true;
      cache_flush(&nf);
    } catch (...) {
      cache_drop(&nf);
      io_close(ifd);
      io_close(dfd);
      unlink(dat.c_str());
      unlink(idx.c_str());
      throw;
    }
    cache_drop(&nf);
    io_close(ifd);
    io_close(dfd);
    return file_open(name, mode);
  });
}

int isclose(int isfd) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    is_file *f = d->f;
    unlock_fd(f, isfd);
    tab.fds[size_t(isfd)] = nullptr;
    bool excl = (d->mode & ISEXCLLOCK) != 0;
    delete d;
    int err = 0;
    try {
      cache_flush(f);
    } catch (const is_error &e) {
      err = e.err;
    }
    f->nopen--;
    if (excl) f->nexcl--;
    if (f->nopen == 0 && f->txpin == 0)
      file_free(f);
    else if (f->nopen > 0)
      lock_close(f, excl);
    if (err) is_throw(err);
    return 0;
  });
}

namespace isam {
// A file the transaction kept open after its last close goes now.
void file_release(is_file *f) {
  if (f->nopen > 0 || f->txpin > 0) return;
  try {
    cache_flush(f);
  } catch (const is_error &) {
    // the changes were flushed at commit; nothing is left to lose
  }
  file_free(f);
}
}  // namespace isam

int iscleanup(void) {
  int rc = 0;
  for (size_t i = 0; i < tab.fds.size(); i++)
    if (tab.fds[i] && isclose(int(i)) < 0) rc = -1;
  return rc;
}

// Tests that no other process has the file open: an exclusive open lock is
// tried on the file's .idx (the existing descriptor when this process has
// the file open, since closing another would drop its locks).
static void check_unused(const char *name) {
  std::string dat = path_of(name, ".dat"), idx = path_of(name, ".idx");
  struct stat st;
  if (stat(dat.c_str(), &st) != 0) is_throw(sys_err(errno));
  is_file *f = find_file(uint64_t(st.st_dev), uint64_t(st.st_ino));
  if (f && f->nexcl > 0) return;
  int fd = f ? f->idxfd : io_open(idx.c_str(), O_RDWR, 0);
  if (fd < 0) is_throw(errno);
  int rc = io_lock(fd, F_SETLK, F_WRLCK, LOCK_OPEN, 1, nullptr);
  int e = errno;
  if (f)
    io_lock(fd, F_SETLK, F_RDLCK, LOCK_OPEN, 1, nullptr);
  else
    io_close(fd);
  if (rc != 0) is_throw(e == EAGAIN || e == EACCES ? EFLOCKED : e);
}

int iserase(const char *name) {
  return api_call([&] {
    check_unused(name);
    std::string dat = path_of(name, ".dat"), idx = path_of(name, ".idx");
    int rc = unlink(idx.c_str());
    int e = errno;
    if (unlink(dat.c_str()) != 0 || rc != 0) is_throw(sys_err(rc != 0 ? e : errno));
    unlink(jnl_path(name).c_str());
    return 0;
  });
}

int isrename(const char *oldname, const char *newname) {
  return api_call([&] {
    std::string od = path_of(oldname, ".dat"), oi = path_of(oldname, ".idx");
    std::string nd = path_of(newname, ".dat"), ni = path_of(newname, ".idx");
    struct stat st;
    if (lstat(nd.c_str(), &st) == 0 || lstat(ni.c_str(), &st) == 0) is_throw(EEXIST);
    check_unused(oldname);
    if (rename(od.c_str(), nd.c_str()) != 0) is_throw(sys_err(errno));
    if (rename(oi.c_str(), ni.c_str()) != 0) {
      int e = errno;
      rename(nd.c_str(), od.c_str());
      is_throw(sys_err(e));
    }
    rename(jnl_path(oldname).c_str(), jnl_path(newname).c_str());  // when there is one
    if (stat(nd.c_str(), &st) == 0)
      if (is_file *f = find_file(uint64_t(st.st_dev), uint64_t(st.st_ino))) {
        f->name = newname;
        f->abspath = newname;
        char cwd[PATH_MAX];
        if (newname[0] != '/' && getcwd(cwd, sizeof cwd))
          f->abspath = std::string(cwd) + "/" + newname;
      }
    return 0;
  });
}

int isflush(int isfd) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    cache_flush(d->f);
    return 0;
  });
}

int isindexinfo(int isfd, void *buffer, int number) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    is_file *f = d->f;
    if (!buffer || number < 0) is_throw(EBADARG);
    call_guard g(f, false);
    if (size_t(number) > f->ix.size()) is_throw(EBADARG);
    if (number == 0) {
      dictinfo di;
      di.di_nkeys = short(f->ix.size());
      di.di_recsize = short(f->reclen);
      di.di_idxsize = short(f->ix[0].keylen);
      di.di_nrecords = long(f->nrecords);
      std::memcpy(buffer, &di, sizeof di);
    } else {
      keydesc k = f->ix[size_t(number) - 1].kd;
      k.k_rootnode = long(f->ix[size_t(number) - 1].root);
      std::memcpy(buffer, &k, sizeof k);
    }
    g.finish();
    return 0;
  });
}

static is_fd *fd_exclusive(int isfd) {
  is_fd *d = fd_lookup(isfd);
  if (!(d->mode & ISEXCLLOCK)) is_throw(ENOTEXCL);
  if ((d->mode & 3) == ISINPUT) is_throw(ENOTOPEN);
  return d;
}

// Fills a new index from every live record; EDUPL when a unique index
// meets equal keys.
static void index_fill(is_file *f, is_index *ix) {
  std::vector<unsigned char> rec(size_t(f->reclen));
  unsigned char e[MAX_ENT];
  is_path p;
  for (uint32_t r = 1; r <= f->maxrec; r++) {
    uint8_t state;
    rec_read(f, r, rec.data(), &state);
    if (state != SLOT_LIVE) continue;
    key_make(ix, rec.data(), e);
    if (ix->dupw == 0) {
      if (tree_seek(f, ix, e, ix->keylen, false, &p) &&
          std::memcmp(tree_entry(f, ix, &p), e, size_t(ix->keylen)) == 0)
        is_throw(EDUPL);
    } else {
      uint32_t dup = tree_next_dup(f, ix, e);
      if (dup == 0) {
        if (tree_dup_run(f, ix, e) >= (ix->dupw == 2 ? 0xffffu : 0xffffffffu)) is_throw(ENOFREE);
        dup = tree_renumber(f, ix, e);
      }
      if (ix->dupw == 2)
        put16(e + ix->keylen, dup);
      else
        put32(e + ix->keylen, dup);
    }
    put32(e + ix->cmplen, r);
    tree_insert(f, ix, e);
  }
}

int isaddindex(int isfd, struct keydesc *key) {
  return api_call([&] {
    is_fd *d = fd_exclusive(isfd);
    is_file *f = d->f;
    if (!key || key_check(key, f->reclen, false) != 0) is_throw(EBADKEY);
    for (const is_index &x : f->ix)
      if (key_same_parts(&x.kd, key)) is_throw(EKEXISTS);
    if (f->ix.size() >= size_t(MAX_KEYS) ||
        DICT_HDR + (f->ix.size() + 1) * DICT_IXLEN > f->nodesize)
      is_throw(EBADKEY);
    call_guard g(f, true);
    is_index ix;
    key_fill(&ix, key);
    ix.root = node_alloc(f, NODE_LEAF, 0);
    ix.height = 1;
    try {
      index_fill(f, &ix);
    } catch (const is_error &e) {
      if (e.err != EDUPL && e.err != ENOFREE) throw;
      tree_free_all(f, &ix);
      f->dict_dirty = true;
      g.finish();
      throw;
    }
    f->ix.push_back(ix);
    f->dict_dirty = true;
    f->mods++;
    g.finish();
    return 0;
  });
}

int isdelindex(int isfd, struct keydesc *key) {
  return api_call([&] {
    is_fd *d = fd_exclusive(isfd);
    is_file *f = d->f;
    if (!key) is_throw(EBADKEY);
    size_t i = 0;
    while (i < f->ix.size() && !key_same_parts(&f->ix[i].kd, key)) i++;
    if (i == f->ix.size()) is_throw(EBADKEY);
    if (i == 0) is_throw(EPRIMKEY);
    call_guard g(f, true);
    tree_free_all(f, &f->ix[i]);
    f->ix.erase(f->ix.begin() + long(i));
    int gone = int(i) + 1;
    for (is_fd *x : tab.fds) {
      if (!x || x->f != f) continue;
      if (x->cur == gone) {
        x->cur = 1;
        x->plen = 0;
        x->pos = P_BEGIN;
      } else if (x->cur > gone) {
        x->cur--;
      }
    }
    f->dict_dirty = true;
    f->mods++;
    g.finish();
    return 0;
  });
}

int islock(int isfd) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    is_file *f = d->f;
    if (f->nexcl > 0 || f->filelock) return 0;
    if (io_lock(f->idxfd, F_SETLK, F_WRLCK, LOCK_FILE, 1, nullptr) != 0)
      is_throw(errno == EAGAIN || errno == EACCES ? EFLOCKED : errno);
    pid_t holder;
    if (io_lock(f->datfd, F_GETLK, F_WRLCK, LOCK_REC, 0, &holder) == 1) {
      io_lock(f->idxfd, F_SETLK, F_UNLCK, LOCK_FILE, 1, nullptr);
      is_throw(EFLOCKED);
    }
    f->filelock = true;
    // the dictionary tells writers to look for the lock (islock.cpp)
    try {
      if (!f->writable) is_throw(EACCES);
      call_guard g(f, true);
      f->state |= DICT_ISLOCKED;
      f->dict_dirty = true;
      g.finish();
    } catch (...) {
      f->filelock = false;
      io_lock(f->idxfd, F_SETLK, F_UNLCK, LOCK_FILE, 1, nullptr);
      throw;
    }
    return 0;
  });
}

int isunlock(int isfd) {
  return api_call([&] {
    is_fd *d = fd_lookup(isfd);
    is_file *f = d->f;
    if (!f->filelock) return 0;
    try {
      call_guard g(f, true);
      f->state &= uint16_t(~DICT_ISLOCKED);
      f->dict_dirty = true;
      g.finish();
    } catch (const is_error &) {
      // the next writer finds the lock gone and clears the bit
    }
    io_lock(f->idxfd, F_SETLK, F_UNLCK, LOCK_FILE, 1, nullptr);
    f->filelock = false;
    return 0;
  });
}
