// zmath_ref.h: the digit-by-digit decimal arithmetic, written plainly on
// rows of unpacked digits as the rules are stated, as the reference that the
// binary-integer code of zmath.cpp is checked against.  Canonical operands
// only.
#pragma once

#include "run/numeric/bcd.h"

void ref_add(const bcd_num *a, const bcd_num *b, bcd_num *c);
void ref_sub(const bcd_num *a, const bcd_num *b, bcd_num *c);
void ref_mul(const bcd_num *a, const bcd_num *b, bcd_num *c);
void ref_div(const bcd_num *a, const bcd_num *b, bcd_num *c);
void ref_rem(const bcd_num *a, const bcd_num *b, bcd_num *c);
void ref_int(const bcd_num *a, bcd_num *c);
int ref_com(const bcd_num *a, const bcd_num *b);
