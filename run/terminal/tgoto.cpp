// tgoto.cpp: the termcap-style parameter expander vx_tgoto, used by the
// printer for its own cursor and form-length strings, and the time-based
// padding vx_nap.  Owns the expander's result buffer and tgoto_len.
//
// vx_tgoto starts on the line (value v) and copies every byte but these:
//   %%  a percent sign          %r  column first: the value becomes h
//   %d  decimal, then switch    %i  value, h and v plus one
//   %2  two digits, switch      %n  h and v exclusive-or 0x60
//   %3  three digits, switch    %B  binary-coded decimal
//   %.  one byte, switch        %D  reverse coding: v - 2 * (v mod 16)
//   %+c value + c, as %.        %>cd  value > c: add d (no switch)
// To switch is to go from line to column or back, taking h or v.  A byte
// that would be 0, ^D, tab or line feed is bumped by one while the UP (on
// the line) or BC (on the column) string exists, that string going into a
// trailer appended at the end.
#include <cstdio>
#include <cstring>

#include "run/terminal/phys.h"
#include "run/terminal/tcap.h"

int tgoto_len;
const char *vx_up, *vx_bc;

struct tg_state {
  char result[32];  // the last expansion
};
static tg_state tg;

namespace {

struct expander {
  char out[64];  // room past 32 so that the length check comes once
  int n = 0;
  char trailer[64];
  int tn = 0;
  bool on_col = false;
  int h, v, value;

  bool put(const char *s, int len) {
    if (n + len >= 32) return false;
    std::memcpy(out + n, s, size_t(len));
    n += len;
    return true;
  }
  void flip() {
    on_col = !on_col;
    value = on_col ? h : v;
  }
  // digits 0: as many as needed, else exactly that many (zero-padded)
  bool number(int digits) {
    char d[16];
    int len = std::snprintf(d, sizeof d, "%0*d", digits, value);
    if (len < 0 || !put(d, len)) return false;
    flip();
    return true;
  }
  bool one_byte() {
    const char *extra = on_col ? vx_bc : vx_up;
    if (extra && (value == 0 || value == 4 || value == 9 || value == 10)) {
      do {
        int len = int(std::strlen(extra));
        if (tn + len >= 32) return false;
        std::memcpy(trailer + tn, extra, size_t(len));
        tn += len;
        value++;
      } while (value == 10);
    }
    char c = char(value);
    if (!put(&c, 1)) return false;
    flip();
    return true;
  }
  // one escape at *p (past the "%"); false for an unknown one or overflow
  bool escape(const char *&p) {
    switch (*p) {
      case '%':
        return put("%", 1);
      case 'd':
        return number(0);
      case '2':
        return number(2);
      case '3':
        return number(3);
      case '.':
        return one_byte();
      case '+':
        if (!p[1]) return false;
        value += static_cast<unsigned char>(*++p);
        return one_byte();
      case '>':
        if (!p[1] || !p[2]) return false;
        if (value > static_cast<unsigned char>(p[1])) value += static_cast<unsigned char>(p[2]);
        p += 2;
        return true;
      case 'r':
        on_col = true;
        value = h;
        return true;
      case 'i':
        value++, h++, v++;
        return true;
      case 'n':
        h ^= 0x60, v ^= 0x60;
        value = on_col ? h : v;
        return true;
      case 'B':
        value = value / 10 * 16 + value % 10;
        return true;
      case 'D':
        value = value - 2 * (value % 16);
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

const char *vx_tgoto(const char *s, int h, int v) {
  tg.result[0] = 0;
  tgoto_len = 0;
  if (!s) return tg.result;
  expander e;
  e.h = h;
  e.v = v;
  e.value = v;
  bool ok = true;
  for (const char *p = s; ok && *p; p++) {
    if (*p != '%')
      ok = e.put(p, 1);
    else if (!*++p)
      ok = false;
    else
      ok = e.escape(p);
  }
  if (ok) ok = e.put(e.trailer, e.tn);
  if (!ok) {
    std::memcpy(tg.result, "OOPS", 5);
    tgoto_len = 4;
    return tg.result;
  }
  std::memcpy(tg.result, e.out, size_t(e.n));
  tg.result[e.n] = 0;
  tgoto_len = e.n;
  return tg.result;
}

// the time one character takes at speed codes 1-15, tenths of a millisecond
static const int char_time[16] = {0,   2000, 1333, 909, 743, 666, 500, 333,
                                  166, 83,   55,   41,  20,  10,  5,   3};

void vx_nap(int m10) {
  unsigned speed = ztc_ospeed;
  if (m10 <= 0 || speed < 1 || speed > 15) return;
  int t = char_time[speed];
  for (int k = (m10 + t / 2) / t; k > 0; k--) outchr(static_cast<unsigned char>(tc.pad));
}
