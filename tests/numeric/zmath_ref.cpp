// zmath_ref.cpp: the digit-level reference arithmetic (see zmath_ref.h).
// Work rows as in the description of the arithmetic: opd, accu (with one
// guard byte in front, so that a rounding carry out of accu 0 would be
// caught by the checks rather than write outside), opd_neg and temp.
#include "tests/numeric/zmath_ref.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ref_rows {
  uint8_t opd[15];       // first digit row
  uint8_t accu_buf[31];  // guard byte, then accu 0..29
  uint8_t opd_neg[15];   // nines' complement of the divisor
};
ref_rows rr;
uint8_t *const accu = rr.accu_buf + 1;

void fail(const char *what) {
  std::fprintf(stderr, "reference arithmetic: %s\n", what);
  std::abort();
}

int exponent(const bcd_num &n) {
  return (n.exp & 0x7F) - 64;
}
bool negative(const bcd_num &n) {
  return n.exp & 0x80;
}

void unpack_digits(const bcd_num &n, uint8_t *dst) {
  for (int i = 0; i < 7; i++) {
    dst[2 * i] = n.dig[i] >> 4;
    dst[2 * i + 1] = n.dig[i] & 15;
  }
}

// Rounds half up on p[14]; a carry out of p[0] continues one place left.
uint8_t *r_round(uint8_t *p) {
  for (;;) {
    if (p[14] <= 4) return p;
    p[14] = 0;
    int carry = 1;
    for (int i = 13; i >= 0 && carry; i--) {
      int v = p[i] + carry;
      p[i] = uint8_t(v % 10);
      carry = v / 10;
    }
    if (carry) {
      if (p == accu) fail("round ran out of accu");
      p[-1] = 1;
      p--;
    }
  }
}

void final_step(bcd_num *c, const uint8_t *row, int e, bool neg) {
  if (e < -63) {
    std::memset(c, 0, 8);
    return;
  }
  uint8_t nines[14];
  if (e > 63) {
    std::memset(nines, 9, 14);
    row = nines;
    e = 63;
  }
  for (int i = 0; i < 7; i++) {
    if (row[2 * i] > 9 || row[2 * i + 1] > 9) fail("digit above 9");
    c->dig[i] = uint8_t(row[2 * i] << 4 | row[2 * i + 1]);
  }
  c->exp = uint8_t((neg ? 0x80 : 0) | (e + 64));
}

// Drops leading zeros of the 14 digits at row; false when all are zero.
bool normalise(uint8_t *row, int *e) {
  int lead = 0;
  while (lead < 14 && row[lead] == 0) lead++;
  if (lead == 14) return false;
  for (int k = 0; k < lead; k++) {
    std::memmove(row, row + 1, 13);
    row[13] = 0;
    --*e;
  }
  return true;
}

void add_signed(const bcd_num &a, const bcd_num &b, bool bneg, bcd_num *c) {
  int ea = exponent(a), eb = exponent(b);
  if (eb - ea >= 15) {
    *c = b;
    c->exp = uint8_t((b.exp & 0x7F) | (bneg ? 0x80 : 0));
    return;
  }
  if (ea - eb >= 15) {
    *c = a;
    return;
  }
  bool a_larger = ea > eb;
  const bcd_num &x = a_larger ? a : b;
  const bcd_num &y = a_larger ? b : a;
  bool xneg = a_larger ? negative(a) : bneg;
  bool yneg = a_larger ? bneg : negative(a);
  int d = a_larger ? ea - eb : eb - ea;
  int e = a_larger ? ea : eb;
  unpack_digits(x, rr.opd);
  std::memset(accu, 0, 30);  // covers 0..d and 15
  unpack_digits(y, accu + 1 + d);
  bool up = accu[15] >= 5;
  if (xneg == yneg) {
    int carry = up;
    for (int i = 14; i >= 1; i--) {
      int v = accu[i] + rr.opd[i - 1] + carry;
      accu[i] = uint8_t(v % 10);
      carry = v / 10;
    }
    uint8_t *row = accu + 1;
    if (carry) {
      accu[0] = 1;
      row = r_round(accu);
      e++;
    }
    final_step(c, row, e, xneg);
    return;
  }
  bool accu_minuend = xneg;  // the positive operand is the minuend
  int carry = accu_minuend ? (up ? 2 : 1) : (up ? 0 : 1);
  for (int i = 14; i >= 1; i--) {
    int v =
        accu_minuend ? accu[i] + 9 - rr.opd[i - 1] + carry : rr.opd[i - 1] + 9 - accu[i] + carry;
    accu[i] = uint8_t(v % 10);
    carry = v / 10;
  }
  bool neg = false;
  if (!carry) {
    neg = true;
    int c2 = 1;
    for (int i = 14; i >= 1; i--) {
      int v = 9 - accu[i] + c2;
      accu[i] = uint8_t(v % 10);
      c2 = v / 10;
    }
  }
  if (!normalise(accu + 1, &e)) {
    std::memset(c, 0, 8);
    return;
  }
  final_step(c, accu + 1, e, neg);
}

int last_nonzero(const uint8_t *row) {
  int last = -1;
  for (int i = 0; i < 14; i++)
    if (row[i]) last = i;
  return last;
}

// Adds src[0..n-1] into dst[0..n-1]; returns the carry out of the top.
int add_row(uint8_t *dst, const uint8_t *src, int n, int carry) {
  for (int i = n - 1; i >= 0; i--) {
    int v = dst[i] + src[i] + carry;
    dst[i] = uint8_t(v % 10);
    carry = v / 10;
  }
  return carry;
}

}  // namespace

void ref_add(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  bcd_num x = *a, y = *b;
  add_signed(x, y, negative(y), c);
}

void ref_sub(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  bcd_num x = *a, y = *b;
  add_signed(x, y, !negative(y), c);
}

void ref_mul(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  bcd_num x = *a, y = *b;
  bool neg = negative(x) != negative(y);
  unpack_digits(x, rr.opd);
  std::memset(accu, 0, 30);
  unpack_digits(y, accu);
  int la = last_nonzero(rr.opd), lb = last_nonzero(accu);
  if (la < 0 || lb < 0) {
    std::memset(c, 0, 8);
    return;
  }
  for (int j = lb; j >= 0; j--) {
    int bj = accu[j];
    int carry = 0;
    for (int i = la; i >= 0; i--) {
      int v = accu[i + j + 1] + rr.opd[i] * bj + carry;
      accu[i + j + 1] = uint8_t(v % 10);
      carry = v / 10;
    }
    accu[j] = uint8_t(carry);
  }
  uint8_t *start = accu[0] ? accu : accu + 1;
  uint8_t *row = r_round(start);
  int e = exponent(x) + exponent(y) - (row == accu ? 0 : 1);
  final_step(c, row, e, neg);
}

void ref_div(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  bcd_num x = *a, y = *b;
  bool neg = negative(x) != negative(y);
  int e = exponent(x) - exponent(y) + 1;
  uint8_t none[14] = {};
  if (e < -63 || e > 63) {
    final_step(c, none, e, neg);
    return;
  }
  rr.opd[0] = 0;
  unpack_digits(y, rr.opd + 1);
  rr.opd_neg[0] = 9;
  for (int i = 1; i < 15; i++) rr.opd_neg[i] = uint8_t(9 - rr.opd[i]);
  int m = last_nonzero(rr.opd + 1);
  if (m < 0) {
    final_step(c, none, 64, neg);
    return;
  }
  std::memset(accu, 0, 30);
  unpack_digits(x, accu + 1);
  int l = accu[1] < rr.opd[1] ? 1 : 0;
  auto stop = [&] { return l > 14 && (l > 15 || accu[0] != 0); };
  for (;;) {
    int count = 0;
    while (add_row(accu + l, rr.opd_neg, m + 2, 1)) {
      if (++count > 99) fail("divide: subtract phase does not end");
    }
    accu[l++] = uint8_t(count);
    if (stop()) break;
    int digit = 9;
    while (!add_row(accu + l, rr.opd, m + 2, 0)) {
      if (--digit < -99) fail("divide: add phase does not end");
    }
    accu[l++] = uint8_t(digit);
    if (stop()) break;
  }
  uint8_t *row = r_round(accu[0] ? accu : accu + 1);
  if (row < accu) fail("divide: rounding ran out of accu");
  if (row != accu) {
    e--;
    if (!normalise(row, &e)) {
      std::memset(c, 0, 8);
      return;
    }
  }
  final_step(c, row, e, neg);
}

void ref_int(const bcd_num *a, bcd_num *c) {
  bcd_num x = *a;
  int e = exponent(x);
  if (e <= 0) {
    std::memset(c, 0, 8);
    return;
  }
  if (e < 14) {
    uint8_t row[14];
    unpack_digits(x, row);
    for (int i = e; i < 14; i++) row[i] = 0;
    for (int i = 0; i < 7; i++) x.dig[i] = uint8_t(row[2 * i] << 4 | row[2 * i + 1]);
  }
  *c = x;
}

void ref_rem(const bcd_num *a, const bcd_num *b, bcd_num *c) {
  bcd_num x = *a, y = *b, temp;
  ref_div(&x, &y, &temp);
  ref_int(&temp, &temp);
  ref_mul(&temp, &y, &temp);
  ref_sub(&x, &temp, c);
}

int ref_com(const bcd_num *a, const bcd_num *b) {
  if (negative(*a) && !negative(*b)) return -1;
  if (!negative(*a) && negative(*b)) return 1;
  int s = negative(*a) ? -1 : 1;
  if (exponent(*a) < exponent(*b)) return -s;
  if (exponent(*a) > exponent(*b)) return s;
  for (int i = 0; i < 7; i++)
    if (a->dig[i] != b->dig[i]) return a->dig[i] < b->dig[i] ? -s : s;
  return 0;
}
