// fstat.cpp: the file-status intrinsics 31 and 32 (fstat.h), answered by
// the file layer's operations 21 and 20.
#include "run/files/fstat.h"

#include <sys/resource.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "run/base/image.h"
#include "run/files/fm.h"
#include "run/files/iohelp.h"
#include "run/files/iostmt.h"
#include "run/numeric/zops.h"

constexpr int ERR_IOBUSY = 110;  // a statement is using the record buffer

// stores the n bytes at text into the string variable p (104 when it is a
// number or too short)
static void store_text(uint32_t p, const char *text, uint32_t n) {
  zdesc d = zdesc_get(p);
  if (!(d.type & DSC_STR) || n > d.dim1) zraise(ERR_ARGS);
  uint8_t *s = zat(d.addr, d.dim1);
  std::memcpy(s, text, n);
  if (d.type & DSC_PAD) {
    std::memset(s + n, ' ', d.dim1 - n);
  } else {
    d.dim2 = n;
    zdesc_put(p, d);
  }
}

// pops a unit number; one outside 0..32767 becomes -1, which no unit has
static int16_t popped_unit() {
  int32_t v = zplong();
  return int16_t(v < 0 || v > 32767 ? -1 : v);
}

// the twelve characters month, day, year, hour, minute, second of t
static void date12(long t, char out[32]) {
  time_t tt = time_t(t);
  struct tm tmv;
  if (!localtime_r(&tt, &tmv)) std::memset(&tmv, 0, sizeof tmv);
  std::snprintf(out, 32, "%02d%02d%02d%02d%02d%02d", tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_year % 100,
                tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
}

// records an indexed file can hold: the file-size limit in blocks of 512
// bytes over the record length plus twice the key length plus 5
static int64_t indexed_capacity(size_t reclen, size_t keylen) {
  struct rlimit rl;
  int64_t blocks = INT64_MAX / 2;
  if (getrlimit(RLIMIT_FSIZE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
    blocks = int64_t(rl.rlim_cur / 512);
  int64_t cap = blocks / int64_t(reclen + 2 * keylen + 5);
  return cap > 0x6FFFFFFF ? 0x6FFFFFFF : cap;
}

void zfstat(int count) {
  if (count < 6 || count > 8) zraise(ERR_ARGS);
  if (io_busy()) zraise(ERR_IOBUSY);
  uint32_t name = count == 8 ? pda() : 0;
  uint32_t date = count >= 7 ? pda() : 0;
  uint32_t n3 = pda(), n2 = pda(), n1 = pda(), type = pda(), fmt = pda();
  fm_callblock cb = {};
  cb.fm_lfn = popped_unit();
  cb.fm_opcode = FMOP_FSTAT;
  int r = fm(&cb);
  if (r && r != FE_NOTOPEN) zraise(r);
  if (r) {
    rsv(fmt, ' ');
    rsv(type, ' ');
    for (uint32_t p : {n1, n2, n3}) rnv(p, 0);
    if (date) store_text(date, "000000000000", 12);
    if (name) store_text(name, "", 0);
    return;
  }
  rsv(fmt, cb.fm_recfmt);
  rsv(type, cb.fm_type);
  if (cb.fm_type == 'I') {
    int64_t free_recs = indexed_capacity(cb.fm_rlen + cb.fm_klen, cb.fm_klen);
    rnv(n1, free_recs + cb.fm_st[0]);
    rnv(n2, free_recs);
    rnv(n3, cb.fm_st[2]);
  } else {
    rnv(n1, cb.fm_st[0]);
    rnv(n2, 0);
    rnv(n3, cb.fm_st[2]);
  }
  if (date) {
    if (zdesc_get(date).dim1 < 12) zraise(ERR_ARGS);
    char text[32];
    date12(cb.fm_mtime, text);
    store_text(date, text, 12);
  }
  if (name) {
    const char *full = fm_sel.entry->pfname;
    store_text(name, full, uint32_t(std::strlen(full)));
  }
}

void zustat(int count) {
  if (count != 3) zraise(ERR_ARGS);
  if (io_busy()) zraise(ERR_IOBUSY);
  uint32_t num = pda(), type = pda();
  fm_callblock cb = {};
  cb.fm_unit = popped_unit();
  cb.fm_opcode = FMOP_USTAT;
  int r = fm(&cb);
  if (r) zraise(r);
  rsv(type, cb.fm_type);
  rnv(num, int64_t(cb.fm_rlen));
}
