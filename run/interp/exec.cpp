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
#include <bit>
#include <cstring>
#include <utility>

#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/config/settings.h"
#include "run/interp/zblock.h"
#include "run/interp/zhooks.h"
#include "run/interp/zproc.h"
#include "run/interp/zreport.h"
#include "run/interp/zvstk.h"
#include "run/loader/debuginfo.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zmath.h"
#include "run/numeric/zmathw.h"
#include "run/numeric/zops.h"

namespace {

struct zx_state {
  int stepping;     // 0 run, 1 stop at each statement, 2 in this routine only
  int tracing;      // passed to the monitor
  int result;       // what execute returns once a handler ends the loop
  uint64_t budget;  // instructions left in this run
  uint64_t limit;   // budget given to each run (tests); 0 = no limit
  bool plain;       // with a budget: no cached entries between
                    // instructions, none joined (tests)
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

// ---- the cached stack top --------------------------------------------------
// The numbers, references and truth values that an expression pushes and
// pops again a few instructions later are kept here instead of being
// written onto the image stack and read back.  The zv.n entries lie above
// zp.stkp; each remembers where the stack top would be below it, and
// zv.top is where it would be above the last, so that the stack limit is
// met (106) at the same instruction as on the image.  A handler that works
// on the image stack itself first writes the entries out (spill) in the
// form they would have had there.  An error drops them, as the unwinding
// that follows every error would.
enum : uint8_t { VK_REF, VK_NUM, VK_TRUTH };

struct zv_entry {
  uint64_t w;      // VK_NUM: the number as a word (zmathw.h); VK_TRUTH: 0 or 1;
                   // VK_REF: the descriptor offset
  uint32_t below;  // stack top below the entry
  uint8_t kind;
};

constexpr int VMAX = 8;

struct zv_cache {
  zv_entry e[VMAX];
  int n;         // entries held
  uint32_t top;  // stack top above them (when n > 0)
};
zv_cache zv;

inline uint32_t vtop() {
  return zv.n ? zv.top : zp.stkp;
}

[[gnu::noinline]] void spill_all() {
  int n = zv.n;
  zv.n = 0;
  for (int i = 0; i < n; i++) {
    const zv_entry &e = zv.e[i];
    if (e.kind == VK_REF) {
      zpush_ref(uint32_t(e.w));
    } else if (e.kind == VK_NUM) {
      bcd_num b;
      zmw::store_word(&b, e.w);
      zpush_num(b);
    } else {
      zstk_push_truth(int(e.w));
    }
  }
}

inline void spill() {
  if (zv.n) [[unlikely]]
    spill_all();
}

// The checks of the image's push for an entry of size bytes above below.
[[noreturn, gnu::noinline]] void vpush_fault(uint8_t kind, uint32_t below) {
  if (kind == VK_NUM && uint64_t(below) + alen() + 8 > zw.inv_offs) bad();
  zraise(ERR_STACK);
}

inline void vpush(uint8_t kind, uint64_t w, uint32_t size) {
  if (zv.n == VMAX) [[unlikely]]
    spill_all();
  uint32_t below = vtop();
  uint64_t top = uint64_t(below) + size;
  if (top > zm.zrsck) [[unlikely]]
    vpush_fault(kind, below);
  zv.e[zv.n++] = zv_entry{w, below, kind};
  zv.top = uint32_t(top);
}

inline void vpush_num(uint64_t w) {
  vpush(VK_NUM, w, 2 * alen() + 8 + uint32_t(zw.dsc_len));
}
inline void vpush_ref(uint32_t desc) {
  vpush(VK_REF, desc, 2 * alen());
}
inline void vpush_truth(bool t) {
  vpush(VK_TRUTH, t, alen() + 2);
}

// Instructions run as part of an earlier one (a jump after a comparison,
// the pushes before a counting loop) skip the checks made before each
// instruction, so they are joined only when those checks have nothing to
// do: no monitor, no output waiting for its countdown, and budget left.
inline bool may_join(uint64_t n) {
  if (debugging || zfl_pcnt > 0) return false;
  if (zx.limit) {
    if (zx.plain || zx.budget <= n) return false;
    zx.budget -= n;
  }
  return true;
}

// A truth value that a conditional jump takes at once is not pushed: the
// jump runs here, as the next instruction would.
inline void vpush_truth_or_jump(bool t) {
  uint32_t pc = zp.preg;
  if (zin(pc, 1)) {
    uint8_t op = zm.zu[pc];
    if ((op & 0x7E) == 0x70 && may_join(1)) {  // 0x70 0x71 0xF0 0xF1
      zcod = op;
      zp.preg = pc + 1;
      zb_target = true;
      bool jump = (op & 1) ? !t : t;  // operation 17 jumps when false
      if (op & 0x80) {
        if (jump)
          zp.preg = jump_target<true>();
        else
          skip_jump<true>();
      } else {
        if (jump)
          zp.preg = jump_target<false>();
        else
          skip_jump<false>();
      }
      return;
    }
  }
  vpush_truth(t);
}

// the eight bytes of the numeric variable whose descriptor is at desc
inline uint64_t read_ref(uint32_t desc) {
  const uint8_t *d = zat(desc, uint32_t(zw.dsc_len));
  if (d[0] & DSC_STR) zraise(ERR_ARGS);
  return zmw::load_word(reinterpret_cast<const bcd_num *>(zat(zraw_geta(d + 1), 8)));
}

// a reference's number as its pop reads it: a pointer word that could be
// a control frame's is malformed code
inline uint64_t ref_value(uint32_t desc) {
  if (desc <= FRAME_MAX) bad();
  return read_ref(desc);
}

// Pops a number: its eight bytes as they lie, as a word not yet canonical.
// A truth value or a control frame on top is malformed code (102).
[[gnu::noinline]] uint64_t vpop_image() {
  bcd_num b;
  zpop_num(&b);
  return zmw::load_word(&b);
}

[[gnu::always_inline]] inline uint64_t vpop_raw() {
  if (zv.n == 0) return vpop_image();
  const zv_entry &e = zv.e[--zv.n];
  zv.top = e.below;
  if (e.kind == VK_NUM) return e.w;
  if (e.kind != VK_REF) bad();
  return ref_value(uint32_t(e.w));
}

// Pops a truth value (102 for anything else).  With 2-byte addresses a
// reference to offset 0 or 1 has the shape of one, as on the image.
inline int vpop_truth() {
  if (zv.n == 0) {
    int t = zstk_truth();
    zstk_pop();
    return t;
  }
  const zv_entry &e = zv.e[--zv.n];
  zv.top = e.below;
  if (e.kind == VK_TRUTH || (e.kind == VK_REF && !zw.pcode24 && e.w <= 1)) return int(e.w);
  bad();
}

// ---- numeric operands ----------------------------------------------------

// The stack must have room for an entry of body bytes (106 when it would
// pass the limit).  Used where an operand is read in place instead of
// being pushed and popped again, so the limit is met as if it had been.
void room(uint32_t body) {
  if (uint64_t(vtop()) + body + 2 * alen() > zm.zrsck) zraise(ERR_STACK);
}

void read_num(uint32_t addr, bcd_num *n) {
  std::memcpy(n, zat(addr, 8), 8);
}

uint64_t read_word(uint32_t addr) {
  return zmw::load_word(reinterpret_cast<const bcd_num *>(zat(addr, 8)));
}

// The value of the right operand of a numeric operation: the numeric
// fetch followed by the pop of its result, without the round trip.
// A subscripted variable's subscripts are popped from the image, so the
// cached entries are written out first.
template <unsigned OP>
uint64_t right_operand() {
  constexpr unsigned form = (OP >> 5) & 3;
  if constexpr (!(OP & ZSRC_VAR) && form == 1) {
    room(8 + uint32_t(zw.dsc_len));
    return ZW_ONE;
  } else if constexpr (!(OP & ZSRC_VAR)) {
    bcd_num n = zlit_num();
    room(8 + uint32_t(zw.dsc_len));
    return zmw::load_word(&n);
  } else {
    if constexpr (form != 0) spill();
    uint32_t b = zfetch();
    if (b == 0) return vpop_raw();
    if constexpr (form == 0) {
      const uint8_t *p = zat(gtopr(b, 1), uint32_t(zw.dsc_len));
      room(0);
      if (p[0] & DSC_STR) zraise(ERR_ARGS);
      return read_word(zraw_geta(p + 1));
    } else {
      zdesc d = zdesc_get(gtopr(b, 1));
      uint32_t addr = form == 1 ? xeq1s(d) : xeq2s(d);
      if (uint64_t(addr) + 8 > zw.inv_offs) bad();  // as an element entry would
      room(uint32_t(zw.dsc_len));
      return read_word(addr);
    }
  }
}

// The operation is known from the opcode, so the typed entry of the
// arithmetic is called directly (zmath would decode it from zcod).
template <unsigned OP>
void op_arith() {
  constexpr unsigned oper = OP & 31;
  uint64_t r = zmw::canon(right_operand<OP>()), l = zmw::canon(vpop_raw());
  if constexpr (oper == FADD)
    vpush_num(zmw::w_add(l, r));
  else if constexpr (oper == FSUB)
    vpush_num(zmw::w_add(l, r ^ BCD_SIGN));
  else if constexpr (oper == FMUL)
    vpush_num(zmw::w_mul(l, r));
  else if constexpr (oper == FDIV)
    vpush_num(zmw::w_div(l, r));
  else
    vpush_num(zmw::w_rem(l, r));
}

template <unsigned OP>
void op_neg() {
  vpush_num(zmw::w_add(0, zmw::canon(right_operand<OP>()) ^ BCD_SIGN));
}

template <unsigned OP>
void op_ncmp() {
  uint64_t r = right_operand<OP>(), l = vpop_raw();
  vpush_truth_or_jump(zrel_true(zw_compare(l, r), (OP & 31) - 9));
}

// numeric assignment: pop the value, then resolve the destination; its
// eight bytes are stored as they are
template <unsigned OP>
void op_store() {
  constexpr unsigned form = (OP >> 5) & 3;
  if constexpr (form != 0) spill();
  uint64_t v = vpop_raw();
  zdesc d = zdesc_get(gtopr(zfetch(), 1));
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  uint32_t addr = form == 0 ? d.addr : form == 1 ? xeq1s(d) : xeq2s(d);
  zmw::store_word(reinterpret_cast<bcd_num *>(zat(addr, 8)), v);
}

// the numeric operand pushed by opcode 6 in its forms
template <unsigned OP>
void op_push() {
  if constexpr (!(OP & ZSRC_VAR)) {
    bcd_num n = zlit_num();
    vpush_num(zmw::load_word(&n));
  } else if constexpr (((OP >> 5) & 3) == 0) {
    uint32_t b = zfetch();
    if (b) vpush_ref(gtopr(b, 1));
  } else {
    spill();
    ncom();
  }
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
  zstk_push_truth(zrel_true(scomp(), (OP & 31) - 22));
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
  int t = vpop_truth(), v = vpop_truth();
  vpush_truth(is_or ? (v | t) : (v & t));
}

// change of sign in place of the number the top entry designates
void op_chs() {
  zdesc d = zdesc_get(ztop_value());
  if (d.type & DSC_STR) zraise(ERR_ARGS);
  uint8_t *e = zat(d.addr, 8) + 7;
  if (*e) *e ^= BCD_SIGN;
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
  uint64_t s = vpop_raw(), m = vpop_raw(), f = vpop_raw();
  vpush_truth_or_jump(
      zloop_step(zat(d.addr, 8), (f >> 56) == 0, zmw::canon(m), zmw::canon(s), s & BCD_SIGN));
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
  zh_flush(1);
  zh_screen_cleanup();
  zh_stop_cleanup();
  zh_close_all();
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
    vpush_truth(!vpop_truth());
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
    int t = vpop_truth();
    zb_target = true;
    if (oper == 16 ? t != 0 : t != 1)
      zp.preg = jump_target<LONG>();
    else
      skip_jump<LONG>();
  } else if constexpr (oper == 18) {
    zp.preg = jump_target<LONG>();
    zb_target = true;
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
  } else if constexpr (oper == 6) {
    op_push<OP>();
  } else if constexpr (oper == 7) {
    op_neg<OP>();
  } else if constexpr (oper == 8) {
    op_store<OP>();
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

// The handlers that work on the cached stack top: small constants, the
// numeric operand group, truth values, jumps and the counting loop.  All
// others see the image stack only.
template <unsigned OP>
constexpr bool uses_cache() {
  constexpr unsigned oper = OP & 31;
  if constexpr ((OP & 15) == 15)
    return true;
  else if constexpr (((OP >> 5) & 3) == 3)
    return oper <= 2 || oper == 16 || oper == 17 || oper == 18 || oper == 26;
  else
    return oper >= 1 && oper <= 14;
}

// One handler per opcode byte; true ends the loop with zx.result.
template <unsigned OP>
bool handler() {
  if constexpr (!uses_cache<OP>()) spill();
  if constexpr ((OP & 15) == 15) {
    vpush_num(zsmall_word(OP >> 4));
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
    if (zb_target) zb_run();
    if (debugging || zresc) [[unlikely]] {
      spill();
      if (poll()) return zx.result;
    }
    if constexpr (BUDGET)  // once used up, every instruction ends the run
      if (zx.budget == 0 || --zx.budget == 0) {
        spill();
        zraise(ERR_BREAK);
      }
    if (zfl_pcnt > 0 && --zfl_pcnt == 0) zh_flush(0);
    zcod = uint8_t(zfetch());
    if (ztab[zcod]()) return zx.result;
    if constexpr (BUDGET)
      if (zx.plain) spill();
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

uint32_t zv_top() {
  return vtop();
}
void zv_push_num(uint64_t w) {
  vpush_num(w);
}
void zv_push_ref(uint32_t desc) {
  vpush_ref(desc);
}
void zv_push_truth(bool t) {
  vpush_truth(t);
}
uint64_t zx_join_allowance() {
  if (debugging || zfl_pcnt > 0) return 0;
  if (!zx.limit) return UINT64_MAX;
  return zx.plain ? 0 : zx.budget;
}
void zx_join_left(uint64_t left) {
  if (zx.limit) zx.budget = left;
}

void zx_budget_for_test(uint64_t n) {
  zx.limit = n;
}

void zx_plain_for_test(bool on) {
  zx.plain = on;
}

int execute(int flag, int stepping, int tracing) {
  (void)flag;  // the recovery point below serves starts and continuations
  zx.stepping = zx_stepping_mode = stepping;
  zx.tracing = tracing;
  zx.budget = zx.limit;
  zresc = 0;
  zv.n = 0;
  zb_reset();
  expr_stack = zp.stkp;
  // The recovery point: an error either resumes the cycle (at the
  // routine's handler, or at the start of the error program) or ends it.
  for (;;) {
    try {
      return zx.limit ? run_loop<true>() : run_loop<false>();
    } catch (const zerror_jump &e) {
      zv.n = 0;
      int r = recover(e.number);
      if (r != -1) return r;
    }
  }
}
