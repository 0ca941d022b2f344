// zconv.cpp: number to text (zfns) and text to number (zfsn), with the
// conversion registers fsns, fsnl, fsnp and fsnpc.  Used by the dispatch
// loop's conversions, numeric input, file reads and the intrinsics.  The
// decimal point is the first character of VXDECPT on output, the first or
// the second on input.
#include "run/numeric/zconv.h"

#include <cstring>

#include "run/config/settings.h"

char *fsns;
unsigned fsnl;
bcd_num fsnp;
unsigned fsnpc;

static int digit_at(const bcd_num *n, int i) {
  return (n->dig[i / 2] >> (i % 2 ? 0 : 4)) & 15;
}

static char out_point() {
  return vx_decpt && vx_decpt[0] ? vx_decpt[0] : '.';
}

static bool is_point(int c) {
  if (!vx_decpt || !vx_decpt[0]) return c == '.';
  return c != 0 && (c == vx_decpt[0] || c == vx_decpt[1]);
}

// Text forms, E the decimal exponent and nd the significant digits:
//   zero (exponent byte 0)           "0"
//   digits all zero, exponent not 0  "?????????" (a damaged number)
//   1 <= E, E + sign <= 20           integer digits, then "." and the rest
//   E <= 0, sign + nd - E <= 19      ".", -E zeros, the digits
//   otherwise                        ".", the digits, "E", "-" if E < 0, |E|
int zfns(const bcd_num *xp) {
  char *p = fsns;
  int neg = (xp->exp & BCD_SIGN) ? 1 : 0;
  int e = (xp->exp & 0x7F) - BCD_BIAS;
  int nd = BCD_DIGITS;
  while (nd > 0 && digit_at(xp, nd - 1) == 0) nd--;
  auto dig = [&](int i) { *p++ = char('0' + digit_at(xp, i)); };
  if (xp->exp == 0) {
    *p++ = '0';
  } else {
    if (neg) *p++ = '-';
    if (nd == 0) {
      std::memset(p, '?', 9);
      p += 9;
    } else if (e >= 1 && e + neg <= 20) {
      for (int i = 0; i < e; i++) i < nd ? dig(i) : void(*p++ = '0');
      if (nd > e) *p++ = out_point();
      for (int i = e; i < nd; i++) dig(i);
    } else if (e <= 0 && neg + nd - e <= 19) {
      *p++ = out_point();
      for (int i = 0; i < -e; i++) *p++ = '0';
      for (int i = 0; i < nd; i++) dig(i);
    } else {
      *p++ = out_point();
      for (int i = 0; i < nd; i++) dig(i);
      *p++ = 'E';
      if (e < 0) *p++ = '-';
      int a = e < 0 ? -e : e;
      *p++ = char('0' + a / 10);
      *p++ = char('0' + a % 10);
    }
  }
  int len = int(p - fsns);
  fsns = p;
  return len;
}

void fsndig(int ch) {
  if (fsnpc >= BCD_DIGITS) return;
  int d = (ch - '0') & 15;
  fsnp.dig[fsnpc / 2] |= uint8_t(fsnpc % 2 ? d : d << 4);
  fsnpc++;
}

// the character at the cursor, or -1 at the end of the text
static int peek() {
  return fsnl ? (unsigned char)*fsns : -1;
}
static void take() {
  fsns++;
  fsnl--;
}
static bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// The exponent after "E": an optional sign, leading zeros, then one or two
// digits; returns its signed value.
static int read_exponent() {
  int sign = 1;
  if (peek() == '+' || peek() == '-') {
    sign = peek() == '-' ? -1 : 1;
    take();
  }
  while (peek() == '0') take();
  int v = 0;
  for (int k = 0; k < 2 && is_digit(peek()); k++) {
    v = v * 10 + (peek() - '0');
    take();
  }
  return sign * v;
}

int zfsn() {
  fsnp = bcd_num{};
  fsnpc = 0;
  while (peek() == ' ') take();
  bool neg = false;
  if (peek() == '+' || peek() == '-') {
    neg = peek() == '-';
    take();
  }
  bool seen = false, sig = false;
  int exp = 0;  // integer digits, less the zeros leading the fraction
  while (peek() == '0') {
    seen = true;
    take();
  }
  while (is_digit(peek())) {
    fsndig(peek());
    exp++;
    seen = sig = true;
    take();
  }
  if (is_point(peek())) {
    take();
    if (!sig)
      while (peek() == '0') {
        exp--;
        seen = true;
        take();
      }
    while (is_digit(peek())) {
      fsndig(peek());
      seen = sig = true;
      take();
    }
  }
  if (seen && peek() == 'E') {
    take();
    exp += read_exponent();
  }
  fsnfin(neg, sig, exp);
  return seen ? 0 : 1;
}

void fsnfin(bool neg, bool sig, int exp) {
  int eb = BCD_BIAS + exp;
  if (!sig || eb <= 0) {
    fsnp = bcd_num{};
  } else if (eb >= 128) {
    std::memset(fsnp.dig, 0x99, sizeof fsnp.dig);
    fsnp.exp = 0x7F;
  } else {
    fsnp.exp = uint8_t((neg ? BCD_SIGN : 0) | eb);
  }
}
