// qxfile.cpp: the file operations of fm besides opening (qx.h): create,
// close, close all, rename, date, unlock, rewind, status, and the error
// mapping of the ISAM engine.  Called by fm.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/fsys.h"
#include "run/files/iohelp.h"
#include "run/files/irec.h"
#include "run/files/qx.h"
#include "run/files/txlog.h"
#include "run/loader/names.h"

int fm_isam_error(int iserr) {
  switch (iserr) {
    case 24:
    case EBADFILE:
      return 35;
    case 28:
    case EENDFILE:
      return FE_EOF;
    case EDUPL:
      return 32;
    case EBADKEY:
    case EKEXISTS:
      return 37;
    case ENOTEXCL:
      return FE_ACCESS;
    case ELOCKED:
      return FE_RECLOCK;
    case EPRIMKEY:
      return 38;
    case EBADMEM:
      return FE_NOMEM;
    default:
      return iserr;
  }
}

// --- create ----------------------------------------------------------------

// creates fullname exclusively and closes it again; prealloc > 0 writes a
// zero byte at prealloc - 1
static void create_plain(off_t prealloc) {
  int fd = fs_open(fullname, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    int e = errno;
    errno = 0;
    vxerxit(e == ENOENT || e == ENOTDIR  ? FE_NODIR
            : e == EMFILE || e == ENFILE ? FE_UNIT
            : e == EEXIST                ? FE_EXISTS
                                         : FE_CREATE);
  }
  if (prealloc > 0 && fs_pwrite_all(fd, "", 1, prealloc - 1) != 1) {
    int e = errno;
    fsys.close(fd);
    fsys.unlink(fullname);
    errno = e;
    vxerxit(FE_IO);
  }
  if (fsys.close(fd) < 0) vxerxit(FE_IO);
}

// the error of a failed isbuild
static int build_error(int err) {
  switch (err) {
    case 23:
    case 24:
    case ETOOMANY:
      return FE_TOOMANY;
    case 12:
      return FE_NOMEM;
    case 13:
      return FE_ACCESS;
    case 20:
      return FE_NODIR;
    case 11:
      return FE_LOCKED;
    case EBADKEY:
    case EROWSIZE:
      return FE_KEYDESC;
    default:
      return err >= 100 ? fm_isam_error(err) : FE_IO;
  }
}

// Creates the indexed file: the key area is the first key part; further
// parts lie in the data (positive starts) or in the key area (negative).
static void create_indexed(fm_callblock *cb) {
  keydesc kd = cb->fm_keyd;
  int klen = kd.k_nparts > 0 ? kd.k_part[0].kp_leng : 0;
  int at = 0;
  for (int i = 0; i < kd.k_nparts; i++) {
    keypart &p = kd.k_part[i];
    if (p.kp_start == 0)
      p.kp_start = short(at);
    else if (p.kp_start < 0)
      p.kp_start = short(-p.kp_start - 1);
    else
      p.kp_start = short(p.kp_start + klen - 1);
    at = p.kp_start + p.kp_leng;
  }
  int fd = isbuild(fullname, klen + int(cb->fm_rlen), &kd, ISEXCLLOCK + ISINOUT);
  if (fd >= 0 && iserrno == 28) {
    isclose(fd);
    iserase(fullname);
    fd = -1;
    iserrno = 28;
  }
  if (fd < 0) vxerxit(build_error(iserrno));
  isclose(fd);
}

void qxalloc() {
  fm_callblock *cb = fm_sel.pclblk;
  qxdir dir;
  int r = findfile(&dir);
  if (r == 0) vxerxit(FE_EXISTS);
  if (r != FE_NOTFOUND) vxerxit(r);
  size_t used = std::strlen(fullname);
  switch (cb->fm_org) {
    case 'R': {
      if (cb->fm_rlen < 1 || cb->fm_rlen > size_t(FM_MAXREC)) vxerxit(FE_VALUE);
      off_t rl = off_t(cb->fm_rlen);
      if (cb->fm_rnum < 0 || cb->fm_rnum > (LK_RBYTE - rl) / rl) vxerxit(FE_VALUE);
      char code[2];
      encode(unsigned(cb->fm_rlen), code);
      std::snprintf(fullname + used, sizeof fullname - used, ".r%c%c", code[0], code[1]);
      create_plain(cb->fm_rnum * rl);
      return;
    }
    case 'S':
      std::snprintf(fullname + used, sizeof fullname - used, ".saa");
      create_plain(0);
      return;
    case 'U':
      create_plain(0);
      return;
    case 'I':
      create_indexed(cb);
      return;
    default:
      vxerxit(FE_VALUE);
  }
}

// --- close -----------------------------------------------------------------

int close_file(oftentry *e) {
  fm_sel.entry = e;
  int err = 0;
  if (e->inuse) {
    std::snprintf(fullname, sizeof fullname, "%s", e->pfname ? e->pfname : "");
    if (e->pftype == 'I') {
      std::free(e->pkbuf);
      e->pkbuf = nullptr;
      if (isclose(e->pfdis) < 0) err = iserrno;
      fl_detach();
    } else {
      if (fm_stream_flush(e) < 0) err = errno;
      fm_stream_drop(e);
      fm_release_held();
      int c = fl_detach();
      if (!err) err = c;
    }
  }
  std::free(e->pfname);
  *e = oftentry{};
  e->lock_entry = -1;
  return err;
}

// the size of the selected file now (what its buffer holds written out)
static off_t current_size(oftentry *e) {
  if (fm_stream_flush(e) < 0) vxerxit(FE_IO);
  struct stat st;
  if (fsys.fstat(e->pfdis, &st) < 0) vxerxit(FE_IO);
  return st.st_size;
}

void qxclose() {
  fm_callblock *cb = fm_sel.pclblk;
  oftentry *e = fm_sel.entry;
  int opt = cb->fm_flag;
  if (opt < 0 || opt > 2) vxerxit(FE_VALUE);
  char path[VXPATH_MAX + 1];
  std::snprintf(path, sizeof path, "%s", e->pfname);
  if (e->pftype == 'I') {
    if (opt == 1 && (e->inuse != -1 || e->prtct == 'P')) vxerxit(FE_ACCESS);
    int r = close_file(e);
    if (r) vxerxit(r >= 100 ? fm_isam_error(r) : FE_IO);
    if (opt == 1 && iserase(path) < 0) vxerxit(FE_NOCHANGE);
    return;
  }
  if (opt == 2) opt = (e->pftype == 'S' || e->pftype == 'U') && current_size(e) == 0 ? 1 : 0;
  if (opt == 1) {
    if (e->prtct == 'P') vxerxit(FE_NOCHANGE);
    fm_stream_drop(e);
    if (fsys.unlink(path) < 0) vxerxit(FE_NOCHANGE);
    closlock();
  }
  int r = close_file(e);
  if (r) {
    errno = r;
    vxerxit(r == ENOSPC || r == EFBIG || r == EDQUOT ? FE_EOF : FE_IO);
  }
}

void qxclsall() {
  if (vx_txflag == 1) {
    isrollback();
    vx_txflag = 2;
  }
  int first = 0;
  for (int i = 0; i < oftable_len; i++) {
    oftentry *e = &oftable[i];
    if (!e->inuse) continue;
    if (e->pftype == 'I' && e->plock) isrelease(e->pfdis);
    int r = close_file(e);
    if (r && !first) first = r;
  }
  fm_sel.entry = nullptr;
  if (first) vxerxit(FE_IO);
}

// --- rename and date -----------------------------------------------------

// the error of a failed rename (renaming set) or date change; a
// read-only file system counts as not found for a rename
static int change_error(int err, bool renaming) {
  switch (err) {
    case EACCES:
    case EPERM:
      return FE_NOCHANGE;
    case EEXIST:
    case ENOTEMPTY:
      return FE_EXISTS;
    case ENOENT:
      return FE_NOTFOUND;
    case EROFS:
      return renaming ? FE_NOTFOUND : FE_NOCHANGE;
    default:
      return FE_IO;
  }
}

// the suffix that a sequential or relative file keeps: ".saa", ".r" + code
static const char *kept_suffix(const oftentry *e) {
  size_t n = std::strlen(e->pfname);
  return (e->pftype == 'S' || e->pftype == 'R') && n >= 4 ? e->pfname + n - 4 : "";
}

void qxrename() {
  fm_callblock *cb = fm_sel.pclblk;
  oftentry *e = fm_sel.entry;
  bool idx = e->pftype == 'I';
  if (idx) {
    if (e->plock) isrelease(e->pfdis);
    e->plock = 0;
  } else {
    fm_release_held();
  }
  if (e->prtct == 'P') vxerxit(idx ? FE_ACCESS : FE_NOCHANGE);
  cb->fm_unit = e->punum;
  fmfnm(cb);
  char target[VXPATH_MAX + 8];
  std::snprintf(target, sizeof target, "%s%s", fullname, kept_suffix(e));
  if (!std::strcmp(target, e->pfname)) vxerxit(FE_EXISTS);
  if (idx) {
    if (e->inuse != -1) vxerxit(FE_ACCESS);
    if (isrename(e->pfname, target) < 0) {
      int err = iserrno;
      errno = 0;
      vxerxit(err == EEXIST ? FE_EXISTS
              : err >= 100  ? fm_isam_error(err)
                            : change_error(err, true));
    }
  } else {
    if (fsys.link(e->pfname, target) < 0) {
      int err = errno;
      errno = 0;
      vxerxit(change_error(err, true));
    }
    if (fsys.unlink(e->pfname) < 0) {
      int err = errno;
      fsys.unlink(target);
      errno = 0;
      vxerxit(change_error(err, true));
    }
  }
  char *copy = strdup(target);
  if (!copy) vxerxit(FE_NOMEM);
  std::free(e->pfname);
  e->pfname = copy;
  e->pfnlen = std::strlen(copy);
}

void qxdate() {
  oftentry *e = fm_sel.entry;
  bool idx = e->pftype == 'I';
  if (!idx) fm_release_held();
  if (e->prtct == 'P') vxerxit(idx ? FE_ACCESS : FE_NOCHANGE);
  if (idx && e->inuse != -1) vxerxit(FE_ACCESS);
  static const char *const SUFFIXES[2] = {".idx", ".dat"};
  for (int i = 0; i < (idx ? 2 : 1); i++) {
    char path[VXPATH_MAX + 8];
    std::snprintf(path, sizeof path, "%s%s", e->pfname, idx ? SUFFIXES[i] : "");
    if (fsys.touch(path) < 0) {
      int err = errno;
      errno = 0;
      vxerxit(change_error(err, false));
    }
  }
}

// --- unlock, rewind ---------------------------------------------------------

// true when the entry moves fixed-length records (a relative file)
static bool relative_access(const oftentry *e) {
  return e->pread == rread || e->pwrite == rwrite;
}

void qxunlock(bool statement) {
  oftentry *e = fm_sel.entry;
  if (e->pftype == 'I') {
    isrel_rec(e);
    return;
  }
  if (statement && !relative_access(e)) vxerxit(FE_NOTIDX);
  fm_release_held();
}

void qxrewind() {
  oftentry *e = fm_sel.entry;
  fm_callblock *cb = fm_sel.pclblk;
  qxunlock(false);
  if (e->pftype == 'I') {
    ix_rewind(e, cb);
    return;
  }
  if (fm_stream_flush(e) < 0) vxerxit(FE_IO);
  bool appending = e->porg != 'R' && (e->popt == 2 || e->popt == 8);
  if (!appending) {
    fm_stream_drop(e);
    e->ppos = 0;
  }
  e->pcurec = 0;
}

// --- status ----------------------------------------------------------------

void qxfstat() {
  fm_callblock *cb = fm_sel.pclblk;
  oftentry *e = fm_sel.entry;
  struct stat st;
  cb->fm_type = e->pftype;
  cb->fm_st[0] = cb->fm_st[1] = cb->fm_st[2] = cb->fm_st[3] = 0;
  if (e->pftype == 'I') {
    dictinfo di;
    char path[VXPATH_MAX + 8];
    std::snprintf(path, sizeof path, "%s.dat", e->pfname);
    if (isindexinfo(e->pfdis, &di, 0) < 0) vxerxit(fm_isam_error(iserrno));
    if (fsys.stat(path, &st) < 0) vxerxit(FE_IO);
    cb->fm_recfmt = 'F';
    cb->fm_rlen = e->prlen;
    cb->fm_klen = e->pklen;
    cb->fm_st[0] = di.di_nrecords;
    cb->fm_st[2] = isrecnum;
    cb->fm_st[3] = e->pknum;
  } else {
    off_t size = current_size(e);
    if (fsys.fstat(e->pfdis, &st) < 0) vxerxit(FE_IO);
    bool fixed = relative_access(e);
    cb->fm_recfmt = fixed ? 'F' : 'V';
    cb->fm_rlen = cb->fm_klen = 0;
    cb->fm_st[0] = fixed ? (size + off_t(e->prlen) - 1) / off_t(e->prlen) : (size + 511) / 512;
    cb->fm_st[2] = fixed ? e->pcurec : 0;
  }
  cb->fm_mtime = long(st.st_mtime);
}

void qxustat() {
  fm_callblock *cb = fm_sel.pclblk;
  cb->fm_type = ' ';
  cb->fm_rlen = 0;
  if (cb->fm_unit < 0) return;
  fmbuildnm("", unsigned(cb->fm_unit), 0);
  struct stat st;
  if (fsys.stat(vxdirname, &st) == 0 && S_ISDIR(st.st_mode) &&
      fsys.access(vxdirname, R_OK | X_OK) == 0)
    cb->fm_type = 'U';
}
