// zmath.h: decimal arithmetic on bcd_num (14 significant digits).
//
// Every arithmetic instruction of the interpreter, every numeric comparison
// and every conversion that truncates or rounds a number comes through here.
// Results follow the digit-by-digit rules described in docs/decimal.md bit
// for bit (half-up rounding of the first dropped digit, saturation above
// 0.99999999999999E63, zero below 1E-64, no negative zero); the work itself
// is done on binary integers.  No allocation, no floating point, no state
// kept between calls.  The result may be stored over either operand.
#pragma once

#include <cstdint>

#include "run/numeric/bcd.h"

// Operation codes: the low five bits of an arithmetic opcode, and the first
// argument of zmathc.  0 and 6 are fillers without an operation.
enum mfc : uint8_t {
  FILL0 = 0,
  FADD = 1,  // c = a + b
  FSUB = 2,  // c = a - b
  FMUL = 3,  // c = a * b
  FDIV = 4,  // c = a / b; by zero: largest magnitude, sign of a XOR b
  FREM = 5,  // c = a - int(a / b) * b; by zero: a
  FILL6 = 6,
  FNEG = 7,  // zmath only: c = b - a
  FCOM = 8,  // zmathc only: returns -1, 0, 1 for a <, =, > b
  FINT = 9,  // zmathc only: c = integer part of a, truncated toward zero
};

// Performs the operation whose code is in the low five bits of zcod
// (FADD..FREM, FNEG) on a and b and stores it into c.  Any other code writes
// "zmath badop" and ends the run.
void zmath(const bcd_num *a, const bcd_num *b, bcd_num *c);

// Performs opc: FADD..FREM and FINT store into c and return 0; FCOM returns
// the comparison of a with b and writes nothing.  Any other opc (FNEG
// included) writes "zmath badop" and ends the run.
int zmathc(int opc, const bcd_num *a, const bcd_num *b, bcd_num *c);

// b = integer part of a (truncated toward zero).
void fint(const bcd_num *a, bcd_num *b);

// -1 if a < b, 0 if equal, 1 if a > b.
int fcom(const bcd_num *a, const bcd_num *b);

// Rounds a row of unpacked digits (one 0..9 per byte, most significant
// first) to 14 digits, half up on p[14], which it clears.  Returns the start
// of the rounded row: p, or p - 1 when the carry ran out of p[0]; p[-1] then
// holds 1, so the caller must own that byte.
uint8_t *round(uint8_t *p);

// Typed single operations for callers that know the operation at compile
// time (conversions, intrinsic functions).  Same rules as zmathc.
void zm_add(const bcd_num *a, const bcd_num *b, bcd_num *c);
void zm_sub(const bcd_num *a, const bcd_num *b, bcd_num *c);
void zm_mul(const bcd_num *a, const bcd_num *b, bcd_num *c);
void zm_div(const bcd_num *a, const bcd_num *b, bcd_num *c);
void zm_rem(const bcd_num *a, const bcd_num *b, bcd_num *c);
