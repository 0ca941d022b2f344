// exec.cpp: the instruction dispatch loop.  Fetches one opcode byte at a
// time at zp.preg and runs it through a table of 256 handlers, one per
// opcode byte, working on the expression stack of the image.  Owns the
// loop state zx; the core globals it updates (expr_stack, spsssw,
// zfl_pcnt, zrcod2, zerrn) are defined in zerr.cpp.  Called by the
// monitor; runtime errors come back to the recovery point in execute.
//
// Opcode byte: bits 0..4 operation, 5..6 form, 7 source (operand group)
// or long form (control group, form 11).  Bytes whose low four bits are
// all set push the small constant of their high four bits.
#include "run/interp/exec.h"

#include <array>
#include <cstring>
#include <utility>

#include "run/files/zioc.h"
#include "run/interp/zhooks.h"
#include "run/interp/zops.h"
#include "run/interp/zproc.h"
#include "run/interp/zreport.h"
#include "run/loader/debuginfo.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zmath.h"
#include "run/numeric/zsmsg.h"
#include "run/startup/settings.h"
#include "run/startup/startup.h"
#include "run/terminal/screen.h"

namespace {

struct zx_state {
  int stepping;     // 0 run, 1 stop at each statement, 2 in this routine only
  int tracing;      // passed to the monitor
  int result;       // what execute returns once a handler ends the loop
  uint64_t budget;  // instructions left in this run
  uint64_t limit;   // budget given to each run (tests); 0 = no limit
};
zx_state zx;

[[noreturn]] void bad() {
  zraise(ERR_BADCODE);
}

uint32_t alen() {
  return uint32_t(zw.adr_len);
}

void set_level() {
  if (zx.stepping != 2) expr_stack = zp.stkp;
}

// ---- numeric operands ----------------------------------------------------

// The stack must have room for an entry of body bytes (106 when it would
// pass the limit).  Used where an operand is read in place instead of
// being pushed and popped again, so the limit is met as if it had been.
void room(uint32_t body) {
  if (uint64_t(zp.stkp) + body + 2 * alen() > zm.zrsck) zraise(ERR_STACK);
}

void read_num(uint32_t addr, bcd_num *n) {
  std::memcpy(n, zat(addr, 8), 8);
}

// The value of the right operand of a numeric operation: the numeric
// fetch followed by the pop of its result, without the round trip.
template <unsigned OP>
bcd_num right_operand() {
  constexpr unsigned form = (OP >> 5) & 3;
  bcd_num n;
  if constexpr (!(OP & ZSRC_VAR) && form == 1) {
    n = bcd_num{{0x10}, 0x41};  // the constant 1
    room(8 + uint32_t(zw.dsc_len));
  } else if constexpr (!(OP & ZSRC_VAR)) {
    n = zlit_num();
    room(8 + uint32_t(zw.dsc_len));
  } else {
    uint32_t b = zfetch();
    if (b == 0) {
      zpop_num(&n);
      return n;
    }
    zdesc d = zdesc_get(gtopr(b, 1));
    if constexpr (form == 0) {
      room(0);
      if (d.type & DSC_STR) zraise(ERR_ARGS);
      read_num(d.addr, &n);
    } else {
      uint32_t addr = form == 1 ? xeq1s(d) : xeq2s(d);
      if (uint64_t(addr) + 8 > zw.inv_offs) bad();  // as an element entry would
      room(uint32_t(zw.dsc_len));
      read_num(addr, &n);
    }
  }
  return n;
}

// The operation is known from the opcode, so the typed entry of the
// arithmetic is called directly (zmath would decode it from zcod).
template <unsigned OP>
void op_arith() {
  constexpr unsigned oper = OP & 31;
  bcd_num r = right_operand<OP>(), l, c;
  zpop_num(&l);
  if constexpr (oper == FADD)
    zm_add(&l, &r, &c);
  else if constexpr (oper == FSUB)
    zm_sub(&l, &r, &c);
  else if constexpr (oper == FMUL)
    zm_mul(&l, &r, &c);
  else if constexpr (oper == FDIV)
    zm_div(&l, &r, &c);
  else
    zm_rem(&l, &r, &c);
  zpush_num(c);
}

template <unsigned OP>
void op_neg() {
  bcd_num x = right_operand<OP>(), zero = {}, c;
  zm_sub(&zero, &x, &c);
  zpush_num(c);
}

bool truth_of(int c, unsigned rel) {
  switch (rel) {
    case 0:
      return c == 0;
    case 1:
      return c != 0;
    case 2:
      return c < 0;
    case 3:
      return c <= 0;
    case 4:
      return c > 0;
    default:
      return c >= 0;
  }
}

template <unsigned OP>
void op_ncmp() {
  bcd_num r = right_operand<OP>(), l;
  zpop_num(&l);
  zstk_push_truth(truth_of(fcom(&l, &r), (OP & 31) - 9));
}

// numeric assignment: pop the value, then resolve the destination
void op_store() {
  bcd_num v;
  zpop_num(&v);
  zdesc d = zdesc_get(gtopr(zfetch(), 1));
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  unsigned form = zform(zcod);
  uint32_t addr = form == 0 ? d.addr : form == 1 ? xeq1s(d) : xeq2s(d);
  std::memcpy(zat(addr, 8), &v, 8);
}

void push_small(unsigned k) {
  bcd_num n = {};
  if (k >= 10) {
    n.dig[0] = uint8_t(0x10 + k - 10);
    n.exp = 0x42;
  } else if (k > 0) {
    n.dig[0] = uint8_t(k << 4);
    n.exp = 0x41;
  }
  zpush_num(n);
}

// ---- strings -------------------------------------------------------------

// operations 17 and 21: L characters of a variable from a position
void op_substr() {
  zdesc d = zdesc_get(gtopr(zfetch(), 1));
  int32_t len = zplong();
  uint32_t d1;
  uint32_t at = zform(zcod) == 2 ? str2s(d, &d1) : str1s(d, &d1);
  if (len < 0 || d1 < uint32_t(len)) zraise(ERR_RANGE);
  zpush_str(at, uint32_t(len));
}

// Joins the two strings on top.  The result is built just above the new
// top, or where the left string already lies when that is a temporary
// just popped, which is then extended in place.
void op_concat() {
  uint32_t rl, ra, ll, la;
  zpopst(&rl, &ra);
  zpopst(&ll, &la);
  uint32_t start = zp.stkp + alen();
  if (la >= start) start = la;
  if (uint64_t(start) + ll + rl > zm.zrsck) zraise(ERR_STACK);
  movstr(rl, ra, start + ll);
  if (la != start) movstr(ll, la, start);
  zpush_str_above(start, ll + rl);
  spsssw = 0;
}

template <unsigned OP>
void op_scmp() {
  zstk_push_truth(truth_of(scomp(), (OP & 31) - 22));
}

// number to string, also for the intrinsics' result -1
void op_ntos() {
  zdesc d = zdesc_get(zpop_value());
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  bcd_num n;
  read_num(d.addr, &n);
  uint32_t start = zstk_begin(ZFNS_MAX + uint32_t(zw.dsc_len));
  fsns = reinterpret_cast<char *>(zat(start, ZFNS_MAX));
  int len = zfns(&n);
  zpush_str_above(start, uint32_t(len));
}

// string to number: the whole string must be a number, spaces may follow
void op_ston() {
  uint32_t len, data;
  if (!(zpopst(&len, &data) & DSC_STR)) zraise(ERR_ARGS);
  fsns = reinterpret_cast<char *>(zat(data, len));
  fsnl = len;
  if (zfsn()) zraise(ERR_NUMBER);
  for (; fsnl; fsnl--, fsns++)
    if (*fsns != ' ') zraise(ERR_NUMBER);
  zpush_num(fsnp);
}

// ---- control -------------------------------------------------------------

void op_andor(bool is_or) {
  int t = zstk_truth();
  zstk_pop();
  int v = zstk_truth();
  zput1(zp.stkp - 1, uint32_t(is_or ? (v | t) : (v & t)));
}

// change of sign in place of the number the top entry designates
void op_chs() {
  zdesc d = zdesc_get(ztop_value());
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  uint8_t *e = zat(d.addr, 8) + 7;
  if (*e) *e ^= BCD_SIGN;
}

// The target of a jump operand: short, a signed byte counted from the
// opcode; long, an address from zrbas.
template <bool LONG>
uint32_t jump_target() {
  if constexpr (LONG) {
    uint32_t t = zm.zrbas + zgeta(zp.preg);
    zp.preg += alen();
    return t;
  } else {
    int8_t d = int8_t(zfetch());
    return zp.preg - 2 + uint32_t(int32_t(d));
  }
}

template <bool LONG>
void skip_jump() {
  zp.preg += LONG ? alen() : 1;
}

void push_sub_frame(uint32_t ret) {
  uint32_t start = zstk_begin(alen());
  zputa(start, ret);
  zstk_end(alen(), FRAME_SUB);
}

void op_rets() {
  if (zstk_is_truth() || zstk_ptr() != FRAME_SUB) zraise(ERR_NOSUB);
  uint32_t ret = zgeta(zp.stkp - 2 * alen());
  zstk_pop();
  zp.preg = ret;
  set_level();
}

// computed jump and computed subroutine call: count byte k, k addresses
void op_computed(bool gosub) {
  int32_t n = zplong();
  uint32_t k = zfetch();
  if (k == 0) bad();
  uint32_t table = zp.preg, a = alen();
  zat(table, k * a);
  uint32_t idx = (n >= 1 && uint32_t(n) < k) ? k - uint32_t(n) : 0;
  uint32_t target = zm.zrbas + zgeta(table + idx * a);
  if (gosub && idx != 0) {
    push_sub_frame(table + k * a);
    set_level();
  }
  zp.preg = target;
}

// counting loop: pop step, limit and flag; step unless the flag is
// nonzero (the first test); push variable <= limit (>= for a negative step)
void op_loop() {
  zdesc d = zdesc_get(gtopr(zfetch(), 1));
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  bcd_num s, m, f, v;
  zpop_num(&s);
  zpop_num(&m);
  zpop_num(&f);
  read_num(d.addr, &v);
  if (f.dig[0] == 0) {
    zm_add(&v, &s, &v);
    std::memcpy(zat(d.addr, 8), &v, 8);
  }
  int c = (s.exp & BCD_SIGN) ? fcom(&v, &m) : fcom(&m, &v);
  zstk_push_truth(c != -1);
}

void op_bind() {
  uint32_t dsc = gtopr(zfetch(), 0);
  uint32_t len, data;
  zpopst(&len, &data);
  zputa(dsc + 1, data);
}

// the call opcode: intrinsics below 65, procedures from 65
bool op_call() {
  int n = int(zfetch());
  if (n >= 65) {
    zh_proc_call(n);
    return false;
  }
  int r = zh_intr(n);
  if (r == -1) {
    op_ntos();
  } else if (r == -2) {
    debugging = 1;
    zx.stepping = zx_stepping_mode = 1;
  } else if (r != 0) {
    zx.result = r;
    return true;
  }
  if (n == 21 || n == 52) expr_stack = zp.stkp;
  return false;
}

// the program stops: screen, monitor heads, saved programs and all I/O
// are released
bool mach_stop() {
  zflush(1);
  sc_cleanup();
  zh_stop_cleanup();
  zioc();
  if (!nonstop) zsmsg("\r\nSTOP\r\n");
  zx.result = 0;
  return true;
}

bool op_mach() {
  uint32_t a = alen();
  switch (zfetch()) {
    case 0:
      zh_restore();
      return false;
    case 1:
      return mach_stop();
    case 2:
      zrcod2 |= RC2_ARMED;
      zputa(zm.zrbas + zp.rcod + 5 * a, zp.preg - zm.zrbas + a + 1);
      return false;
    case 3:
      zrcod2 &= ~(RC2_ARMED | RC2_RUNNING);
      return false;
    case 4: {
      int32_t v = zppos() & 255;
      zraise(v ? v : 256);
    }
    default:
      bad();
  }
}

template <unsigned OP>
bool control() {
  constexpr unsigned oper = OP & 31;
  constexpr bool LONG = OP & 0x80;
  if constexpr (oper == 0 || oper == 1) {
    op_andor(oper == 1);
  } else if constexpr (oper == 2) {
    zput1(zp.stkp - 1, uint32_t(zstk_truth() ^ 1));
  } else if constexpr (oper == 3) {
    op_rets();
  } else if constexpr (oper == 4) {
    zh_return();
  } else if constexpr (oper == 6) {
    zh_ioinit();
    expr_stack_save = expr_stack;
    expr_stack = zw.inv_offs;
  } else if constexpr (oper == 7) {
    zh_zionbr();
  } else if constexpr (oper == 8) {
    zh_ziostr();
  } else if constexpr (oper == 9) {
    zh_ioterm();
    expr_stack = expr_stack_save;
  } else if constexpr (oper == 10) {
    op_chs();
  } else if constexpr (oper == 11) {
    op_ntos();
  } else if constexpr (oper == 12) {
    op_ston();
  } else if constexpr (oper == 13) {
    zh_irdnbr();
  } else if constexpr (oper == 14) {
    zh_irdstr();
  } else if constexpr (oper == 16 || oper == 17) {
    int t = zstk_truth();
    zstk_pop();
    if (oper == 16 ? t != 0 : t != 1)
      zp.preg = jump_target<LONG>();
    else
      skip_jump<LONG>();
  } else if constexpr (oper == 18) {
    zp.preg = jump_target<LONG>();
  } else if constexpr (oper == 19 || oper == 20) {
    op_computed(oper == 20);
  } else if constexpr (oper == 21) {
    uint32_t t = jump_target<LONG>();
    push_sub_frame(zp.preg);
    set_level();
    zp.preg = t;
  } else if constexpr (oper == 22) {
    return op_call();
  } else if constexpr (oper == 24) {
    return op_mach();
  } else if constexpr (oper == 26) {
    op_loop();
  } else if constexpr (oper == 27) {
    zstk_end(0, jump_target<LONG>() - zm.zrbas);
  } else if constexpr (oper == 29 || oper == 30) {
    op_bind();
  } else {
    bad();  // 5, 23, 25, 28
  }
  return false;
}

template <unsigned OP>
bool operand_group() {
  constexpr unsigned oper = OP & 31;
  if constexpr (oper >= 1 && oper <= 5) {
    op_arith<OP>();
  } else if constexpr (oper == 6 && OP == (ZSRC_VAR | 6)) {
    uint32_t b = zfetch();  // the common case: a variable, whole
    if (b) zpush_ref(gtopr(b, 1));
  } else if constexpr (oper == 6) {
    ncom();
  } else if constexpr (oper == 7) {
    op_neg<OP>();
  } else if constexpr (oper == 8) {
    op_store();
  } else if constexpr (oper >= 9 && oper <= 14) {
    op_ncmp<OP>();
  } else if constexpr (oper == 16) {
    scom();
  } else if constexpr (oper == 17) {
    op_substr();
  } else if constexpr (oper == 18 || oper == 19) {
    popstr(oper - 18);
  } else if constexpr (oper == 20) {
    scom();
    op_concat();
  } else if constexpr (oper == 21) {
    spsssw = 1;
    op_substr();
    op_concat();
  } else if constexpr (oper >= 22 && oper <= 27) {
    op_scmp<OP>();
  } else {
    bad();  // 0, 28, 29, 30
  }
  return false;
}

// One handler per opcode byte; true ends the loop with zx.result.
template <unsigned OP>
bool handler() {
  if constexpr ((OP & 15) == 15) {
    push_small(OP >> 4);
    return false;
  } else if constexpr (((OP >> 5) & 3) == 3) {
    return control<OP>();
  } else {
    return operand_group<OP>();
  }
}

using zhandler = bool (*)();

template <size_t... I>
constexpr std::array<zhandler, 256> make_table(std::index_sequence<I...>) {
  return {&handler<unsigned(I)>...};
}

// tag: ZOPCODE-ORDER (entry b runs opcode byte b, row b of zopcodes)
constexpr std::array<zhandler, 256> ztab = make_table(std::make_index_sequence<256>{});

// The monitor's hook, the break key and the instruction budget, checked
// before an instruction only when one of them is pending.
// Returns true when the monitor stops the run.
bool poll() {
  if (debugging && zh_debug(zx.stepping, zx.tracing) == 1) {
    zx.result = zbkp_report();
    return true;
  }
  if (!debugging && zresc) {
    zresc = 0;
    zraise(ERR_BREAK);
  }
  return false;
}

// The instruction cycle; the variant with a budget serves tests and
// fuzzing, so that the ordinary run pays nothing for it.
template <bool BUDGET>
int run_loop() {
  for (;;) {
    if (debugging || zresc) [[unlikely]]
      if (poll()) return zx.result;
    if constexpr (BUDGET)  // once used up, every instruction ends the run
      if (zx.budget == 0 || --zx.budget == 0) zraise(ERR_BREAK);
    if (zfl_pcnt > 0 && --zfl_pcnt == 0) zflush(0);
    zcod = uint8_t(zfetch());
    if (ztab[zcod]()) return zx.result;
  }
}

// The error path itself may meet a damaged stack (unwinding a chain that
// the program overwrote): that is malformed p-code, reported as 102, which
// is never trapped.
int recover(int number) {
  try {
    return zerror_recover(number, zx.stepping);
  } catch (const zerror_jump &) {
  }
  try {
    return zerror_recover(ERR_BADCODE, zx.stepping);
  } catch (const zerror_jump &) {
    return ERR_BADCODE;
  }
}

}  // namespace

void zx_budget_for_test(uint64_t n) {
  zx.limit = n;
}

int execute(int flag, int stepping, int tracing) {
  (void)flag;  // the recovery point below serves starts and continuations
  zx.stepping = zx_stepping_mode = stepping;
  zx.tracing = tracing;
  zx.budget = zx.limit;
  zresc = 0;
  expr_stack = zp.stkp;
  // The recovery point: an error either resumes the cycle (at the
  // routine's handler, or at the start of the error program) or ends it.
  for (;;) {
    try {
      return zx.limit ? run_loop<true>() : run_loop<false>();
    } catch (const zerror_jump &e) {
      int r = recover(e.number);
      if (r != -1) return r;
    }
  }
}
