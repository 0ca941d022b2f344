// qxopen.cpp: finding a file on disk and opening it (qx.h): the directory
// search, the request check, the tables of open options per organisation,
// the file lock, and the failures of an open.  Called by fm for operation
// 8 and, for findfile, by the create and status operations.
//
// Open options (system open, file lock mode, operations forbidden):
//   sequential, unstructured   0 read 0 -write   1 write,trunc 3 -read
//                              2 append 3 -read  7 read 3 -write
//                              8 append 1 -read
//   relative                   0,4 read 0 -write 1 write,trunc 3 -read
//                              2 append 3 -read  3 update 1    5 update 2
//                              6 update 3        7 read 3 -write
//                              8 append 1 -read
//   indexed (engine mode)      0 MANULOCK+INOUT 1   1 MANULOCK+INPUT 0 -write
//                              2,6,10,14 EXCLLOCK+INOUT 3
//                              3,7 EXCLLOCK+INPUT 3 -write   18 refused (12)
// A read-only open with the exclusive lock opens for reading and writing,
// since the exclusive lock needs write access.  A truncating open empties
// the file only once the exclusive lock is held, so that an open refused
// with 12 never destroys another process's data.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/files/iohelp.h"
#include "run/files/qx.h"
#include "run/files/txlog.h"
#include "run/loader/names.h"

enum { OF_WRITE = 1, OF_APPEND = 2, OF_TRUNC = 4 };  // system open
enum { NO_READ = 1, NO_WRITE = 2 };                  // forbidden operations

// One row of an open-option table.
struct open_row {
  int opt;     // open option modulo 100
  int how;     // OF_* bits, or the engine's open mode for indexed files
  int lock;    // file lock mode 0 to 3
  int forbid;  // NO_* bits
};

static const open_row SEQ_ROWS[] = {
    {0, 0, 0, NO_WRITE},
    {1, OF_WRITE | OF_TRUNC, 3, NO_READ},
    {2, OF_WRITE | OF_APPEND, 3, NO_READ},
    {7, 0, 3, NO_WRITE},
    {8, OF_WRITE | OF_APPEND, 1, NO_READ},
};
static const open_row REL_ROWS[] = {
    {0, 0, 0, NO_WRITE},
    {4, 0, 0, NO_WRITE},
    {1, OF_WRITE | OF_TRUNC, 3, NO_READ},
    {2, OF_WRITE | OF_APPEND, 3, NO_READ},
    {3, OF_WRITE, 1, 0},
    {5, OF_WRITE, 2, 0},
    {6, OF_WRITE, 3, 0},
    {7, 0, 3, NO_WRITE},
    {8, OF_WRITE | OF_APPEND, 1, NO_READ},
};
static const open_row IDX_ROWS[] = {
    {0, ISMANULOCK + ISINOUT, 1, 0},        {1, ISMANULOCK + ISINPUT, 0, NO_WRITE},
    {2, ISEXCLLOCK + ISINOUT, 3, 0},        {6, ISEXCLLOCK + ISINOUT, 3, 0},
    {10, ISEXCLLOCK + ISINOUT, 3, 0},       {14, ISEXCLLOCK + ISINOUT, 3, 0},
    {3, ISEXCLLOCK + ISINPUT, 3, NO_WRITE}, {7, ISEXCLLOCK + ISINPUT, 3, NO_WRITE},
};

template <size_t N>
static const open_row *find_row(const open_row (&rows)[N], int opt) {
  for (const open_row &r : rows)
    if (r.opt == opt) return &r;
  return nullptr;
}

int doaccss(const char *name) {
  if (fsys.geteuid() == 0) return 0;
  return fsys.access(name, R_OK | W_OK) == 0 ? 0 : 1;
}

// the organisation of directory entry name for the base name base, or 0
static char entry_type(const char *name, const char *base, size_t bl, int *reclen) {
  if (std::strncmp(name, base, bl) != 0) return 0;
  const char *rest = name + bl;
  if (*rest == 0) return 'U';
  if (rest[0] != '.' || std::strlen(rest) != 4) return 0;
  rest++;
  if (!std::strcmp(rest, "dat") || !std::strcmp(rest, "idx")) return 'I';
  if (!std::strcmp(rest, "saa")) return 'S';
  int n = rest[0] == 'r' ? vx_decode(rest + 1) : -1;
  if (n < 1 || n > FM_MAXREC) return 0;
  *reclen = n;
  return 'R';
}

// access test of fullname + suffix: 0 usable, 1 protected, 9 missing
static int probe(const char *suffix) {
  char path[VXPATH_MAX + 8];
  std::snprintf(path, sizeof path, "%s%s", fullname, suffix);
  if (fsys.geteuid() == 0 && fsys.access(path, F_OK) == 0) return 0;
  if (fsys.access(path, R_OK | W_OK) == 0) return 0;
  return errno == ENOENT ? FE_NOTFOUND : 1;
}

int findfile(qxdir *dir) {
  fm_callblock *cb = fm_sel.pclblk;
  if (cb->fm_unit < 0) return FE_NODIR;
  fmfnm(cb);
  // A unit-relative name may hold slashes: the file is then in a folder
  // below the unit's, where the create puts it (at fullname).
  char where[VXPATH_MAX + 1];
  const char *base = vxbasename;
  if (const char *slash = std::strrchr(vxbasename, '/')) {
    std::snprintf(where, sizeof where, "%s/%.*s", vxdirname, int(slash - vxbasename), vxbasename);
    base = slash + 1;
  } else {
    std::snprintf(where, sizeof where, "%s", vxdirname);
  }
  DIR *d = fsys.opendir(where);
  if (!d)
    return errno == ENOENT || errno == ENOTDIR ? FE_NODIR
           : errno == EACCES                   ? FE_ACCESS
                                               : FE_TOOMANY;
  size_t bl = std::strlen(base);
  char type = 0;
  char suffix[8] = "";
  int reclen = 0;
  while (struct dirent *de = readdir(d)) {
    type = entry_type(de->d_name, base, bl, &reclen);
    if (type) {
      if (type == 'S' || type == 'R') std::snprintf(suffix, sizeof suffix, "%s", de->d_name + bl);
      break;
    }
  }
  closedir(d);
  if (!type) return FE_NOTFOUND;
  dir->d_type = type;
  dir->d_reclen = type == 'R' ? reclen : type == 'I' ? 1 : 0;
  int prot = 0;
  if (type == 'I') {
    for (const char *sfx : {".idx", ".dat"}) {
      int r = probe(sfx);
      if (r == FE_NOTFOUND) return r;
      prot |= r;
    }
  } else {
    std::strncat(fullname, suffix, sizeof fullname - std::strlen(fullname) - 1);
    prot = doaccss(fullname);
  }
  dir->d_protect = prot ? 'P' : ' ';
  return 0;
}

// the organisation check of openck
static int org_check(char org, char t) {
  switch (org) {
    case 'S':
      return t == 'I' || (t == 'U' && !vx_compat) ? FE_OPTION : 0;
    case 'U':
      return t == 'I' || (t == 'S' && !vx_compat) ? FE_OPTION : 0;
    case 'R':
      return t == 'R' ? 0 : FE_OPTION;
    case 'I':
      return t == 'I' ? 0 : FE_NOTISAM;
    default:
      return FE_VALUE;
  }
}

// the option check of openck: allowed organisations, and those for which
// a protected file gives 14
static int option_check(int opt, char org, bool p) {
  struct rule {
    int opt;
    const char *orgs;
    const char *prot;
  };
  static const rule RULES[] = {
      {0, "SUI", "I"}, {1, "SUI", "SU"}, {2, "SUI", "SUI"}, {3, "RI", "R"},
      {4, "R", ""},    {5, "R", "R"},    {6, "RI", "RI"},   {7, "SUI", ""},
      {8, "SU", "SU"}, {10, "I", "I"},   {14, "I", "I"},    {18, "I", "I"},
  };
  for (const rule &r : RULES)
    if (r.opt == opt) {
      if (!std::strchr(r.orgs, org)) return FE_OPTION;
      return p && std::strchr(r.prot, org) ? FE_ACCESS : 0;
    }
  return FE_OPTION;
}

int openck(char t, bool p) {
  fm_callblock *cb = fm_sel.pclblk;
  char org = cb->fm_org == ' ' ? 'S' : cb->fm_org;
  int err = org_check(org, t);
  if (err == FE_VALUE) return err;
  int e2 = option_check(cb->fm_flag % 100, org, p);
  int hundreds = cb->fm_flag / 100;
  int e3 = 0;
  if (hundreds != 0 && org != 'I')
    e3 = FE_OPTION;
  else if (hundreds == 2 || hundreds == 3) {
    if (vx_txflag != 1) cb->fm_flag = int16_t(cb->fm_flag - 200);
  } else if (hundreds != 0 && hundreds != 1)
    e3 = FE_OPTION;
  return err ? err : e2 ? e2 : e3;
}

// frees what the entry being opened holds and marks it free
static void release_entry(oftentry *e) {
  std::free(e->pfname);
  std::free(e->pkbuf);
  *e = oftentry{};
  e->lock_entry = -1;
}

// ends an open before anything was opened
[[noreturn]] static void open_refused(int n) {
  release_entry(fm_sel.entry);
  vxerxit(n);
}

// the I/O error of a failed open: the engine's for an indexed file, else
// the system's
static int open_error(const oftentry *e) {
  if (e->pftype == 'I' && iserrno >= 100) {
    switch (iserrno) {
      case ETOOMANY:
        return FE_TOOMANY;
      case ELOCKED:
      case EBADMEM:
        return FE_NOMEM;
      case EFLOCKED:
        return FE_LOCKED;
      default:
        return FE_IO;
    }
  }
  switch (e->pftype == 'I' ? iserrno : errno) {
    case EBUSY:
    case EAGAIN:
      return FE_LOCKED;
    case ENOMEM:
      return FE_NOMEM;
    case EACCES:
    case EPERM:
    case EROFS:
      return FE_ACCESS;
    case ENOTDIR:
      return FE_NODIR;
    case EMFILE:
    case ENFILE:
      return FE_TOOMANY;
    default:
      return FE_IO;
  }
}

void opfail() {
  oftentry *e = fm_sel.entry;
  int sys = errno;
  char msg[80];
  std::snprintf(msg, sizeof msg, "opfail with errorno=%d: iserrno=%d\r\n", sys, iserrno);
  zsmsg(msg);
  errno = sys;
  int n = open_error(e);
  fl_detach();
  release_entry(e);
  errno = 0;
  vxerxit(n);
}

void opexit(int n) {
  oftentry *e = fm_sel.entry;
  int sys = errno;
  if (e->pftype == 'I') isclose(e->pfdis);
  fl_detach();
  release_entry(e);
  errno = sys;
  vxerxit(n);
}

void filopen(int opmode, int lockmode) {
  oftentry *e = fm_sel.entry;
  e->lock_mode = lockmode;
  e->op_mode = e->pftype == 'I' ? opmode : opmode & OF_WRITE ? O_RDWR : O_RDONLY;
  e->inuse = lockmode == 3 ? -1 : 1;
  fm_sel.xclusiv = lockmode == 3;
  int r = fl_attach();
  if (r) open_refused(r);
  if (e->pftype == 'I') {
    int fd = isopen(fullname, opmode);
    if (fd < 0) opfail();
    e->pfdis = int16_t(fd);
    return;
  }
  int fd = fl_descriptor(opmode & OF_WRITE ? 1 : 0);
  if (fd < 0) opfail();
  e->pfdis = int16_t(fd);
  if (opnlock() < 0) {
    errno = 0;
    opexit(FE_LOCKED);
  }
}

// the engine's description of index k of the selected entry, or opexit
static void index_info(void *into, int k) {
  if (isindexinfo(fm_sel.entry->pfdis, into, k) < 0) opexit(fm_isam_error(iserrno));
}

// true when key k lies in one piece from record offset 0, without duplicates
static bool is_primary(const keydesc &k) {
  if (k.k_flags & ISDUPS || k.k_nparts < 1) return false;
  int at = 0;
  for (int i = 0; i < k.k_nparts; i++) {
    if (k.k_part[i].kp_start != at) return false;
    at += k.k_part[i].kp_leng;
  }
  return at == k.k_len;
}

// Options 10 and 14: the file emptied, built again with its indexes.
static void rebuild_indexed(const dictinfo &di) {
  oftentry *e = fm_sel.entry;
  int nkeys = di.di_nkeys & 0x7FFF;
  auto *keys = static_cast<keydesc *>(std::calloc(size_t(nkeys > 0 ? nkeys : 1), sizeof(keydesc)));
  if (!keys) opexit(FE_NOMEM);
  for (int k = 0; k < nkeys; k++)
    if (isindexinfo(e->pfdis, &keys[k], k + 1) < 0) {
      std::free(keys);
      opexit(fm_isam_error(iserrno));
    }
  isclose(e->pfdis);
  int fd =
      iserase(fullname) < 0 ? -1 : isbuild(fullname, di.di_recsize, &keys[0], ISEXCLLOCK + ISINOUT);
  for (int k = 1; fd >= 0 && k < nkeys; k++)
    if (isaddindex(fd, &keys[k]) < 0) {
      isclose(fd);
      fd = -1;
    }
  std::free(keys);
  if (fd < 0) {
    fl_detach();
    release_entry(e);
    vxerxit(FE_IO);
  }
  e->pfdis = int16_t(fd);
  isflush(fd);
}

// Steps after an indexed file is open: its primary key, the key buffer,
// the emptying options and the start position.
static void setup_indexed() {
  oftentry *e = fm_sel.entry;
  dictinfo di;
  index_info(&di, 0);
  e->pkprim = -1;
  e->pknum = 1;
  e->pklen = 0;
  if (!e->popt2)
    for (int k = 1; k <= (di.di_nkeys & 0x7FFF); k++) {
      keydesc kd;
      index_info(&kd, k);
      if (is_primary(kd)) {
        e->pkprim = e->pknum = int16_t(k);
        e->pklen = size_t(kd.k_len);
        break;
      }
    }
  e->prlen = size_t(di.di_recsize) - e->pklen;
  if (e->popt == 10 || e->popt == 14) rebuild_indexed(di);
  e->pkbuf = static_cast<uint8_t *>(std::calloc(size_t(di.di_recsize), 1));
  if (!e->pkbuf) opexit(FE_NOMEM);
  qxrewind();
}

// Steps after a sequential or relative file is open: emptying and the
// append position.
static void setup_plain(int how) {
  oftentry *e = fm_sel.entry;
  if (how & OF_TRUNC && fsys.ftruncate(e->pfdis, 0) < 0) opexit(FE_IO);
  if (how & OF_APPEND) {
    struct stat st;
    if (fsys.fstat(e->pfdis, &st) < 0) opexit(FE_IO);
    e->ppos = st.st_size;
  }
}

void qxopen() {
  fm_callblock *cb = fm_sel.pclblk;
  int n = cb->fm_lfn;
  if (n < 1 || n > oftable_len || oftable[n - 1].inuse) vxerxit(FE_UNIT);
  oftentry *e = &oftable[n - 1];
  *e = oftentry{};
  e->lock_entry = -1;
  fm_sel.entry = e;
  qxdir dir;
  int r = findfile(&dir);
  if (r) vxerxit(r);
  e->pfname = strdup(fullname);
  if (!e->pfname) vxerxit(FE_NOMEM);
  e->pfnlen = std::strlen(fullname);
  e->punum = cb->fm_unit;
  e->prtct = dir.d_protect;
  e->pftype = dir.d_type;
  char t = dir.d_type;
  e->prlen = size_t(dir.d_reclen);
  if (cb->fm_rlen) {
    if (t != 'U') open_refused(FE_VALUE);
    if (cb->fm_rlen > size_t(FM_RECBUF)) open_refused(FE_VALUE);
    e->prlen = cb->fm_rlen;
    t = 'R';
  }
  if ((r = openck(t, dir.d_protect == 'P')) != 0) open_refused(r);
  int opt = cb->fm_flag % 100, hundreds = cb->fm_flag / 100;
  e->porg = cb->fm_org == ' ' ? 'S' : cb->fm_org;
  e->popt = char(opt);
  e->popt2 = char(hundreds & 1);
  int isam_add = hundreds & 2 ? ISNOLOG : 0;
  e->pread = e->pwrite = e->pdelete = badop;
  if (setlock() < 0) opfail();
  if (t == 'I' && opt == 18) open_refused(FE_LOCKED);
  const open_row *row = t == 'I'   ? find_row(IDX_ROWS, opt)
                        : t == 'R' ? find_row(REL_ROWS, opt)
                                   : find_row(SEQ_ROWS, opt);
  if (!row) open_refused(FE_OPTION);
  if (t == 'R') e->porg = opt >= 3 && opt <= 6 ? 'R' : 'S';
  fm_op rd = t == 'I' ? iread : t == 'R' ? rread : sread;
  fm_op wr = t == 'I' ? iwrite : t == 'R' ? rwrite : swrite;
  if (!(row->forbid & NO_READ)) e->pread = rd;
  if (!(row->forbid & NO_WRITE)) e->pwrite = wr;
  if (t == 'I' && !(row->forbid & NO_WRITE)) e->pdelete = idelete;
  int how = row->how;
  if (t != 'I' && row->lock == 3) how |= OF_WRITE;
  filopen(t == 'I' ? how + isam_add : how, row->lock);
  if (t == 'I')
    setup_indexed();
  else
    setup_plain(how);
}

void fmfnm(fm_callblock *cb) {
  const char *name = cb->fm_filename ? cb->fm_filename : "";
  fmbuildnm(name, unsigned(cb->fm_unit), 0);
  std::free(cb->fm_filename);
  cb->fm_filename = nullptr;
  std::snprintf(fullname, sizeof fullname, "%s/%s", vxdirname, vxbasename);
}
