// ikey.cpp: the indexes of an indexed file: key part positions, finding
// an index by its parts, adding and removing indexes (qxindex), the index
// status (qxistat) and its intrinsic (function 36, zistat).
//
// A key part start in the language names a byte of one of the record's
// two areas: -s is byte s of the key area (-1 its first byte), s byte s
// of the data.  The engine counts from the start of the whole record:
//   -s  ->  s - 1               (below the key length, else 37)
//    s  ->  s + key length - 1
// The status intrinsic turns record offsets back the same way.
#include <cstring>

#include "run/base/image.h"
#include "run/files/fm.h"
#include "run/files/fstat.h"
#include "run/files/iohelp.h"
#include "run/files/iostmt.h"
#include "run/files/irec.h"
#include "run/files/qx.h"
#include "run/numeric/zops.h"

constexpr int ERR_IOBUSY = 110;  // a statement is using the record buffer

int key_trans(keydesc *kd, size_t klen) {
  for (int i = 0; i < kd->k_nparts; i++) {
    keypart &p = kd->k_part[i];
    long s = p.kp_start;
    if (s == 0 || (s < 0 && size_t(-s) > klen)) return FE_BADKEY;
    long at = s < 0 ? -s - 1 : s + long(klen) - 1;
    if (at > 32767) return FE_BADKEY;
    p.kp_start = short(at);
  }
  return 0;
}

// the number of indexes of e
static int index_count(const oftentry *e) {
  dictinfo di;
  if (isindexinfo(e->pfdis, &di, 0) < 0) ierxit(iserrno);
  return di.di_nkeys & 0x7FFF;
}

void get_info(oftentry *e, int knum, dictinfo *di, keydesc *kd) {
  dictinfo d;
  if (isindexinfo(e->pfdis, &d, 0) < 0) ierxit(iserrno);
  if (knum < 1 || knum > (d.di_nkeys & 0x7FFF)) vxerxit(FE_BADKEY);
  if (isindexinfo(e->pfdis, kd, knum) < 0) ierxit(iserrno);
  if (di) *di = d;
}

int find_indx(oftentry *e, const keydesc &want, bool partial, keydesc *into, int *covered) {
  int n = index_count(e);
  int last = want.k_nparts - 1;
  for (int k = 1; k <= n; k++) {
    keydesc kd;
    if (isindexinfo(e->pfdis, &kd, k) < 0) ierxit(iserrno);
    if (want.k_nparts > kd.k_nparts) continue;
    int sum = 0;
    bool fits = true;
    for (int i = 0; i <= last && fits; i++) {
      const keypart &w = want.k_part[i], &p = kd.k_part[i];
      fits = w.kp_start == p.kp_start &&
             (w.kp_leng == p.kp_leng || (i == last && w.kp_leng > 0 && w.kp_leng < p.kp_leng));
      sum += w.kp_leng;
    }
    if (!fits) continue;
    if (!partial && sum != kd.k_len) return -1;
    *into = kd;
    *covered = sum;
    return k;
  }
  return -1;
}

int getk_num(oftentry *e, const keydesc &want) {
  int n = index_count(e);
  for (int k = 1; k <= n; k++) {
    keydesc kd;
    if (isindexinfo(e->pfdis, &kd, k) < 0) ierxit(iserrno);
    if (kd.k_nparts != want.k_nparts) continue;
    bool same = true;
    for (int i = 0; i < kd.k_nparts && same; i++)
      same = kd.k_part[i].kp_start == want.k_part[i].kp_start &&
             kd.k_part[i].kp_leng == want.k_part[i].kp_leng;
    if (same) return k;
  }
  return -1;
}

// --- adding and removing indexes ---------------------------------------------

// DELETE INDEX: the index named by number or by exactly its parts.  The
// primary key of the language (the key area) stays; indexes behind the
// removed one move down by one.
static void delete_index(oftentry *e, fm_callblock *cb, const keydesc &parts) {
  keydesc kd;
  int n = cb->fm_knum;
  if (n != 0) {
    get_info(e, n, nullptr, &kd);
  } else {
    n = parts.k_nparts > 0 ? getk_num(e, parts) : -1;
    if (n < 0) vxerxit(FE_BADKEY);
    get_info(e, n, nullptr, &kd);
  }
  if (n == e->pkprim) vxerxit(FE_PRIMKEY);
  if (isdelindex(e->pfdis, &kd) < 0) ierxit(iserrno);
  if (e->pkprim > n) e->pkprim--;
  if (n < e->pknum) {
    e->pknum--;
  } else if (n == e->pknum) {  // the engine went back to its first index
    isrel_rec(e);
    int k = e->pkprim > 0 ? e->pkprim : 1;
    keydesc first;
    get_info(e, k, nullptr, &first);
    ix_start(e, k, first, 0, false);
  }
}

void qxindex() {
  fm_callblock *cb = fm_sel.pclblk;
  oftentry *e = fm_sel.entry;
  if (e->pftype != 'I') vxerxit(FE_NOTISAM);
  e->prev_mode = 0;
  keydesc kd = cb->fm_keyd;
  if (kd.k_nparts > 0 && key_trans(&kd, e->pklen)) vxerxit(FE_BADKEY);
  if (cb->fm_opcode == FMOP_DELINDEX) {
    delete_index(e, cb, kd);
    return;
  }
  if (isaddindex(e->pfdis, &kd) < 0) ierxit(iserrno);
  cb->fm_knum = int16_t(getk_num(e, kd));
}

// --- status ------------------------------------------------------------------

// Key number 0: fm_st[0] the records, fm_st[1] the indexes, fm_st[3] the
// current index, fm_rlen the data length.  Key number k: fm_keyd the
// index's description (record offsets).  fm_klen: the key area's length.
void qxistat() {
  fm_callblock *cb = fm_sel.pclblk;
  oftentry *e = fm_sel.entry;
  if (e->pftype != 'I') vxerxit(FE_NOTISAM);
  cb->fm_klen = e->pklen;
  dictinfo di;
  if (cb->fm_knum != 0) {
    get_info(e, cb->fm_knum, &di, &cb->fm_keyd);
    return;
  }
  if (isindexinfo(e->pfdis, &di, 0) < 0) ierxit(iserrno);
  cb->fm_st[0] = di.di_nrecords;
  cb->fm_st[1] = di.di_nkeys & 0x7FFF;
  cb->fm_st[2] = 0;
  cb->fm_st[3] = e->pknum;
  cb->fm_rlen = size_t(di.di_recsize) - e->pklen;
}

void zistat(int count) {
  if (count < 5 || count > 19 || count % 2 == 0) zraise(ERR_ARGS);
  if (io_busy()) zraise(ERR_IOBUSY);
  int pairs = (count - 3) / 2;
  uint32_t flags = pda();
  uint32_t start[NPARTS], len[NPARTS];
  for (int i = pairs - 1; i >= 0; i--) {
    len[i] = pda();
    start[i] = pda();
  }
  int32_t k = zplong();
  int32_t unit = zplong();
  if (k == 0 && pairs != 1) zraise(ERR_ARGS);
  fm_callblock cb = {};
  cb.fm_lfn = int16_t(unit < 0 || unit > 32767 ? -1 : unit);
  cb.fm_knum = int16_t(k < -32768 || k > 32767 ? -1 : k);
  cb.fm_opcode = FMOP_ISTAT;
  int r = fm(&cb);
  if (r) zraise(r);
  if (k == 0) {
    rnv(start[0], cb.fm_st[1]);
    rnv(len[0], int64_t(cb.fm_rlen));
    rnv(flags, cb.fm_st[3]);
    return;
  }
  long klen = long(cb.fm_klen);
  for (int i = 0; i < pairs; i++) {
    if (i >= cb.fm_keyd.k_nparts) {
      rnv(start[i], 0);
      rnv(len[i], 0);
      continue;
    }
    long at = cb.fm_keyd.k_part[i].kp_start;
    rnv(start[i], at < klen ? -(at + 1) : at - klen + 1);
    rnv(len[i], cb.fm_keyd.k_part[i].kp_leng);
  }
  rnv(flags, cb.fm_keyd.k_flags & ISDUPS ? 1 : 0);
}
