// zblock.cpp: straight runs of numeric instructions, decoded once (see
// zblock.h).  Owns the block table zbt, 128 slots chosen by code address.
//
// A block is decoded from the instruction where control landed up to a
// jump (which it includes) or to the first instruction it does not take
// (where it ends).  It takes pushes of whole numeric variables and
// constants, the arithmetic, sign and comparison instructions with a
// whole variable, a constant or the stack as operand, numeric stores, the
// truth operations, the counting loop and the jumps.  Anything that would
// raise an error (a string operand, an unbound or misplaced descriptor, a
// malformed constant, a truth value where a number belongs) ends the block
// before it, so the handler meets it in the usual way.
//
// The decoding reads the code bytes and, for each operand, the first four
// bytes of its descriptor (and of the descriptor an indirect one names).
// The block keeps copies and runs only while they match the image.  A
// store of the block that would land on those bytes makes the block
// unusable; a store to a variable whose value a pushed reference has
// already given ends the block before the store.  The room the pushes
// would take on the stack is summed, so that a block runs only where its
// instructions would not meet the stack limit.
#include "run/interp/zblock.h"

#include <algorithm>
#include <cstring>

#include "run/base/image.h"
#include "run/base/runstate.h"
#include "run/interp/zvstk.h"
#include "run/numeric/zmath.h"
#include "run/numeric/zops.h"

bool zb_target;

namespace {

enum : uint8_t {
  B_PUSHV,  // push the number at a
  B_PUSHK,  // push the constant w
  B_ARV,    // top = top (operation sub) the number at a
  B_ARK,    // ... the constant w
  B_ARS,    // ... the number popped
  B_NEGV,   // push minus the number at a
  B_NEGK,
  B_NEGS,
  B_CMPV,  // top = top (relation sub) the number at a, a truth value
  B_CMPK,
  B_CMPS,
  B_NOT,
  B_AND,
  B_OR,
  B_STORE,   // pop into the number at a
  B_LOOP,    // counting loop on the number at a: pops step, limit, flag
  B_JT,      // pop a truth value: true to a, else to w
  B_JF,      // false to a, else to w
  B_JMP,     // to a
  B_END,     // continue at a; what is left goes onto the stack
  B_LOOPJ,   // the end of a counting loop in one: flag w, then the limit,
             // the step and the loop variable as B_PUSHV or B_PUSHK
             // operations, then the jump
  B_LOOPJ1,  // B_LOOPJ that steps by the constant 1
  // pairs and triples joined when decoded: B_PUSHV at a, then
  B_PARV,   // B_ARV at w
  B_PARK,   // B_ARK with w
  B_PCMPV,  // B_CMPV at w
  B_PCMPK,  // B_CMPK with w
  B_PARVS,  // B_ARV at the low half of w, B_STORE at its high half
  // an operation, then B_STORE
  B_ARVS,   // B_ARV at a, store at w
  B_ARKS,   // B_ARK with w, store at a
  B_ARSS,   // B_ARS, store at a
  B_PARKS,  // B_PARK, then B_STORE at b
  // a comparison joined to the conditional jump after it, which stays as
  // the next operation for its targets
  B_PCMPVJ,  // B_PCMPV
  B_PCMPKJ,  // B_PCMPK
};

struct zbop {
  uint8_t op, sub;
  uint32_t a, b;
  uint64_t w;
};

// bits of an arithmetic or comparison operation's sub beside the operation
// or relation: its left or right operand may be a number not yet canonical
constexpr uint8_t SUB_OP = 7, SUB_LRAW = 8, SUB_RRAW = 16;

// the block stack's entries as the decoding knows them
enum : uint8_t { K_NUM, K_REFN, K_REFS, K_TRUTH };

constexpr int BOPS = 40, BCODE = 160, BDESC = 20, BDEPTH = 8, BSLOTS = 128;

struct zblock {
  uint32_t pc, gen;
  uint32_t rdt;
  int w24;
  bool usable;
  uint32_t len;     // code bytes decoded
  uint32_t ninstr;  // instructions the block stands for
  uint32_t need;    // stack bytes above the top its instructions reach
  uint8_t nops, ndesc, nleft;
  uint32_t desc_at[BDESC];
  uint32_t desc_bytes[BDESC];
  uint8_t left_kind[BDEPTH];
  uint32_t left_desc[BDEPTH];
  zbop ops[BOPS];
  uint8_t code[BCODE + 8];
  uint32_t chain;           // the chain of blocks in which it was last found to hold
  uint32_t store_at[BOPS];  // where its stores write
  uint8_t nstore;
};

zblock zbt[BSLOTS];
uint32_t zb_gen = 1;
uint32_t zb_chain = 1;  // counts the calls of zb_run
// While no block's stores fall on another block's code or descriptor
// bytes, a block found to hold stays so for the rest of the chain: only
// blocks write to the image between two instructions of it.
bool zb_disjoint = true;

inline uint32_t load4(uint32_t at) {
  uint32_t v;
  std::memcpy(&v, zm.zu + at, 4);
  return v;
}

inline uint64_t load_num(uint32_t at) {
  return zmw::load_word(reinterpret_cast<const bcd_num *>(zm.zu + at));
}

struct decoder {
  zblock &b;
  uint32_t a = uint32_t(zw.adr_len), dl = uint32_t(zw.dsc_len);
  uint32_t num = 2 * a + 8 + dl, ref = 2 * a, truth = a + 2;  // entry sizes
  struct slot {
    uint8_t kind;
    uint32_t desc, addr, size;
    bool canon = false;  // K_REFN: the variable holds a number the block stored
  };
  slot st[BDEPTH];
  int sp = 0;
  uint32_t bytes = 0;  // stack bytes of the entries
  uint32_t store_at[BOPS];
  int nstore = 0;
  // variables that hold a canonical number the block itself stored
  uint32_t known[BOPS];
  int nknown = 0;

  explicit decoder(zblock &blk) : b(blk) {}

  bool see(uint32_t off) {
    for (int i = 0; i < b.ndesc; i++)
      if (b.desc_at[i] == off) return true;
    if (b.ndesc == BDESC) return false;
    b.desc_at[b.ndesc] = off;
    b.desc_bytes[b.ndesc++] = load4(off);
    return true;
  }

  // The descriptor of the one-byte operand number at pc, found by gtopr;
  // false where the handler must see it (an error, wide numbers).
  bool resolve(uint32_t pc, uint32_t *desc, uint8_t *type, uint32_t *addr) {
    if (!zin(pc, 1)) return false;
    uint32_t opr = zm.zu[pc];
    if (opr < 2) return false;
    uint32_t off;
    try {
      off = gtopr(opr, 1);
    } catch (const zerror_jump &) {
      return false;
    }
    // what it read: the table entry and, when indirect, the one it names
    uint32_t entry = zp.rdt + (opr - 2) * dl;
    if (!zin(off, dl) || !see(entry) || (off != entry && !see(off))) return false;
    *desc = off;
    *type = zm.zu[off];
    *addr = zraw_geta(zm.zu + off + 1);
    return true;
  }

  // a whole numeric variable whose eight bytes lie in the image
  bool numeric(uint32_t pc, uint32_t *addr) {
    uint32_t desc;
    uint8_t type;
    return resolve(pc, &desc, &type, addr) && !(type & DSC_STR) && zin(*addr, 8);
  }

  // a constant operand of the opcode op at pc; *next is the byte after
  bool constant(uint8_t op, uint32_t pc, uint64_t *w, uint32_t *next) {
    if (zform(op) == 1) {
      *w = ZW_ONE;
      *next = pc + 1;
      return true;
    }
    if (zform(op) == 3) return false;
    uint32_t saved = zp.preg;
    uint8_t saved_cod = zcod;
    bool ok = true;
    zp.preg = pc + 1;
    zcod = op;
    try {
      bcd_num n = zlit_num();
      *w = zmw::load_word(&n);
      *next = zp.preg;
    } catch (const zerror_jump &) {
      ok = false;
    }
    zp.preg = saved;
    zcod = saved_cod;
    return ok;
  }

  bool is_num(int depth) const {
    return sp >= depth && (st[sp - depth].kind == K_NUM || st[sp - depth].kind == K_REFN);
  }
  void room(uint32_t extra) { b.need = std::max(b.need, bytes + extra); }
  void push(uint8_t kind, uint32_t size, uint32_t desc = 0, uint32_t addr = 0) {
    st[sp++] = slot{kind, desc, addr, size};
    bytes += size;
    room(0);
  }
  void pop(int n) {
    while (n--) bytes -= st[--sp].size;
  }
  void emit(uint8_t op, uint8_t sub, uint32_t addr, uint64_t w) {
    zbop *p = b.nops ? &b.ops[b.nops - 1] : nullptr;
    if (p && p->op == B_PUSHV && (op == B_ARV || op == B_CMPV)) {
      *p = zbop{op == B_ARV ? B_PARV : B_PCMPV, sub, p->a, 0, addr};
    } else if (p && p->op == B_PUSHV && (op == B_ARK || op == B_CMPK)) {
      *p = zbop{op == B_ARK ? B_PARK : B_PCMPK, sub, p->a, 0, w};
    } else if (p && op == B_STORE && p->op == B_PARK) {
      p->op = B_PARKS;
      p->b = addr;
    } else if (p && (op == B_JT || op == B_JF) && (p->op == B_PCMPV || p->op == B_PCMPK)) {
      p->op = p->op == B_PCMPV ? B_PCMPVJ : B_PCMPKJ;
      b.ops[b.nops++] = zbop{op, sub, addr, 0, w};
    } else if (p && op == B_STORE && p->op == B_PARV) {
      p->op = B_PARVS;
      p->w |= uint64_t(addr) << 32;
    } else if (p && op == B_STORE && p->op == B_ARV) {
      p->op = B_ARVS;
      p->w = addr;
    } else if (p && op == B_STORE && (p->op == B_ARK || p->op == B_ARS)) {
      p->op = p->op == B_ARK ? B_ARKS : B_ARSS;
      p->a = addr;
    } else {
      b.ops[b.nops++] = zbop{op, sub, addr, 0, w};
    }
  }
  bool known_canonical(uint32_t addr) const {
    for (int i = 0; i < nknown; i++)
      if (known[i] == addr) return true;
    return false;
  }
  // a store of a canonical number or not to the eight bytes at addr
  void stored(uint32_t addr, bool canon) {
    int k = 0;
    for (int i = 0; i < nknown; i++)
      if (!(known[i] < addr + 8 && addr < known[i] + 8)) known[k++] = known[i];
    nknown = k;
    if (canon) known[nknown++] = addr;
  }
  bool canonical_slot(int depth) const {
    const slot &e = st[sp - depth];
    return e.kind == K_NUM || (e.kind == K_REFN && e.canon);
  }

  // a store to the eight bytes at addr may not change a variable whose
  // pushed reference was read already
  bool clobbers_live(uint32_t addr) const {
    for (int i = 0; i < sp; i++)
      if (st[i].kind == K_REFN && st[i].addr < addr + 8 && addr < st[i].addr + 8) return true;
    return false;
  }

  // Decodes the instruction at pc; false (nothing changed) when the block
  // ends before it.  *next is the next instruction, *done set after a jump.
  bool step(uint32_t pc, uint32_t *next, bool *done) {
    uint8_t op = zm.zu[pc];
    unsigned oper = op & 31, form = zform(op);
    bool var = op & ZSRC_VAR;
    if ((op & 15) == 15) {
      if (sp == BDEPTH) return false;
      emit(B_PUSHK, 0, 0, zsmall_word(op >> 4));
      push(K_NUM, num);
      *next = pc + 1;
      return true;
    }
    if (form != 3 &&
        (oper == 6 || (oper >= 1 && oper <= 5) || oper == 7 || (oper >= 9 && oper <= 14))) {
      // the operand: a constant, a whole variable, or the stack
      uint64_t w = 0;
      uint32_t addr = 0, end = pc + 2;
      uint8_t how;  // 0 variable, 1 constant, 2 stack
      if (!var) {
        if (!constant(op, pc, &w, &end)) return false;
        how = 1;
      } else if (form != 0 || !zin(pc + 1, 1)) {
        return false;
      } else if (zm.zu[pc + 1] == 0) {
        if (oper == 6) return false;  // pushes nothing
        how = 2;
      } else if (oper == 6) {  // a reference to the variable
        uint32_t desc;
        uint8_t type;
        if (sp == BDEPTH || !resolve(pc + 1, &desc, &type, &addr) || desc <= FRAME_MAX)
          return false;
        bool str = type & DSC_STR;
        if (!str && !zin(addr, 8)) return false;
        emit(str ? B_PUSHK : B_PUSHV, 0, addr, 0);
        push(str ? K_REFS : K_REFN, ref, desc, addr);
        st[sp - 1].canon = !str && known_canonical(addr);
        *next = pc + 2;
        return true;
      } else {
        if (!numeric(pc + 1, &addr)) return false;
        how = 0;
      }
      if (oper == 6) {  // a constant pushed
        if (sp == BDEPTH) return false;
        emit(B_PUSHK, 0, 0, w);
        push(K_NUM, num);
        *next = end;
        return true;
      }
      // operands: the right one (on the stack when how is 2), then for
      // all but the sign change the left one below it
      int right = how == 2 ? 1 : 0, left = oper == 7 ? 0 : 1;
      if ((right && !is_num(1)) || (left && !is_num(right + 1))) return false;
      if (oper == 7 && sp - right == BDEPTH) return false;
      room(how == 0 ? ref : how == 1 ? num : 0);  // checked as if pushed
      uint8_t base = oper == 7 ? B_NEGV : oper >= 9 ? B_CMPV : B_ARV;
      uint8_t kind = base + (how == 0 ? 0 : how == 1 ? 1 : 2);
      // which operands may be numbers as they lie in a variable, not yet
      // canonical (results and constants are)
      bool rraw = how == 0 ? !known_canonical(addr) : how == 2 && !canonical_slot(1);
      bool lraw = left && !canonical_slot(right + 1);
      emit(kind,
           uint8_t((oper >= 9 ? oper - 9 : oper) | (lraw ? SUB_LRAW : 0) | (rraw ? SUB_RRAW : 0)),
           addr, w);
      pop(right + left);
      push(oper >= 9 ? K_TRUTH : K_NUM, oper >= 9 ? truth : num);
      *next = how == 2 ? pc + 2 : end;
      return true;
    }
    if (op == (ZSRC_VAR | 8) || op == 0x7A) {  // store, counting loop
      int n = op == 0x7A ? 3 : 1;
      uint32_t addr;
      if (!is_num(1) || (n == 3 && (!is_num(2) || !is_num(3))) || !numeric(pc + 1, &addr))
        return false;
      slot saved[3];
      for (int i = 0; i < n; i++) saved[i] = st[sp - 1 - i];
      bool canon = n == 1 && canonical_slot(1);  // a loop steps only now and then
      pop(n);
      if (clobbers_live(addr)) {
        for (int i = n - 1; i >= 0; i--)
          push(saved[i].kind, saved[i].size, saved[i].desc, saved[i].addr);
        return false;
      }
      store_at[nstore++] = addr;
      stored(addr, canon);
      emit(op == 0x7A ? B_LOOP : B_STORE, 0, addr, 0);
      if (op == 0x7A) push(K_TRUTH, truth);
      *next = pc + 2;
      return true;
    }
    if (op == 0x60 || op == 0x61 || op == 0x62) {  // and, or, not
      int n = op == 0x62 ? 1 : 2;
      if (sp < n || st[sp - 1].kind != K_TRUTH || st[sp - n].kind != K_TRUTH) return false;
      emit(op == 0x60 ? B_AND : op == 0x61 ? B_OR : B_NOT, 0, 0, 0);
      pop(n);
      push(K_TRUTH, truth);
      *next = pc + 1;
      return true;
    }
    if ((op & 0x7F) == 0x70 || (op & 0x7F) == 0x71 || (op & 0x7F) == 0x72) {  // jumps
      bool cond = (op & 0x7F) != 0x72, lng = op & 0x80;
      if (cond ? sp != 1 || st[0].kind != K_TRUTH : sp != 0) return false;
      uint32_t target, after = pc + (lng ? 1 + a : 2);
      if (lng) {
        if (!zin(pc + 1, a)) return false;
        target = zm.zrbas + zraw_geta(zm.zu + pc + 1);
      } else {
        if (!zin(pc + 1, 1)) return false;
        target = pc + uint32_t(int32_t(int8_t(zm.zu[pc + 1])));
      }
      if (cond) pop(1);
      emit(!cond ? B_JMP : (op & 1) ? B_JF : B_JT, 0, target, after);
      *next = after;
      *done = true;
      return true;
    }
    return false;
  }

  // flag, limit, step, loop, jump: one operation followed by its operands
  void fuse_loop_end() {
    int n = b.nops;
    if (n < 5 || b.ops[n - 2].op != B_LOOP || b.ops[n - 5].op != B_PUSHK) return;
    uint8_t j = b.ops[n - 1].op;
    if (j != B_JT && j != B_JF) return;
    for (int k = n - 4; k <= n - 3; k++)
      if (b.ops[k].op != B_PUSHK && b.ops[k].op != B_PUSHV) return;
    bool by_one = b.ops[n - 5].w == 0 && b.ops[n - 3].op == B_PUSHK && b.ops[n - 3].w == ZW_ONE;
    b.ops[n - 5].op = by_one ? B_LOOPJ1 : B_LOOPJ;
  }

  void decode(uint32_t pc0) {
    uint32_t pc = pc0;
    bool done = false;
    while (!done) {
      uint32_t next;
      if (b.nops >= BOPS - 1 || pc - pc0 > BCODE - 16 || !zin(pc, 1) || !step(pc, &next, &done)) {
        emit(B_END, 0, pc, 0);
        b.nleft = uint8_t(sp);
        for (int i = 0; i < sp; i++) b.left_kind[i] = st[i].kind, b.left_desc[i] = st[i].desc;
        break;
      }
      b.ninstr++;
      pc = next;
    }
    // the bytes decoded; a jump's operand bytes are among them
    uint32_t end = b.ops[b.nops - 1].op == B_END ? pc : uint32_t(b.ops[b.nops - 1].w);
    b.len = end - pc0;
    std::memcpy(b.code, zm.zu + pc0, b.len);
    b.usable = b.ninstr > 0;
    fuse_loop_end();
    b.nstore = uint8_t(nstore);
    std::copy(store_at, store_at + nstore, b.store_at);
    for (int i = 0; i < nstore; i++) {
      uint32_t s = store_at[i];
      if (s < end && pc0 < s + 8) b.usable = false;  // onto its own code
      for (int k = 0; k < b.ndesc; k++)
        if (s < b.desc_at[k] + dl && b.desc_at[k] < s + 8) b.usable = false;
    }
  }
};

// true when a store of w falls on the code or descriptor bytes of r
bool lands_on(const zblock &w, const zblock &r) {
  uint32_t dl = uint32_t(zw.dsc_len);
  for (int i = 0; i < w.nstore; i++) {
    uint32_t s = w.store_at[i];
    if (s < r.pc + r.len && r.pc < s + 8) return true;
    for (int k = 0; k < r.ndesc; k++)
      if (s < r.desc_at[k] + dl && r.desc_at[k] < s + 8) return true;
  }
  return false;
}

void decode(zblock &b, uint32_t pc) {
  b = zblock{};
  b.pc = pc;
  b.gen = zb_gen;
  b.rdt = zp.rdt;
  b.w24 = zw.pcode24;
  if (zp.flags & ZF_WIDE) return;
  decoder d(b);
  d.decode(pc);
  if (b.usable && zb_disjoint)
    for (const zblock &e : zbt)
      if (&e != &b && e.gen == zb_gen && e.usable && (lands_on(b, e) || lands_on(e, b))) {
        zb_disjoint = false;
        break;
      }
}

inline uint64_t load8(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// the code bytes, eight at a time
bool same_code(const zblock &b) {
  const uint8_t *p = zm.zu + b.pc;
  uint32_t i = 0;
  for (; i + 8 <= b.len; i += 8)
    if (load8(p + i) != load8(b.code + i)) return false;
  if (i == b.len) return true;
  if (b.pc + i + 8 <= zm.size) {  // the last bytes under a mask
    uint64_t mask = ~uint64_t(0) >> (8 * (8 - (b.len - i)));
    if constexpr (std::endian::native == std::endian::big)
      mask = ~(~uint64_t(0) >> (8 * (b.len - i)));
    return ((load8(p + i) ^ load8(b.code + i)) & mask) == 0;
  }
  for (; i < b.len; i++)
    if (p[i] != b.code[i]) return false;
  return true;
}

bool holds(const zblock &b) {
  if (b.rdt != zp.rdt || b.w24 != zw.pcode24 || (zp.flags & ZF_WIDE)) return false;
  if (!same_code(b)) return false;
  for (int i = 0; i < b.ndesc; i++)
    if (load4(b.desc_at[i]) != b.desc_bytes[i]) return false;
  return true;
}

[[gnu::always_inline]] inline uint64_t arith(unsigned sub, uint64_t l, uint64_t r) {
  if (sub & SUB_LRAW) l = zmw::canon(l);
  if (sub & SUB_RRAW) r = zmw::canon(r);
  unsigned op = sub & SUB_OP;
  if (op <= FSUB) return zmw::w_add(l, op == FSUB ? r ^ BCD_SIGN : r);
  if (op == FMUL) return zmw::w_mul(l, r);
  if (op == FDIV) return zmw::w_div(l, r);
  return zmw::w_rem(l, r);
}

inline uint64_t negate(uint64_t x) {
  return zmw::w_add(0, zmw::canon(x) ^ BCD_SIGN);
}

// A block that is a counting loop by one and nothing else (an empty body)
// keeps its variable in a register while it repeats itself, and its
// limit too unless that is the variable; the image gets every step all
// the same.
void spin(const zblock &b, uint64_t &allow) {
  const zbop *o = b.ops;
  uint8_t *zu = zm.zu;
  bcd_num *vp = reinterpret_cast<bcd_num *>(zu + o[3].a);
  bool fixed = o[1].op != B_PUSHV || o[1].a + 8 <= o[3].a || o[3].a + 8 <= o[1].a;
  uint64_t v = zmw::canon(zmw::load_word(vp));
  uint64_t m = o[1].op == B_PUSHV ? zmw::canon(load_num(o[1].a)) : o[1].w;
  for (;;) {
    v = zmw::w_inc(v, ZW_ONE);
    zmw::store_word(vp, v);
    bool t = zmw::order_key(m) >= zmw::order_key(v);
    zp.preg = t == (o[4].op == B_JT) ? o[4].a : uint32_t(o[4].w);
    if (zp.preg != b.pc || zresc || allow <= b.ninstr) return;
    allow -= b.ninstr;
    if (!fixed) m = zmw::canon(load_num(o[1].a));
  }
}

// Runs a block that holds; true when it ended in a jump.  The top entry
// is kept in top, the others in st[1..sp-1].  Each operation jumps to the
// next through the label table, so that every operation has a jump of its
// own for the processor to predict (a GNU extension of GCC and clang).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
bool run(const zblock *b, uint64_t &allow, uint32_t top_at) {
  static const void *const next[] = {
      &&pushv, &&pushk, &&arv,    &&ark,    &&ars,    &&negv,  &&negk,  &&negs,  &&cmpv,
      &&cmpk,  &&cmps,  &&op_not, &&op_and, &&op_or,  &&store, &&loop,  &&jt,    &&jf,
      &&jmp,   &&end,   &&loopj,  &&loopj1, &&parv,   &&park,  &&pcmpv, &&pcmpk, &&parvs,
      &&arvs,  &&arks,  &&arss,   &&parks,  &&pcmpvj, &&pcmpkj};
  static_assert(sizeof next / sizeof next[0] == B_PCMPKJ + 1, "one label per operation");
  uint64_t st[BDEPTH + 1];
  uint64_t top = 0;
  int sp = 0;
  uint8_t *zu = zm.zu;
  auto push = [&](uint64_t v) {
    st[sp++] = top;
    top = v;
  };
  auto pop = [&] { top = st[--sp]; };
  auto put = [&](uint32_t at, uint64_t v) {
    zmw::store_word(reinterpret_cast<bcd_num *>(zu + at), v);
  };
  auto cmp = [](unsigned sub, uint64_t l, uint64_t r) -> uint64_t {
    if (sub & SUB_LRAW) l = zmw::canon(l);
    if (sub & SUB_RRAW) r = zmw::canon(r);
    int64_t kl = zmw::order_key(l), kr = zmw::order_key(r);
    return zrel_true((kl > kr) - (kl < kr), sub & SUB_OP);
  };
  const zbop *o = b->ops;
  goto *next[o->op];
  // after a jump the next block runs at once when it was found to hold in
  // this chain and passes the tests made between blocks; else zb_run
  // looks at it
jumped : {
  if (zp.preg == b->pc && !zresc && allow > b->ninstr) {  // a loop within the block
    allow -= b->ninstr;
    o = b->ops;
    sp = 0;
    goto *next[o->op];
  }
  const zblock &n = zbt[zp.preg % BSLOTS];
  if (zresc || n.gen != zb_gen || n.pc != zp.preg || !n.usable || !zb_disjoint ||
      n.chain != zb_chain || uint64_t(top_at) + n.need > zm.zrsck || allow <= n.ninstr)
    return true;
  allow -= n.ninstr;
  b = &n;
  o = n.ops;
  sp = 0;
  goto *next[o->op];
}
pushv:
  push(load_num(o->a));
  goto *next[(++o)->op];
pushk:
  push(o->w);
  goto *next[(++o)->op];
arv:
  top = arith(o->sub, top, load_num(o->a));
  goto *next[(++o)->op];
ark:
  top = arith(o->sub, top, o->w);
  goto *next[(++o)->op];
ars:
  top = arith(o->sub, st[--sp], top);
  goto *next[(++o)->op];
negv:
  push(negate(load_num(o->a)));
  goto *next[(++o)->op];
negk:
  push(negate(o->w));
  goto *next[(++o)->op];
negs:
  top = negate(top);
  goto *next[(++o)->op];
cmpv:
  top = cmp(o->sub, top, load_num(o->a));
  goto *next[(++o)->op];
cmpk:
  top = cmp(o->sub, top, o->w);
  goto *next[(++o)->op];
cmps:
  top = cmp(o->sub, st[--sp], top);
  goto *next[(++o)->op];
op_not:
  top ^= 1;
  goto *next[(++o)->op];
op_and:
  top &= st[--sp];
  goto *next[(++o)->op];
op_or:
  top |= st[--sp];
  goto *next[(++o)->op];
store:
  put(o->a, top);
  pop();
  goto *next[(++o)->op];
parv:
  push(arith(o->sub, load_num(o->a), load_num(uint32_t(o->w))));
  goto *next[(++o)->op];
park:
  push(arith(o->sub, load_num(o->a), o->w));
  goto *next[(++o)->op];
pcmpv:
  push(cmp(o->sub, load_num(o->a), load_num(uint32_t(o->w))));
  goto *next[(++o)->op];
pcmpk:
  push(cmp(o->sub, load_num(o->a), o->w));
  goto *next[(++o)->op];
parvs:
  put(uint32_t(o->w >> 32), arith(o->sub, load_num(o->a), load_num(uint32_t(o->w))));
  goto *next[(++o)->op];
arvs:
  put(uint32_t(o->w), arith(o->sub, top, load_num(o->a)));
  pop();
  goto *next[(++o)->op];
arks:
  put(o->a, arith(o->sub, top, o->w));
  pop();
  goto *next[(++o)->op];
arss : {
  uint64_t v = arith(o->sub, st[--sp], top);
  put(o->a, v);
  pop();
  goto *next[(++o)->op];
}
loop : {
  uint64_t s = top, m = st[sp - 1], f = st[sp - 2];
  sp -= 2;
  top = zloop_step(zu + o->a, (f >> 56) == 0, zmw::canon(m), zmw::canon(s), s & BCD_SIGN);
  goto *next[(++o)->op];
}
loopj : {
  // o[1] limit, o[2] step, o[3] the loop variable, o[4] the jump;
  // constants are canonical already
  uint64_t m = o[1].op == B_PUSHV ? zmw::canon(load_num(o[1].a)) : o[1].w;
  uint64_t s = o[2].op == B_PUSHV ? load_num(o[2].a) : o[2].w;
  bool t = zloop_step(zu + o[3].a, (o->w >> 56) == 0, m, zmw::canon(s), s & BCD_SIGN);
  zp.preg = t == (o[4].op == B_JT) ? o[4].a : uint32_t(o[4].w);
  goto jumped;
}
loopj1 : {
  uint64_t m = o[1].op == B_PUSHV ? zmw::canon(load_num(o[1].a)) : o[1].w;
  bool t = zloop_step(zu + o[3].a, true, m, ZW_ONE, false);
  zp.preg = t == (o[4].op == B_JT) ? o[4].a : uint32_t(o[4].w);
  goto jumped;
}
jt:
  zp.preg = top ? o->a : uint32_t(o->w);
  goto jumped;
jf:
  zp.preg = top ? uint32_t(o->w) : o->a;
  goto jumped;
parks:
  put(o->b, arith(o->sub, load_num(o->a), o->w));
  goto *next[(++o)->op];
pcmpvj:
  top = cmp(o->sub, load_num(o->a), load_num(uint32_t(o->w)));
  goto taken;
pcmpkj:
  top = cmp(o->sub, load_num(o->a), o->w);
taken:  // o[1] is the jump
  o++;
  zp.preg = (top != 0) == (o->op == B_JT) ? o->a : uint32_t(o->w);
  goto jumped;
jmp:
  zp.preg = o->a;
  goto jumped;
end:
  zp.preg = o->a;
  for (int i = 0; i < sp; i++) {
    uint64_t v = i + 1 < sp ? st[i + 1] : top;
    if (b->left_kind[i] == K_NUM)
      zv_push_num(v);
    else if (b->left_kind[i] == K_TRUTH)
      zv_push_truth(v != 0);
    else
      zv_push_ref(b->left_desc[i]);
  }
  return false;
}
#pragma GCC diagnostic pop

}  // namespace

void zb_run() {
  zb_target = false;
  uint64_t allow = zx_join_allowance();
  if (allow == 0) return;
  zb_chain++;
  const uint32_t top = zv_top();  // blocks leave the stack as they found it
  for (;;) {
    uint32_t pc = zp.preg;
    zblock &b = zbt[pc % BSLOTS];
    if (b.gen != zb_gen || b.pc != pc) {
      decode(b, pc);
    } else if (b.usable && !(zb_disjoint && b.chain == zb_chain)) {
      if (!holds(b)) decode(b, pc);
    }
    b.chain = zb_chain;
    if (!b.usable || zresc || uint64_t(top) + b.need > zm.zrsck || allow <= b.ninstr) break;
    allow -= b.ninstr;
    if (b.ops[0].op == B_LOOPJ1)
      spin(b, allow);
    else if (!run(&b, allow, top))
      break;
  }
  zx_join_left(allow);
}

void zb_reset() {
  zb_gen++;
  zb_disjoint = true;
  zb_target = true;
}
