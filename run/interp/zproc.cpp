// zproc.cpp: procedure calls and returns.
//
// Procedure frame, from low to high addresses (offsets from zu):
//   count (1)  caller's rdt (adr)  return address (adr)  caller's rcod (adr)
//   caller's zrcod2 (1)  pointer word 1  link word
// Program-call frame: count (1)  pointer word 2  link word.
// The m arguments lie below the frame, the last one on top; each formal
// parameter (indirect descriptor) is bound by writing the offset of its
// argument's descriptor into its data-address field.
#include "run/interp/zproc.h"

#include <cstring>

#include "run/base/image.h"
#include "run/loader/debuginfo.h"
#include "run/loader/zcall.h"
#include "run/loader/zload.h"
#include "run/numeric/zops.h"

int zx_stepping_mode;

static uint32_t alen() {
  return uint32_t(zw.adr_len);
}

// pointer word of the entry whose link word is at link
static uint32_t ptr_at(uint32_t link) {
  return zgeta(link - alen());
}

// true when the entry whose link word is at link is a truth value
static bool truth_at(uint32_t link) {
  uint32_t a = alen();
  if (link < 2 + a) return false;
  uint32_t below = zgeta(link);
  return below == link - 2 - a && zget1(link - 2) == 0 && zget1(link - 1) <= 1;
}

// Binds formals 0..m-1 of the current descriptor table to the m value
// entries below the entry whose link word is at frame_link.
static void bind_parameters(uint32_t frame_link, int m) {
  uint32_t dl = uint32_t(zw.dsc_len), link = zgeta(frame_link);
  for (int i = m - 1; i >= 0; i--) {
    if (truth_at(link)) zraise(ERR_ARGS);
    uint32_t actual = ptr_at(link);
    if (actual <= FRAME_MAX + 1) zraise(ERR_BADCODE);
    uint32_t formal = zp.rdt + uint32_t(i) * dl;
    if ((zget1(formal) ^ zget1(actual)) & DSC_SHAPE) zraise(ERR_ARGS);
    zputa(formal + 1, actual);
    link = zgeta(link);
  }
}

void zproc_call(int n) {
  uint32_t a = alen(), k = uint32_t(n - 65);
  uint32_t m = zget1(zp.preg++);
  uint32_t body = 1 + 3 * a + 1;
  uint32_t start = zstk_begin(body);
  zput1(start, m);
  zputa(start + 1, zp.rdt);
  zputa(start + 1 + a, zp.preg);
  zputa(start + 1 + 2 * a, zp.rcod);
  zput1(start + 1 + 3 * a, zrcod2);
  zstk_end(body, FRAME_PROC);
  uint32_t frame = zp.stkp;

  if (zp.rst == 0 || k >= zl.rst_count) zraise(ERR_BADCODE);
  zp.rcod = zgeta(zp.rst + k * a);
  zrcod2 = 0;
  zp.rdt = zm.zrbas + zgeta(zm.zrbas + zp.rcod);
  zp.preg = zm.zrbas + zp.rcod + 6 * a + 1;
  uint32_t state = zget1(zp.preg);
  if (state == 'y') zraise(101);
  if (state != 'w') zraise(ERR_BADCODE);
  zput1(zp.preg++, 'y');
  if (zget1(zp.preg++) != m) zraise(ERR_ARGS);
  if (zdebug.db_info) {
    pushhp();
    zdebug_enter(zp.preg - zm.zrbas - (6 * a + 4));
  }
  if (zx_stepping_mode != 2) expr_stack = zp.stkp;
  bind_parameters(frame, int(m));
}

void zproc_program_frame(int n_param) {
  uint32_t start = zstk_begin(1);
  zput1(start, uint32_t(n_param));
  zstk_end(1, FRAME_CALL);
  bind_parameters(zp.stkp, n_param);
}

// The function result whose entry has its link word at result: relinked
// onto below; copied above the new top when its bytes lie below it.
static void deliver_result(uint32_t result, uint32_t below) {
  uint32_t a = alen();
  zputa(result, below);
  zp.stkp = result;
  if (zx_stepping_mode != 2) {
    uint32_t l = below;
    while (l && !truth_at(l) && ptr_at(l) > FRAME_MAX) l = zgeta(l);
    expr_stack = l;
  }
  zdesc d = zdesc_get(ptr_at(result));
  uint32_t free_at = below + a;
  bool string = d.type & DSC_STR;
  uint32_t len = string ? zdesc_len(d) : 8;
  if (d.addr >= free_at) return;  // already a temporary above the new top
  zp.stkp = below;
  if (!string) {
    bcd_num v;
    std::memcpy(&v, zat(d.addr, 8), 8);
    zpush_num(v);
    return;
  }
  if (uint64_t(free_at) + len > zm.zrsck) zraise(ERR_STACK);
  movstr(len, d.addr, free_at);
  zpush_str_above(free_at, len);
}

static void procedure_return(uint32_t frame, int values, uint32_t result) {
  uint32_t a = alen();
  uint32_t base = frame - a - 1 - 3 * a - 1;
  uint32_t m = zget1(base);
  pophp(0);
  zput1(zm.zrbas + zp.rcod + 6 * a + 1, 'w');
  zrcod2 = zget1(base + 1 + 3 * a);
  zp.rcod = zgeta(base + 1 + 2 * a);
  zp.preg = zgeta(base + 1 + a);
  zp.rdt = zgeta(base + 1);
  uint32_t below = zgeta(frame);
  for (uint32_t i = 0; i < m; i++) below = zgeta(below);
  if (values == 0) {
    zp.stkp = below;
    if (zx_stepping_mode != 2) expr_stack = zp.stkp;
    return;
  }
  deliver_result(result, below);
}

void zproc_return() {
  int values = 0;
  uint32_t result = 0;
  for (uint32_t link = zp.stkp;;) {
    if (link == 0) zraise(ERR_BADCODE);
    uint32_t ptr = truth_at(link) ? FRAME_MAX + 2 : ptr_at(link);
    if (ptr > FRAME_MAX + 1) {
      if (values++ == 0) result = link;
      if (values > 1) zraise(ERR_BADCODE);
    } else if (ptr == FRAME_CALL) {
      zpop_param();
      zpop();
      // the caller goes on without the call's arguments (name, unit and
      // parameters), as after any intrinsic
      for (uint32_t n = zget1(zp.preg - 1); n > 0; n--) zstk_pop();
      expr_stack = zp.stkp;
      return;
    } else if (ptr == FRAME_PROC) {
      if (values && truth_at(result)) zraise(ERR_BADCODE);
      procedure_return(link, values, result);
      return;
    } else if (ptr != FRAME_SUB) {
      zraise(ERR_BADCODE);
    }
    link = zgeta(link);
  }
}
