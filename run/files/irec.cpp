// irec.cpp: the record routines of indexed files (iread, iwrite,
// idelete), their locks, positioning, and the engine's error mapping
// (irec.h).  fm reaches the record routines through the entry's pread,
// pwrite and pdelete.
//
// Reading.  Every read asks the engine to deliver a record even when
// another process has it locked (ISSKIPLOCK); the engine then warns with
// 107, the data reaches the program and the statement ends with 23.  A
// sequential read that met a locked record remembers its direction in
// prev_mode, and the next read in that direction reads the same record
// again (ISCURR): the caller's retry loop gets the record it waited for,
// also among duplicates of a key.  A read with the lock option locks the
// record it reads (one engine call, ISLOCK); only when that is refused
// does a second call fetch the data with the warning.  The held record is
// the unit's current record: every read, positioning and index removal
// gives up the lock first.
//
// End of file: the unit is placed at the other end of its index (a
// forward read that ran off the end leaves the unit so that a backward
// read returns the last record).  A keyed read that finds nothing places
// the unit next to where the key would be, so that a forward read goes on
// with the next greater record.
#include <sys/types.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "run/base/zsmsg.h"
#include "run/files/flock.h"
#include "run/files/fm.h"
#include "run/files/irec.h"
#include "run/files/qx.h"
#include "run/files/txlog.h"
#include "run/terminal/tcap.h"

int iread_note;

namespace {

std::vector<ix_unit> ix_units;  // one per entry of oftable

// The bytes of the key of index kd in record rec, concatenated in part
// order, into out; their count.
int gather(const keydesc &kd, const uint8_t *rec, uint8_t *out) {
  int n = 0;
  for (int i = 0; i < kd.k_nparts; i++) {
    const keypart &p = kd.k_part[i];
    std::memcpy(out + n, rec + p.kp_start, size_t(p.kp_leng));
    n += p.kp_leng;
  }
  return n;
}

// True when every part of kd holds characters (the keys the language
// makes): their bytes then order and compare as the index does.
bool char_key(const keydesc &kd) {
  for (int i = 0; i < kd.k_nparts; i++)
    if (kd.k_part[i].kp_type != CHARTYPE) return false;
  return true;
}

}  // namespace

ix_unit *ix_state(const oftentry *e) {
  size_t i = size_t(e - oftable);
  if (ix_units.size() <= i) {
    try {
      ix_units.resize(size_t(oftable_len) > i ? size_t(oftable_len) : i + 1);
    } catch (const std::bad_alloc &) {
      vxerxit(FE_NOMEM);
    }
  }
  return &ix_units[i];
}

// --- errors ------------------------------------------------------------------

void ierrprt(int iserr) {
  char text[256];
  // the message starts with the terminal's code of the normal attribute
  // (none before the terminal's capabilities are read)
  char normal[2] = {char(cf_code[CF_ATTR]), 0};
  int n = std::snprintf(text, sizeof text, "\r\n%sISAM error %d", normal, iserr);
  if (iserr >= 100 && iserr < is_nerr && is_errlist[iserr - 100])
    n += std::snprintf(text + n, sizeof text - size_t(n), ": %s", is_errlist[iserr - 100]);
  std::snprintf(text + n, sizeof text - size_t(n), "\n\r");
  zsmsg(text);
}

void ierxit(int iserr) {
  if (iserr <= 0) vxerxit(FE_IO);  // a failure the engine gave no reason for
  int io = fm_isam_error(iserr);
  if (iserr == 24)
    ierrprt(io);  // too many open files: reported as the damaged-file error
  else if (io == iserr)
    ierrprt(iserr);
  vxerxit(io);
}

// --- locks and flushing --------------------------------------------------------

void isrel_rec(oftentry *e) {
  if (e->plock && e->inuse != -1) {
    if (vx_txflag == 1)
      isrelease(e->pfdis);
    else
      isrelrec(e->pfdis, long(e->pcurec));
  }
  e->plock = 0;
}

void iflush(oftentry *e) {
  if (e->inuse != -1 || e->popt == 6 || e->popt == 14) return;
  if (isflush(e->pfdis) < 0) ierxit(iserrno);
}

// --- positioning ---------------------------------------------------------------

void ix_start(oftentry *e, int knum, const keydesc &kd, int cmplen, bool last) {
  ix_unit *st = ix_state(e);
  keydesc k = kd;
  if (isstart(e->pfdis, &k, cmplen, reinterpret_cast<char *>(e->pkbuf), last ? ISLAST : ISFIRST) <
      0)
    ierxit(iserrno);
  e->pknum = int16_t(knum);
  st->kd = kd;
  st->cmplen = cmplen;
}

void ix_rewind(oftentry *e, fm_callblock *cb) {
  isrel_rec(e);
  e->prev_mode = 0;
  keydesc kd;
  int knum, cmplen = 0;
  if (cb->fm_keyd.k_nparts > 0) {
    keydesc want = cb->fm_keyd;
    if (key_trans(&want, e->pklen)) vxerxit(FE_BADKEY);
    int covered = 0;
    knum = find_indx(e, want, true, &kd, &covered);
    if (knum < 0) vxerxit(FE_BADKEY);
    if (covered < kd.k_len) cmplen = covered;
  } else {
    knum = cb->fm_knum > 0 ? cb->fm_knum : e->pknum;
    get_info(e, knum, nullptr, &kd);
  }
  ix_start(e, knum, kd, cmplen, cb->fm_mode == 'P');
}

// --- reading -------------------------------------------------------------------

namespace {

// One read of mode m into the unit's buffer; with lockit the record is
// locked, unless another holder makes the engine deliver it with 107.
// 0 or -1 (iserrno).
int read_record(const oftentry *e, int m, bool lockit) {
  char *buf = reinterpret_cast<char *>(e->pkbuf);
  if (!lockit) return isread(e->pfdis, buf, m | ISSKIPLOCK);
  if (isread(e->pfdis, buf, m | ISLOCK) == 0) return 0;
  if (iserrno != ELOCKED) return -1;
  return isread(e->pfdis, buf, m | ISSKIPLOCK | ISLOCK);
}

// The end of the index was reached: the unit is placed at its other end,
// and the read fails with 16 (m: the read mode that failed).
[[noreturn]] void end_of_file(oftentry *e, fm_callblock *cb, int m) {
  cb->fm_mode = m == ISNEXT ? 'P' : 'S';
  ix_rewind(e, cb);
  vxerxit(FE_EOF);
}

// A keyed read found nothing: the unit is placed so that a forward read
// returns the next greater record, and the read fails with 31.
[[noreturn]] void not_found(oftentry *e, fm_callblock *cb) {
  char *buf = reinterpret_cast<char *>(e->pkbuf);
  int rc = isread(e->pfdis, buf, ISGREAT);
  if (rc == 0)
    rc = isread(e->pfdis, buf, ISPREV);
  else if (iserrno == ENOREC)
    rc = isread(e->pfdis, buf, ISLAST);
  if (rc == 0) vxerxit(FE_RNF);
  if (iserrno == EENDFILE) {  // nothing before the greater record, or an empty file
    cb->fm_mode = 'S';
    ix_rewind(e, cb);
    vxerxit(FE_RNF);
  }
  vxerxit(iserrno == 28 ? FE_NOREC : FE_BADFILE);
}

// The statement's key goes into the key area, padded with spaces; a key
// longer than the area may only carry spaces beyond it (else err).
void put_key(oftentry *e, const fm_callblock *cb, int err) {
  size_t n = cb->fm_key ? cb->fm_klen : 0;
  for (size_t i = e->pklen; i < n; i++)
    if (cb->fm_key[i] != ' ') vxerxit(err);
  size_t take = n < e->pklen ? n : e->pklen;
  if (take) std::memcpy(e->pkbuf, cb->fm_key, take);
  std::memset(e->pkbuf + take, ' ', e->pklen - take);
}

// itverify: the record a keyed read found must carry the key it was
// searched by, over the length the index compares.  (The engine itself
// checks every record it returns against the index entry it came
// through, and fails the read with 105 when they differ.)
bool itverify(const ix_unit *st, const uint8_t *rec, const uint8_t *want, int wantlen) {
  if (!char_key(st->kd)) return true;
  uint8_t got[MAXKEYSIZE];
  gather(st->kd, rec, got);
  return std::memcmp(got, want, size_t(wantlen)) == 0;
}

}  // namespace

void iread(oftentry *e, fm_callblock *cb) {
  lk_pid = -1;
  iread_note = 0;
  size_t datalen = cb->fm_rlen;
  isrel_rec(e);
  char dir = cb->fm_mode;
  int m;
  switch (dir) {
    case 'R':
      m = ISEQUAL;
      break;
    case 'S':
    case 'P':
      m = e->prev_mode == dir ? ISCURR : dir == 'S' ? ISNEXT : ISPREV;
      break;
    default:
      vxerxit(FE_VALUE);
  }
  e->prev_mode = 0;
  if (!cb->fm_key) vxerxit(FE_VALUE);
  ix_unit *st = ix_state(e);
  uint8_t want[MAXKEYSIZE];
  int wantlen = 0;
  if (dir == 'R') {
    put_key(e, cb, FE_RNF);
    if (e->pknum != e->pkprim && datalen < e->prlen)
      std::memset(e->pkbuf + e->pklen + datalen, ' ', e->prlen - datalen);
    if (st->kd.k_nparts == 0) {  // record-number order: the record number names it
      if (cb->fm_rnum < 1) vxerxit(FE_NOTIDX);
      isrecnum = long(cb->fm_rnum);
    }
    wantlen = gather(st->kd, e->pkbuf, want);
    if (st->cmplen > 0 && st->cmplen < wantlen) wantlen = st->cmplen;
  }
  bool lockit = cb->fm_lock && e->inuse != -1;
  int rc = read_record(e, m, lockit);
  if (rc < 0 && m == ISCURR && (iserrno == ENOREC || iserrno == ENOCURR)) {
    // the record waited for is gone, or has another key now: read on
    m = dir == 'S' ? ISNEXT : ISPREV;
    rc = read_record(e, m, lockit);
  }
  if (rc < 0) {
    int err = iserrno;
    if (err == 28) vxerxit(FE_NOREC);
    if (err == EENDFILE || err == ENOCURR) {
      if (m == ISNEXT || m == ISPREV) end_of_file(e, cb, m);
      ierxit(err);
    }
    if (err == ENOREC) {
      if (m == ISEQUAL) not_found(e, cb);
      vxerxit(FE_NOCURR);
    }
    ierxit(err);
  }
  bool locked = iserrno == ELOCKED;
  if (cb->fm_lock && !locked) {
    e->plock = 1;
    e->pcurec = isrecnum;
  }
  if (dir == 'R' && !itverify(st, e->pkbuf, want, wantlen)) iread_note = FE_BADFILE;
  if (cb->fm_key) {
    size_t n = cb->fm_klen < e->pklen ? cb->fm_klen : e->pklen;
    std::memcpy(cb->fm_key, e->pkbuf, n);
    cb->fm_klen = n;
  }
  cb->fm_rlen = e->prlen;
  if (locked) {
    if (dir != 'R') e->prev_mode = dir;
    vxerxit(FE_RECLOCK);
  }
}

// --- writing and deleting ------------------------------------------------------

void iwrite(oftentry *e, fm_callblock *cb) {
  lk_pid = -1;
  e->prev_mode = 0;
  size_t len = cb->fm_rlen;
  if (len > e->prlen) vxerxit(FE_RECLEN);
  bool rewrite = cb->fm_mode == 'R';
  if (rewrite) {
    if (!e->plock) vxerxit(FE_NOTHELD);
  } else if (cb->fm_mode == 'S') {
    isrel_rec(e);
    put_key(e, cb, FE_BADKEY);
  } else {
    vxerxit(FE_VALUE);
  }
  uint8_t *data = e->pkbuf + e->pklen;
  if (cb->fm_data && cb->fm_data != data && len) std::memmove(data, cb->fm_data, len);
  std::memset(data + len, ' ', e->prlen - len);
  const char *rec = reinterpret_cast<const char *>(e->pkbuf);
  int rc = rewrite       ? isrewcurr(e->pfdis, rec)
           : cb->fm_lock ? iswrcurr(e->pfdis, rec)  // current: it is the one to lock
                         : iswrite(e->pfdis, rec);
  if (rc < 0) ierxit(iserrno);
  iflush(e);
  if (!cb->fm_lock) {
    isrel_rec(e);
    return;
  }
  if (!rewrite) {
    e->pcurec = isrecnum;
    if (e->inuse != -1 &&
        isread(e->pfdis, reinterpret_cast<char *>(e->pkbuf), ISCURR | ISLOCK) < 0) {
      // written, but someone else locked it first: it is not held
      if (iserrno == ELOCKED) return;
      if (iserrno == 28) vxerxit(FE_NOREC);
      ierxit(iserrno);
    }
  }
  e->plock = 1;
}

void idelete(oftentry *e, fm_callblock *) {
  lk_pid = -1;
  e->prev_mode = 0;
  if (!e->plock) vxerxit(FE_NOTHELD);
  if (isdelcurr(e->pfdis) < 0) {
    if (iserrno == ENOCURR) vxerxit(FE_RNF);
    ierxit(iserrno);
  }
  isrel_rec(e);
  iflush(e);
}
