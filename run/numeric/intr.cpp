// intr.cpp: the intrinsic dispatcher.  Arguments lie on the stack in
// source order, the last on top; their count is the byte after the
// instruction.  Built so far: chain (21), call with parameters (52) and
// the system queries (62); the other functions are TEMPORARY refusals
// (error 102) until the intrinsics are built.
#include "run/numeric/intr.h"

#include <cstring>
#include <string>

#include "run/files/zioc.h"
#include "run/interp/image.h"
#include "run/interp/zops.h"
#include "run/interp/zproc.h"
#include "run/interp/zreport.h"
#include "run/loader/monitor.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/numeric/zmath.h"
#include "run/startup/startup.h"
#include "run/terminal/screen.h"

constexpr int ZNAME_MAX = 511;  // longest program name taken from a string

// the string whose descriptor is at desc (104 for a number), cut
static std::string string_of(uint32_t desc) {
  zdesc d = zdesc_get(desc);
  if (!(d.type & DSC_STR)) zraise(ERR_ARGS);
  uint32_t len = zdesc_len(d);
  if (len > ZNAME_MAX) len = ZNAME_MAX;
  const uint8_t *p = zat(d.addr, len);
  return std::string(reinterpret_cast<const char *>(p), len);
}

// the non-negative integer whose descriptor is at desc
static unsigned unit_of(uint32_t desc) {
  zdesc d = zdesc_get(desc);
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  bcd_num x, t;
  std::memcpy(&x, zat(d.addr, 8), 8);
  fint(&x, &t);
  if (t.exp & BCD_SIGN) zraise(ERR_ARGS);
  int e = (t.exp & 0x7F) - BCD_BIAS;
  uint64_t v = 0;
  for (int i = 0; i < e && i < 14; i++) v = v * 10 + ((t.dig[i / 2] >> (i % 2 ? 0 : 4)) & 15);
  if (e > 9 || v > 0xFFFFFFFFu) zraise(ERR_ARGS);
  return unsigned(v);
}

// pointer word of the entry depth entries below the top (0: the top)
static uint32_t argument(int depth) {
  uint32_t a = uint32_t(zw.adr_len), link = zp.stkp;
  for (int i = 0; i < depth; i++) link = zgeta(link);
  uint32_t ptr = zgeta(link - a);
  if (ptr <= FRAME_MAX + 1) zraise(ERR_ARGS);
  return ptr;
}

// a load of a chain or call failed: 9 and 150 can be trapped, the rest
// ends the run
static int load_failed(int status, const std::string &name) {
  if (status == ZL_NOTFOUND || status == 150) zraise(status);
  sc_cleanup();
  zioc();
  nofind(status, errfile[0] ? errfile : name.c_str());
  return status;
}

static int chain(int count) {
  if (count < 1 || count > 2) zraise(ERR_ARGS);
  std::string name = string_of(argument(count - 1));
  unsigned unit = count == 2 ? unit_of(argument(0)) : 0;
  fOnerror = 0;
  zl.pcodeVersion = PCODE_NONE;
  int r = zload(name.c_str(), unit, int(name.size()), 0);
  if (r != ZL_OK) return load_failed(r, name);
  zcleanup();
  return zmon.chain_bkp ? -2 : 0;
}

static int call(int count) {
  if (count < 1) zraise(ERR_ARGS);
  int n_param = count >= 2 ? count - 2 : 0;
  std::string name = string_of(argument(count - 1));
  unsigned unit = count >= 2 ? unit_of(argument(count - 2)) : 0;
  fOnerror = 0;
  zpush(zp.stkp - zm.zrbas + uint32_t(zw.adr_len));
  zl.pcodeVersion = PCODE_NONE;
  int r = zload(name.c_str(), unit, int(name.size()), 1);
  if (r != ZL_OK) {
    zpop();
    return load_failed(r, name);
  }
  zpush_param(n_param);
  zproc_program_frame(n_param);
  return zmon.chain_bkp ? -2 : 0;
}

// pushes a string result built above the stack top
static void push_text(const std::string &s) {
  uint32_t start = zp.stkp + uint32_t(zw.adr_len);
  if (uint64_t(start) + s.size() > zm.zrsck) zraise(ERR_STACK);
  std::memcpy(zat(start, uint32_t(s.size())), s.data(), s.size());
  zpush_str_above(start, uint32_t(s.size()));
}

static void system_query(int count) {
  if (count < 1 || count > 2) zraise(ERR_ARGS);
  std::string what = string_of(argument(count - 1));
  if (what == "RCHAIN" && count == 2) {
    unsigned level = unit_of(argument(0));
    zstk_pop();
    zstk_pop();
    char name[ZPROGNAME_LEN];
    int len = 0;
    if (fOnerror)
      zinfo_saved(int(level), name, &len);
    else
      zinfo_get(int(level), name, &len);
    push_text(std::string(name, size_t(len)));
    return;
  }
  if (what == "ERRMSG" && count == 1) {
    zstk_pop();
    push_text(err_msg_last);
    return;
  }
  // TEMPORARY: "LKPID" needs the lock server of the file layer
  zraise(ERR_ARGS);
}

int intr(int n) {
  int count = int(zget1(zp.preg++));
  switch (n) {
    case 21:
      return chain(count);
    case 52:
      return call(count);
    case 62:
      system_query(count);
      return 0;
    default:
      zraise(ERR_BADCODE);  // TEMPORARY: the other intrinsics
  }
}
