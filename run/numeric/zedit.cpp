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

#include "run/interp/interp.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zmathw.h"

namespace {

struct edit_walk {
  char *out;          // next output character
  char fill;          // fill character
  char sym;           // floating symbol, 0 when none
  bool pending;       // the floating symbol is still to be printed
  bool neg;           // the number is negative
  bool started;       // the digits have started
  bool nine;          // a "9" has been passed
  uint8_t digit[14];  // the digits, most significant first
  int next;           // index of the next digit
  int lead0;          // fraction zeros before the digits (numbers below 1)
};

bool is_position(char c, char sym) {
  return c == '9' || c == 'Z' || c == '*' || (sym && c == sym);
}

char sign_char(char c, bool neg) {
  if (c == '+') return neg ? '-' : '+';
  if (c == '-') return neg ? '-' : ' ';
  return c;
}

void put_symbol(edit_walk &w) {
  if (!w.pending) return;
  *w.out++ = sign_char(w.sym, w.neg);
  w.pending = false;
}

char next_digit(edit_walk &w) {
  if (w.lead0 > 0) {
    w.lead0--;
    return '0';
  }
  return w.next < BCD_DIGITS ? char('0' + w.digit[w.next++]) : '0';
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
  edit_walk w{};
  w.out = edtop;
  w.fill = m[0] == '*' ? '*' : ' ';
  w.sym = floating_symbol(m, len);
  w.pending = w.sym != 0;
  w.neg = (x & zmw::SIGNBIT) != 0;
  unsigned first = w.sym ? 1 : 0;
  if (first == len) zraise(ERR_MASK);
  int ex = x ? int(x & zmw::XMASK) - BCD_BIAS : 0;
  int e = ex > 0 ? ex : 0;
  w.lead0 = -ex > 0 ? -ex : 0;
  for (int i = 0; i < BCD_DIGITS; i++) w.digit[i] = uint8_t(x >> (60 - 4 * i) & 15);
  int left = 0;  // digit positions before the first "V"
  for (unsigned i = first; i < len && m[i] != 'V'; i++) left += is_position(m[i], w.sym);
  if (e > left) zraise(ERR_MASK);
  bool frac = false;
  for (unsigned i = first; i < len; i++) {
    char c = m[i];
    if (c == 'V') {
      frac = true;
    } else if (is_position(c, w.sym)) {
      if (!w.started && (frac || left == e)) {
        w.started = true;
        put_symbol(w);
      }
      if (w.started) {
        *w.out++ = next_digit(w);
      } else if (c == '9' || w.nine) {
        if (c == '9') put_symbol(w);
        *w.out++ = '0';
      } else {
        *w.out++ = w.fill;
      }
      w.nine |= c == '9';
      left -= !frac;
    } else {
      *w.out++ = (w.started || w.nine) ? sign_char(c, w.neg) : w.fill;
    }
  }
  if (w.pending) {  // never printed: a fill in its place
    std::memmove(edtop + 1, edtop, size_t(w.out - edtop));
    edtop[0] = w.fill;
    w.out++;
  }
  return int(w.out - edtop);
}
