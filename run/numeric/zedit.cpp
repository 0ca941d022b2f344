// zedit.cpp: numbers through edit masks, for the edit intrinsic.  The mask
// is read from the conversion registers fsns/fsnl; nothing else is kept.
//
// The walk over the mask, E the number's integer digit count (0 below 1):
//   before the digits start, at a digit position with k positions left
//   before the first "V" (this one included):
//     k == E, or past the "V"   the digits start here (the floating symbol
//                               first when it is still pending)
//     otherwise                 "0" for a "9" or after one, else the fill
//   once started                the next digit: integer digits, then past
//                               the "V" the fraction (leading zeros of a
//                               number below 1 first); 0 after the 14th
// When the floating symbol is never printed (no significant digit and no
// "9"), a fill character stands for it at the front, so that the width
// never depends on the value.
#include "run/numeric/zedit.h"

#include <cstring>

#include "run/base/interp.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zmathw.h"

namespace {

bool is_position(char c, char sym) {
  return c == '9' || c == 'Z' || c == '*' || (sym && c == sym);
}

char sign_char(char c, bool neg) {
  if (c == '+') return neg ? '-' : '+';
  if (c == '-') return neg ? '-' : ' ';
  return c;
}

// the floating symbol of the mask m of len characters, or 0
char floating_symbol(const char *m, unsigned len) {
  char c = m[0];
  if (c == '+' || c == '-') return c;
  if (len >= 2 && m[1] == c && c != ' ' && c != '9' && c != 'Z' && c != '*' && c != 'V') return c;
  return 0;
}

}  // namespace

int zedit(const bcd_num *edtnp, char *edtop) {
  const char *m = fsns;
  unsigned len = fsnl;
  if (len == 0) zraise(ERR_MASK);
  uint64_t x = zmw::get(edtnp);
  const char fill = m[0] == '*' ? '*' : ' ', sym = floating_symbol(m, len);
  const bool neg = (x & zmw::SIGNBIT) != 0;
  unsigned first = sym ? 1 : 0;
  if (first == len) zraise(ERR_MASK);
  int ex = x ? int(x & zmw::XMASK) - BCD_BIAS : 0;
  int e = ex > 0 ? ex : 0;
  int lead0 = -ex > 0 ? -ex : 0;          // fraction zeros before the digits
  uint64_t digits = x & ~uint64_t(0xFF);  // the next digit in the top nibble
  int left = 0;                           // digit positions before the first "V"
  for (unsigned i = first; i < len && m[i] != 'V'; i++) left += is_position(m[i], sym);
  if (e > left) zraise(ERR_MASK);
  char *out = edtop;
  bool pending = sym != 0, started = false, nine = false, frac = false;
  for (unsigned i = first; i < len; i++) {
    char c = m[i];
    if (c == 'V') {
      frac = true;
    } else if (is_position(c, sym)) {
      if (!started && (frac || left == e)) started = true;
      if (pending && (started || c == '9')) {
        *out++ = sign_char(sym, neg);
        pending = false;
      }
      if (!started) {
        *out++ = c == '9' || nine ? '0' : fill;
      } else if (lead0 > 0) {
        lead0--;
        *out++ = '0';
      } else {
        *out++ = char('0' + (digits >> 60));
        digits <<= 4;
      }
      nine |= c == '9';
      left -= !frac;
    } else {
      *out++ = started || nine ? sign_char(c, neg) : fill;
    }
  }
  if (pending) {  // never printed: a fill in its place
    std::memmove(edtop + 1, edtop, size_t(out - edtop));
    edtop[0] = fill;
    out++;
  }
  return int(out - edtop);
}
