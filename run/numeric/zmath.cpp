// zmath.cpp: decimal arithmetic on bcd_num.
//
// The rules are digit rules (docs/decimal.md): an operand shifted for an
// addition is rounded half up on its first dropped digit before it is
// added; a sum that carries is rounded again on its last digit; a product is
// rounded half up on the 15th digit of the full product; a quotient is cut
// after 15 digits and rounded half up on the 15th.  Exponents outside
// -63..63 saturate or vanish.  This module computes the same results on
// 64-bit words: addition on all 14 packed digits at once, multiplication
// and division on binary integers.
//
// The words, mantissas and exponent bytes of that code are described in
// zmathw.h, which holds it.
//
// A canonical number (every nibble 0..9, d1 not 0, or all eight bytes 0)
// goes straight to the integer code.  Anything else (a damaged record, a
// negative zero) is first made canonical with its face value: leading zero
// digits are shifted out, a nibble above 9 counts with its binary value and
// the mantissa is rounded back to 14 digits.  Results are always canonical.
//
// State: none.  Callers: the dispatch loop (zmath, fcom), the conversions
// and intrinsic functions (zmathc, fint, fcom).
#include "run/numeric/zmath.h"

#include <cstring>

#include "run/base/interp.h"
#include "run/base/runstate.h"
#include "run/base/zsmsg.h"
#include "run/numeric/zmathw.h"

namespace zmw {

// Brings any eight bytes to the canonical number of the same face value.
uint64_t make_canonical(uint64_t w) {
  uint64_t m = unpack(w >> 8);
  int xb = int(w & XMASK);
  if (m == 0) return 0;
  if (m > MAXMANT) {
    m = (m + 5) / 10;
    xb++;
  } else {
    int shift = BCD_DIGITS - ndigits(m);
    m *= POW10[shift];
    xb -= shift;
  }
  return finish(m, xb, w & SIGNBIT);
}

}  // namespace zmw

namespace {

using namespace zmw;

[[noreturn]] void badop() {
  zsmsg("zmath badop\r\n");
  exitrun();
}

}  // namespace

void zm_add(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_add(get(a), get(b)));
}

void zm_sub(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_add(get(a), get(b) ^ SIGNBIT));
}

void zm_mul(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_mul(get(a), get(b)));
}

void zm_div(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_div(get(a), get(b)));
}

void zm_rem(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  store_word(c, w_rem(get(a), get(b)));
}

void fint(const bcd_num *a, bcd_num *b) {
  store_word(b, w_int(get(a)));
}

int fcom(const bcd_num *a, const bcd_num *b) {
  int64_t ka = order_key(get(a)), kb = order_key(get(b));
  return (ka > kb) - (ka < kb);
}

int zmathc(int opc, const bcd_num *a, const bcd_num *b, bcd_num *c) {
  switch (opc) {
    case FADD:
      zm_add(a, b, c);
      return 0;
    case FSUB:
      zm_sub(a, b, c);
      return 0;
    case FMUL:
      zm_mul(a, b, c);
      return 0;
    case FDIV:
      zm_div(a, b, c);
      return 0;
    case FREM:
      zm_rem(a, b, c);
      return 0;
    case FCOM:
      return fcom(a, b);
    case FINT:
      fint(a, c);
      return 0;
    default:
      badop();
  }
}

void zmath(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  switch (zcod & 0x1F) {
    case FADD:
      zm_add(a, b, c);
      return;
    case FSUB:
      zm_sub(a, b, c);
      return;
    case FMUL:
      zm_mul(a, b, c);
      return;
    case FDIV:
      zm_div(a, b, c);
      return;
    case FREM:
      zm_rem(a, b, c);
      return;
    case FNEG:
      zm_sub(b, a, c);
      return;
    default:
      badop();
  }
}

uint8_t *round(uint8_t *p) {
  if (p[14] <= 4) return p;
  p[14] = 0;
  int i = 13;
  while (i >= 0 && p[i] == 9) p[i--] = 0;
  if (i >= 0) {
    p[i]++;
    return p;
  }
  p[-1] = 1;
  return p - 1;
}
