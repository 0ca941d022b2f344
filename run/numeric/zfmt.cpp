// zfmt.cpp: the record format language (see zfmt.h).  Owns the format and
// record registers zrfsp, zrfsc, zrfdp, zrfdc and zrfout; the file
// statements set them and call one field routine per data item.
//
// Field syntax (anything else is 63):
//   field   := internal | picture | string
//   internal:= "I" "I"+                       width = count
//   picture := ["."] L+ ["." L*] | L+ "." L*   L = "9" (display) or "P"
//                                              (packed), one letter only
//   string  := "X"+ | "X(" digits ")" | "X(*)"
// Numeric output never rounds: digits past the picture are dropped.
#include "run/numeric/zfmt.h"

#include <cstring>

#include "run/base/image.h"
#include "run/numeric/zconv.h"
#include "run/numeric/zmathw.h"
#include "run/numeric/zops.h"

const char *zrfsp;
unsigned zrfsc;
char *zrfdp;
int zrfdc;
int (*zrfout)(int ch);

namespace {

constexpr int WIDTH_MAX = 1 << 30;  // an X(n) width past this is cut here

enum fmt_kind { FK_INTERNAL, FK_DISPLAY, FK_PACKED, FK_STRING };

struct fmt_field {
  fmt_kind kind;  // field kind
  int ip;         // integer positions (display, packed)
  int fp;         // fraction positions (display, packed)
  bool point;     // the picture has a "."
  int width;      // bytes in the record; -1 for X(*)
};

// the picture of n characters at s ("9" or "P" positions, one "."); false
// for a picture error
bool parse_picture(const char *s, unsigned n, fmt_field *f) {
  char letter = s[0] == '.' && n > 1 ? s[1] : s[0];
  if (letter != '9' && letter != 'P') return false;
  f->kind = letter == '9' ? FK_DISPLAY : FK_PACKED;
  for (unsigned i = 0; i < n; i++) {
    if (s[i] == '.') {
      if (f->point) return false;
      f->point = true;
    } else if (s[i] != letter) {
      return false;
    } else {
      (f->point ? f->fp : f->ip)++;
    }
  }
  int digits = f->ip + f->fp;
  f->width = f->kind == FK_DISPLAY ? digits + f->point : (digits + 1) / 2;
  return true;
}

// "X"+, "X(n)" or "X(*)"
bool parse_string(const char *s, unsigned n, fmt_field *f) {
  f->kind = FK_STRING;
  unsigned k = 0;
  while (k < n && s[k] == 'X') k++;
  if (k == n) {
    f->width = int(n);
    return true;
  }
  if (k != 1 || s[1] != '(' || s[n - 1] != ')' || n < 4) return false;
  if (n == 4 && s[2] == '*') {
    f->width = -1;
    return true;
  }
  long w = 0;
  for (unsigned i = 2; i < n - 1; i++) {
    if (s[i] < '0' || s[i] > '9') return false;
    w = w * 10 + (s[i] - '0');
    if (w > WIDTH_MAX) w = WIDTH_MAX;
  }
  f->width = int(w);
  return true;
}

// Takes the next field off the format string; 0 or 63.
int next_field(fmt_field *f) {
  *f = fmt_field{};
  if (!zrfsp) return ERR_IOFMT;
  const char *s = zrfsp;
  unsigned n = 0;
  while (n < zrfsc && s[n] != ',') n++;
  zrfsp += n;
  zrfsc -= n;
  if (zrfsc) {
    zrfsp++;
    zrfsc--;
  }
  if (n == 0) return ERR_IOFMT;
  if (s[0] == 'I') {
    unsigned k = 0;
    while (k < n && s[k] == 'I') k++;
    f->kind = FK_INTERNAL;
    f->width = int(n);
    return k == n && n >= 2 ? 0 : ERR_IOFMT;
  }
  if (s[0] == 'X') return parse_string(s, n, f) ? 0 : ERR_IOFMT;
  return parse_picture(s, n, f) ? 0 : ERR_IOFMT;
}

int put_byte(int ch) {
  if (zrfout) return zrfout(ch);
  if (zrfdc <= 0) return ERR_IODATA;
  *zrfdp++ = char(ch);
  zrfdc--;
  return 0;
}

// the next record byte, or -1 at the end of the record
int get_byte() {
  if (zrfdc <= 0) return -1;
  zrfdc--;
  return static_cast<unsigned char>(*zrfdp++);
}

// Writes display characters or packed nibbles.
struct digit_out {
  bool packed;  // nibbles, else characters
  int hi;       // a high nibble waiting for its partner, -1 when none
  int err;      // first error of put_byte

  void put(int v) {  // a digit value, or 15 for the sign
    if (!packed) {
      emit(v == 15 ? '-' : '0' + v);
    } else if (hi < 0) {
      hi = v;
    } else {
      emit(hi << 4 | v);
      hi = -1;
    }
  }
  void emit(int ch) {
    if (!err) err = put_byte(ch);
  }
  int finish() {
    if (hi >= 0) put(0);
    return err;
  }
};

int out_internal(const fmt_field &f, const bcd_num *p) {
  int err = put_byte(p->exp);
  for (int i = 1; i < f.width && !err; i++) err = put_byte(i <= 7 ? p->dig[i - 1] : 0);
  return err;
}

// The digits of a picture: the sign, integer positions right-aligned with
// leading zeros, the point (display only), the fraction.
int out_picture(const fmt_field &f, const bcd_num *p) {
  uint64_t x = zmw::get(p);
  bool neg = (x & zmw::SIGNBIT) != 0;
  int ex = x ? int(x & zmw::XMASK) - BCD_BIAS : 0;
  int ip = f.ip - neg;
  if (ip < 0 || ex > ip) return ERR_IOFMT;
  auto digit = [x](int i) { return i >= 0 && i < BCD_DIGITS ? int(x >> (60 - 4 * i) & 15) : 0; };
  digit_out o{f.kind == FK_PACKED, -1, 0};
  if (neg) o.put(15);
  int lead = ex > 0 ? ip - ex : ip;  // zeros before the first digit
  for (int k = 0; k < ip; k++) o.put(k < lead ? 0 : digit(k - lead));
  if (f.point && !o.packed) o.emit('.');
  for (int k = 0; k < f.fp; k++) o.put(ex > 0 ? digit(ex + k) : digit(k + ex));
  return o.finish();
}

// One digit of a picture being read: integer digits raise the exponent,
// zeros before the first significant digit are skipped (and lower the
// exponent in the fraction).
struct digit_in {
  bool sig = false;  // a non-zero digit has been stored
  int exp = 0;       // exponent so far

  void take(int d, bool integer) {
    if (!sig && d == 0) {
      exp -= !integer;
      return;
    }
    fsndig('0' + d);
    sig = true;
    exp += integer;
  }
};

int in_internal(const fmt_field &f) {
  uint8_t b[8] = {};
  for (int i = 0; i < f.width; i++) {
    int c = get_byte();
    if (c < 0) return ERR_IODATA;
    if (i < 8) b[i] = uint8_t(c);
  }
  std::memcpy(fsnp.dig, b + 1, 7);
  fsnp.exp = b[0];
  return 0;
}

// Display: leading spaces, "-", integer digits, the "." right after the
// integer positions, fraction digits.
int in_display(const fmt_field &f) {
  digit_in d;
  bool neg = false, lead = true;
  for (int k = 0; k < f.width; k++) {
    int c = get_byte();
    if (c < 0) return ERR_IODATA;
    bool integer = k < f.ip, at_point = f.point && k == f.ip;
    if (c == ' ' && lead) {
      if (!integer) return ERR_IOFMT;
    } else if (c == '-' && lead) {
      if (!integer) return ERR_IOFMT;
      neg = true;
      lead = false;
    } else if (c >= '0' && c <= '9') {
      if (at_point) return ERR_IOFMT;  // more integer digits than positions
      lead = false;
      d.take(c - '0', integer);
    } else if (c == '.') {
      if (!at_point) return ERR_IOFMT;
      lead = false;
    } else {
      return ERR_IODATA;
    }
  }
  fsnfin(neg, d.sig, d.exp);
  return 0;
}

// Packed: a first nibble 15 is the sign; every other nibble a digit.
int in_packed(const fmt_field &f) {
  digit_in d;
  bool neg = false;
  int n = f.ip + f.fp;
  for (int k = 0; k < n; k += 2) {
    int c = get_byte();
    if (c < 0) return ERR_IODATA;
    for (int j = k; j < k + 2 && j < n; j++) {
      int v = j == k ? c >> 4 : c & 15;
      if (j == 0 && v == 15 && f.ip > 0) {
        neg = true;
      } else if (v > 9) {
        return ERR_IODATA;
      } else {
        d.take(v, j < f.ip);
      }
    }
  }
  fsnfin(neg, d.sig, d.exp);
  return 0;
}

}  // namespace

int fmtnout(const bcd_num *p) {
  fmt_field f;
  if (int e = next_field(&f)) return e;
  if (f.kind == FK_STRING) return ERR_IOFMT;
  return f.kind == FK_INTERNAL ? out_internal(f, p) : out_picture(f, p);
}

int fmtnin() {
  fsnp = bcd_num{};
  fsnpc = 0;
  fmt_field f;
  if (int e = next_field(&f)) return e;
  switch (f.kind) {
    case FK_INTERNAL:
      return in_internal(f);
    case FK_DISPLAY:
      return in_display(f);
    case FK_PACKED:
      return in_packed(f);
    case FK_STRING:
      break;
  }
  return ERR_IOFMT;
}

int fmtsout(const char *p, uint32_t len) {
  fmt_field f;
  if (int e = next_field(&f)) return e;
  if (f.kind != FK_STRING) return ERR_IOFMT;
  uint32_t w = f.width < 0 ? len : uint32_t(f.width);
  for (uint32_t i = 0; i < w; i++)
    if (int e = put_byte(i < len ? static_cast<unsigned char>(p[i]) : ' ')) return e;
  return 0;
}

int fmtsin(uint32_t desc, uint32_t dst, uint32_t cap) {
  fmt_field f;
  if (int e = next_field(&f)) return e;
  if (f.kind != FK_STRING) return ERR_IOFMT;
  int avail = zrfdc > 0 ? zrfdc : 0;
  if (f.width > avail) return ERR_IODATA;
  uint32_t w = uint32_t(f.width < 0 ? avail : f.width);
  uint32_t n = w < cap ? w : cap;
  uint8_t *to = zat(dst, cap);
  if (n) std::memmove(to, zrfdp, n);
  zrfdp += w;
  zrfdc -= int(w);
  zdesc d = zdesc_get(desc);
  if (d.type & DSC_PAD) {
    std::memset(to + n, ' ', cap - n);
  } else {
    d.dim2 = n;
    zdesc_put(desc, d);
  }
  return 0;
}
